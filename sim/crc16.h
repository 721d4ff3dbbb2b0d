// CRC-16/MODBUS of the simulator, kept apart from meterlog's so that the two cannot share a
// mistake.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes);

// Appends the CRC of everything in the frame so far, low byte first as the line carries it.
void appendCrc(std::vector<std::uint8_t> &frame);

// True when the last two bytes are the CRC of the bytes before them.
bool hasValidCrc(std::span<const std::uint8_t> frame);
