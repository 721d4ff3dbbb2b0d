#pragma once

// How each meter has fared since start-up: what was asked, what came back and when it last
// answered, counted from the scan cycle's report for every slot. Appearance only: nothing here
// changes what the grid, the labels or the snapshot file hold.

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

#include "meters/metercounters.h"
#include "modbus/scancycle.h"

namespace meterlog {

class MeterHealth
{
public:
    explicit MeterHealth(int meters = slotCount)
        : m_counters(std::size_t(meters))
    { }
    void record(int slot, const SlotReport &report, const QDateTime &at);
    const MeterCounters &counters(int slot) const { return m_counters.at(slot); }
    // The slot was asked before, and the latest scan got no verified reply from it: what its
    // column shows is older than that scan.
    bool isStale(int slot) const { return counters(slot).stale(); }
    // In plain words, for a tooltip.
    QString describe(int slot, const QString &addressText) const;

private:
    std::vector<MeterCounters> m_counters; // one a meter of the line
};

// The standard name of a Modbus exception code ("illegal data address" for 02).
QString exceptionName(std::uint8_t code);

} // namespace meterlog
