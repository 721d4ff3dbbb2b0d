#include "linesettings.h"

#include "numberreading.h"

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

} // namespace meterlog
