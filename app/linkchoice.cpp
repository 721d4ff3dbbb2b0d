#include "app/linkchoice.h"

#include "common/numberreading.h"
#include "net/networkaddress.h"
#include "serial/serialcomm.h"

namespace meterlog {

LinkChoice::LinkChoice(SerialComm &serial, CrcRoutine &crc)
    : m_serial(serial)
    , m_serialFraming(crc, FramePath::SerialLine)
    , m_gatewayFraming(crc, FramePath::Gateway)
    , m_link(&serial)
    , m_framing(&m_serialFraming)
{ }

bool LinkChoice::choose(const QString &portText)
{
    if (m_link->isOpen())
        return false;
    if (!namesNetworkAddress(portText))
        return chooseSerial(portText);
    const auto address = parseNetworkAddress(portText);
    if (!address || !m_network.setAddress(*address))
        return false;
    m_link = &m_network;
    m_framing = address->framing == NetworkAddress::Framing::ModbusTcp
        ? static_cast<Framing *>(&m_tcpFraming)
        : &m_gatewayFraming;
    return true;
}

bool LinkChoice::chooseSerial(const QString &portText)
{
    // A typed device path is opened as it stands; anything else must be a port number.
    bool chosen = false;
    if (portText.startsWith(u'/')) {
        chosen = m_serial.setDevicePath(portText);
    } else {
        const auto number = readWholeNumber(portText);
        const auto portNumber = number ? toWhole<qint16>(*number) : std::nullopt;
        chosen = portNumber && m_serial.setCommPort(*portNumber);
    }
    if (chosen) {
        m_link = &m_serial;
        m_framing = &m_serialFraming;
    }
    return chosen;
}

} // namespace meterlog
