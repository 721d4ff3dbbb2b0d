// Puts reply frames on the line one at a time, each byte when a 38400-baud line would have
// delivered it, to the pseudo-terminal or the gateway connection that asked.
#pragma once

#include "sim/linetiming.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

class LineTransmitter
{
public:
    // Unpaced: a frame goes out in one write as soon as its start time has come.
    explicit LineTransmitter(bool paced);

    // The first bit goes out at startAt, or once the line is free of earlier frames; the bytes are
    // written to destination. False when the frame was dropped because too many are waiting
    // already.
    bool schedule(std::vector<std::uint8_t> frame, lineTiming::TimePoint startAt, int destination);
    // When the next byte is due, or the next frame may start.
    std::optional<lineTiming::TimePoint> deadline() const;
    // Writes everything that is due by now to the frames' destinations.
    void sendDue(lineTiming::TimePoint now);
    // The destination is about to close: its waiting frames go, and the rest of a frame already
    // on the line still takes its time but is written nowhere.
    void forget(int destination);

private:
    struct PendingFrame
    {
        std::vector<std::uint8_t> bytes;
        lineTiming::TimePoint startAt;
        int destination;
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
