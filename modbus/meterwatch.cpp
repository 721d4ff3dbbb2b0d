#include "modbus/meterwatch.h"

#include "common/logcategories.h"
#include "modbus/meterhealth.h"

namespace meterlog {

MeterWatch::MeterWatch(std::vector<QString> names)
    : m_names(std::move(names))
    , m_silent(m_names.size(), LastingCondition(lcScan))
{ }

void MeterWatch::record(int slot, const SlotReport &report, std::chrono::milliseconds replyLimit,
    LastingCondition::Clock::time_point now)
{
    const QString &name = m_names.at(slot);
    const QString meter
        = report.device ? QStringLiteral("%1 (address %2)").arg(name).arg(*report.device) : name;
    if (report.outcome == SlotOutcome::Verified) {
        m_silent[slot].cleared(meter + QStringLiteral(" answers again"), now);
        return;
    }
    // A closed or failing port, and a request that could not be formed, are not the meter's
    // doing; they are reported where they happen.
    const QString trouble = troubleOf(report, replyLimit);
    if (!trouble.isEmpty())
        m_silent[slot].persists(meter + QStringLiteral(" does not answer: ") + trouble, now);
}

QString troubleOf(const SlotReport &report, std::chrono::milliseconds replyLimit)
{
    switch (report.outcome) {
    case SlotOutcome::TimedOut:
        return QStringLiteral("no complete reply within %1 ms").arg(replyLimit.count());
    case SlotOutcome::BadCrc:
        return QStringLiteral("a reply with a wrong checksum");
    case SlotOutcome::ForeignDevice:
        return QStringLiteral("a reply from another device");
    case SlotOutcome::Exception:
        return QStringLiteral("exception %1 (%2)")
            .arg(report.exceptionCode, 2, 16, QLatin1Char('0'))
            .arg(exceptionName(report.exceptionCode));
    case SlotOutcome::Malformed:
        return QStringLiteral("a reply to another request");
    case SlotOutcome::Skipped:
    case SlotOutcome::Resting:
    case SlotOutcome::NotDescribed:
    case SlotOutcome::PortNotOpen:
    case SlotOutcome::SendFailed:
    case SlotOutcome::Verified:
    case SlotOutcome::PortLost:
    case SlotOutcome::Cancelled:
        break;
    }
    return {};
}

} // namespace meterlog
