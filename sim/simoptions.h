// The simulator's command line.
#pragma once

#include "sim/faults.h"
#include "sim/linetiming.h"
#include "sim/metermodel.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <vector>

struct CablePull
{
    std::chrono::duration<double> after;
    std::chrono::duration<double> lasting;
};

struct MeterFault
{
    int meterAddress;
    FaultKind kind;
};

// How a master reaches the meters.
enum class LinkKind {
    PseudoTerminal,
    // Modbus TCP: MBAP frames to a gateway, which puts RTU frames on the meters' line.
    ModbusTcp,
    // RTU frames with their CRC on a TCP connection, passed to the line as they come.
    RtuOverTcp,
};

struct SimOptions
{
    LinkKind link = LinkKind::PseudoTerminal;
    std::string linkPath;
    // For the network links: where the gateway listens; port 0 picks a free one.
    in_addr listenAddress {htonl(INADDR_LOOPBACK)};
    std::uint16_t port = 0;
    std::chrono::milliseconds gatewayTimeout = lineTiming::defaultGatewayTimeout;
    // Exception 0B for a meter that gave no usable reply, rather than nothing.
    bool gatewayAnswersTargetFailures = true;
    bool frozenTime = false;
    bool paced = true;
    std::chrono::duration<double, std::milli> turnaround = lineTiming::defaultTurnaround;
    std::vector<MeterFault> faults;
    std::vector<CablePull> cablePulls;
    std::uint32_t seed = 1;
    // The line holds the meters at addresses 1 to meterCount.
    int meterCount = meterModel::defaultMeterCount;
    // The built-in meter type by address (--type), address 0 for every meter not named on its
    // own; a meter with none is of the default, documented kind.
    std::map<int, std::string> meterTypes;
    bool log = false;
};

struct ParsedOptions
{
    std::optional<SimOptions> options;
    bool helpWanted = false;
    std::string error;
};

ParsedOptions parseOptions(int argc, char **argv);

const char *usageText();
