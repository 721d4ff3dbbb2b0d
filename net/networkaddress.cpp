#include "net/networkaddress.h"

#include <QUrl>

namespace meterlog {

namespace {

const QString modbusTcpScheme = QStringLiteral("tcp");
const QString rtuOverTcpScheme = QStringLiteral("rtu+tcp");
constexpr std::uint16_t modbusTcpPort = 502;

} // namespace

QString NetworkAddress::url() const
{
    // An IPv6 address is bracketed, so that its colons are not read as the port's.
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1://%2:%3")
        .arg(framing == Framing::ModbusTcp ? modbusTcpScheme : rtuOverTcpScheme, shownHost)
        .arg(port);
}

bool namesNetworkAddress(const QString &text)
{
    return text.startsWith(modbusTcpScheme + QStringLiteral("://"))
        || text.startsWith(rtuOverTcpScheme + QStringLiteral("://"));
}

std::optional<NetworkAddress> parseNetworkAddress(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery()
        || url.hasFragment() || !(url.path().isEmpty() || url.path() == u"/"))
        return std::nullopt;
    NetworkAddress address;
    if (url.scheme() == modbusTcpScheme)
        address.framing = NetworkAddress::Framing::ModbusTcp;
    else if (url.scheme() == rtuOverTcpScheme)
        address.framing = NetworkAddress::Framing::RtuOverTcp;
    else
        return std::nullopt;
    // A transparent gateway has no port of its own standard: it must be given.
    const int port
        = url.port(address.framing == NetworkAddress::Framing::ModbusTcp ? modbusTcpPort : -1);
    if (port < 1 || port > 65535)
        return std::nullopt;
    address.host = url.host();
    address.port = std::uint16_t(port);
    return address;
}

} // namespace meterlog
