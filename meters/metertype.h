#pragma once

// A meter type: which registers a meter of that model is read from, and which named values its
// words hold. The default type is the window's own meters: its range, read with the window's
// function, kW and frequency where the summary finds them.

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

#include "meters/registervalue.h"

namespace meterlog {

// One read request's worth of registers.
struct ReadBlock
{
    std::uint8_t function = 3; // 3 holding registers, 4 input registers
    std::uint16_t start = 0;
    std::uint16_t count = 0;
};

struct MeterField
{
    QString name; // snake_case, shared across types where the quantity is the same
    int block = 0;
    int offset = 0; // registers from the block's start
    DataType type = DataType::U16;
    WordOrder order = WordOrder::Abcd;
    double scale = 1;
    QString unit;
    QString deviceClass; // Home Assistant's, or empty
    QString stateClass;
    // The raw value a meter sends for "not measured", held as the field's type reads it.
    std::optional<RawValue> notAvailable;
};

struct MeterType
{
    QString name;
    QString description;
    QList<ReadBlock> blocks;
    QList<MeterField> fields;
    // The default type: its one block is whatever the window's range and function are.
    bool followsWindow = false;
};

// The field's value in its unit from its block's words; nothing when the block is short, when
// the meter marks the value as not available, or for a float that is no number.
std::optional<double> decodeField(const MeterField &field, std::span<const std::uint16_t> words);

// The field of that name, or null.
const MeterField *fieldNamed(const MeterType &type, const QString &name);

} // namespace meterlog
