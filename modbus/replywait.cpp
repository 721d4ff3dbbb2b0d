#include "replywait.h"

#include <QEventLoop>
#include <QTimer>

#include "serialcomm.h"

namespace meterlog {

void Cancellation::cancel()
{
    m_cancelled = true;
    emit cancelled();
}

WaitResult waitForReply(SerialComm &port,
    const std::function<int(QByteArrayView)> &bytesStillNeeded, std::chrono::milliseconds limit,
    const Cancellation &cancel)
{
    using std::chrono::steady_clock;
    const auto start = steady_clock::now();
    const auto outcome = [&] {
        if (cancel.isCancelled())
            return WaitEnd::Cancelled;
        if (!port.portOpen())
            return WaitEnd::PortClosed;
        const int needed = bytesStillNeeded(port.peekInput());
        if (needed <= 0)
            return WaitEnd::Complete;
        port.expectInput(needed);
        return WaitEnd::TimedOut;
    };

    if (outcome() == WaitEnd::TimedOut && limit.count() > 0) {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&port, &SerialComm::closed, &loop, &QEventLoop::quit);
        QObject::connect(&cancel, &Cancellation::cancelled, &loop, &QEventLoop::quit);
        QObject::connect(&port, &SerialComm::bytesArrived, &loop, [&] {
            if (outcome() != WaitEnd::TimedOut)
                loop.quit();
        });
        deadline.start(limit);
        // The loop also returns when something else ends every loop (the application quitting);
        // the outcome is judged afresh below in any case.
        loop.exec();
    }
    const auto elapsed = steady_clock::now() - start;
    const auto end = outcome();
    port.watchEveryArrival();
    return {end, elapsed};
}

} // namespace meterlog
