#include "simulator.h"

#include "stopsignals.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr std::size_t readChunkSize = 256;

lineTiming::TimePoint later(lineTiming::TimePoint start, std::chrono::duration<double> offset)
{
    return start + std::chrono::duration_cast<lineTiming::Clock::duration>(offset);
}

} // namespace

Simulator::Simulator(SimOptions options)
    : m_options(std::move(options))
    , m_start(lineTiming::Clock::now())
    , m_link(m_options.linkPath)
    , m_assembler(m_options.paced)
    , m_transmitter(m_options.paced)
    , m_faults(m_options.seed)
    , m_log(m_options.log, m_start)
{
    for (const MeterFault &fault : m_options.faults)
        m_faults.add(fault.meterAddress, fault.kind);
}

bool Simulator::connect()
{
    std::string error;
    if (!m_terminal.open(error) || !m_link.pointAt(m_terminal.slavePath(), error)) {
        std::fprintf(stderr, "meter-sim: %s\n", error.c_str());
        m_terminal.close();
        return false;
    }
    // Tests and scripts wait for this line before they open the link.
    std::printf("ready %s %s\n", m_link.path().c_str(), m_terminal.slavePath().c_str());
    std::fflush(stdout);
    m_log.event(lineTiming::Clock::now(), "ready on " + m_terminal.slavePath());
    return true;
}

void Simulator::disconnect()
{
    // The link goes too: a dangling one could come back to life pointing at somebody else's
    // pseudo-terminal once the kernel hands out the same number again.
    m_link.remove();
    m_terminal.close();
    m_assembler.clear();
    m_transmitter.clear();
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
    disconnect();
    m_log.event(now, "cable pulled");
    m_reconnectAt = later(pullAt, pull.lasting);
}

void Simulator::readInput(lineTiming::TimePoint now)
{
    std::array<std::uint8_t, readChunkSize> chunk {};
    for (;;) {
        const ssize_t received = ::read(m_terminal.masterFd(), chunk.data(), chunk.size());
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return;
        m_assembler.receive(std::span(chunk.data(), static_cast<std::size_t>(received)), now);
    }
}

void Simulator::answer(const ReceivedFrame &frame, lineTiming::TimePoint now)
{
    // Values are taken when the meter answers, as a real one samples its latest measurement.
    const meterModel::Seconds sinceStart
        = m_options.frozenTime ? meterModel::Seconds(0) : meterModel::Seconds(now - m_start);
    RequestHandling handling = answerRequest(frame.bytes, sinceStart);
    if (frame.overflowed)
        handling.reply.clear();
    std::string faults;
    std::size_t sentBytes = 0;
    if (!handling.reply.empty()) {
        faults = m_faults.describe(handling.address);
        if (auto faulty = m_faults.apply(handling.address, handling.function, handling.reply)) {
            std::chrono::duration<double, std::milli> pause = m_options.turnaround;
            if (!m_options.paced)
                pause = pause.zero();
            if (faulty->slow)
                pause = lineTiming::slowReplyDelay;
            const auto startAt = std::max(now, later(frame.wireEnd, pause));
            const std::size_t size = faulty->bytes.size();
            if (m_transmitter.schedule(std::move(faulty->bytes), startAt))
                sentBytes = size;
        }
    }
    m_log.request(now, handling, frame.overflowed, faults, sentBytes);
}

std::optional<lineTiming::TimePoint> Simulator::nextDeadline() const
{
    std::optional<lineTiming::TimePoint> deadline = m_reconnectAt;
    const auto consider = [&deadline](std::optional<lineTiming::TimePoint> candidate) {
        if (candidate && (!deadline || *candidate < *deadline))
            deadline = candidate;
    };
    if (m_terminal.isOpen()) {
        consider(m_assembler.deadline());
        consider(m_transmitter.deadline());
        if (m_nextCablePull < m_options.cablePulls.size())
            consider(later(m_start, m_options.cablePulls[m_nextCablePull].after));
    }
    return deadline;
}

bool Simulator::waitForWork(const sigset_t &waitMask)
{
    pollfd input {m_terminal.masterFd(), POLLIN, 0};
    const nfds_t inputCount = m_terminal.isOpen() ? 1 : 0;
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
    // Idle, this blocks without a timeout: nothing runs until a byte or a signal comes.
    const int ready = ::ppoll(&input, inputCount, timeoutPointer, &waitMask);
    return ready > 0 && (input.revents & POLLIN) != 0;
}

int Simulator::run(const sigset_t &waitMask)
{
    if (!connect())
        return 1;
    while (!stopSignals::requested() && !m_failed) {
        const bool inputReady = waitForWork(waitMask);
        const auto now = lineTiming::Clock::now();
        // A frame whose silence ran out before this wake-up ends before any new byte is looked at.
        if (auto frame = m_assembler.takeCompleteFrame(now))
            answer(*frame, now);
        if (inputReady && m_terminal.isOpen())
            readInput(now);
        if (auto frame = m_assembler.takeCompleteFrame(now))
            answer(*frame, now);
        if (m_terminal.isOpen())
            m_transmitter.sendDue(m_terminal.masterFd(), now);
        followCablePulls(now);
    }
    disconnect();
    return m_failed ? 1 : 0;
}
