#pragma once

// How each meter has fared since start-up: what was asked, what came back and when it last
// answered, counted from the scan cycle's report for every slot. Appearance only: nothing here
// changes what the grid, the labels or the snapshot file hold.

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

#include "scancycle.h"

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
    std::optional<std::uint8_t> lastDevice;
    QDateTime lastReplyAt; // null until the first verified reply
    // Whether the most recent scan of the slot got a verified reply; empty before the first.
    std::optional<bool> lastScanVerified;
};

class MeterHealth
{
public:
    void record(int slot, const SlotReport &report, const QDateTime &at);
    const MeterCounters &counters(int slot) const { return m_counters.at(slot); }
    // The slot was scanned, and its most recent scan got no verified reply: what its column
    // shows is older than that scan.
    bool isStale(int slot) const;
    // In plain words, for a tooltip.
    QString describe(int slot, const QString &addressText) const;

private:
    std::array<MeterCounters, slotCount> m_counters {};
};

// The standard name of a Modbus exception code ("illegal data address" for 02).
QString exceptionName(std::uint8_t code);

} // namespace meterlog
