// The register map every simulated meter serves, and what the meter measures at a given moment.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace meterModel {

constexpr int firstMeterAddress = 1;
// The highest address a Modbus RTU slave may have; a line holds meters 1 to N of them.
constexpr int highestMeterAddress = 247;
constexpr int defaultMeterCount = 5;
// Holding registers 4000..4099 (protocol addresses, 0-based); see README.md for each register.
constexpr std::uint16_t firstRegister = 4000;
constexpr std::uint16_t registerCount = 100;

using RegisterImage = std::array<std::uint16_t, registerCount>;
using Seconds = std::chrono::duration<double>;

// Whether a meter may sit at ADDRESS (1 to 247); which do is the line's choice (--meters).
bool isMeterAddress(int address);

// Every register of one meter, computed afresh from its address and the time since start.
// Meters 6 and on start from the readings of meters 1 to 5 in turn, drifting at their own pace.
RegisterImage registersAt(int meterAddress, Seconds sinceStart);

} // namespace meterModel
