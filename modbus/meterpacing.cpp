#include "modbus/meterpacing.h"

#include <algorithm>

namespace meterlog {

namespace {
// Intervals double up to here; the minute's bound takes over long before on any real line.
constexpr int longestInterval = 1 << 16;
} // namespace

void MeterPacing::setEvery(int slot, std::optional<std::chrono::seconds> every)
{
    m_pace.at(slot).every = every;
}

bool MeterPacing::due(int slot, Clock::time_point now)
{
    auto &pace = m_pace.at(slot);
    if (!pace.lastAsked)
        return true;
    const auto since = now - *pace.lastAsked;
    if (pace.every && since < *pace.every)
        return false;
    if (pace.passedBy + 1 < pace.interval && since < longestRest) {
        ++pace.passedBy;
        return false;
    }
    return true;
}

bool MeterPacing::record(int slot, SlotOutcome outcome, Clock::time_point now)
{
    auto &pace = m_pace.at(slot);
    switch (outcome) {
    case SlotOutcome::Verified:
        pace = Pace {pace.every, now};
        return false;
    case SlotOutcome::TimedOut:
        break;
    case SlotOutcome::BadCrc:
    case SlotOutcome::ForeignDevice:
    case SlotOutcome::Exception:
    case SlotOutcome::Malformed:
        // Something answered: the meter is there, whatever was wrong with its reply.
        pace.lastAsked = now;
        pace.passedBy = 0;
        return false;
    case SlotOutcome::Skipped:
    case SlotOutcome::Resting:
    case SlotOutcome::NotDescribed:
    case SlotOutcome::PortNotOpen:
    case SlotOutcome::SendFailed:
    case SlotOutcome::PortLost:
    case SlotOutcome::Cancelled:
        // Not asked, or the line's trouble rather than the meter's.
        return false;
    }
    pace.lastAsked = now;
    pace.passedBy = 0;
    if (++pace.silentScans < silentScansBeforeRest)
        return false;
    const bool wentQuiet = pace.interval == 1;
    pace.interval = std::min(pace.interval * 2, longestInterval);
    return wentQuiet;
}

} // namespace meterlog
