#include "meters/registervalue.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace meterlog {

int registersOf(DataType type)
{
    switch (type) {
    case DataType::U16:
    case DataType::I16:
        return 1;
    case DataType::U32:
    case DataType::I32:
    case DataType::F32:
        return 2;
    case DataType::U64:
    case DataType::I64:
    case DataType::F64:
        return 4;
    }
    return 1;
}

bool isFloat(DataType type)
{
    return type == DataType::F32 || type == DataType::F64;
}

std::optional<DataType> dataTypeNamed(const QString &name)
{
    static const std::array<std::pair<const char *, DataType>, 8> names {{
        {"u16", DataType::U16},
        {"i16", DataType::I16},
        {"u32", DataType::U32},
        {"i32", DataType::I32},
        {"u64", DataType::U64},
        {"i64", DataType::I64},
        {"f32", DataType::F32},
        {"f64", DataType::F64},
    }};
    for (const auto &[text, type] : names) {
        if (name == QLatin1String(text))
            return type;
    }
    return std::nullopt;
}

std::optional<WordOrder> wordOrderNamed(const QString &name)
{
    static const std::array<std::pair<const char *, WordOrder>, 4> names {{
        {"abcd", WordOrder::Abcd},
        {"cdab", WordOrder::Cdab},
        {"badc", WordOrder::Badc},
        {"dcba", WordOrder::Dcba},
    }};
    for (const auto &[text, order] : names) {
        if (name == QLatin1String(text))
            return order;
    }
    return std::nullopt;
}

RawValue readRaw(std::span<const std::uint16_t> words, DataType type, WordOrder order)
{
    const auto count = words.size();
    const bool wordsReversed = order == WordOrder::Cdab || order == WordOrder::Dcba;
    const bool bytesSwapped = order == WordOrder::Badc || order == WordOrder::Dcba;
    // The value's bits, most significant word first.
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t word = words[wordsReversed ? count - 1 - i : i];
        if (bytesSwapped)
            word = std::uint16_t((word << 8) | (word >> 8));
        bits = (bits << 16) | word;
    }
    switch (type) {
    case DataType::U16:
    case DataType::U32:
    case DataType::U64:
        return bits;
    case DataType::I16:
        return std::int64_t(std::int16_t(bits));
    case DataType::I32:
        return std::int64_t(std::int32_t(bits));
    case DataType::I64:
        return std::int64_t(bits);
    case DataType::F32: {
        // The float as written: its shortest decimal form, so that 49.98 stays 49.98 and does not
        // become 49.979999542236328.
        const float value = std::bit_cast<float>(std::uint32_t(bits));
        if (!std::isfinite(value))
            return double(value);
        std::array<char, 32> text {};
        const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
        return std::strtod(std::string(text.data(), written.ptr).c_str(), nullptr);
    }
    case DataType::F64:
        return std::bit_cast<double>(bits);
    }
    return bits;
}

std::optional<double> numberOf(const RawValue &raw)
{
    const double number = std::visit([](auto value) { return double(value); }, raw);
    if (!std::isfinite(number))
        return std::nullopt;
    return number;
}

} // namespace meterlog
