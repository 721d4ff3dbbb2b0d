// SIGINT, SIGTERM and SIGHUP end the simulator cleanly, so that it always removes its link.
#pragma once

#include <csignal>

namespace stopSignals {

// Blocks the signals everywhere but inside the wait, which takes them through the returned mask:
// a signal can then never slip in between checking for it and going to sleep.
sigset_t install();

bool requested();

} // namespace stopSignals
