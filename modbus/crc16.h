#pragma once

// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF, no final XOR), in its
// table-driven form with two 256-entry byte tables held in one 512-byte table.

#include <QByteArrayView>

#include <array>
#include <cstdint>

namespace meterlog {

// Entries 0..255: the low-order byte of the bitwise CRC step over n; 256..511: its high byte.
using CrcTable = std::array<std::uint8_t, 512>;

CrcTable makeCrcTable();

// The running checksum as it goes on the line: `first` is sent first (the CRC's low-order
// byte), `second` after it. A fresh state starts at FF FF.
struct CrcState
{
    std::uint8_t first = 0xFF;
    std::uint8_t second = 0xFF;

    friend bool operator==(const CrcState &, const CrcState &) = default;
};

// Folds the first `count` bytes of `bytes` into `state`, starting afresh at FF FF; nothing for a
// count below 1. When `count` runs past the end of `bytes`, the bytes that exist are folded in
// and the call fails.
bool updateCrc(const CrcTable &table, QByteArrayView bytes, int count, CrcState &state);

// The checksum of all of `bytes`.
CrcState crcOf(const CrcTable &table, QByteArrayView bytes);

// The window's checksum routine and its state: proc1 leaves the checksum of the leading `count`
// bytes of `text` in crc_hi (sent first) and crc_lo (sent second), where the caller reads it
// right after the call. The table is filled once, at start-up.
struct CrcRoutine
{
    CrcTable crc_table {};
    std::uint8_t crc_hi = 0;
    std::uint8_t crc_lo = 0;

    void fillTable() { crc_table = makeCrcTable(); }
    // Fails, leaving the checksum of the bytes that exist, when `count` runs past the text.
    bool proc1(QByteArrayView text, std::int16_t count);
};

} // namespace meterlog
