// Timing of the simulated 38400-baud 8N1 line and of the meters on it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>

namespace lineTiming {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

constexpr long long baudRate = 38400;
// Start bit, 8 data bits, no parity, 1 stop bit.
constexpr long long bitsPerCharacter = 10;
constexpr std::chrono::nanoseconds characterTime {1'000'000'000LL * bitsPerCharacter / baudRate};
// Above 19200 baud the Modbus serial-line rules fix t3.5 at 1.75 ms instead of 3.5 characters.
constexpr std::chrono::microseconds frameSilence {1750};
// A typical meter needs a few milliseconds between the end of a request and its reply.
constexpr std::chrono::milliseconds defaultTurnaround {3};
// The "slow" fault answers well after the 0.5 s a master waits for a reply.
constexpr std::chrono::milliseconds slowReplyDelay {700};
// A Modbus TCP gateway gives up on a meter after this long and answers exception 0B itself: well
// past a healthy meter's reply, and short of the 0.5 s a master behind the gateway waits.
constexpr std::chrono::milliseconds defaultGatewayTimeout {300};

// How long a frame of this many bytes takes on the line, from its first start bit to its last stop
// bit.
constexpr Clock::duration onTheWire(std::size_t bytes)
{
    return static_cast<long long>(bytes) * characterTime;
}

// The earlier of two deadlines, either of which may be absent.
inline std::optional<TimePoint> earliest(std::optional<TimePoint> a, std::optional<TimePoint> b)
{
    return !a ? b : !b ? a : std::min(*a, *b);
}

} // namespace lineTiming
