#include "sim/gatewaylink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A real gateway takes a few clients at once; this many is plenty for tests and benchmarks.
constexpr std::size_t mostClients = 8;

std::string addressText(const in_addr &address, std::uint16_t port)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return std::string(text) + ":" + std::to_string(port);
}

} // namespace

GatewayLink::GatewayLink(std::string scheme, in_addr address, std::uint16_t port,
    std::unique_ptr<StreamHandler> handler, RequestLog &log)
    : m_scheme(std::move(scheme))
    , m_address(address)
    , m_port(port)
    , m_handler(std::move(handler))
    , m_log(log)
{ }

GatewayLink::~GatewayLink()
{
    close();
}

bool GatewayLink::open(std::string &readyText, std::string &error)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listener < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    // After a restart the connections of before may still linger on the port; listening again
    // must not wait for them.
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr = m_address;
    local.sin_port = htons(m_port);
    socklen_t size = sizeof local;
    if (::bind(m_listener, reinterpret_cast<const sockaddr *>(&local), size) != 0
        || ::listen(m_listener, static_cast<int>(mostClients)) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&local), &size) != 0) {
        error = "listen on " + addressText(m_address, m_port) + ": " + std::strerror(errno);
        close();
        return false;
    }
    m_port = ntohs(local.sin_port);
    readyText = m_scheme + "://" + addressText(m_address, m_port);
    return true;
}

void GatewayLink::close()
{
    // The listening socket first: a client that sees its connection end finds the port closed.
    if (m_listener >= 0)
        ::close(m_listener);
    m_listener = -1;
    while (!m_clients.empty())
        closeClient(m_clients.begin()->first, "cut off", lineTiming::Clock::now());
}

void GatewayLink::addPollEntries(std::vector<pollfd> &entries) const
{
    if (m_listener < 0)
        return;
    entries.push_back(pollfd {m_listener, POLLIN, 0});
    for (const auto &[fd, number] : m_clients)
        entries.push_back(pollfd {fd, POLLIN, 0});
}

void GatewayLink::service(std::span<const pollfd> entries, lineTiming::TimePoint now)
{
    if (m_listener < 0)
        return;
    for (const pollfd &entry : entries) {
        if (entry.fd == m_listener || !m_clients.contains(entry.fd)
            || !isReadable(entries, entry.fd))
            continue;
        const int fd = entry.fd;
        const bool open = readAvailable(
            fd, [&](std::span<const std::uint8_t> bytes) { m_handler->receive(fd, bytes, now); });
        if (!open)
            closeClient(fd, "disconnected", now);
    }
    // Only after the clients that left are gone: a client that closes and connects again at once
    // must not find its old connection still counted against the limit.
    if (isReadable(entries, m_listener))
        acceptClients(now);
    m_handler->service(now);
    for (const int fd : m_handler->takeDropped())
        closeClient(fd, "closed [fault drop]", now);
}

void GatewayLink::acceptClients(lineTiming::TimePoint now)
{
    for (;;) {
        sockaddr_in peer {};
        socklen_t size = sizeof peer;
        const int fd = ::accept4(
            m_listener, reinterpret_cast<sockaddr *>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && errno == EINTR)
            continue;
        if (fd < 0)
            return;
        const std::string from = addressText(peer.sin_addr, ntohs(peer.sin_port));
        if (m_clients.size() >= mostClients) {
            ::close(fd);
            m_log.event(now,
                "refused a connection from " + from + ": " + std::to_string(mostClients)
                    + " clients are connected");
            continue;
        }
        // Paced replies go out a byte at a time; Nagle's algorithm would hold them back.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        m_clients.emplace(fd, ++m_lastClientNumber);
        m_handler->attach(fd, clientName(fd));
        m_log.event(now, clientName(fd) + " connected from " + from);
    }
}

void GatewayLink::closeClient(int fd, std::string_view reason, lineTiming::TimePoint now)
{
    m_log.event(now, clientName(fd) + " " + std::string(reason));
    m_handler->detach(fd);
    ::close(fd);
    m_clients.erase(fd);
}

std::string GatewayLink::clientName(int fd) const
{
    return "client " + std::to_string(m_clients.at(fd));
}

std::optional<lineTiming::TimePoint> GatewayLink::deadline() const
{
    return m_listener >= 0 ? m_handler->deadline() : std::nullopt;
}
