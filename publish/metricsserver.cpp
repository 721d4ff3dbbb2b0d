#include "publish/metricsserver.h"

#include <QRegularExpression>

#include <arpa/inet.h>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>

#include "publish/metricstext.h"

namespace meterlog {

namespace {

// What one client may cost: connections at once, in all and from one address, the bytes of its
// request (line and headers) and how long it may stay silent.
constexpr unsigned int mostConnections = 32;
constexpr unsigned int mostConnectionsFromOneAddress = 8;
constexpr std::size_t mostRequestBytes = 16 * 1024;
constexpr unsigned int silentSeconds = 10;

MHD_Result reply(MHD_Connection *connection, unsigned int status, const QByteArray &body,
    const char *contentType, const char *allow = nullptr)
{
    // The body is copied: the reading it came from may go meanwhile.
    auto *response = MHD_create_response_from_buffer(
        std::size_t(body.size()), const_cast<char *>(body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    if (allow)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const auto result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result answer(void *server, MHD_Connection *connection, const char *url, const char *method,
    const char * /*version*/, const char * /*uploadData*/, std::size_t *uploadSize, void **state)
{
    // Called first when the headers are in, then for each piece of a body, which is let go by
    // unread (within the request's bounds), and last with none left: then it is answered.
    if (!*state) {
        *state = server;
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0;
        return MHD_YES;
    }
    if (std::strcmp(url, "/metrics") != 0)
        return reply(connection, MHD_HTTP_NOT_FOUND, "not found: try /metrics\n", "text/plain");
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0
        && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
        return reply(
            connection, MHD_HTTP_METHOD_NOT_ALLOWED, "GET only\n", "text/plain", "GET, HEAD");
    }
    return reply(connection, MHD_HTTP_OK, static_cast<MetricsServer *>(server)->metrics(),
        "text/plain; version=0.0.4; charset=utf-8");
}

} // namespace

std::optional<MetricsAddress> parseMetricsAddress(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(?:(\\d{1,3}(?:\\.\\d{1,3}){3}|\\[[0-9A-Fa-f:.]+\\]):)?(\\d{1,5})$"));
    const auto match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    MetricsAddress address;
    if (match.hasCaptured(1)) {
        QString host = match.captured(1);
        if (host.startsWith(u'['))
            host = host.mid(1, host.size() - 2);
        in6_addr bytes {};
        if (::inet_pton(host.contains(u':') ? AF_INET6 : AF_INET, qPrintable(host), &bytes) != 1)
            return std::nullopt;
        address.host = host;
    }
    const int port = match.captured(2).toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    address.port = quint16(port);
    return address;
}

MetricsServer::MetricsServer(
    MetricsAddress address, std::vector<std::optional<MeterType>> types, QObject *parent)
    : QObject(parent)
    , m_address(std::move(address))
    , m_types(std::move(types))
{ }

MetricsServer::~MetricsServer()
{
    // Closes every connection, whatever its client is doing, and ends the server's thread.
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
}

bool MetricsServer::start(QString &failure)
{
    // The address was checked with the command line.
    sockaddr_storage storage {};
    unsigned int flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL;
    if (m_address.host.contains(u':')) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(m_address.port);
        ::inet_pton(AF_INET6, qPrintable(m_address.host), &in6->sin6_addr);
        flags |= MHD_USE_IPv6;
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(m_address.port);
        ::inet_pton(AF_INET, qPrintable(m_address.host), &in4->sin_addr);
    }
    m_daemon = MHD_start_daemon(flags, m_address.port, nullptr, nullptr, &answer, this,
        MHD_OPTION_SOCK_ADDR, &storage, MHD_OPTION_CONNECTION_LIMIT, mostConnections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, mostConnectionsFromOneAddress,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, mostRequestBytes, MHD_OPTION_CONNECTION_TIMEOUT,
        silentSeconds, MHD_OPTION_END);
    if (!m_daemon) {
        failure
            = QStringLiteral("cannot listen on %1 port %2").arg(m_address.host).arg(m_address.port);
        return false;
    }
    m_port = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
    return true;
}

void MetricsServer::takeReading(const Reading &reading)
{
    auto latest = std::make_shared<const Reading>(reading);
    std::lock_guard lock(m_mutex);
    m_latest = std::move(latest);
}

QByteArray MetricsServer::metrics()
{
    std::shared_ptr<const Reading> latest;
    {
        std::lock_guard lock(m_mutex);
        latest = m_latest;
    }
    return latest ? metricsText(*latest, m_types) : QByteArray();
}

} // namespace meterlog
