#pragma once

// What the window leaves, after a summary, for those who publish it: the captions as the window
// shows them and, for each meter, whether its most recent scan confirmed what it shows, with its
// counts; and, after every verified reply, the block of words it brought. Plain values: the
// publishers know nothing of the window, the grid or the line.

#include <QDateTime>
#include <QList>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "meters/linemeter.h"
#include "meters/metercounters.h"
#include "meters/meters.h"

namespace meterlog {

// A typed meter's fields as its last verified turn gave them: nothing for a value it marked as
// not available or a float that is no number.
struct FieldValue
{
    QString name;
    std::optional<double> value;
};
struct MeterFields
{
    QDateTime at; // null until the meter has answered
    QList<FieldValue> values;
};

// How the line has fared since start-up.
struct LineHealth
{
    std::uint64_t scans = 0;
    std::chrono::microseconds lastScanDuration {};
    bool linkUp = false;
};

struct Reading
{
    QDateTime at; // when the summary ran
    QString frequency; // the captions, as in the snapshot line
    std::optional<int> frequencySlot; // the meter the frequency is read from
    std::array<QString, slotCount> kilowatts; // the slots' captions
    QString snapshotLine;
    // One a meter of the line, in its order; the first five are the slots.
    std::vector<MeterCounters> meters = std::vector<MeterCounters>(slotCount);
    std::vector<bool> polled = std::vector<bool>(slotCount); // ticked, or beyond the slots
    // For every polled meter of a meter type.
    std::vector<std::optional<MeterFields>> fields
        = std::vector<std::optional<MeterFields>>(slotCount);
    // How the outputs name each meter; a slot without a meter of the line has no id.
    std::vector<MeterLabel> labels = slotLabels();
    LineHealth line;
};

struct RegisterBlock
{
    int meter = 0; // 0 for M1
    std::uint8_t address = 0;
    std::uint16_t start = 0;
    QList<std::uint16_t> words;
    QDateTime at;
};

// A time as ISO 8601 in local time with its offset from UTC: "2026-12-08T14:03:07+01:00".
QString isoLocalTime(const QDateTime &time);

} // namespace meterlog
