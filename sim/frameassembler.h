// Cuts the bytes a master sends into request frames by the silence between them, as a meter does.
#pragma once

#include "sim/linetiming.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct ReceivedFrame
{
    std::vector<std::uint8_t> bytes;
    // When the last byte would have finished arriving on a real 38400-baud line.
    lineTiming::TimePoint wireEnd;
    // More than a Modbus RTU frame can hold came without a pause; such a frame is never answered.
    bool overflowed = false;
};

class FrameAssembler
{
public:
    // Paced: the bytes are replayed on a simulated line and a frame ends after t3.5 of silence on
    // it. Unpaced: a frame ends as soon as it holds a whole function-3 request, or after t3.5 of
    // real silence for anything else.
    explicit FrameAssembler(bool paced);

    void receive(std::span<const std::uint8_t> bytes, lineTiming::TimePoint arrival);
    // When the frame being received will be complete if nothing more arrives.
    std::optional<lineTiming::TimePoint> deadline() const;
    std::optional<ReceivedFrame> takeCompleteFrame(lineTiming::TimePoint now);
    void clear();

private:
    bool holdsWholeReadRequest() const;

    bool m_paced;
    std::vector<std::uint8_t> m_bytes;
    bool m_overflowed = false;
    lineTiming::TimePoint m_lastArrival {};
    lineTiming::TimePoint m_lineFreeAt {};
};
