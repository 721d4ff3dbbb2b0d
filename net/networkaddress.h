#pragma once

// Where a gateway or a meter that speaks Modbus TCP is reached, written as the port box takes it:
// tcp://HOST[:PORT] for Modbus TCP (port 502 unless given), rtu+tcp://HOST:PORT for RTU frames over
// TCP, as a transparent gateway passes them. HOST is a name, an IPv4 address or a bracketed IPv6
// address.

#include <QString>

#include <cstdint>
#include <optional>

namespace meterlog {

struct NetworkAddress
{
    enum class Framing {
        ModbusTcp,
        RtuOverTcp,
    };
    Framing framing = Framing::ModbusTcp;
    QString host;
    std::uint16_t port = 502;

    // As it was written, normalised: "tcp://10.0.0.7:502".
    QString url() const;
};

// Whether the text is meant as a network address at all (its scheme), good or bad.
bool namesNetworkAddress(const QString &text);
std::optional<NetworkAddress> parseNetworkAddress(const QString &text);

} // namespace meterlog
