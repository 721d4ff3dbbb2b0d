// Answers one request frame on behalf of the simulated meters, as a Modbus RTU slave does.
#pragma once

#include "sim/metermodel.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace modbusException {
constexpr std::uint8_t illegalFunction = 0x01;
constexpr std::uint8_t illegalDataAddress = 0x02;
constexpr std::uint8_t illegalDataValue = 0x03;
constexpr std::uint8_t serverDeviceFailure = 0x04;
// Only a gateway says this, for a device behind it that gave no usable reply.
constexpr std::uint8_t gatewayTargetFailedToRespond = 0x0B;
} // namespace modbusException

struct RequestHandling
{
    enum class Outcome { TooShort, BadCrc, Broadcast, OtherAddress, Registers, Exception };

    Outcome outcome = Outcome::TooShort;
    int address = -1;
    int function = -1;
    // Only known for a function-3 or function-4 request of the right length.
    int start = -1;
    int count = -1;
    std::uint8_t exceptionCode = 0;
    // Empty when nothing is to be sent.
    std::vector<std::uint8_t> reply;
};

// The words a meter of a type holds for a read of `count` registers from `start` with
// `function` (3 or 4), or the exception it answers instead; nothing for a meter of the default
// type, which holds the documented register map and answers function 3 only.
using TypedWords = std::variant<std::vector<std::uint16_t>, std::uint8_t>;
using TypedSource = std::function<std::optional<TypedWords>(
    int address, int function, int start, int count, meterModel::Seconds sinceStart)>;

// Answers for the meters at addresses 1 to meterCount.
RequestHandling answerRequest(std::span<const std::uint8_t> frame, meterModel::Seconds sinceStart,
    int meterCount, const TypedSource &typed = {});

std::vector<std::uint8_t> exceptionReply(
    std::uint8_t address, std::uint8_t function, std::uint8_t code);
