#include "modbus/replywait.h"

#include <QEventLoop>
#include <QTimer>

#include "serial/link.h"

namespace meterlog {

void Cancellation::cancel()
{
    m_cancelled = true;
    emit cancelled();
}

namespace {

// Runs every pending event until `limit` has passed, the link closes, `cancel` fires, or
// `judge`, asked after every arrival, says the wait is over.
void runEventsUntil(Link &link, std::chrono::milliseconds limit, const Cancellation &cancel,
    const std::function<bool()> &judge)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&link, &Link::closed, &loop, &QEventLoop::quit);
    QObject::connect(&cancel, &Cancellation::cancelled, &loop, &QEventLoop::quit);
    QObject::connect(&link, &Link::bytesArrived, &loop, [&] {
        if (judge())
            loop.quit();
    });
    deadline.start(limit);
    // The loop also returns when something else ends every loop (the application quitting); the
    // caller judges afresh in any case.
    loop.exec();
}

} // namespace

WaitResult waitForReply(Link &link, const std::function<int(QByteArrayView)> &bytesStillNeeded,
    std::chrono::milliseconds limit, const Cancellation &cancel)
{
    using std::chrono::steady_clock;
    const auto start = steady_clock::now();
    const auto outcome = [&] {
        if (cancel.isCancelled())
            return WaitEnd::Cancelled;
        if (!link.isOpen())
            return WaitEnd::PortClosed;
        const int needed = bytesStillNeeded(link.peekInput());
        if (needed <= 0)
            return WaitEnd::Complete;
        link.expectInput(needed);
        return WaitEnd::TimedOut;
    };

    if (outcome() == WaitEnd::TimedOut && limit.count() > 0)
        runEventsUntil(link, limit, cancel, [&] { return outcome() != WaitEnd::TimedOut; });
    const auto elapsed = steady_clock::now() - start;
    const auto end = outcome();
    link.watchEveryArrival();
    return {end, elapsed};
}

WaitEnd waitForSilence(Link &link, SerialTiming &line, std::chrono::microseconds gap,
    std::chrono::milliseconds bound, const Cancellation &cancel)
{
    using namespace std::chrono;
    // The silence is timed from every byte.
    link.watchEveryArrival();
    const auto giveUpAt = steady_clock::now() + bound;
    bool blockedOnce = false;
    for (;;) {
        if (cancel.isCancelled())
            return WaitEnd::Cancelled;
        if (!link.isOpen())
            return WaitEnd::PortClosed;
        const auto quiet = line.quietFor();
        if (quiet >= gap)
            return WaitEnd::Complete;
        if (steady_clock::now() >= giveUpAt)
            return WaitEnd::TimedOut;
        const auto rest = ceil<microseconds>(gap - quiet);
        if (!blockedOnce) {
            // No longer than one gap: the window does not notice.
            blockedOnce = true;
            line.waitBrieflyForInput(rest);
        } else {
            runEventsUntil(link, ceil<milliseconds>(rest), cancel, [] { return false; });
        }
    }
}

} // namespace meterlog
