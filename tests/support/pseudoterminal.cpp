#include "tests/support/pseudoterminal.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    termios raw {};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B38400);
    char name[256] = {};
    if (openpty(&m_master, &m_deviceEnd, name, &raw, nullptr) != 0) {
        m_master = m_deviceEnd = -1;
        return;
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_devicePath = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal()
{
    hangUp();
}

bool PseudoTerminal::linkAs(const QString &linkPath) const
{
    QFile::remove(linkPath);
    return QFile::link(m_devicePath, linkPath);
}

int PseudoTerminal::baudRate() const
{
    termios settings {};
    if (tcgetattr(m_deviceEnd, &settings) != 0)
        return -1;
    switch (cfgetospeed(&settings)) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

int PseudoTerminal::stopBits() const
{
    termios settings {};
    if (tcgetattr(m_deviceEnd, &settings) != 0)
        return -1;
    return (settings.c_cflag & CSTOPB) ? 2 : 1;
}

void PseudoTerminal::send(const QByteArray &bytes) const
{
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const auto written
            = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (written > 0) {
            done += written;
        } else if (errno == EAGAIN) {
            pollfd writable {m_master, POLLOUT, 0};
            poll(&writable, 1, 100);
        } else {
            return;
        }
    }
}

bool PseudoTerminal::sendFromDeviceEnd(const QByteArray &bytes) const
{
    return m_deviceEnd >= 0
        && ::write(m_deviceEnd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

QByteArray PseudoTerminal::receive(std::chrono::milliseconds window) const
{
    QByteArray bytes;
    pollfd readable {m_master, POLLIN, 0};
    while (m_master >= 0 && poll(&readable, 1, int(window.count())) > 0) {
        char chunk[512];
        const auto got = ::read(m_master, chunk, sizeof chunk);
        if (got <= 0)
            break;
        bytes.append(chunk, got);
    }
    return bytes;
}

void PseudoTerminal::hangUp()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_deviceEnd >= 0)
        ::close(m_deviceEnd);
    m_master = m_deviceEnd = -1;
}
