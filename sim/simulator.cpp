#include "sim/simulator.h"

#include "sim/gatewaylink.h"
#include "sim/modbustcpgateway.h"
#include "sim/pseudoterminallink.h"
#include "sim/rtuline.h"
#include "sim/stopsignals.h"

#include <algorithm>
#include <cstdio>

namespace {

lineTiming::TimePoint later(lineTiming::TimePoint start, std::chrono::duration<double> offset)
{
    return start + std::chrono::duration_cast<lineTiming::Clock::duration>(offset);
}

std::unique_ptr<MeterLink> makeLink(const SimOptions &options, MeterBus &meters, RequestLog &log)
{
    switch (options.link) {
    case LinkKind::ModbusTcp:
        return std::make_unique<GatewayLink>("tcp", options.listenAddress, options.port,
            std::make_unique<ModbusTcpGateway>(meters, log, options), log);
    case LinkKind::RtuOverTcp:
        return std::make_unique<GatewayLink>("rtu+tcp", options.listenAddress, options.port,
            std::make_unique<RtuLine>(meters, log), log);
    case LinkKind::PseudoTerminal:
        break;
    }
    return std::make_unique<PseudoTerminalLink>(options.linkPath, meters, log);
}

} // namespace

Simulator::Simulator(SimOptions options)
    : m_options(std::move(options))
    , m_start(lineTiming::Clock::now())
    , m_log(m_options.log, m_start)
    , m_meters(m_options, m_start)
    , m_link(makeLink(m_options, m_meters, m_log))
{ }

bool Simulator::connect()
{
    std::string readyText;
    std::string error;
    if (!m_link->open(readyText, error)) {
        std::fprintf(stderr, "meter-sim: %s\n", error.c_str());
        return false;
    }
    // Tests and scripts wait for this line before they connect.
    std::printf("ready %s\n", readyText.c_str());
    std::fflush(stdout);
    m_log.event(lineTiming::Clock::now(), "ready " + readyText);
    return true;
}

void Simulator::followCablePulls(lineTiming::TimePoint now)
{
    if (m_reconnectAt) {
        if (now < *m_reconnectAt)
            return;
        m_reconnectAt.reset();
        m_failed = !connect();
        return;
    }
    if (m_nextCablePull >= m_options.cablePulls.size())
        return;
    const CablePull &pull = m_options.cablePulls[m_nextCablePull];
    const auto pullAt = later(m_start, pull.after);
    if (now < pullAt)
        return;
    ++m_nextCablePull;
    m_log.event(now, "cable pulled");
    m_link->close();
    m_reconnectAt = later(pullAt, pull.lasting);
}

std::optional<lineTiming::TimePoint> Simulator::nextDeadline() const
{
    std::optional<lineTiming::TimePoint> deadline = m_reconnectAt;
    if (m_link->isOpen()) {
        deadline = lineTiming::earliest(deadline, m_link->deadline());
        if (m_nextCablePull < m_options.cablePulls.size())
            deadline = lineTiming::earliest(
                deadline, later(m_start, m_options.cablePulls[m_nextCablePull].after));
    }
    return deadline;
}

void Simulator::waitForWork(const sigset_t &waitMask, std::vector<pollfd> &entries)
{
    entries.clear();
    m_link->addPollEntries(entries);
    timespec timeout {};
    const timespec *timeoutPointer = nullptr;
    if (const auto deadline = nextDeadline()) {
        const auto remaining
            = std::max(lineTiming::Clock::duration::zero(), *deadline - lineTiming::Clock::now());
        const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining);
        timeout.tv_sec = static_cast<time_t>(nanoseconds.count() / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(nanoseconds.count() % 1'000'000'000);
        timeoutPointer = &timeout;
    }
    // Idle, this blocks without a timeout: nothing runs until a byte, a client or a signal comes.
    if (::ppoll(entries.data(), entries.size(), timeoutPointer, &waitMask) <= 0)
        entries.clear();
}

int Simulator::run(const sigset_t &waitMask)
{
    if (!connect())
        return 1;
    std::vector<pollfd> entries;
    while (!stopSignals::requested() && !m_failed) {
        waitForWork(waitMask, entries);
        const auto now = lineTiming::Clock::now();
        m_link->service(entries, now);
        followCablePulls(now);
    }
    m_link->close();
    return m_failed ? 1 : 0;
}
