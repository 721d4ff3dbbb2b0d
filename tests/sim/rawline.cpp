#include "tests/sim/rawline.h"

#include <QUrl>

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

RawLine::~RawLine()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RawLine::open(const QString &endpoint)
{
    const QUrl url(endpoint);
    if (url.scheme() == QLatin1String("tcp") || url.scheme() == QLatin1String("rtu+tcp"))
        return connectTo(url.host(), url.port());
    m_fd = ::open(endpoint.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_isTerminal = true;
    termios settings {};
    if (::tcgetattr(m_fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    return ::tcsetattr(m_fd, TCSANOW, &settings) == 0;
}

bool RawLine::connectTo(const QString &host, int port)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return m_fd >= 0 && ::inet_pton(AF_INET, host.toLatin1().constData(), &address.sin_addr) == 1
        && ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

QByteArray RawLine::exchange(const QByteArray &request, std::chrono::milliseconds quiet)
{
    if (m_isTerminal)
        ::tcflush(m_fd, TCIFLUSH);
    if (!send(request))
        return {};
    return collect(quiet, quiet);
}

bool RawLine::send(const QByteArray &request)
{
    return ::write(m_fd, request.constData(), static_cast<size_t>(request.size()))
        == request.size();
}

QByteArray RawLine::receive(std::chrono::milliseconds firstByteWithin)
{
    return collect(firstByteWithin, defaultQuiet);
}

QByteArray RawLine::collect(
    std::chrono::milliseconds firstByteWithin, std::chrono::milliseconds quiet)
{
    QByteArray received;
    pollfd input {m_fd, POLLIN, 0};
    for (;;) {
        const auto wait = received.isEmpty() ? firstByteWithin : quiet;
        if (::poll(&input, 1, static_cast<int>(wait.count())) <= 0)
            break;
        char chunk[256];
        const ssize_t count = ::read(m_fd, chunk, sizeof chunk);
        if (count <= 0)
            break;
        received.append(chunk, count);
    }
    return received;
}

bool RawLine::hungUp() const
{
    // A peer that closes a connection shows as POLLRDHUP; a pseudo-terminal's as POLLHUP.
    pollfd line {m_fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0;
}
