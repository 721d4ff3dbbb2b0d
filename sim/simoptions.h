// The simulator's command line.
#pragma once

#include "faults.h"
#include "linetiming.h"

#include <chrono>
#include <cstdint>
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

struct SimOptions
{
    std::string linkPath;
    bool frozenTime = false;
    bool paced = true;
    std::chrono::duration<double, std::milli> turnaround = lineTiming::defaultTurnaround;
    std::vector<MeterFault> faults;
    std::vector<CablePull> cablePulls;
    std::uint32_t seed = 1;
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
