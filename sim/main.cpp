// meter-sim: five simulated Modbus RTU electrical meters on a pseudo-terminal or behind a
// simulated network gateway.
#include "sim/simoptions.h"
#include "sim/simulator.h"
#include "sim/stopsignals.h"

#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    ParsedOptions parsed = parseOptions(argc, argv);
    if (parsed.helpWanted) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (!parsed.options) {
        std::fprintf(stderr, "meter-sim: %s\n%s", parsed.error.c_str(), usageText());
        return 2;
    }
    const sigset_t waitMask = stopSignals::install();
    // A client that goes away while a reply is written to it is a closed connection, not a reason
    // to end the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    Simulator simulator(std::move(*parsed.options));
    return simulator.run(waitMask);
}
