// Faults a simulated meter can be told to show, and how each one changes what that meter sends.
#pragma once

#include "sim/metermodel.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

enum class FaultKind { Silent, Slow, BadCrc, Truncated, WrongAddress, Exception, Noise, Drop };

std::optional<FaultKind> parseFaultKind(std::string_view name);

// What a meter puts on the line after its faults have had their say.
struct FaultyReply
{
    std::vector<std::uint8_t> bytes;
    bool slow = false;
    // Behind a network gateway: the client's connection is closed instead of answered.
    bool dropsConnection = false;
};

class FaultInjector
{
public:
    explicit FaultInjector(std::uint32_t seed);

    void add(int meterAddress, FaultKind kind);
    bool hasFaults(int meterAddress) const;
    // The meter's faults as their command-line names, for the request log.
    std::string describe(int meterAddress) const;

    // Nothing when the meter keeps quiet.
    std::optional<FaultyReply> apply(
        int meterAddress, int function, std::vector<std::uint8_t> reply);

private:
    bool has(int meterAddress, FaultKind kind) const;
    std::uint8_t randomByte();

    std::array<std::uint32_t, meterModel::highestMeterAddress + 1> m_faults {};
    std::mt19937 m_random;
};
