#pragma once

// What meterlog knows of the meters it polls, wherever it needs it: how many slots the window
// has, and where a meter of the default type (the window's own) keeps its power and frequency.

namespace meterlog {

// Device slots, one meter each: M1 .. M5.
inline constexpr int slotCount = 5;

// A default meter's block is the window's range. Its second and third registers hold its power
// in kW, high word first; its ninth the line's frequency in 1/100 Hz.
namespace defaultMeter {
inline constexpr int powerOffset = 1;
inline constexpr int frequencyOffset = 8;
inline constexpr double hertzPerCount = 0.01;
} // namespace defaultMeter

} // namespace meterlog
