#include "serial/serialcomm.h"

#include <QFile>
#include <QFileInfo>

#include "serial/portlocation.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>
#endif

namespace meterlog {

namespace {
// How long one reading of the output count waits for the device to take queued bytes. A
// function-3 request takes 2 ms on the wire at 38400 baud.
constexpr std::chrono::milliseconds outputStep {20};
// The longest the device may take to accept a request.
constexpr std::chrono::milliseconds sendLimit {200};

enum class OpenRefusal {
    HeldElsewhere, // another program has the device open
    NoPermission, // the user may not open it
    Other,
};

// The line that says why `device` could not be opened, with a hint where the system's reason
// alone leaves the operator guessing.
QString openFailureText(const QString &device, OpenRefusal refusal, const QString &reason)
{
    switch (refusal) {
    case OpenRefusal::HeldElsewhere:
        return QStringLiteral("cannot open %1: held by another program").arg(device);
    case OpenRefusal::NoPermission:
        return QStringLiteral("cannot open %1: %2 (the user that runs meterlog must be in the "
                              "dialout group: sudo usermod -aG dialout USER, then log in again)")
            .arg(device, reason);
    case OpenRefusal::Other:
        break;
    }
    return QStringLiteral("cannot open %1: %2").arg(device, reason);
}

// Asks the driver to hand received bytes on at once rather than in batches, which a reply wait
// would otherwise sit through. Pseudo-terminals and some drivers have no such setting and refuse;
// the port then works as before.
bool isReadWritable(const QString &path)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
#else
    return QFileInfo(path).isReadable() && QFileInfo(path).isWritable();
#endif
}

void requestLowLatency([[maybe_unused]] QSerialPort &port)
{
#ifdef Q_OS_LINUX
    serial_struct settings {};
    if (::ioctl(port.handle(), TIOCGSERIAL, &settings) != 0)
        return;
    settings.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(port.handle(), TIOCSSERIAL, &settings);
#endif
}
} // namespace

SerialComm::SerialComm(QString programDir, QObject *parent)
    : Link(parent)
    , m_programDir(std::move(programDir))
    , m_arrivals(m_port)
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

bool SerialComm::setBaudRate(qint32 baudRate)
{
    if (baudRate <= 0)
        return false;
    m_settings.baudRate = baudRate;
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
    m_openedDevice = deviceName();
    // The device itself rather than a link to it: the lock file that keeps a second program off
    // the device is named after what is opened, so a link and its target must open as one.
    const QString target = QFileInfo(m_openedDevice).canonicalFilePath();
    const QString device = target.isEmpty() ? m_openedDevice : target;
    m_port.setPortName(device);
    m_port.setBaudRate(m_settings.baudRate);
    m_port.setParity(m_settings.parity);
    m_port.setDataBits(m_settings.dataBits);
    m_port.setStopBits(m_settings.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_inputLen = 0;
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openError = m_port.error();
        // Qt says "permission" both for a device the user may not open and for one whose lock
        // file another program holds or that another program opened exclusively (which Qt
        // itself does, TIOCEXCL): only the file's own permissions tell the two apart.
        const auto refusal = m_openError != QSerialPort::PermissionError ? OpenRefusal::Other
            : isReadWritable(device) ? OpenRefusal::HeldElsewhere
                                     : OpenRefusal::NoPermission;
        m_openFailure = openFailureText(m_openedDevice, refusal, m_port.errorString());
        m_port.clearError();
        return false;
    }
    m_openError = QSerialPort::NoError;
    m_openFailure.clear();
    requestLowLatency(m_port);
    m_arrivals.portOpened();
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
#ifdef Q_OS_LINUX
    // A request fits the driver's buffer: handed over at once, it needs none of the write
    // notifier's round trips through the event loop. What does not fit is queued as before.
    if (m_port.bytesToWrite() == 0) {
        const auto written = ::write(m_port.handle(), bytes.constData(), size_t(bytes.size()));
        if (written > 0) {
            noteActivity();
            m_arrivals.requestSent();
            return written == bytes.size()
                || m_port.write(bytes.mid(written)) == bytes.size() - written;
        }
    }
#endif
    m_arrivals.requestSent();
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
    m_arrivals.takeInHeldInput();
    return int(m_port.bytesAvailable());
}

