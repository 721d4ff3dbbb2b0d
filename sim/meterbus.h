// The meters on the simulated RS-485 line: what they put on the line for a request frame once
// their faults have had their say, and when. The pseudo-terminal and both gateways ask them here.
#pragma once

#include "sim/faults.h"
#include "sim/frameassembler.h"
#include "sim/linetiming.h"
#include "sim/meterresponder.h"
#include "sim/simoptions.h"
#include "sim/simulatedtypes.h"

#include <cstdint>
#include <string>
#include <vector>

struct MeterAnswer
{
    // What a healthy meter makes of the request; its reply is empty when none would be due.
    RequestHandling handling;
    bool overflowed = false;
    // The asked meter's faults as their command-line names, for the request log.
    std::string faults;
    // What goes on the line after the faults; empty when the meter keeps quiet.
    std::vector<std::uint8_t> reply;
    // When the reply's first bit goes out.
    lineTiming::TimePoint startAt {};
    bool dropsConnection = false;
};

class MeterBus
{
public:
    MeterBus(const SimOptions &options, lineTiming::TimePoint start);

    MeterAnswer answer(const ReceivedFrame &frame, lineTiming::TimePoint now);
    bool paced() const { return m_paced; }

private:
    lineTiming::TimePoint m_start;
    bool m_frozenTime;
    bool m_paced;
    std::chrono::duration<double, std::milli> m_turnaround;
    FaultInjector m_faults;
    int m_meterCount;
    SimulatedTypes m_types;
};
