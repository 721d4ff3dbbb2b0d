#pragma once

// How a meter lays a value out in its registers: the data type and, for values of two or four
// registers, the order of their bytes.

#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <variant>

namespace meterlog {

enum class DataType { U16, I16, U32, I32, U64, I64, F32, F64 };

// The bytes of a value, A the most significant, as the registers hold them: abcd as they come
// (high word first), cdab with the words in reverse order (low word first), badc with the two
// bytes of every word swapped, dcba both.
enum class WordOrder { Abcd, Cdab, Badc, Dcba };

int registersOf(DataType type);
bool isFloat(DataType type);
std::optional<DataType> dataTypeNamed(const QString &name);
std::optional<WordOrder> wordOrderNamed(const QString &name);

// A value as its type reads it: integers exactly (a double cannot hold every 64-bit one).
using RawValue = std::variant<std::int64_t, std::uint64_t, double>;

// `words` holds exactly registersOf(type) registers.
RawValue readRaw(std::span<const std::uint16_t> words, DataType type, WordOrder order);

// The raw value as a number; nothing for a float that is NaN or infinite, which no meter
// measured.
std::optional<double> numberOf(const RawValue &raw);

} // namespace meterlog
