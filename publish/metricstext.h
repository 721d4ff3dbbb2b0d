#pragma once

// The readings in Prometheus's text exposition format, named as Prometheus's own guide asks: a
// meterlog_ prefix, base units in the name (a value sent in kWh is exposed in joules, one in kW
// in watts), _total for counters, the meter's id and the phase as labels, and an info metric
// with each meter's name, address and type instead of repeating them on every series.
//
// Only what a meter's most recent scan confirmed is exposed: a stale meter keeps its health
// series (meterlog_meter_up 0, its counters) but none of its values.

#include <QByteArray>

#include <optional>
#include <vector>

#include "meters/metertype.h"
#include "meters/reading.h"

namespace meterlog {

// `types`: one a meter of the line, none for a slot of the default type.
QByteArray metricsText(const Reading &reading, const std::vector<std::optional<MeterType>> &types);

} // namespace meterlog