std::optional<QByteArray> SerialComm::input()
{
    if (!m_port.isOpen())
        return std::nullopt;
    m_arrivals.takeInHeldInput();
    return m_inputLen > 0 ? m_port.read(m_inputLen) : m_port.readAll();
}

QString SerialComm::name() const
{
    return portOpen() ? m_openedDevice : deviceName();
}

Link::Opening SerialComm::open()
{
    return setPortOpen(true) ? Opening::Open : Opening::Failed;
}

void SerialComm::close()
{
    if (portOpen())
        setPortOpen(false);
}

std::chrono::microseconds SerialComm::frameGap() const
{
    return meterlog::frameGap(m_settings);
}

bool SerialComm::send(const QByteArray &frame)
{
    using std::chrono::steady_clock;
    setInputLen(0);
    if (!setOutput(frame))
        return false;
    const auto giveUpAt = steady_clock::now() + sendLimit;
    for (;;) {
        const auto pending = outBufferCount();
        if (!pending)
            return false;
        if (*pending == 0)
            return true;
        if (steady_clock::now() >= giveUpAt)
            return false;
    }
}

std::optional<QByteArray> SerialComm::takeInput()
{
    return input();
}

QByteArray SerialComm::peekInput()
{
    if (!m_port.isOpen())
        return {};
    m_arrivals.takeInHeldInput();
    return m_port.peek(m_port.bytesAvailable());
}

void SerialComm::expectInput(int bytes)
{
    m_arrivals.expect(bytes, characterTime(m_settings));
}

void SerialComm::discardInput()
{
    if (!m_port.isOpen())
        return;
    m_arrivals.watchEveryArrival();
    m_port.clear(QSerialPort::Input);
}

std::chrono::steady_clock::duration SerialComm::quietFor() const
{
    return std::chrono::steady_clock::now() - m_lastActivity;
}

void SerialComm::waitBrieflyForInput(std::chrono::microseconds span)
{
    using namespace std::chrono;
    if (!m_port.isOpen())
        return;
#ifdef Q_OS_LINUX
    // Qt's own wait counts whole milliseconds, which would stretch every 1.75 ms frame gap to 2 ms
    // and so cost a quarter of a millisecond per request.
    pollfd watched {m_port.handle(), POLLIN, 0};
    const auto wholeSeconds = floor<seconds>(span);
    const timespec timeout {
        time_t(wholeSeconds.count()), long(nanoseconds(span - wholeSeconds).count())};
    // Bytes (or a hang-up) are there: the port takes them in, noting the activity or its failure.
    if (::ppoll(&watched, 1, &timeout, nullptr) > 0)
        m_port.waitForReadyRead(0);
#else
    // Rounded up to whole milliseconds: waiting a little longer keeps the gap.
    m_port.waitForReadyRead(int(ceil<milliseconds>(span).count()));
#endif
}

void SerialComm::noteActivity()
{
    m_lastActivity = std::chrono::steady_clock::now();
}

void SerialComm::onError(QSerialPort::SerialPortError error)
{
    // Qt's error text after a failure is often left over from an earlier call, so the reason is
    // said from the kind of error.
    QString reason;
    switch (error) {
    case QSerialPort::ResourceError:
        reason = QStringLiteral("the device went away");
        break;
    case QSerialPort::ReadError:
        reason = QStringLiteral("reading failed (the device may have gone away)");
        break;
    case QSerialPort::WriteError:
        reason = QStringLiteral("writing failed (the device may have gone away)");
        break;
    case QSerialPort::UnknownError:
        reason = QStringLiteral("an unknown error");
        break;
    default:
        // Open errors are reported by setPortOpen; a wait that times out is no failure.
        return;
    }
    // Qt leaves a failed port open with its notifier on, which would spin a core.
    if (m_port.isOpen()) {
        closePort();
        emit lost(reason);
    }
}

void SerialComm::closePort()
{
    m_arrivals.portClosed();
    m_port.close();
    m_port.clearError();
    emit closed();
}

} // namespace meterlog
