#pragma once

// The values start-up puts into the window: the window's own defaults, each of which the command
// line can replace.

#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <optional>
#include <vector>

#include "meters/linemeter.h"
#include "meters/metertype.h"
#include "meters/metertypefile.h"
#include "modbus/scancycle.h"

namespace meterlog {

// The texts the range boxes are created with.
inline constexpr int createdStartAddress = 4011;
inline constexpr int createdRegisterCount = 12;

struct StartValues
{
    // The port box's text: a port number or a device path.
    QString port = QStringLiteral("9");
    QString lineSettings = QStringLiteral("38400,n,8,1");
    // Device addresses of slots 1.. in order; slots without one start unticked and empty.
    QStringList addresses {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
        QStringLiteral("4"), QStringLiteral("5")};
    // The start address and count boxes keep their own texts unless these are given.
    std::optional<QString> startAddress;
    std::optional<QString> registerCount;
    bool manual = false;
    std::chrono::milliseconds replyLimit = defaultReplyLimit;
    // The function code the window's range is read with: 3 holding registers, 4 input registers.
    std::uint8_t readFunction = 3;
    // Each slot's meter type; none: the default, today's meters.
    std::array<std::optional<MeterType>, slotCount> meterTypes;
    // Each slot's own reply limit instead of replyLimit, and the shortest time between two
    // readings of its meter.
    std::array<std::optional<std::chrono::milliseconds>, slotCount> replyLimits;
    std::array<std::optional<std::chrono::seconds>, slotCount> every;
    // The meters of the line after the fifth: asked in turn after the slots, in every scan.
    std::vector<LineMeter> beyondSlots;
    // One a meter of the line, the slots' first.
    std::vector<MeterLabel> labels = slotLabels();
};

// The type of every meter of the line, the slots' first. A default meter beyond the slots has no
// boxes of its own: it is read as a meter of the default type, through the window's range.
inline std::vector<std::optional<MeterType>> meterTypesOfLine(const StartValues &start)
{
    std::vector<std::optional<MeterType>> types(start.meterTypes.begin(), start.meterTypes.end());
    for (const auto &meter : start.beyondSlots)
        types.push_back(meter.type ? meter.type : std::optional(defaultMeterType()));
    return types;
}

// The label of meter `index` of the line; a meter that was given none is called by its place.
inline MeterLabel labelOf(const StartValues &start, int index)
{
    if (std::size_t(index) < start.labels.size())
        return start.labels[std::size_t(index)];
    return {QString::number(index + 1), QStringLiteral("M%1").arg(index + 1)};
}

// The label of every meter of the line.
inline std::vector<MeterLabel> meterLabels(const StartValues &start)
{
    std::vector<MeterLabel> labels;
    for (int meter = 0; meter < slotCount + int(start.beyondSlots.size()); ++meter)
        labels.push_back(labelOf(start, meter));
    return labels;
}

// How the log calls each meter of the line.
inline std::vector<QString> meterNames(const StartValues &start)
{
    std::vector<QString> names;
    for (const auto &label : meterLabels(start))
        names.push_back(label.name);
    return names;
}

} // namespace meterlog
