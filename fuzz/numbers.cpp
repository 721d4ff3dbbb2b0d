// Fuzzes the readings of typed numbers. The input is UTF-16 text (code units low byte first)
// cut at '|' into the texts of up to three boxes. Every reading is compared with a plain model
// written here: the character patterns by hand, the values by the C library's strtod, the
// rounding by nearbyint under the default rounding mode (to nearest, halves to even).

#include <QList>
#include <QString>
#include <QStringView>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "common/numberreading.h"
#include "fuzz/fuzzcheck.h"
#include "modbus/readframes.h"
#include "modbus/requesttexts.h"

using namespace meterlog;

namespace {

constexpr int boxCount = 3;

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// What the whole-text reading must accept: after Unicode white space is cut from both ends, an
// optional sign, digits, an optional point and digits, with at least one digit in all. Returns
// those characters, ready for strtod.
std::optional<std::string> wholeNumberPattern(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].isSpace())
        ++begin;
    while (end > begin && text[end - 1].isSpace())
        --end;
    std::string ascii;
    int digits = 0;
    bool point = false;
    for (qsizetype i = begin; i < end; ++i) {
        const QChar c = text[i];
        if (isAsciiDigit(c)) {
            ++digits;
        } else if (c == u'.' && !point) {
            point = true;
        } else if ((c == u'+' || c == u'-') && i == begin) {
        } else {
            return std::nullopt;
        }
        ascii += char(c.unicode());
    }
    if (digits == 0)
        return std::nullopt;
    return ascii;
}

// What the leading reading must take: with every blank taken out of the text, the longest start
// that reads as sign, digits, point, digits (at least one digit), then 'e' or 'E', a sign and at
// least one digit when those follow. Empty when the text begins with no number.
std::string leadingNumberPattern(QStringView text)
{
    std::string ascii;
    for (const QChar c : text) {
        if (!isBlank(c))
            ascii += c.unicode() < 0x80 ? char(c.unicode()) : '?';
    }
    std::size_t pos = 0;
    const auto digitsAt = [&](std::size_t from) {
        auto to = from;
        while (to < ascii.size() && ascii[to] >= '0' && ascii[to] <= '9')
            ++to;
        return to - from;
    };
    if (pos < ascii.size() && (ascii[pos] == '+' || ascii[pos] == '-'))
        ++pos;
    auto digits = digitsAt(pos);
    pos += digits;
    if (pos < ascii.size() && ascii[pos] == '.') {
        ++pos;
        const auto fraction = digitsAt(pos);
        digits += fraction;
        pos += fraction;
    }
    if (digits == 0)
        return {};
    if (pos < ascii.size() && (ascii[pos] == 'e' || ascii[pos] == 'E')) {
        auto exponentAt = pos + 1;
        if (exponentAt < ascii.size() && (ascii[exponentAt] == '+' || ascii[exponentAt] == '-'))
            ++exponentAt;
        if (const auto exponentDigits = digitsAt(exponentAt); exponentDigits > 0)
            pos = exponentAt + exponentDigits;
    }
    return ascii.substr(0, pos);
}

double strtodValue(const std::string &ascii)
{
    return ascii.empty() ? 0.0 : std::strtod(ascii.c_str(), nullptr);
}

// Whether `value` rounds, halves to even, to a whole number inside T; and which one.
template<typename T>
std::optional<double> nearestWithin(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double nearest = std::nearbyint(value);
    // T's limits as doubles: exact for every width up to 32 bits, and 2^63 for 64 bits.
    if (nearest < double(std::numeric_limits<T>::min())
        || nearest >= double(std::numeric_limits<T>::max()) + 1.0)
        return std::nullopt;
    return nearest;
}

template<typename T>
void checkToWhole(double value)
{
    const auto whole = toWhole<T>(value);
    const auto expected = nearestWithin<T>(value);
    FUZZ_CHECK(whole.has_value() == expected.has_value());
    if (whole) {
        FUZZ_CHECK(*whole >= std::numeric_limits<T>::min());
        FUZZ_CHECK(*whole <= std::numeric_limits<T>::max());
        FUZZ_CHECK(double(*whole) == *expected);
    }
}

void checkAllWidths(double value)
{
    checkToWhole<std::uint8_t>(value);
    checkToWhole<std::int16_t>(value);
    checkToWhole<std::uint16_t>(value);
    checkToWhole<std::int32_t>(value);
    checkToWhole<std::int64_t>(value);
    const auto rounded = roundHalfToEven(value);
    const auto expected = nearestWithin<std::int64_t>(value);
    FUZZ_CHECK(rounded.has_value() == expected.has_value());
    if (rounded)
        FUZZ_CHECK(double(*rounded) == *expected);
}

