#include "sim/pseudoterminallink.h"

PseudoTerminalLink::PseudoTerminalLink(std::string linkPath, MeterBus &meters, RequestLog &log)
    : m_link(std::move(linkPath))
    , m_line(meters, log)
{ }

bool PseudoTerminalLink::open(std::string &readyText, std::string &error)
{
    if (!m_terminal.open(error) || !m_link.pointAt(m_terminal.slavePath(), error)) {
        m_terminal.close();
        return false;
    }
    m_line.attach(m_terminal.masterFd(), {});
    readyText = m_link.path() + " " + m_terminal.slavePath();
    return true;
}

void PseudoTerminalLink::close()
{
    // The link goes too: a dangling one could come back to life pointing at somebody else's
    // pseudo-terminal once the kernel hands out the same number again.
    m_link.remove();
    m_line.detach(m_terminal.masterFd());
    m_terminal.close();
}

void PseudoTerminalLink::addPollEntries(std::vector<pollfd> &entries) const
{
    if (m_terminal.isOpen())
        entries.push_back(pollfd {m_terminal.masterFd(), POLLIN, 0});
}

void PseudoTerminalLink::service(std::span<const pollfd> entries, lineTiming::TimePoint now)
{
    if (!m_terminal.isOpen())
        return;
    const int fd = m_terminal.masterFd();
    // The simulator holds the slave side open itself, so the pseudo-terminal never ends here.
    if (isReadable(entries, fd))
        readAvailable(
            fd, [&](std::span<const std::uint8_t> bytes) { m_line.receive(fd, bytes, now); });
    m_line.service(now);
}

std::optional<lineTiming::TimePoint> PseudoTerminalLink::deadline() const
{
    return m_terminal.isOpen() ? m_line.deadline() : std::nullopt;
}
