#pragma once

// The serial line's parameters, written as the settings text "38400,n,8,1".

#include <QSerialPort>
#include <QStringView>

#include <optional>

namespace meterlog {

struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Baud, parity letter (n, e, o, m, s), data bits (5..8), stop bits (1, 1.5, 2), comma-separated.
// Anything else fails.
std::optional<LineSettings> parseLineSettings(QStringView text);

} // namespace meterlog
