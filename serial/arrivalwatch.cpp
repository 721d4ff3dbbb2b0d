#include "serial/arrivalwatch.h"

#include <QSerialPort>
#include <QSocketNotifier>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <termios.h>
#endif

namespace meterlog {

namespace {
// Every this many requests, a reply is watched from the start, so that the delay is learnt again
// when the meters answer sooner than before.
constexpr int probeEvery = 8;
} // namespace

ArrivalWatch::ArrivalWatch(QSerialPort &port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    m_resume.setSingleShot(true);
    m_resume.setTimerType(Qt::PreciseTimer);
    // The bytes should be there now; the threshold still keeps the reader asleep until they are.
    connect(&m_resume, &QTimer::timeout, this, [this] { setWatching(true); });
    connect(&m_port, &QSerialPort::readyRead, this, &ArrivalWatch::learnReplyDelay);
}

void ArrivalWatch::portOpened()
{
    m_portNotifier.clear();
    for (auto *notifier : m_port.findChildren<QSocketNotifier *>()) {
        if (notifier->type() == QSocketNotifier::Read && notifier->socket() == m_port.handle())
            m_portNotifier = notifier;
    }
    // Qt opens a port with every arrival reported.
    m_threshold = 1;
    // Another port, maybe other meters: their delay is learnt afresh.
    m_replyDelays.fill(std::nullopt);
    m_firstBytesDue = false;
}

void ArrivalWatch::portClosed()
{
    m_resume.stop();
    m_portNotifier.clear();
}

void ArrivalWatch::requestSent()
{
    m_sentAt = Clock::now();
    m_firstBytesDue = true;
    m_heldSinceSent = false;
    m_heldForFrame = false;
    m_requestsSinceProbe = (m_requestsSinceProbe + 1) % probeEvery;
}

void ArrivalWatch::expect(int bytes, CharacterTime characterTime)
{
    setThreshold(bytes);
    const auto onTheWire = std::chrono::duration_cast<Clock::duration>(characterTime * bytes);
    if (m_port.bytesAvailable() > 0) {
        // A frame is coming in: the rest follows at the line's speed. Only once: a driver may
        // hand a long frame over in pieces (64 bytes from a pseudo-terminal, 62 from an FTDI
        // adapter) well after the line brought them, and holding again for every piece would
        // add the frame's time again each time.
        if (!m_heldForFrame) {
            m_heldForFrame = true;
            hold(onTheWire);
        }
        return;
    }
    const auto delays = m_replyDelays;
    const auto shortest = std::min_element(delays.begin(), delays.end(),
        [](const auto &a, const auto &b) { return a && (!b || *a < *b); });
    if (!m_firstBytesDue || !*shortest || m_requestsSinceProbe == 0)
        return;
    hold(m_sentAt + **shortest - Clock::now());
}

void ArrivalWatch::hold(Clock::duration span)
{
    // Looking again a little early costs nothing: the threshold keeps the reader asleep.
    const auto whole = std::chrono::floor<std::chrono::milliseconds>(span);
    if (whole.count() <= 0 || !m_portNotifier)
        return;
    setWatching(false);
    m_heldSinceSent = true;
    m_resume.start(whole);
}

void ArrivalWatch::learnReplyDelay()
{
    // Only a reply watched from the start tells how soon the bytes the reader first needs are in:
    // the driver has just reported them.
    if (!m_firstBytesDue)
        return;
    m_firstBytesDue = false;
    if (m_heldSinceSent)
        return;
    m_replyDelays[m_nextDelay] = Clock::now() - m_sentAt;
    m_nextDelay = (m_nextDelay + 1) % m_replyDelays.size();
}

void ArrivalWatch::takeInHeldInput()
{
    // Input is held while the line is not watched, and while fewer bytes are in than the driver
    // was told to wait for: a reply cut short must still be read.
    if (!m_resume.isActive() && m_threshold <= 1)
        return;
    m_resume.stop();
    setWatching(true);
    // Fewer bytes than the threshold would not count as readable.
    setThreshold(1);
    m_port.waitForReadyRead(0);
}

void ArrivalWatch::watchEveryArrival()
{
    takeInHeldInput();
    setThreshold(1);
}

void ArrivalWatch::setThreshold(int bytes)
{
    bytes = std::clamp(bytes, 1, 255);
    if (!m_port.isOpen() || bytes == m_threshold)
        return;
#ifdef Q_OS_UNIX
    // Without a time limit (VTIME 0) the driver reports its input readable once VMIN bytes are
    // there. Reads do not wait for them: the port is non-blocking. The settings are read afresh,
    // so that nothing else the port holds is set back.
    termios settings {};
    if (::tcgetattr(m_port.handle(), &settings) != 0)
        return;
    settings.c_cc[VMIN] = cc_t(bytes);
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(m_port.handle(), TCSANOW, &settings) == 0)
        m_threshold = bytes;
#endif
}

void ArrivalWatch::setWatching(bool on)
{
    if (m_portNotifier)
        m_portNotifier->setEnabled(on);
}

} // namespace meterlog
