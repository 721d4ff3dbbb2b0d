#include "modbus/meterhealth.h"

#include <QStringList>

namespace meterlog {

namespace {

// Thousands set apart by a blank, as people write them: 1 204.
QString count(std::uint64_t value)
{
    QString digits = QString::number(value);
    for (auto at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u' ');
    return digits;
}

QString counted(std::uint64_t value, const char *one, const char *many)
{
    return count(value) + u' ' + QString::fromLatin1(value == 1 ? one : many);
}

} // namespace

void MeterHealth::record(int slot, const SlotReport &report, const QDateTime &at)
{
    auto &c = m_counters.at(slot);
    if (report.device)
        c.lastDevice = report.device;
    switch (report.outcome) {
    case SlotOutcome::Cancelled:
    case SlotOutcome::Resting:
        // Not asked this scan: it keeps what it had, confirmed or stale.
        return;
    case SlotOutcome::Skipped:
        // Unticked, it was not asked: what it shows is no longer confirmed.
        if (c.lastScanVerified)
            c.lastScanVerified = false;
        return;
    case SlotOutcome::NotDescribed:
        ++c.notSent;
        break;
    case SlotOutcome::PortNotOpen:
        break;
    case SlotOutcome::SendFailed:
    case SlotOutcome::PortLost:
        ++c.requestsSent;
        ++c.portFailures;
        break;
    case SlotOutcome::Verified:
        ++c.requestsSent;
        ++c.verifiedReplies;
        c.lastReplyAt = at;
        break;
    case SlotOutcome::TimedOut:
        ++c.requestsSent;
        ++c.timeouts;
        break;
    case SlotOutcome::BadCrc:
        ++c.requestsSent;
        ++c.crcErrors;
        break;
    case SlotOutcome::ForeignDevice:
        ++c.requestsSent;
        ++c.foreignReplies;
        break;
    case SlotOutcome::Exception:
        ++c.requestsSent;
        ++c.exceptionReplies;
        c.lastExceptionCode = report.exceptionCode;
        break;
    case SlotOutcome::Malformed:
        ++c.requestsSent;
        ++c.malformedReplies;
        break;
    }
    c.lastScanVerified = report.outcome == SlotOutcome::Verified;
}

QString MeterHealth::describe(int slot, const QString &addressText) const
{
    const auto &c = m_counters.at(slot);
    const QString address = c.lastDevice ? QString::number(*c.lastDevice) : addressText.trimmed();
    QStringList parts {counted(c.requestsSent, "request", "requests"),
        counted(c.verifiedReplies, "reply", "replies"), counted(c.timeouts, "timeout", "timeouts"),
        counted(c.crcErrors, "CRC error", "CRC errors")};
    // The rarer troubles only when they happened.
    if (c.foreignReplies)
        parts << counted(
            c.foreignReplies, "reply from another device", "replies from another device");
    if (c.exceptionReplies) {
        parts << counted(c.exceptionReplies, "exception reply", "exception replies")
                + QStringLiteral(" (last %1 %2)")
                      .arg(*c.lastExceptionCode, 2, 16, QLatin1Char('0'))
                      .arg(exceptionName(*c.lastExceptionCode));
    }
    if (c.malformedReplies)
        parts << counted(
            c.malformedReplies, "reply to another request", "replies to another request");
    if (c.portFailures)
        parts << counted(c.portFailures, "port failure", "port failures");
    if (c.notSent)
        parts << counted(c.notSent, "request not sent (the inputs describe none)",
            "requests not sent (the inputs describe none)");
    const QString lastReply = c.lastReplyAt.isNull() ? QStringLiteral("no reply yet")
                                                     : QStringLiteral("last reply ")
            + c.lastReplyAt.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
    return QStringLiteral("Meter at address %1: %2; %3").arg(address, parts.join(u", "), lastReply);
}

QString exceptionName(std::uint8_t code)
{
    switch (code) {
    case 0x01:
        return QStringLiteral("illegal function");
    case 0x02:
        return QStringLiteral("illegal data address");
    case 0x03:
        return QStringLiteral("illegal data value");
    case 0x04:
        return QStringLiteral("server device failure");
    case 0x05:
        return QStringLiteral("acknowledge");
    case 0x06:
        return QStringLiteral("server device busy");
    case 0x08:
        return QStringLiteral("memory parity error");
    case 0x0A:
        return QStringLiteral("gateway path unavailable");
    case 0x0B:
        return QStringLiteral("gateway target device failed to respond");
    default:
        return QStringLiteral("unknown exception");
    }
}

} // namespace meterlog
