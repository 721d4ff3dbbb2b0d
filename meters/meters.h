#pragma once

// What meterlog knows of the meters it polls, wherever it needs it: how many slots the window
// has, and which meter's block holds the line's frequency.

namespace meterlog {

// Device slots, one meter each: M1 .. M5.
inline constexpr int slotCount = 5;
// The frequency is the fifth meter's (slot 4).
inline constexpr int frequencySlot = slotCount - 1;

} // namespace meterlog
