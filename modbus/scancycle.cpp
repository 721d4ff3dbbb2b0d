#include "modbus/scancycle.h"

#include "common/logcategories.h"
#include "modbus/exchange.h"
#include "modbus/requesttexts.h"
#include "serial/link.h"

namespace meterlog {

namespace {

// One request and its reply: the words of a verified reply in `words`.
SlotReport exchangeOnce(int slot, Link &link, Framing &framing, const ReadRequest &request,
    const Cancellation &cancel, std::chrono::milliseconds replyLimit, QList<std::uint16_t> &words)
{
    auto done
        = exchange(link, framing, request, replyLimit, cancel, QStringLiteral("M%1").arg(slot + 1));
    words = std::move(done.words);
    return {done.outcome, request.device, done.exceptionCode};
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
