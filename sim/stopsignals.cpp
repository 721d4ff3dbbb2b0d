#include "sim/stopsignals.h"

#include <array>

namespace {

volatile std::sig_atomic_t stopSignalSeen = 0;

constexpr std::array<int, 3> stopSignalNumbers {SIGINT, SIGTERM, SIGHUP};

void noteStopSignal(int)
{
    stopSignalSeen = 1;
}

} // namespace

namespace stopSignals {

sigset_t install()
{
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int number : stopSignalNumbers)
        sigaddset(&blocked, number);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &blocked, &previous);

    struct sigaction action
    {
    };
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : stopSignalNumbers)
        sigaction(number, &action, nullptr);

    sigset_t waitMask = previous;
    for (const int number : stopSignalNumbers)
        sigdelset(&waitMask, number);
    return waitMask;
}

bool requested()
{
    return stopSignalSeen != 0;
}

} // namespace stopSignals
