#pragma once

// SIGINT, SIGTERM and SIGHUP end meterlog the way closing its window does: the port is closed and
// the program ends cleanly, also when it runs as a service with no window to close.

#include <QObject>

#include <functional>

namespace meterlog {

// `stop` runs in the event loop of `context`'s thread when one of the signals arrives, with its
// name ("SIGTERM").
void onStopSignals(QObject *context, std::function<void(const QString &signal)> stop);

} // namespace meterlog
