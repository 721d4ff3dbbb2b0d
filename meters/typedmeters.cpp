#include "meters/typedmeters.h"

#include <algorithm>

namespace meterlog {

TypedMeters::TypedMeters(Types types, std::vector<bool> vacant)
    : m_types(std::move(types))
    , m_vacant(std::move(vacant))
{
    m_vacant.resize(std::max(m_types.size(), std::size_t(slotCount)));
    if (m_types.size() < std::size_t(slotCount))
        m_types.resize(slotCount);
    m_decoded.resize(m_types.size());
}

const MeterType *TypedMeters::typeOf(int slot) const
{
    return m_types[slot] ? &*m_types[slot] : nullptr;
}

void TypedMeters::store(int slot, const QList<QList<std::uint16_t>> &blocks, const QDateTime &at)
{
    const auto *type = typeOf(slot);
    if (!type)
        return;
    DecodedFields decoded {at, {}};
    for (const auto &field : type->fields) {
        decoded.values << (field.block < blocks.size() ? decodeField(field, blocks[field.block])
                                                       : std::nullopt);
    }
    m_decoded[slot] = decoded;
}

std::optional<double> TypedMeters::valueOf(int slot, const QString &field) const
{
    const auto *type = typeOf(slot);
    if (!type || !m_decoded[slot])
        return std::nullopt;
    for (int i = 0; i < type->fields.size(); ++i) {
        if (type->fields[i].name == field)
            return m_decoded[slot]->values.value(i);
    }
    return std::nullopt;
}

std::optional<int> TypedMeters::lineFrequencySlot() const
{
    // The window has always read the frequency from its fifth meter.
    constexpr int preferredSlot = slotCount - 1;
    for (const int slot : {preferredSlot, 0, 1, 2, 3}) {
        const auto *type = typeOf(slot);
        if (!m_vacant[slot] && (!type || fieldNamed(*type, QStringLiteral("frequency"))))
            return slot;
    }
    return std::nullopt;
}

} // namespace meterlog
