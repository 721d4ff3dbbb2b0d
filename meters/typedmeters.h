#pragma once

// The line's meter types and what the typed ones last sent, decoded: each field's value from the
// last turn in which every block of the meter's type was verified. Meters are counted from 0 in
// their order on the line; the first five are the window's slots.

#include <QDateTime>
#include <QList>

#include <cstdint>
#include <optional>
#include <vector>

#include "meters/meters.h"
#include "meters/metertype.h"

namespace meterlog {

struct DecodedFields
{
    QDateTime at; // when the last block came
    QList<std::optional<double>> values; // one a field of the type, in its order
};

class TypedMeters
{
public:
    // One a meter, at least one a slot: none for a slot of the default type.
    using Types = std::vector<std::optional<MeterType>>;
    // `vacant` marks the slots that hold no meter of the line (a line file of fewer than five).
    explicit TypedMeters(Types types = {}, std::vector<bool> vacant = {});

    int meterCount() const { return int(m_types.size()); }
    // Null for a slot of the default type.
    const MeterType *typeOf(int slot) const;
    void store(int slot, const QList<QList<std::uint16_t>> &blocks, const QDateTime &at);
    const std::optional<DecodedFields> &decoded(int slot) const { return m_decoded[slot]; }
    // The field's last value; nothing when there is none (not sent, not available, no such field).
    std::optional<double> valueOf(int slot, const QString &field) const;
    // The slot whose meter gives the line's frequency: the fifth when its meter has one, else the
    // lowest that has one (a default meter always has one); nothing when no meter has one. A
    // vacant slot has none.
    std::optional<int> lineFrequencySlot() const;

private:
    Types m_types;
    std::vector<bool> m_vacant;
    std::vector<std::optional<DecodedFields>> m_decoded;
};

} // namespace meterlog
