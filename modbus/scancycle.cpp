#include "scancycle.h"

#include "logcategories.h"
#include "numberreading.h"
#include "serialcomm.h"

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

// Hands the request to the port and waits until the device has taken all of it. Bytes that
// arrived before it belong to an earlier request and are dropped, after the line has been
// silent for a frame gap so that a device still talking is not cut into. Returns how the slot's
// turn ends when the request could not go out.
std::optional<SlotOutcome> sendRequest(
    SerialComm &port, const QByteArray &frame, const Cancellation &cancel)
{
    using std::chrono::steady_clock;
    switch (waitForSilence(port, frameGap(port.settings()), silenceLimit, cancel)) {
    case WaitEnd::Complete:
        break;
    case WaitEnd::Cancelled:
        return SlotOutcome::Cancelled;
    case WaitEnd::PortClosed:
    case WaitEnd::TimedOut:
        return SlotOutcome::SendFailed;
    }
    port.discardInput();
    port.setInputLen(0);
    if (!port.setOutput(frame))
        return SlotOutcome::SendFailed;
    const auto giveUpAt = steady_clock::now() + sendLimit;
    for (;;) {
        const auto pending = port.outBufferCount();
        if (!pending)
            return SlotOutcome::SendFailed;
        if (*pending == 0)
            return std::nullopt;
        if (steady_clock::now() >= giveUpAt)
            return SlotOutcome::SendFailed;
    }
}

// One slot's turn, from reading its inputs to storing its words.
SlotReport askSlot(int slot, ScanConsole &console, SerialComm &port, CrcRoutine &crc,
    const Cancellation &cancel, std::chrono::milliseconds replyLimit)
{
    // A closed port decides first: the slot keeps its "asking" mark, whatever its inputs say.
    if (!port.portOpen())
        return {SlotOutcome::PortNotOpen, std::nullopt};
    const auto request = requestFromTexts(
        console.deviceAddressText(slot), console.startAddressText(), console.registerCountText());
    if (!request)
        return {SlotOutcome::NotDescribed, std::nullopt};
    const auto reportOf = [&](SlotOutcome outcome, std::uint8_t exceptionCode = 0) {
        return SlotReport {outcome, request->device, exceptionCode};
    };

    auto frame = requestBody(*request);
    crc.proc1(frame, std::int16_t(frame.size()));
    frame.append(char(crc.crc_hi));
    frame.append(char(crc.crc_lo));

    if (const auto notSent = sendRequest(port, frame, cancel))
        return reportOf(*notSent);
    qCDebug(lcFrames).noquote()
        << QStringLiteral("M%1 sent %2").arg(slot + 1).arg(frame.toHex(' '));

    // Some adapters hear their own request: the reply then comes after a copy of it, and the
    // wait goes on for the reply itself.
    const auto stillNeeded = [&](QByteArrayView received) {
        return bytesStillNeeded(crc.crc_table, *request, frame, received);
    };
    const auto wait = waitForReply(port, stillNeeded, replyLimit, cancel);
    if (wait.end == WaitEnd::Cancelled)
        return reportOf(SlotOutcome::Cancelled);
    if (wait.end == WaitEnd::PortClosed)
        return reportOf(SlotOutcome::PortLost);

    const auto reply = port.input().value_or(QByteArray());
    const auto check = checkReadReply(crc.crc_table, *request, replyAfterEcho(reply, frame));
    qCDebug(lcFrames).noquote() << QStringLiteral("M%1 got %2 (%3)")
                                       .arg(slot + 1)
                                       .arg(reply.isEmpty() ? QStringLiteral("nothing")
                                                            : QString::fromLatin1(reply.toHex(' ')))
                                       .arg(verdictName(check.verdict));
    if (check.verdict == ReplyVerdict::Verified)
        console.storeRegisters(slot, *request, check.registers);
    return reportOf(outcomeOf(check.verdict), check.exceptionCode);
}

} // namespace

std::optional<ReadRequest> requestFromTexts(
    const QString &deviceText, const QString &startText, const QString &countText)
{
    const auto device = readWholeNumber(deviceText);
    const auto deviceAddress = device ? toWhole<std::uint8_t>(*device) : std::nullopt;
    const auto count = toWhole<std::uint8_t>(readLeadingNumber(countText));
    const auto start = toWhole<std::uint16_t>(readLeadingNumber(startText));
    if (!deviceAddress || !count || !start)
        return std::nullopt;
    return ReadRequest {*deviceAddress, *start, *count};
}

ScanResult runScanCycle(ScanConsole &console, SerialComm &port, CrcRoutine &crc,
    const Cancellation &cancel, std::chrono::milliseconds replyLimit)
{
    ScanResult result;
    for (int slot = 0; slot < slotCount; ++slot) {
        // The inputs are read afresh at every slot: an edit made during a wait counts from the
        // next slot on.
        if (!console.slotTicked(slot)) {
            result.outcomes[slot] = SlotOutcome::Skipped;
            console.reportSlot(slot, {SlotOutcome::Skipped, std::nullopt});
            continue;
        }
        console.showSlotMark(slot, SlotMark::Asking);
        const auto report = askSlot(slot, console, port, crc, cancel, replyLimit);
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
