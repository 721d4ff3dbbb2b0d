#include "serialcomm.h"

#include "portlocation.h"

namespace meterlog {

namespace {
// How long one reading of the output count waits for the device to take queued bytes. A
// function-3 request takes 2 ms on the wire at 38400 baud.
constexpr std::chrono::milliseconds outputStep {20};
} // namespace

SerialComm::SerialComm(QString programDir, QObject *parent)
    : QObject(parent)
    , m_programDir(std::move(programDir))
{
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        noteActivity();
        emit bytesArrived();
    });
    connect(&m_port, &QSerialPort::bytesWritten, this, &SerialComm::noteActivity);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialComm::onError);
}

bool SerialComm::setSettings(QStringView settings)
{
    const auto parsed = parseLineSettings(settings);
    if (!parsed)
        return false;
    m_settings = *parsed;
    return true;
}

bool SerialComm::setCommPort(qint16 number)
{
    if (m_port.isOpen() || number < 1)
        return false;
    m_portNumber = number;
    m_devicePath.clear();
    return true;
}

bool SerialComm::setDevicePath(const QString &path)
{
    if (m_port.isOpen() || path.isEmpty())
        return false;
    m_devicePath = path;
    return true;
}

QString SerialComm::deviceName() const
{
    return m_devicePath.isEmpty() ? deviceForPortNumber(m_portNumber, m_programDir) : m_devicePath;
}

bool SerialComm::portOpen() const
{
    return m_port.isOpen();
}

bool SerialComm::setPortOpen(bool open)
{
    if (open == m_port.isOpen())
        return false;
    if (!open) {
        closePort();
        return true;
    }
    m_port.setPortName(deviceName());
    m_port.setBaudRate(m_settings.baudRate);
    m_port.setParity(m_settings.parity);
    m_port.setDataBits(m_settings.dataBits);
    m_port.setStopBits(m_settings.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_inputLen = 0;
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    noteActivity();
    return true;
}

bool SerialComm::setInputLen(int length)
{
    if (length < 0)
        return false;
    m_inputLen = length;
    return true;
}

bool SerialComm::setOutput(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return false;
    return m_port.write(bytes) == bytes.size();
}

std::optional<int> SerialComm::outBufferCount()
{
    if (!m_port.isOpen())
        return std::nullopt;
    if (m_port.bytesToWrite() > 0)
        m_port.waitForBytesWritten(int(outputStep.count()));
    // The wait may have met an error that closed the port.
    if (!m_port.isOpen())
        return std::nullopt;
    return int(m_port.bytesToWrite());
}

std::optional<int> SerialComm::inBufferCount()
{
    if (!m_port.isOpen())
        return std::nullopt;
    return int(m_port.bytesAvailable());
}

std::optional<QByteArray> SerialComm::input()
{
    if (!m_port.isOpen())
        return std::nullopt;
    return m_inputLen > 0 ? m_port.read(m_inputLen) : m_port.readAll();
}

QByteArray SerialComm::peekInput()
{
    return m_port.isOpen() ? m_port.peek(m_port.bytesAvailable()) : QByteArray();
}

void SerialComm::discardInput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Input);
}

bool SerialComm::waitForSilence(std::chrono::microseconds gap, std::chrono::milliseconds bound)
{
    using namespace std::chrono;
    const auto giveUpAt = steady_clock::now() + bound;
    while (m_port.isOpen()) {
        const auto now = steady_clock::now();
        const auto quietFor = now - m_lastActivity;
        if (quietFor >= gap)
            return true;
        if (now >= giveUpAt)
            return false;
        // Rounded up to whole milliseconds: waiting a little longer keeps the gap.
        const auto remaining = ceil<milliseconds>(gap - quietFor);
        m_port.waitForReadyRead(int(remaining.count()));
    }
    return false;
}

void SerialComm::noteActivity()
{
    m_lastActivity = std::chrono::steady_clock::now();
}

void SerialComm::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::UnknownError:
        // Qt leaves a failed port open with its notifier on, which would spin a core.
        if (m_port.isOpen()) {
            closePort();
            emit lost();
        }
        break;
    default:
        // Open errors are reported by setPortOpen; a wait that times out is no failure.
        break;
    }
}

void SerialComm::closePort()
{
    m_port.close();
    m_port.clearError();
    emit closed();
}

} // namespace meterlog
