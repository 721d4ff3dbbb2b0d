#include "common/numberreading.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace meterlog {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Whether a number that double cannot hold is too large (rather than too small): its decimal
// magnitude, from the position of its first significant digit and its exponent, is not negative.
bool isTooLarge(const std::string &number)
{
    const auto exponentAt = number.find('e');
    const auto mantissa = number.substr(0, exponentAt);
    long exponent = 0;
    if (exponentAt != std::string::npos) {
        // Saturates: an exponent of any length only has to say "very large" or "very small".
        const bool negative = number[exponentAt + 1] == '-';
        for (auto i = exponentAt + 1; i < number.size(); ++i) {
            if (number[i] >= '0' && number[i] <= '9')
                exponent = std::min(exponent * 10 + (number[i] - '0'), 1'000'000'000L);
        }
        if (negative)
            exponent = -exponent;
    }
    const auto point = std::min(mantissa.find('.'), mantissa.size());
    const auto firstSignificant = mantissa.find_first_of("123456789");
    if (firstSignificant == std::string::npos)
        return false;
    const long digitsBeforePoint = long(point) - long(firstSignificant);
    const long magnitude = firstSignificant < point ? digitsBeforePoint - 1 : digitsBeforePoint;
    return magnitude + exponent >= 0;
}

// Parses a number that scanNumber has collected, in plain ASCII whatever the locale says.
double parseAscii(const std::string &number)
{
    double value = 0;
    const auto *begin = number.data();
    // from_chars takes no leading '+'.
    if (number.front() == '+')
        ++begin;
    const auto error = std::from_chars(begin, number.data() + number.size(), value).ec;
    if (error == std::errc::result_out_of_range) {
        const double sign = number.front() == '-' ? -1.0 : 1.0;
        return isTooLarge(number) ? sign * HUGE_VAL : sign * 0.0;
    }
    return value;
}

// Collects the longest prefix of `text`, blanks left out, that forms a number. `allowExponent`
// and `skipInnerBlanks` tell the two readings apart. Returns the characters used and sets
// `consumed` to the text position where reading stopped.
std::string scanNumber(
    QStringView text, bool allowExponent, bool skipInnerBlanks, qsizetype &consumed)
{
    std::string out;
    qsizetype pos = 0;
    const auto skipBlanks = [&] {
        while (skipInnerBlanks && pos < text.size() && isBlank(text[pos]))
            ++pos;
    };
    const auto takeDigits = [&] {
        int count = 0;
        for (skipBlanks(); pos < text.size() && isDigit(text[pos]); skipBlanks()) {
            out += char(text[pos++].unicode());
            ++count;
        }
        return count;
    };

    skipBlanks();
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-'))
        out += char(text[pos++].unicode());
    int mantissaDigits = takeDigits();
    if (pos < text.size() && text[pos] == u'.') {
        out += '.';
        ++pos;
        mantissaDigits += takeDigits();
    }
    if (mantissaDigits == 0) {
        consumed = 0;
        return {};
    }
    consumed = pos;

    if (allowExponent && pos < text.size() && (text[pos] == u'e' || text[pos] == u'E')) {
        // The exponent counts only when digits follow; "12e" reads as 12.
        const auto mantissaEnd = out.size();
        out += 'e';
        ++pos;
        skipBlanks();
        if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-'))
            out += char(text[pos++].unicode());
        if (takeDigits() > 0)
            consumed = pos;
        else
            out.resize(mantissaEnd);
    }
    return out;
}

} // namespace

double readLeadingNumber(QStringView text)
{
    qsizetype consumed = 0;
    const auto number = scanNumber(text, true, true, consumed);
    return number.empty() ? 0.0 : parseAscii(number);
}

std::optional<double> readWholeNumber(QStringView text)
{
    const auto trimmed = text.trimmed();
    qsizetype consumed = 0;
    const auto number = scanNumber(trimmed, false, false, consumed);
    if (number.empty() || consumed != trimmed.size())
        return std::nullopt;
    return parseAscii(number);
}

std::optional<std::int64_t> roundHalfToEven(double value)
{
    // 2^63 is exactly representable; everything strictly below it fits after rounding.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= limit || value < -limit)
        return std::nullopt;
    const double floor = std::floor(value);
    const double fraction = value - floor;
    auto whole = static_cast<std::int64_t>(floor);
    if (fraction > 0.5 || (fraction == 0.5 && whole % 2 != 0))
        ++whole;
    return whole;
}

QString plainNumberText(double value)
{
    return QString::number(value, 'g', 15);
}

std::optional<QString> kilowattText(const QString &highWord, const QString &lowWord)
{
    const auto high = readWholeNumber(highWord);
    const auto low = readWholeNumber(lowWord);
    if (!high || !low)
        return std::nullopt;
    const double kilowatts = *high * 65536.0 + *low;
    if (!std::isfinite(kilowatts))
        return std::nullopt;
    return plainNumberText(kilowatts);
}

} // namespace meterlog
