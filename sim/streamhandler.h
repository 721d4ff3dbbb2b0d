// What the meters' side does with the byte streams that reach it: RTU frames on the simulated
// line, or Modbus TCP requests through a gateway. A stream is named by its file descriptor, which
// writes go to; it is detached before that descriptor closes.
#pragma once

#include "sim/linetiming.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class StreamHandler
{
public:
    virtual ~StreamHandler() = default;

    // origin names the stream in the request log; empty for the pseudo-terminal.
    virtual void attach(int fd, std::string origin) = 0;
    virtual void detach(int fd) = 0;
    virtual void receive(int fd, std::span<const std::uint8_t> bytes, lineTiming::TimePoint now)
        = 0;
    // Answers what is complete and writes what is due by now.
    virtual void service(lineTiming::TimePoint now) = 0;
    // When service has something to do next without new bytes.
    virtual std::optional<lineTiming::TimePoint> deadline() const = 0;
    // The streams a fault wants closed since the last call; still attached.
    virtual std::vector<int> takeDropped() = 0;
};
