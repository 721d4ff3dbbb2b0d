#pragma once

// SerialComm: the serial-port operations the window relies on (settings, port number, open
// state, output and input with their counts), over QSerialPort. Every operation reports its
// failure to the caller. A port that fails under the program is closed here, so it reads as not
// open from then on instead of spinning on errors.

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <chrono>
#include <optional>

#include "arrivalwatch.h"

#include "linesettings.h"

namespace meterlog {

class SerialComm : public QObject
{
    Q_OBJECT

public:
    explicit SerialComm(QString programDir, QObject *parent = nullptr);

    // The line settings text ("38400,n,8,1"); they hold for every later open.
    bool setSettings(QStringView settings);
    // Another speed with the same parity, data and stop bits, from the next open on.
    bool setBaudRate(qint32 baudRate);
    const LineSettings &settings() const { return m_settings; }
    // Chooses the port for the next open by number; refused while open or below 1.
    bool setCommPort(qint16 number);
    // Chooses a device by its path for the next open, as it stands.
    bool setDevicePath(const QString &path);
    // The device the next open will use.
    QString deviceName() const;
    // The device the port was last opened on.
    QString openedDevice() const { return m_openedDevice; }

    bool portOpen() const;
    // Opens with the current port and settings, or closes. Fails when the port is missing or
    // busy, and when it is already in the state asked for.
    bool setPortOpen(bool open);
    // Why the last open failed, in the system's words ("No such file or directory").
    QSerialPort::SerialPortError openError() const { return m_openError; }
    QString openErrorText() const { return m_openErrorText; }
    // The last open failed because another program holds the device (a permission it has).
    bool openFoundItHeld() const { return m_openFoundItHeld; }

    // 0: the next input() takes everything received; n > 0: at most n bytes.
    bool setInputLen(int length);
    // Queues the bytes for sending, in order and unchanged.
    bool setOutput(const QByteArray &bytes);
    // Bytes not yet handed to the device. Reading it moves queued bytes on (waiting a short
    // while for the device), so the count falls to 0 without the caller running the event loop.
    std::optional<int> outBufferCount();
    std::optional<int> inBufferCount();
    std::optional<QByteArray> input();
    // The bytes input() would take, left in place.
    QByteArray peekInput();

    // Drops every byte received and not yet read, in the driver as well as here.
    void discardInput();
    // The reader needs `bytes` more before it can act: the port wakes it only once they can be
    // there (see ArrivalWatch), and bytesArrived() may come later than the first of them.
    void expectInput(int bytes);
    // Every arrival wakes the reader again (the default).
    void watchEveryArrival() { m_arrivals.watchEveryArrival(); }
    const ArrivalWatch &arrivals() const { return m_arrivals; }
    // How long the line has been silent: since the last byte received or sent.
    std::chrono::steady_clock::duration quietFor() const;
    // Returns when bytes arrive (taking them in) or after `span`, without running the event loop:
    // for waits as short as a frame gap, which the event loop's whole milliseconds would stretch.
    void waitBrieflyForInput(std::chrono::microseconds span);

signals:
    // New bytes are waiting to be read.
    void bytesArrived();
    // The port has closed: by the program or because it failed.
    void closed();
    // The port failed under the program (device gone, read or write error) and was closed;
    // `reason` is the system's word for it.
    void lost(const QString &reason);

private:
    void noteActivity();
    void onError(QSerialPort::SerialPortError error);
    void closePort();

    QSerialPort m_port;
    QString m_programDir;
    LineSettings m_settings;
    qint16 m_portNumber = 1;
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    QString m_openErrorText;
    bool m_openFoundItHeld = false;
    QString m_devicePath;
    QString m_openedDevice;
    int m_inputLen = 0;
    ArrivalWatch m_arrivals;
    std::chrono::steady_clock::time_point m_lastActivity;
};

} // namespace meterlog
