// Timing of the simulated 38400-baud 8N1 line and of the meters on it.
#pragma once

#include <chrono>

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

} // namespace lineTiming
