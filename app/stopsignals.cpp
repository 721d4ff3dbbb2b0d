#include "app/stopsignals.h"

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace meterlog {

#ifdef Q_OS_UNIX
namespace {

// The handler's end and the event loop's end of a socket pair: writing one byte is the only thing
// a signal handler may safely do here.
std::array<int, 2> signalPipe {-1, -1};

void noteSignal(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

QString signalName(int number)
{
    switch (number) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(number);
    }
}

} // namespace

void onStopSignals(QObject *context, std::function<void(const QString &signal)> stop)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe.data()) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [stop = std::move(stop)] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[1], &byte, 1);
        stop(signalName(static_cast<unsigned char>(byte)));
    });
    struct sigaction action
    {
    };
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(number, &action, nullptr);
}
#else
// Elsewhere a service is stopped by its window's close or the system's end of the process.
void onStopSignals(QObject *, std::function<void(const QString &)>)
{ }
#endif

} // namespace meterlog
