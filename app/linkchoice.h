#pragma once

// Which link the window polls over, from the port box's text: a port number or a device path is
// the serial line (RTU frames, an echoing adapter's copy skipped); tcp://HOST[:PORT] a Modbus TCP
// connection (MBAP frames); rtu+tcp://HOST:PORT a transparent gateway (RTU frames over TCP). The
// choice is made only while the current link is closed, and text that names no link leaves it.

#include <QString>

#include <chrono>

#include "modbus/framing.h"
#include "net/tcplink.h"

namespace meterlog {

class SerialComm;

class LinkChoice
{
public:
    LinkChoice(SerialComm &serial, CrcRoutine &crc);

    // Fails, changing nothing, for text that names no port or a bad address, and while the
    // current link is open.
    bool choose(const QString &portText);
    Link &link() { return *m_link; }
    const Link &link() const { return *m_link; }
    Framing &framing() { return *m_framing; }
    bool isNetwork() const { return m_link == &m_network; }
    TcpLink &network() { return m_network; }

private:
    bool chooseSerial(const QString &portText);

    SerialComm &m_serial;
    TcpLink m_network;
    RtuFraming m_serialFraming;
    RtuFraming m_gatewayFraming;
    MbapFraming m_tcpFraming;
    Link *m_link;
    Framing *m_framing;
};

} // namespace meterlog
