#pragma once

// The serial line's parameters, written as the settings text "38400,n,8,1", and the line's
// timing that follows from them.

#include <QSerialPort>
#include <QString>
#include <QStringView>

#include <chrono>
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

// The settings text again, with the parity as its letter: "9600,e,8,1".
QString settingsText(const LineSettings &settings);

// The bits one character takes on the line: start, data, parity and stop bits.
double characterBits(const LineSettings &settings);
// The time one character takes on the line.
std::chrono::duration<double, std::micro> characterTime(const LineSettings &settings);

// The silence that separates two frames: 3.5 character times, and from 19200 baud up the fixed
// 1.75 ms that the Modbus serial line rules give there (shorter gaps are hard to time).
std::chrono::microseconds frameGap(const LineSettings &settings);

} // namespace meterlog
