#include "sim/pseudoterminal.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr std::size_t devicePathSize = 256;
} // namespace

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open(std::string &error)
{
    close();
    // Raw: no echo of what the master program writes and no line editing of binary frames.
    termios settings {};
    cfmakeraw(&settings);
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    settings.c_cflag |= CLOCAL | CREAD;
    std::array<char, devicePathSize> name {};
    if (::openpty(&m_masterFd, &m_slaveFd, name.data(), &settings, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        m_masterFd = m_slaveFd = -1;
        return false;
    }
    m_slavePath = name.data();
    const int flags = ::fcntl(m_masterFd, F_GETFL);
    if (flags < 0 || ::fcntl(m_masterFd, F_SETFL, flags | O_NONBLOCK) != 0
        || ::fcntl(m_masterFd, F_SETFD, FD_CLOEXEC) != 0
        || ::fcntl(m_slaveFd, F_SETFD, FD_CLOEXEC) != 0) {
        error = std::string("fcntl: ") + std::strerror(errno);
        close();
        return false;
    }
    return true;
}

void PseudoTerminal::close()
{
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    if (m_masterFd >= 0)
        ::close(m_masterFd);
    m_masterFd = m_slaveFd = -1;
    m_slavePath.clear();
}
