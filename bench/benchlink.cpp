#include "bench/benchlink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include "serial/link.h"

namespace meterlog::bench {

bool waitUntilOpen(Link &link, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    while (!link.isOpen() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return link.isOpen();
}

} // namespace meterlog::bench
