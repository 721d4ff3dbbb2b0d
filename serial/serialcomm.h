#pragma once

// SerialComm: the serial-port operations the window relies on (settings, port number, open
// state, output and input with their counts), over QSerialPort, and the serial line as a link for
// the scan. Every operation reports its failure to the caller. A port that fails under the
// program is closed here, so it reads as not open from then on instead of spinning on errors.

#include <QByteArray>
#include <QSerialPort>
#include <QString>

#include <chrono>
#include <optional>

#include "serial/arrivalwatch.h"
#include "serial/linesettings.h"
#include "serial/link.h"

namespace meterlog {

class SerialComm : public Link, public SerialTiming
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

    // 0: the next input() takes everything received; n > 0: at most n bytes.
    bool setInputLen(int length);
    // Queues the bytes for sending, in order and unchanged.
    bool setOutput(const QByteArray &bytes);
    // Bytes not yet handed to the device. Reading it moves queued bytes on (waiting a short
    // while for the device), so the count falls to 0 without the caller running the event loop.
    std::optional<int> outBufferCount();
    std::optional<int> inBufferCount();
    std::optional<QByteArray> input();

    // The serial line as a link. Its name is the device; it opens at once or not at once; the
    // port wakes a reader only once the bytes it expects can be there (see ArrivalWatch).
    QString name() const override;
    QString settingsText() const override { return meterlog::settingsText(m_settings); }
    bool isOpen() const override { return portOpen(); }
    Opening open() override;
    void close() override;
    QString openFailure() const override { return m_openFailure; }
    SerialTiming *serialTiming() override { return this; }
    std::chrono::microseconds frameGap() const override;
    std::chrono::steady_clock::duration quietFor() const override;
    void waitBrieflyForInput(std::chrono::microseconds span) override;
    // Drops every byte received and not yet read, in the driver as well as here.
    void discardInput() override;
    // Through the operations above: the input taken whole, the output drained.
    bool send(const QByteArray &frame) override;
    QByteArray peekInput() override;
    std::optional<QByteArray> takeInput() override;
    void expectInput(int bytes) override;
    void watchEveryArrival() override { m_arrivals.watchEveryArrival(); }
    const ArrivalWatch &arrivals() const { return m_arrivals; }

private:
    void noteActivity();
    void onError(QSerialPort::SerialPortError error);
    void closePort();

    QSerialPort m_port;
    QString m_programDir;
    LineSettings m_settings;
    qint16 m_portNumber = 1;
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    QString m_openFailure;
    QString m_devicePath;
    QString m_openedDevice;
    int m_inputLen = 0;
    ArrivalWatch m_arrivals;
    std::chrono::steady_clock::time_point m_lastActivity;
};

} // namespace meterlog
