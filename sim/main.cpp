// meter-sim: five simulated Modbus RTU electrical meters on a pseudo-terminal.
#include "simoptions.h"
#include "simulator.h"
#include "stopsignals.h"

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
    Simulator simulator(std::move(*parsed.options));
    return simulator.run(waitMask);
}
