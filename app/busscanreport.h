#pragma once

// What a bus scan found, in words: a line for each device, a summary, and the line file that
// runs the meters found.

#include <QDateTime>
#include <QString>

#include <optional>

#include "modbus/busscan.h"

namespace meterlog {

// "address 11: sdm630 (FC02h (function 3): 0070h; ...)", "address 3: present, model unknown
// (...)" or "address 7: sdm630 or sdm72: several types match (...)".
QString foundDeviceLine(const FoundDevice &device);
// Its parts: "sdm630", "present, model unknown" or "sdm630 or sdm72: several types match"; and
// "FC02h (function 3): 0070h; ...".
QString foundModelText(const FoundDevice &device);
QString foundEvidenceText(const FoundDevice &device);

// "address 12 of 247, 3 found"
QString busScanProgressText(const BusScanProgress &progress);

// "asked 247 addresses in 26.3 s: 3 found, 251 requests", and why it stopped early if it did.
QString busScanSummary(const BusScanReport &report);

// A line file for `port` at `lineSettings` with a [[meter]] table for every device recognised as
// one type; a device of no known type, or of several, gets a commented table to complete.
QString busScanLineFile(const QString &port, const QString &lineSettings,
    const BusScanReport &report, const QDateTime &at);

// Writes a line file whole or not at all; why not, when it was not.
std::optional<QString> saveLineFile(const QString &path, const QString &text);

} // namespace meterlog
