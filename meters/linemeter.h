#pragma once

// A meter of a line: where it is on the bus, what it is, what it is called and how it is asked.

#include <QString>

#include <chrono>
#include <optional>
#include <vector>

#include "meters/metertype.h"

namespace meterlog {

// Modbus gives a meter an address from 1 to 247; 0 is the broadcast no meter answers.
inline constexpr int lowestMeterAddress = 1;
inline constexpr int highestMeterAddress = 247;

struct LineMeter
{
    int address = lowestMeterAddress;
    std::optional<MeterType> type; // none: the default meter, read through the window's range
    // Names it in topics, columns and the log, whatever else is added to the line: [a-z0-9_].
    QString id;
    QString name; // for people
    // Its own limits instead of the line's: how long it may take to answer, and how often it is
    // asked at most.
    std::optional<std::chrono::milliseconds> replyLimit;
    std::optional<std::chrono::seconds> every;
};

// How the outputs name a meter of the line: its id in topics, history columns and unique ids,
// its name for people and the log. A slot without a meter of the line has no id, and no output
// speaks of it.
struct MeterLabel
{
    QString id;
    QString name;
};

// The five slots of a line given by options: ids 1 to 5, names M1 to M5, as ever.
inline std::vector<MeterLabel> slotLabels()
{
    std::vector<MeterLabel> labels;
    for (int slot = 1; slot <= 5; ++slot)
        labels.push_back({QString::number(slot), QStringLiteral("M%1").arg(slot)});
    return labels;
}

// Which of `labels` hold no meter of the line: the slots a line file of fewer than five leaves.
inline std::vector<bool> vacancies(const std::vector<MeterLabel> &labels)
{
    std::vector<bool> vacant;
    for (const auto &label : labels)
        vacant.push_back(label.id.isEmpty());
    return vacant;
}

} // namespace meterlog
