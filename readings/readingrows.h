#pragma once

// What the readings window lists after a summary: one row for each field of every ticked meter,
// with its value as the meter last sent it and whether the latest scan confirmed it. A default
// meter has its kW value and, when it gives the line's frequency, the frequency; a typed meter
// has every field of its type.

#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

#include "meters/reading.h"
#include "meters/typedmeters.h"

namespace meterlog {

// A meter's field: (slot, field name).
using FieldKey = std::pair<int, QString>;

struct ReadingRow
{
    FieldKey key;
    QString meter; // its name
    std::optional<std::uint8_t> address; // the address last asked
    QString type; // the meter type's name
    QString unit;
    int decimals = 0; // digits after the point that the value is shown with
    std::optional<double> value; // the last value sent; none when the meter gave none
    QDateTime repliedAt; // of that value; null until the meter has answered
    bool fresh = false; // confirmed by the latest scan
};

inline const QString powerField = QStringLiteral("power");
inline const QString frequencyField = QStringLiteral("frequency");

QList<ReadingRow> readingRows(const Reading &reading, const TypedMeters &types);

} // namespace meterlog
