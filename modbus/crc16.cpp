#include "modbus/crc16.h"

namespace meterlog {

CrcTable makeCrcTable()
{
    CrcTable table {};
    for (unsigned n = 0; n < 256; ++n) {
        unsigned c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
        table[n] = std::uint8_t(c & 0xFF);
        table[256 + n] = std::uint8_t(c >> 8);
    }
    return table;
}

bool updateCrc(const CrcTable &table, QByteArrayView bytes, int count, CrcState &state)
{
    state = CrcState {};
    for (int i = 0; i < count; ++i) {
        if (i >= bytes.size())
            return false;
        const auto index = std::uint8_t(bytes[i]) ^ state.first;
        state.first = state.second ^ table[index];
        state.second = table[256 + index];
    }
    return true;
}

CrcState crcOf(const CrcTable &table, QByteArrayView bytes)
{
    CrcState state;
    updateCrc(table, bytes, int(bytes.size()), state);
    return state;
}

bool CrcRoutine::proc1(QByteArrayView text, std::int16_t count)
{
    CrcState state;
    const bool complete = updateCrc(crc_table, text, count, state);
    crc_hi = state.first;
    crc_lo = state.second;
    return complete;
}

} // namespace meterlog
