#pragma once

// A pseudo-terminal made by a test: its device stands in for a serial port, and the test plays
// the devices on the line through the other end.

#include <QByteArray>
#include <QString>

#include <chrono>

class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isOpen() const { return m_master >= 0; }
    // The device the program under test opens.
    QString devicePath() const { return m_devicePath; }
    // Makes `linkPath` (for example "<program folder>/com9") lead to the device.
    bool linkAs(const QString &linkPath) const;
    // The test's end of the line.
    int lineFd() const { return m_master; }

    // The speed and stop bits the program set on the device; the kernel keeps these for a
    // pseudo-terminal (it forces 8 data bits and no parity whatever was asked).
    int baudRate() const;
    int stopBits() const;

    void send(const QByteArray &bytes) const;
    // Sends from the device end, as the program would: the line delivers it after everything
    // the program has written so far. False when it could not be written whole.
    bool sendFromDeviceEnd(const QByteArray &bytes) const;
    // Everything that arrives within `window`, the window restarting with every byte.
    QByteArray receive(std::chrono::milliseconds window) const;
    // Pulls the cable: the device end sees the line hang up.
    void hangUp();

private:
    void closeBothEnds();

    int m_master = -1;
    int m_deviceEnd = -1; // held so the line stays up while the program has its port closed
    QString m_devicePath;
};
