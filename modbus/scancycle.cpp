#include "modbus/scancycle.h"

#include "common/logcategories.h"
#include "modbus/requesttexts.h"
#include "serial/link.h"

namespace meterlog {

namespace {

SlotOutcome outcomeOf(ReplyVerdict verdict)
{
    switch (verdict) {
    case ReplyVerdict::Verified:
        return SlotOutcome::Verified;
    case ReplyVerdict::Short:
        return SlotOutcome::TimedOut;
    case ReplyVerdict::BadCrc:
        return SlotOutcome::BadCrc;
    case ReplyVerdict::ForeignDevice:
        return SlotOutcome::ForeignDevice;
    case ReplyVerdict::Exception:
        return SlotOutcome::Exception;
    case ReplyVerdict::Malformed:
        return SlotOutcome::Malformed;
    }
    return SlotOutcome::Malformed;
}

const char *verdictName(ReplyVerdict verdict)
{
    switch (verdict) {
    case ReplyVerdict::Verified:
        return "verified";
    case ReplyVerdict::Short:
        return "incomplete";
    case ReplyVerdict::BadCrc:
        return "wrong checksum";
    case ReplyVerdict::ForeignDevice:
        return "another device";
    case ReplyVerdict::Exception:
        return "exception";
    case ReplyVerdict::Malformed:
        return "answers another request";
    }
    return "";
}

// Hands the request to the link, on a serial line once it has been silent for a frame gap, so
// that a device still talking is not cut into. Bytes that arrived before it belong to an earlier
// request and are dropped. Returns how the slot's turn ends when the request could not go out.
std::optional<SlotOutcome> sendRequest(
    Link &link, const QByteArray &frame, const Cancellation &cancel)
{
    if (auto *line = link.serialTiming()) {
        switch (waitForSilence(link, *line, line->frameGap(), silenceLimit, cancel)) {
        case WaitEnd::Complete:
            break;
        case WaitEnd::Cancelled:
            return SlotOutcome::Cancelled;
        case WaitEnd::PortClosed:
        case WaitEnd::TimedOut:
            return SlotOutcome::SendFailed;
        }
    } else if (cancel.isCancelled()) {
        return SlotOutcome::Cancelled;
    }
    link.discardInput();
    if (!link.send(frame))
        return SlotOutcome::SendFailed;
    return std::nullopt;
}

// One request and its reply: the words of a verified reply in `words`.
SlotReport exchangeOnce(int slot, Link &link, Framing &framing, const ReadRequest &request,
    const Cancellation &cancel, std::chrono::milliseconds replyLimit, QList<std::uint16_t> &words)
{
    const auto reportOf = [&](SlotOutcome outcome, std::uint8_t exceptionCode = 0) {
        return SlotReport {outcome, request.device, exceptionCode};
    };
    const auto exchange = framing.exchange(request);
    if (const auto notSent = sendRequest(link, exchange.frame, cancel))
        return reportOf(*notSent);
    qCDebug(lcFrames).noquote()
        << QStringLiteral("M%1 sent %2").arg(slot + 1).arg(exchange.frame.toHex(' '));

    const auto wait = waitForReply(link, exchange.bytesStillNeeded, replyLimit, cancel);
    if (wait.end == WaitEnd::Cancelled)
        return reportOf(SlotOutcome::Cancelled);
    if (wait.end == WaitEnd::PortClosed)
        return reportOf(SlotOutcome::PortLost);

    const auto reply = link.takeInput().value_or(QByteArray());
    const auto check = exchange.check(reply);
    qCDebug(lcFrames).noquote() << QStringLiteral("M%1 got %2 (%3)")
                                       .arg(slot + 1)
                                       .arg(reply.isEmpty() ? QStringLiteral("nothing")
                                                            : QString::fromLatin1(reply.toHex(' ')))
                                       .arg(verdictName(check.verdict));
    if (check.verdict == ReplyVerdict::Verified)
        words = check.registers;
    return reportOf(outcomeOf(check.verdict), check.exceptionCode);
}

// One slot's turn, from reading its inputs to storing its words. A slot of a meter type reads
// its type's blocks in order, each in as many requests as its meter's limit asks for; its turn
// ends at the first request that fails, and its words are stored only when every one came.
SlotReport askSlot(int slot, ScanConsole &console, Link &link, Framing &framing,
    const Cancellation &cancel, std::chrono::milliseconds replyLimit)
{
    // A closed port decides first: the slot keeps its "asking" mark, whatever its inputs say.
    if (!link.isOpen())
        return {SlotOutcome::PortNotOpen, std::nullopt};
    const MeterType *type = console.typedMeter(slot);
    if (!type) {
        auto request = requestFromTexts(console.deviceAddressText(slot), console.startAddressText(),
            console.registerCountText());
        if (!request)
            return {SlotOutcome::NotDescribed, std::nullopt};
        request->function = console.readFunction();
        QList<std::uint16_t> words;
        const auto report = exchangeOnce(slot, link, framing, *request, cancel, replyLimit, words);
        if (report.outcome == SlotOutcome::Verified)
            console.storeRegisters(slot, *request, words);
        return report;
    }
    // A typed meter reads its type's registers: the window's range is not its own, but for a
    // default meter beyond the slots, which has no boxes of its own.
    const auto device = deviceFromText(console.deviceAddressText(slot));
    if (!device)
        return {SlotOutcome::NotDescribed, std::nullopt};
    std::optional<MeterType> windowRange;
    if (type->followsWindow) {
        const auto range = requestFromTexts(console.deviceAddressText(slot),
            console.startAddressText(), console.registerCountText());
        if (!range)
            return {SlotOutcome::NotDescribed, device};
        windowRange = *type;
        windowRange->blocks
            = {ReadBlock {console.readFunction(), range->startAddress, range->count}};
        type = &*windowRange;
    }
    QList<QList<std::uint16_t>> blockWords;
    for (int block = 0; block < type->blocks.size(); ++block) {
        QList<std::uint16_t> words;
        for (const auto &piece : requestsOf(*type, block)) {
            const ReadRequest each {
                *device, piece.start, std::uint8_t(piece.count), piece.function};
            QList<std::uint16_t> pieceWords;
            const auto report
                = exchangeOnce(slot, link, framing, each, cancel, replyLimit, pieceWords);
            if (report.outcome != SlotOutcome::Verified)
                return report;
            words << pieceWords;
        }
        blockWords << words;
    }
    // The grid shows the first block, from its first register.
    const auto &first = type->blocks.first();
    console.storeRegisters(slot,
        ReadRequest {*device, first.start, std::uint8_t(std::min<int>(first.count, longestRequest)),
            first.function},
        blockWords.first());
    console.storeTypedWords(slot, blockWords);
    return {SlotOutcome::Verified, *device};
}

} // namespace

ScanResult runScanCycle(ScanConsole &console, Link &link, Framing &framing,
    const Cancellation &cancel, std::chrono::milliseconds replyLimit)
{
    ScanResult result;
    const int meters = console.meterCount();
    result.outcomes.resize(std::size_t(meters));
    for (int slot = 0; slot < meters; ++slot) {
        // The inputs are read afresh at every slot: an edit made during a wait counts from the
        // next slot on.
        if (!console.slotTicked(slot)) {
            result.outcomes[slot] = SlotOutcome::Skipped;
            console.reportSlot(slot, {SlotOutcome::Skipped, std::nullopt});
            continue;
        }
        if (!console.slotDue(slot)) {
            result.outcomes[slot] = SlotOutcome::Resting;
            console.reportSlot(slot, {SlotOutcome::Resting, std::nullopt});
            continue;
        }
        console.showSlotMark(slot, SlotMark::Asking);
        const auto report = askSlot(
            slot, console, link, framing, cancel, console.replyLimit(slot).value_or(replyLimit));
        const auto outcome = report.outcome;
        result.outcomes[slot] = outcome;
        if (outcome == SlotOutcome::Cancelled) {
            result.cancelled = true;
            return result;
        }
        console.reportSlot(slot, report);
        // A closed port is shown by the connection button; the slot keeps its "asking" mark.
        if (outcome != SlotOutcome::Verified && outcome != SlotOutcome::PortNotOpen)
            console.showSlotMark(slot, SlotMark::Failed);
    }
    for (int slot = 0; slot < slotCount; ++slot)
        console.showSlotMark(slot, SlotMark::Done);
    return result;
}

} // namespace meterlog