void checkReadings(QStringView text)
{
    const double leading = readLeadingNumber(text);
    FUZZ_CHECK(!std::isnan(leading));
    const double leadingExpected = strtodValue(leadingNumberPattern(text));
    FUZZ_CHECK(leading == leadingExpected);
    FUZZ_CHECK(std::signbit(leading) == std::signbit(leadingExpected));
    checkAllWidths(leading);

    const auto whole = readWholeNumber(text);
    const auto pattern = wholeNumberPattern(text);
    FUZZ_CHECK(whole.has_value() == pattern.has_value());
    if (whole) {
        FUZZ_CHECK(!std::isnan(*whole));
        FUZZ_CHECK(*whole == strtodValue(*pattern));
        checkAllWidths(*whole);
    }
}

// A whole number prints as digits, after a '-' only when it is below zero; any other value
// prints in the characters of a decimal number and reads back within 15 significant digits.
void checkPlainText(double value, const QString &text)
{
    FUZZ_CHECK(!text.isEmpty());
    const bool whole = std::isfinite(value) && std::nearbyint(value) == value;
    if (whole && std::fabs(value) < 1e15) {
        const qsizetype digitsFrom = value < 0 ? 1 : 0;
        if (value < 0)
            FUZZ_CHECK(text.front() == u'-');
        FUZZ_CHECK(text.size() > digitsFrom);
        for (qsizetype i = digitsFrom; i < text.size(); ++i)
            FUZZ_CHECK(isAsciiDigit(text[i]));
    }
    for (const QChar c : text)
        FUZZ_CHECK(isAsciiDigit(c) || c == u'-' || c == u'+' || c == u'.' || c == u'e');
    const double back = std::strtod(text.toLatin1().constData(), nullptr);
    if (std::isinf(back)) {
        // Rounded to 15 digits, the largest doubles print as 1.79769313486232e+308, which is
        // beyond the largest double and reads back as infinite.
        FUZZ_CHECK(std::fabs(value) >= 1.797693134862315e308);
    } else {
        FUZZ_CHECK(std::fabs(back - value) <= 1e-14 * std::fabs(value));
    }
}

void checkKilowatts(const QString &highText, const QString &lowText)
{
    const auto text = kilowattText(highText, lowText);
    const auto high = wholeNumberPattern(highText);
    const auto low = wholeNumberPattern(lowText);
    const double value = high && low ? strtodValue(*high) * 65536.0 + strtodValue(*low) : 0.0;
    FUZZ_CHECK(text.has_value() == (high && low && std::isfinite(value)));
    if (text) {
        FUZZ_CHECK(*text == plainNumberText(value));
        checkPlainText(value, *text);
    }
}

void checkRequest(const QString &deviceText, const QString &startText, const QString &countText)
{
    const auto request = requestFromTexts(deviceText, startText, countText);
    const auto devicePattern = wholeNumberPattern(deviceText);
    const auto device
        = devicePattern ? nearestWithin<std::uint8_t>(strtodValue(*devicePattern)) : std::nullopt;
    const auto start = nearestWithin<std::uint16_t>(strtodValue(leadingNumberPattern(startText)));
    const auto count = nearestWithin<std::uint8_t>(strtodValue(leadingNumberPattern(countText)));
    FUZZ_CHECK(request.has_value() == (device && start && count));
    if (request) {
        FUZZ_CHECK(request->device == *device);
        FUZZ_CHECK(request->startAddress == *start);
        FUZZ_CHECK(request->count == *count);
        const auto body = requestBody(*request);
        FUZZ_CHECK(body.size() == 6 && std::uint8_t(body[5]) == request->count);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QString text;
    text.reserve(qsizetype(size / 2));
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.append(QChar(char16_t(data[i] | data[i + 1] << 8)));

    QList<QString> boxes = text.split(u'|');
    boxes.resize(boxCount);
    for (const auto &box : boxes)
        checkReadings(box);
    checkKilowatts(boxes[0], boxes[1]);
    checkRequest(boxes[0], boxes[1], boxes[2]);

    // The range checks also see values no text reads as: NaN, infinities, huge and tiny ones.
    if (size >= sizeof(double)) {
        double raw = 0;
        std::memcpy(&raw, data, sizeof raw);
        checkAllWidths(raw);
        if (std::isfinite(raw))
            checkPlainText(raw, plainNumberText(raw));
    }
    return 0;
}
