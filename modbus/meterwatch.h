#pragma once

// Says in the log when a meter stops answering and when it answers again, once each, from the
// scan cycle's report of every slot.

#include <QString>

#include <chrono>
#include <vector>

#include "common/lastingcondition.h"
#include "modbus/scancycle.h"

namespace meterlog {

class MeterWatch
{
public:
    // `names` says how the log calls each meter of the line: "M1", "Main incomer".
    explicit MeterWatch(std::vector<QString> names);
    // `replyLimit` is the limit the scan waited, for the words of a line about a silent meter.
    void record(int slot, const SlotReport &report, std::chrono::milliseconds replyLimit,
        LastingCondition::Clock::time_point now = LastingCondition::Clock::now());

private:
    std::vector<QString> m_names;
    std::vector<LastingCondition> m_silent; // one a meter of the line
};

// What went wrong with a request, in plain words ("no complete reply within 500 ms"); empty for
// outcomes that say nothing about the meter.
QString troubleOf(const SlotReport &report, std::chrono::milliseconds replyLimit);

} // namespace meterlog
