#include "rawline.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

RawLine::~RawLine()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RawLine::open(const QString &device)
{
    m_fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    termios settings {};
    if (::tcgetattr(m_fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    return ::tcsetattr(m_fd, TCSANOW, &settings) == 0;
}

QByteArray RawLine::exchange(const QByteArray &request, std::chrono::milliseconds quiet)
{
    ::tcflush(m_fd, TCIFLUSH);
    if (::write(m_fd, request.constData(), static_cast<size_t>(request.size())) != request.size())
        return {};
    return collect(quiet, quiet);
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
    pollfd line {m_fd, POLLIN, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR)) != 0;
}
