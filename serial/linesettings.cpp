#include "serial/linesettings.h"

#include "common/numberreading.h"

#include <cmath>

namespace meterlog {

std::optional<LineSettings> parseLineSettings(QStringView text)
{
    const auto fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    LineSettings settings;
    const auto baud = readWholeNumber(fields[0]);
    const auto baudRate = baud ? toWhole<qint32>(*baud) : std::nullopt;
    if (!baudRate || *baudRate <= 0 || *baudRate != *baud)
        return std::nullopt;
    settings.baudRate = *baudRate;

    const auto parity = fields[1].trimmed().toString().toLower();
    if (parity == u"n")
        settings.parity = QSerialPort::NoParity;
    else if (parity == u"e")
        settings.parity = QSerialPort::EvenParity;
    else if (parity == u"o")
        settings.parity = QSerialPort::OddParity;
    else if (parity == u"m")
        settings.parity = QSerialPort::MarkParity;
    else if (parity == u"s")
        settings.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    const auto dataBits = fields[2].trimmed();
    if (dataBits == u"5")
        settings.dataBits = QSerialPort::Data5;
    else if (dataBits == u"6")
        settings.dataBits = QSerialPort::Data6;
    else if (dataBits == u"7")
        settings.dataBits = QSerialPort::Data7;
    else if (dataBits == u"8")
        settings.dataBits = QSerialPort::Data8;
    else
        return std::nullopt;

    const auto stopBits = fields[3].trimmed();
    if (stopBits == u"1")
        settings.stopBits = QSerialPort::OneStop;
    else if (stopBits == u"1.5")
        settings.stopBits = QSerialPort::OneAndHalfStop;
    else if (stopBits == u"2")
        settings.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;

    return settings;
}

QString settingsText(const LineSettings &settings)
{
    const auto parity = [&] {
        switch (settings.parity) {
        case QSerialPort::EvenParity:
            return u'e';
        case QSerialPort::OddParity:
            return u'o';
        case QSerialPort::MarkParity:
            return u'm';
        case QSerialPort::SpaceParity:
            return u's';
        default:
            return u'n';
        }
    }();
    const QString stopBits = settings.stopBits == QSerialPort::TwoStop ? QStringLiteral("2")
        : settings.stopBits == QSerialPort::OneAndHalfStop             ? QStringLiteral("1.5")
                                                                       : QStringLiteral("1");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(settings.baudRate)
        .arg(QChar(parity))
        .arg(int(settings.dataBits))
        .arg(stopBits);
}

double characterBits(const LineSettings &settings)
{
    const double parityBits = settings.parity == QSerialPort::NoParity ? 0.0 : 1.0;
    const double stopBits = settings.stopBits == QSerialPort::TwoStop ? 2.0
        : settings.stopBits == QSerialPort::OneAndHalfStop            ? 1.5
                                                                      : 1.0;
    return 1.0 + int(settings.dataBits) + parityBits + stopBits;
}

std::chrono::duration<double, std::micro> characterTime(const LineSettings &settings)
{
    return std::chrono::duration<double, std::micro>(
        characterBits(settings) * 1e6 / settings.baudRate);
}

std::chrono::microseconds frameGap(const LineSettings &settings)
{
    constexpr qint32 fixedGapFromBaud = 19200;
    constexpr std::chrono::microseconds fixedGap {1750};
    if (settings.baudRate >= fixedGapFromBaud)
        return fixedGap;
    // Rounded up: a gap a little long is harmless, one too short merges two frames.
    return std::chrono::ceil<std::chrono::microseconds>(3.5 * characterTime(settings));
}

} // namespace meterlog
