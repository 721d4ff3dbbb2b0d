// The simulator's event loop: the link a master reaches the meters through (a pseudo-terminal or
// a network gateway), the five meters and their faults, and the scripted cable pulls.
#pragma once

#include "sim/meterbus.h"
#include "sim/meterlink.h"
#include "sim/requestlog.h"
#include "sim/simoptions.h"

#include <csignal>
#include <memory>
#include <optional>

class Simulator
{
public:
    explicit Simulator(SimOptions options);

    // Runs until a stop signal arrives, which waitMask lets through only while waiting.
    // Returns the process exit status.
    int run(const sigset_t &waitMask);

private:
    bool connect();
    void followCablePulls(lineTiming::TimePoint now);
    std::optional<lineTiming::TimePoint> nextDeadline() const;
    // Fills the entries poll has seen.
    void waitForWork(const sigset_t &waitMask, std::vector<pollfd> &entries);

    SimOptions m_options;
    lineTiming::TimePoint m_start;
    RequestLog m_log;
    MeterBus m_meters;
    std::unique_ptr<MeterLink> m_link;
    std::size_t m_nextCablePull = 0;
    std::optional<lineTiming::TimePoint> m_reconnectAt;
    bool m_failed = false;
};
