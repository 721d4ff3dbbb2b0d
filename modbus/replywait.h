#pragma once

// The waits of a request: for the line to fall silent before it, and for its reply. They keep the
// window live (every pending event runs while they wait) but sleep in the event loop between
// events, so a silent line costs no CPU. They are bounded by a monotonic clock, never by the time
// of day.

#include <QByteArrayView>
#include <QObject>

#include <chrono>
#include <functional>

namespace meterlog {

class Link;
class SerialTiming;

// Tells a running wait that its owner is going away: the wait ends at once, and whoever called
// it must touch nothing of the owner's again.
class Cancellation : public QObject
{
    Q_OBJECT

public:
    bool isCancelled() const { return m_cancelled; }
    void cancel();

signals:
    void cancelled();

private:
    bool m_cancelled = false;
};

enum class WaitEnd {
    Complete, // the bytes in are enough to judge the reply; the line has fallen silent
    TimedOut, // the limit passed first
    PortClosed, // the link closed or failed while waiting
    Cancelled, // the owner is going away
};

struct WaitResult
{
    WaitEnd end = WaitEnd::TimedOut;
    std::chrono::steady_clock::duration elapsed {};
};

// Waits until `bytesStillNeeded` says that no more bytes are needed to judge what has been
// received, the link closes, `cancel` fires or `limit` has passed. Until then the link wakes the
// wait only once the bytes still needed are there. Other events, including a nested wait of
// another scan, can run meanwhile.
WaitResult waitForReply(Link &link, const std::function<int(QByteArrayView)> &bytesStillNeeded,
    std::chrono::milliseconds limit, const Cancellation &cancel);

// Waits until the line has been silent for `gap` since the last byte received or sent; bytes that
// arrive meanwhile start the silence anew. The rest of a gap is waited without the event loop,
// whose whole milliseconds would stretch it; a line that goes on talking after that is waited
// for with the window live, up to `bound` (TimedOut).
WaitEnd waitForSilence(Link &link, SerialTiming &line, std::chrono::microseconds gap,
    std::chrono::milliseconds bound, const Cancellation &cancel);

} // namespace meterlog
