#pragma once

// How one meter has fared since start-up: what was asked, what came back, when it last answered
// and whether the latest scan confirmed what it shows. Counted by the scan's bookkeeping, shown in
// tooltips and published as they stand.

#include <QDateTime>

#include <cstdint>
#include <optional>

namespace meterlog {

struct MeterCounters
{
    std::uint64_t requestsSent = 0;
    std::uint64_t verifiedReplies = 0;
    std::uint64_t timeouts = 0; // no reply, or one cut short
    std::uint64_t crcErrors = 0;
    std::uint64_t foreignReplies = 0; // a correct frame from another device
    std::uint64_t exceptionReplies = 0;
    std::uint64_t malformedReplies = 0; // a correct frame that answers another request
    std::uint64_t portFailures = 0; // the port failed while sending or waiting
    std::uint64_t notSent = 0; // the inputs described no request
    std::optional<std::uint8_t> lastExceptionCode;
    std::optional<std::uint8_t> lastDevice; // the address last asked
    QDateTime lastReplyAt; // null until the first verified reply
    // Whether the latest scan got a verified reply from it (a scan that passed it over, unticked,
    // did not); empty until it was first asked.
    std::optional<bool> lastScanVerified;

    // What it shows was confirmed by the latest scan.
    bool confirmed() const { return lastScanVerified.value_or(false); }
    // It was asked before, and the latest scan did not confirm what it shows.
    bool stale() const { return lastScanVerified == false; }

    friend bool operator==(const MeterCounters &, const MeterCounters &) = default;
};

} // namespace meterlog
