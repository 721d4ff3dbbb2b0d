#pragma once

// How often the port wakes whoever waits for input. Left alone, a driver wakes its reader for
// every arrival, which on a paced line is every byte, and each wake-up of a waiting process costs
// far more than the byte. A reader that needs N more bytes before it can act has the driver
// report input only once they are there, and the line is not watched at all while they cannot
// have arrived yet: while a frame comes in, for as long as the bytes take on the wire; after a
// request, for as long as the first bytes of a reply have taken to arrive on this line. That
// delay is learnt from replies watched from the start, and learnt again from time to time.

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <chrono>
#include <optional>

class QSerialPort;
class QSocketNotifier;

namespace meterlog {

class ArrivalWatch : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;
    using CharacterTime = std::chrono::duration<double, std::micro>;

    explicit ArrivalWatch(QSerialPort &port, QObject *parent = nullptr);

    void portOpened();
    void portClosed();

    // A request has just been handed to the driver: its reply is timed from now.
    void requestSent();
    // `bytes` more must arrive before the reader can act; a character takes `characterTime`.
    void expect(int bytes, CharacterTime characterTime);
    // Input that came while the line was not watched, or fewer bytes than were expected, is
    // taken in now.
    void takeInHeldInput();
    // Every arrival wakes the reader again.
    void watchEveryArrival();

    // Whether the line can be left unwatched: Qt's own watch on the port was found. Without it
    // only the driver's threshold saves wake-ups.
    bool canHold() const { return !m_portNotifier.isNull(); }

private:
    void setThreshold(int bytes);
    void setWatching(bool on);
    void hold(Clock::duration span);
    void learnReplyDelay();

    QSerialPort &m_port;
    // The port's own watch on its descriptor, which Qt makes when the port opens. Not finding it
    // only costs the wake-ups this class saves.
    QPointer<QSocketNotifier> m_portNotifier;
    QTimer m_resume;
    int m_threshold = 1; // the driver's VMIN

    // The request being answered, and whether its reply has been watched from the start.
    Clock::time_point m_sentAt;
    bool m_firstBytesDue = false;
    bool m_heldSinceSent = false;
    // The frame coming in has been held for once: what follows is already on its way.
    bool m_heldForFrame = false;
    int m_requestsSinceProbe = 0;
    // How long after a request the first bytes needed were in, on the latest replies watched from
    // the start; the shortest is trusted.
    std::array<std::optional<Clock::duration>, 4> m_replyDelays {};
    std::size_t m_nextDelay = 0;
};

} // namespace meterlog
