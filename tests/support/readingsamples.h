#pragma once

// Readings as the window hands them over after a summary, for the suites of those it feeds: the
// five default meters polled, their captions, and which of them the latest scan confirmed (a
// confirmed meter answered at the reading's time).

#include <array>

#include "meters/reading.h"

namespace meterlog {

inline const std::array<bool, slotCount> allConfirmed {true, true, true, true, true};

Reading readingAt(const QDateTime &at, std::array<bool, slotCount> confirmed = allConfirmed);

} // namespace meterlog
