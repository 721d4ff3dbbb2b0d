#include "sim/frameassembler.h"

#include <algorithm>

namespace {
// The largest Modbus RTU frame; the receive buffer never grows beyond it.
constexpr std::size_t largestFrame = 256;
constexpr std::size_t readRequestSize = 8;
constexpr std::uint8_t readHoldingRegisters = 0x03;
constexpr lineTiming::Clock::duration longestLag = largestFrame * lineTiming::characterTime;
} // namespace

FrameAssembler::FrameAssembler(bool paced)
    : m_paced(paced)
{
    m_bytes.reserve(largestFrame);
}

void FrameAssembler::receive(std::span<const std::uint8_t> bytes, lineTiming::TimePoint arrival)
{
    for (const std::uint8_t byte : bytes) {
        // A pseudo-terminal hands over a whole write at once; on the wire each byte needs its own
        // character time, starting no earlier than it was written.
        m_lineFreeAt = std::max(arrival, m_lineFreeAt) + lineTiming::characterTime;
        // A master that dumps kilobytes at once would otherwise leave the simulated line lagging
        // by seconds; bytes past the largest frame are thrown away anyway, so their time is too.
        m_lineFreeAt = std::min(m_lineFreeAt, arrival + longestLag);
        if (m_bytes.size() < largestFrame)
            m_bytes.push_back(byte);
        else
            m_overflowed = true;
    }
    if (!bytes.empty())
        m_lastArrival = arrival;
}

bool FrameAssembler::holdsWholeReadRequest() const
{
    return m_bytes.size() == readRequestSize && m_bytes[1] == readHoldingRegisters;
}

std::optional<lineTiming::TimePoint> FrameAssembler::deadline() const
{
    if (m_bytes.empty() && !m_overflowed)
        return std::nullopt;
    if (m_paced)
        return m_lineFreeAt + lineTiming::frameSilence;
    if (holdsWholeReadRequest())
        return m_lastArrival;
    return m_lastArrival + lineTiming::frameSilence;
}

std::optional<ReceivedFrame> FrameAssembler::takeCompleteFrame(lineTiming::TimePoint now)
{
    const auto due = deadline();
    if (!due || now < *due)
        return std::nullopt;
    ReceivedFrame frame {m_bytes, m_paced ? m_lineFreeAt : m_lastArrival, m_overflowed};
    clear();
    return frame;
}

void FrameAssembler::clear()
{
    m_bytes.clear();
    m_overflowed = false;
}
