#pragma once

// How often each slot's meter is asked. A meter that has not answered three scans in a row is
// asked every 2nd scan, then every 4th, 8th and so on while it stays silent, and at least once a
// minute: a dead meter no longer costs its whole reply limit in every scan. Its first verified
// reply brings it back to every scan. A meter with a time of its own between readings is asked
// once that time has passed.

#include <chrono>
#include <optional>
#include <vector>

#include "modbus/scancycle.h"

namespace meterlog {

class MeterPacing
{
public:
    using Clock = std::chrono::steady_clock;

    explicit MeterPacing(int meters = slotCount)
        : m_pace(std::size_t(meters))
    { }

    // Scans in a row without a reply before a meter is asked less often.
    static constexpr int silentScansBeforeRest = 3;
    // The longest a silent meter goes unasked.
    static constexpr std::chrono::seconds longestRest {60};

    void setEvery(int slot, std::optional<std::chrono::seconds> every);
    // Whether the slot's meter is asked in the scan that begins at `now`; a scan that passes it
    // by counts towards its next turn.
    bool due(int slot, Clock::time_point now);
    // The outcome of the slot's turn at `now`. True when it has just gone quiet: from now on it
    // is asked less often.
    bool record(int slot, SlotOutcome outcome, Clock::time_point now);
    // Every how many scans the slot's meter is asked now.
    int interval(int slot) const { return m_pace.at(slot).interval; }

private:
    struct Pace
    {
        std::optional<std::chrono::seconds> every;
        std::optional<Clock::time_point> lastAsked;
        int silentScans = 0;
        int interval = 1;
        int passedBy = 0;
    };
    std::vector<Pace> m_pace; // one a meter of the line
};

} // namespace meterlog
