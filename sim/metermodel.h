// The register map every simulated meter serves, and what the meter measures at a given moment.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace meterModel {

constexpr int firstMeterAddress = 1;
constexpr int lastMeterAddress = 5;
// Holding registers 4000..4099 (protocol addresses, 0-based); see README.md for each register.
constexpr std::uint16_t firstRegister = 4000;
constexpr std::uint16_t registerCount = 100;

using RegisterImage = std::array<std::uint16_t, registerCount>;
using Seconds = std::chrono::duration<double>;

bool isMeterAddress(int address);

// Every register of one meter, computed afresh from its address and the time since start.
RegisterImage registersAt(int meterAddress, Seconds sinceStart);

} // namespace meterModel
