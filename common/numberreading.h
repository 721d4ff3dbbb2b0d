#pragma once

// How meterlog reads numbers that operators type into text boxes, and how it brings them to
// whole numbers of a given width. Every reading that can fail says so with std::optional.

#include <QString>
#include <QStringView>

#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>

namespace meterlog {

// Reads a decimal number from the start of the text (sign, digits, fraction, exponent), skipping
// blanks wherever they stand and stopping at the first character that cannot continue it.
// Text that does not begin with a number reads as 0; this reading never fails.
double readLeadingNumber(QStringView text);

// The whole text, apart from blanks around it, must be a number: sign, digits, decimal fraction.
std::optional<double> readWholeNumber(QStringView text);

// Nearest whole number, halves to the even neighbour (12.5 -> 12, 13.5 -> 14). Fails for values
// that are not finite or lie beyond what a 64-bit integer holds.
std::optional<std::int64_t> roundHalfToEven(double value);

// Rounds and checks that the result fits T; an overflowing conversion fails instead of wrapping.
template<std::integral T>
std::optional<T> toWhole(double value)
{
    const auto rounded = roundHalfToEven(value);
    if (!rounded || *rounded < std::numeric_limits<T>::min()
        || *rounded > std::numeric_limits<T>::max())
        return std::nullopt;
    return static_cast<T>(*rounded);
}

// A number as plain decimal text: digits only for whole values ("44011", "4294967295"), no
// blank, no grouping; other values in the shortest form that keeps 15 significant digits.
QString plainNumberText(double value);

// A meter's kW from its high and low register words as the grid shows them: high * 65536 + low
// as plain digits; fails when either text is not a number or the result is not finite.
std::optional<QString> kilowattText(const QString &highWord, const QString &lowWord);

} // namespace meterlog
