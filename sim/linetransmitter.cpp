#include "sim/linetransmitter.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {
// Five meters answer one request at a time; more waiting frames can only come from a master that
// floods the line, and dropping them keeps memory bounded whatever it does.
constexpr std::size_t mostWaitingFrames = 8;
} // namespace

LineTransmitter::LineTransmitter(bool paced)
    : m_paced(paced)
{ }

bool LineTransmitter::schedule(
    std::vector<std::uint8_t> frame, lineTiming::TimePoint startAt, int destination)
{
    if (frame.empty() || m_waiting.size() >= mostWaitingFrames)
        return false;
    // Kept in order of start time: a slow meter's late reply must not hold up a prompt one.
    const auto later = std::upper_bound(m_waiting.begin(), m_waiting.end(), startAt,
        [](lineTiming::TimePoint time, const PendingFrame &pending) {
            return time < pending.startAt;
        });
    m_waiting.insert(later, PendingFrame {std::move(frame), startAt, destination});
    return true;
}

lineTiming::TimePoint LineTransmitter::nextStart() const
{
    return std::max(m_waiting.front().startAt, m_lineFreeAt);
}

bool LineTransmitter::startNextFrame(lineTiming::TimePoint now)
{
    // A frame is only committed to the line once its first bit is due; until then a frame that
    // comes later with an earlier start may still overtake it.
    if (m_waiting.empty() || nextStart() > now)
        return false;
    m_current = std::move(m_waiting.front());
    m_current->startAt = nextStart();
    m_waiting.pop_front();
    m_sent = 0;
    return true;
}

lineTiming::TimePoint LineTransmitter::dueTime(std::size_t byteIndex) const
{
    if (!m_paced)
        return m_current->startAt;
    // A receiver has a byte once its stop bit is through, one character time after it began.
    const auto characters = static_cast<long long>(byteIndex) + 1;
    return m_current->startAt + characters * lineTiming::characterTime;
}

std::optional<lineTiming::TimePoint> LineTransmitter::deadline() const
{
    if (m_current)
        return dueTime(m_sent);
    if (!m_waiting.empty())
        return nextStart();
    return std::nullopt;
}

void LineTransmitter::sendDue(lineTiming::TimePoint now)
{
    while ((m_current || startNextFrame(now)) && dueTime(m_sent) <= now) {
        // Every byte already due goes out in one write, so a late wake-up catches up at once
        // instead of pushing all later bytes back: the deadlines stay absolute.
        std::size_t due = m_sent + 1;
        while (due < m_current->bytes.size() && dueTime(due) <= now)
            ++due;
        const ssize_t written = m_current->destination < 0
            ? static_cast<ssize_t>(due - m_sent)
            : ::write(m_current->destination, m_current->bytes.data() + m_sent, due - m_sent);
        if (written < 0 && errno == EINTR)
            continue;
        // A full buffer means nobody reads the line; what a line cannot deliver is simply lost.
        if (written <= 0)
            m_sent = m_current->bytes.size();
        else
            m_sent += static_cast<std::size_t>(written);
        if (m_sent >= m_current->bytes.size()) {
            m_lineFreeAt = dueTime(m_current->bytes.size() - 1);
            m_current.reset();
            m_sent = 0;
        }
    }
}

void LineTransmitter::forget(int destination)
{
    std::erase_if(m_waiting,
        [destination](const PendingFrame &pending) { return pending.destination == destination; });
    if (m_current && m_current->destination == destination)
        m_current->destination = -1;
}
