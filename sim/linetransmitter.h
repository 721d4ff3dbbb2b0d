// Puts reply frames on the pseudo-terminal one at a time, each byte when a 38400-baud line would
// have delivered it.
#pragma once

#include "linetiming.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

class LineTransmitter
{
public:
    // Unpaced: a frame goes out in one write as soon as its start time has come.
    explicit LineTransmitter(bool paced);

    // The first bit goes out at startAt, or once the line is free of earlier frames. False when the
    // frame was dropped because too many are waiting already.
    bool schedule(std::vector<std::uint8_t> frame, lineTiming::TimePoint startAt);
    // When the next byte is due, or the next frame may start.
    std::optional<lineTiming::TimePoint> deadline() const;
    // Writes everything that is due by now to the pseudo-terminal's master side.
    void sendDue(int fd, lineTiming::TimePoint now);
    void clear();

private:
    struct PendingFrame
    {
        std::vector<std::uint8_t> bytes;
        lineTiming::TimePoint startAt;
    };

    lineTiming::TimePoint nextStart() const;
    bool startNextFrame(lineTiming::TimePoint now);
    lineTiming::TimePoint dueTime(std::size_t byteIndex) const;

    bool m_paced;
    std::deque<PendingFrame> m_waiting;
    std::optional<PendingFrame> m_current;
    std::size_t m_sent = 0;
    lineTiming::TimePoint m_lineFreeAt {};
};
