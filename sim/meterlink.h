// What a master program reaches the meters through: the pseudo-terminal, or a simulated network
// gateway's listening socket. The simulator's loop waits on its descriptors and deadlines.
#pragma once

#include "sim/linetiming.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <vector>

class MeterLink
{
public:
    virtual ~MeterLink() = default;

    // On success readyText says what a master connects to, for the "ready" line; on failure
    // error says why.
    virtual bool open(std::string &readyText, std::string &error) = 0;
    // As a pulled cable does: everything connected is cut off.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    virtual void addPollEntries(std::vector<pollfd> &entries) const = 0;
    // Reads what the entries say is there, answers, and writes what is due by now.
    virtual void service(std::span<const pollfd> entries, lineTiming::TimePoint now) = 0;
    virtual std::optional<lineTiming::TimePoint> deadline() const = 0;
};

// Reads everything a non-blocking descriptor holds now, chunk by chunk. False once the other side
// has closed it or it failed.
bool readAvailable(int fd, const std::function<void(std::span<const std::uint8_t>)> &take);

// The entry for fd among those poll filled in, when it has something to read or has closed.
bool isReadable(std::span<const pollfd> entries, int fd);
