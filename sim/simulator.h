// The simulator's event loop: the line, the five meters, their faults and the scripted cable pulls.
#pragma once

#include "devicelink.h"
#include "faults.h"
#include "frameassembler.h"
#include "linetransmitter.h"
#include "pseudoterminal.h"
#include "requestlog.h"
#include "simoptions.h"

#include <csignal>
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
    void disconnect();
    void followCablePulls(lineTiming::TimePoint now);
    void readInput(lineTiming::TimePoint now);
    void answer(const ReceivedFrame &frame, lineTiming::TimePoint now);
    std::optional<lineTiming::TimePoint> nextDeadline() const;
    bool waitForWork(const sigset_t &waitMask);

    SimOptions m_options;
    lineTiming::TimePoint m_start;
    PseudoTerminal m_terminal;
    DeviceLink m_link;
    FrameAssembler m_assembler;
    LineTransmitter m_transmitter;
    FaultInjector m_faults;
    RequestLog m_log;
    std::size_t m_nextCablePull = 0;
    std::optional<lineTiming::TimePoint> m_reconnectAt;
    bool m_failed = false;
};
