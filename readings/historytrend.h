#pragma once

// The chart's past, read back from the history files, so that a curve does not start empty: each
// column that is a field of the meters polled now becomes samples of that field, an empty one a
// gap, and a stretch with no rows (the program was not running) a gap too.

#include <QDateTime>
#include <QString>

#include <chrono>
#include <map>
#include <stop_token>

#include "meters/typedmeters.h"
#include "readings/readingrows.h"
#include "readings/trendtrace.h"

namespace meterlog {

using TrendTraces = std::map<FieldKey, TrendTrace>;

// The field a history column holds for the meters as they are now, and the factor that turns the
// column's numbers into the field's unit; nothing for a column that is none of theirs.
struct ColumnField
{
    FieldKey key;
    double factor = 1;
};
std::optional<ColumnField> fieldOfColumn(
    const QString &column, const TypedMeters &types, const std::vector<QString> &ids);

// The rows of the history files in `folder` written in [from, until) as curves; rows are `every`
// apart, so more than one and a half of that between two is a gap. Nothing once `stop` is asked.
// `ids` are the line's meters' ids, which name their columns.
TrendTraces historyTraces(const TypedMeters &types, const std::vector<QString> &ids,
    const QString &folder, const QDateTime &from, const QDateTime &until,
    std::chrono::seconds every, std::stop_token stop = {});

} // namespace meterlog
