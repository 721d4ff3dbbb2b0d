#include "tests/support/pseudoterminal.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Whether a lock file for `device` is still there, in any of the folders Qt's serial port may
// keep it in. Qt closes a device before it removes its lock, so a number that another test has
// just given up can come back from openpty with its lock still in place: the program under test
// would then be told the port is held by another program.
bool hasSerialLockFile(const QString &device)
{
    static const QStringList lockFolders {"/var/lock", "/etc/locks", "/var/spool/locks",
        "/var/spool/uucp", "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"};
    QString name = device.startsWith("/dev/") ? device.mid(5) : device;
    name.replace('/', '_');
    return std::ranges::any_of(lockFolders,
        [&](const QString &folder) { return QFile::exists(folder + "/LCK.." + name); });
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    termios raw {};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B38400);
    // Pairs whose number still has a lock file are held until a free one comes, so that
    // openpty cannot hand the same number out again.
    std::vector<std::pair<int, int>> setAside;
    for (int tries = 0; tries < 8; ++tries) {
        char name[256] = {};
        int master = -1;
        int deviceEnd = -1;
        if (openpty(&master, &deviceEnd, name, &raw, nullptr) != 0)
            break;
        // Servers and programs a test starts need not hold its lines.
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(deviceEnd, F_SETFD, FD_CLOEXEC);
        const auto path = QString::fromLocal8Bit(name);
        if (hasSerialLockFile(path)) {
            setAside.emplace_back(master, deviceEnd);
            continue;
        }
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        m_master = master;
        m_deviceEnd = deviceEnd;
        m_devicePath = path;
        break;
    }
    for (const auto &[master, deviceEnd] : setAside) {
        ::close(master);
        ::close(deviceEnd);
    }
}

PseudoTerminal::~PseudoTerminal()
{
    closeBothEnds();
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
    // The device end stays open until the end: the kernel then keeps the number, so a link to
    // the device leads nowhere rather than to a pseudo-terminal another test makes next.
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PseudoTerminal::closeBothEnds()
{
    hangUp();
    if (m_deviceEnd >= 0)
        ::close(m_deviceEnd);
    m_deviceEnd = -1;
}
