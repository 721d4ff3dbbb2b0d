#pragma once

// The meter summary: the frequency and the five kW values taken from fixed cells of the register
// grid, and the snapshot line made of them. No scaling: the frequency is the cell's text as it
// stands, a kW value the two words high * 65536 + low.

#include <QString>

#include <array>
#include <optional>

#include "meters/meters.h"
#include "meters/typedmeters.h"
#include "table/registergrid.h"

namespace meterlog {

// The texts the result labels show; the snapshot line is built from them.
struct MeterCaptions
{
    QString frequency;
    std::array<QString, slotCount> kilowatts;
};

// The frequency is the ninth register of its meter's block.
inline constexpr int frequencyRow = 9;
inline constexpr int frequencyColumn = RegisterGrid::firstSlotColumn + frequencySlot;
// A slot's power is its second (high word) and third (low word) registers.
inline constexpr int kilowattHighRow = 2;
inline constexpr int kilowattLowRow = 3;

// The captions after one summary: every value that can be read from the grid is refreshed, and
// a value that cannot keeps its caption from `shown`.
MeterCaptions summarize(const RegisterGrid &grid, MeterCaptions shown);

// The same with meters of a type among them: a typed meter's kW is its power field in kW with up
// to three decimals. The frequency is the fifth slot's when its meter has one, else the lowest
// slot's that has one; from a typed meter it is written as today's meters give it, in 1/100 Hz.
// With only default meters this is the summary above.
MeterCaptions summarize(const RegisterGrid &grid, const TypedMeters &typed, MeterCaptions shown);

// Frequency and the five kW values, joined by "," with nothing before, after or between.
QString snapshotLine(const MeterCaptions &captions);

} // namespace meterlog
