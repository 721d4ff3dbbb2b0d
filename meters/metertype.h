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

// Registers read together: one request, unless the meter answers fewer at a time.
struct ReadBlock
{
    std::uint8_t function = 3; // 3 holding registers, 4 input registers
    std::uint16_t start = 0;
    std::uint16_t count = 0;

    bool operator==(const ReadBlock &) const = default;
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
    // Digits after the point that a person reads; from the scale or the unit unless given.
    std::optional<int> decimals;
};

// The most registers a read request may ask for.
constexpr int longestRequest = 125;

// How a meter of a type says what it is, by its maker's identification register: the words of
// one read (`probe`, first word highest) must be one of `values` exactly, and the meter must then
// answer a second read (`confirm`: a serial number, say) with registers.
struct Identification
{
    ReadBlock probe;
    QList<std::uint64_t> values;
    ReadBlock confirm;
};

struct MeterType
{
    QString name;
    QString description;
    QString maker;
    QString models;
    QString checked; // how well the register map is known to be right, for the user
    int maxRegisters = longestRequest; // the most its meter answers in one request
    QList<ReadBlock> blocks;
    QList<MeterField> fields;
    // The default type: its one block is whatever the window's range and function are.
    bool followsWindow = false;
    // Nothing for a type whose meters cannot be told apart over the wire.
    std::optional<Identification> identification;
};

// The field's value in its unit from its block's words; nothing when the block is short, when
// the meter marks the value as not available, or for a float that is no number.
std::optional<double> decodeField(const MeterField &field, std::span<const std::uint16_t> words);

// The requests that read the block, in order: none longer than the type's maxRegisters, and
// each cut where no field is cut, unless a field is longer than that limit.
QList<ReadBlock> requestsOf(const MeterType &type, int block);

// How a meter of the type is read, for people: "function 4: registers 0-5, 12-23, 55; 4
// requests a scan, at most 11 registers each".
QString readingPlan(const MeterType &type);

// The field of that name, or null.
const MeterField *fieldNamed(const MeterType &type, const QString &name);

// The digits after the point that the field's values are shown with: its decimals when given;
// for a scaled whole number, those of its scale (0.1: 1, 0.01: 2); for a float, those its unit
// is read with (V 1, A 3, Hz 2, kWh 2 ...).
int shownDecimals(const MeterField &field);

} // namespace meterlog
