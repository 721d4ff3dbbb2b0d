#include "modbus/exchange.h"

#include "common/logcategories.h"
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
// request and are dropped. Returns how the exchange ends when the request could not go out.
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

} // namespace

ExchangeResult exchange(Link &link, Framing &framing, const ReadRequest &request,
    std::chrono::milliseconds replyLimit, const Cancellation &cancel, const QString &who)
{
    ExchangeResult result;
    const auto frames = framing.exchange(request);
    if (const auto notSent = sendRequest(link, frames.frame, cancel)) {
        result.outcome = *notSent;
        return result;
    }
    qCDebug(lcFrames).noquote() << QStringLiteral("%1 sent %2").arg(who, frames.frame.toHex(' '));

    const auto wait = waitForReply(link, frames.bytesStillNeeded, replyLimit, cancel);
    if (wait.end == WaitEnd::Cancelled || wait.end == WaitEnd::PortClosed) {
        result.outcome
            = wait.end == WaitEnd::Cancelled ? SlotOutcome::Cancelled : SlotOutcome::PortLost;
        return result;
    }

    const auto reply = link.takeInput().value_or(QByteArray());
    const auto check = frames.check(reply);
    qCDebug(lcFrames).noquote() << QStringLiteral("%1 got %2 (%3)")
                                       .arg(who,
                                           reply.isEmpty() ? QStringLiteral("nothing")
                                                           : QString::fromLatin1(reply.toHex(' ')),
                                           QLatin1String(verdictName(check.verdict)));
    result.outcome = outcomeOf(check.verdict);
    result.exceptionCode = check.exceptionCode;
    result.silent = check.silent;
    if (check.verdict == ReplyVerdict::Verified)
        result.words = check.registers;
    return result;
}

} // namespace meterlog
