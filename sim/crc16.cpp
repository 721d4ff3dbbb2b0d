#include "sim/crc16.h"

namespace {
// Parameters: polynomial 0x8005 processed bit-reversed (0xA001), initial value 0xFFFF, input and
// output reflected, no final XOR. Bitwise on purpose: a table would be a second thing to get right.
constexpr std::uint16_t reflectedPolynomial = 0xA001;
constexpr std::uint16_t initialValue = 0xFFFF;
constexpr std::size_t crcSize = 2;
} // namespace

std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes)
{
    std::uint16_t crc = initialValue;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            const bool lowBitSet = (crc & 1U) != 0;
            crc = static_cast<std::uint16_t>(crc >> 1);
            if (lowBitSet)
                crc ^= reflectedPolynomial;
        }
    }
    return crc;
}

void appendCrc(std::vector<std::uint8_t> &frame)
{
    const std::uint16_t crc = crc16Modbus(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFFU));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool hasValidCrc(std::span<const std::uint8_t> frame)
{
    if (frame.size() <= crcSize)
        return false;
    const auto body = frame.first(frame.size() - crcSize);
    const std::uint16_t crc = crc16Modbus(body);
    return frame[frame.size() - 2] == (crc & 0xFFU) && frame[frame.size() - 1] == (crc >> 8);
}
