#include "meters/metertype.h"

namespace meterlog {

std::optional<double> decodeField(const MeterField &field, std::span<const std::uint16_t> words)
{
    const auto size = registersOf(field.type);
    if (field.offset < 0 || std::size_t(field.offset + size) > words.size())
        return std::nullopt;
    const auto raw = readRaw(
        words.subspan(std::size_t(field.offset), std::size_t(size)), field.type, field.order);
    if (field.notAvailable && raw == *field.notAvailable)
        return std::nullopt;
    const auto number = numberOf(raw);
    if (!number)
        return std::nullopt;
    return *number * field.scale;
}

const MeterField *fieldNamed(const MeterType &type, const QString &name)
{
    for (const auto &field : type.fields) {
        if (field.name == name)
            return &field;
    }
    return nullptr;
}

} // namespace meterlog
