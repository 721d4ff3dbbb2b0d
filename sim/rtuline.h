// The simulated RS-485 line for RTU frames: the bytes of each stream (the pseudo-terminal, or each
// connection to a transparent gateway) are framed by their timing, answered by the meters, and the
// replies go out one after another on the one line, each to the stream that asked.
#pragma once

#include "sim/frameassembler.h"
#include "sim/linetransmitter.h"
#include "sim/meterbus.h"
#include "sim/requestlog.h"
#include "sim/streamhandler.h"

#include <map>

class RtuLine final : public StreamHandler
{
public:
    RtuLine(MeterBus &meters, RequestLog &log);

    void attach(int fd, std::string origin) override;
    void detach(int fd) override;
    void receive(int fd, std::span<const std::uint8_t> bytes, lineTiming::TimePoint now) override;
    void service(lineTiming::TimePoint now) override;
    std::optional<lineTiming::TimePoint> deadline() const override;
    std::vector<int> takeDropped() override;

private:
    struct Stream
    {
        std::string origin;
        FrameAssembler assembler;
    };

    void answerCompleteFrame(int fd, Stream &stream, lineTiming::TimePoint now);

    MeterBus &m_meters;
    RequestLog &m_log;
    std::map<int, Stream> m_streams;
    LineTransmitter m_transmitter;
    std::vector<int> m_dropped;
};
