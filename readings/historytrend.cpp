#include "readings/historytrend.h"

#include "meters/historyformat.h"
#include "meters/meters.h"

namespace meterlog {

std::optional<ColumnField> fieldOfColumn(
    const QString &column, const TypedMeters &types, const std::vector<QString> &ids)
{
    const auto held = historyColumn(column, ids);
    if (!held)
        return std::nullopt;
    if (!held->slot) {
        // Written only for lines of default meters, as they give it.
        const auto slot = types.lineFrequencySlot();
        if (!slot || types.typeOf(*slot))
            return std::nullopt;
        return ColumnField {{*slot, frequencyField}, defaultMeter::hertzPerCount};
    }
    if (*held->slot >= types.meterCount())
        return std::nullopt;
    const auto *type = types.typeOf(*held->slot);
    if (type && held->defaultMeterOnly)
        return std::nullopt;
    if (type ? !fieldNamed(*type, held->field) : held->field != powerField)
        return std::nullopt;
    return ColumnField {{*held->slot, held->field}};
}

TrendTraces historyTraces(const TypedMeters &types, const std::vector<QString> &ids,
    const QString &folder, const QDateTime &from, const QDateTime &until,
    std::chrono::seconds every, std::stop_token stop)
{
    TrendTraces traces;
    const qint64 fromMs = from.toMSecsSinceEpoch(), untilMs = until.toMSecsSinceEpoch();
    const qint64 holeMs = std::chrono::milliseconds(every).count() * 3 / 2;
    std::map<FieldKey, qint64> lastRowAt;
    const auto markHole = [&](TrendTrace &trace, qint64 beforeMs, qint64 afterMs) {
        if (afterMs - beforeMs > holeMs)
            trace.add(beforeMs + (afterMs - beforeMs) / 2, std::nullopt);
    };
    for (QDate day = from.toLocalTime().date(); day <= until.toLocalTime().date();
         day = day.addDays(1)) {
        for (const auto &table : readHistory(folder, day)) {
            QList<std::optional<ColumnField>> fields;
            for (const auto &column : table.columns)
                fields << fieldOfColumn(column, types, ids);
            for (const auto &row : table.rows) {
                if (stop.stop_requested())
                    return {};
                const qint64 atMs = row.at.toMSecsSinceEpoch();
                if (atMs < fromMs || atMs >= untilMs)
                    continue;
                for (int i = 0; i < fields.size(); ++i) {
                    if (!fields[i])
                        continue;
                    auto &trace = traces[fields[i]->key];
                    if (const auto last = lastRowAt.find(fields[i]->key); last != lastRowAt.end())
                        markHole(trace, last->second, atMs);
                    lastRowAt[fields[i]->key] = atMs;
                    const auto &value = row.values[i];
                    trace.add(atMs, value ? std::optional(*value * fields[i]->factor) : value);
                }
            }
        }
    }
    for (const auto &[key, atMs] : lastRowAt)
        markHole(traces[key], atMs, untilMs);
    return traces;
}

} // namespace meterlog
