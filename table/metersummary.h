#pragma once

// The meter summary: the frequency and the five kW values taken from fixed cells of the register
// grid, or from the decoded fields of typed meters, and the snapshot line made of them.

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

// Where a default meter's power and frequency are in its grid column (row r holds the r-th
// register).
inline constexpr int kilowattHighRow = 1 + defaultMeter::powerOffset;
inline constexpr int kilowattLowRow = kilowattHighRow + 1;
inline constexpr int frequencyRow = 1 + defaultMeter::frequencyOffset;

// The captions after one summary: every value that can be read is refreshed, and a value that
// cannot keeps its caption from `shown`. A default meter's kW is high * 65536 + low of its grid
// column, a typed meter's its power field in kW with up to three decimals. The frequency is the
// meter's that TypedMeters::lineFrequencySlot() names: a default meter's cell text as it stands,
// a typed meter's written as the default meters give it, in 1/100 Hz.
MeterCaptions summarize(const RegisterGrid &grid, const TypedMeters &typed, MeterCaptions shown);

// Frequency and the five kW values, joined by "," with nothing before, after or between.
QString snapshotLine(const MeterCaptions &captions);

} // namespace meterlog
