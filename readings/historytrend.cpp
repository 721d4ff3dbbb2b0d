#include "historytrend.h"

#include <QRegularExpression>

#include "historyfiles.h"

namespace meterlog {

std::optional<ColumnField> fieldOfColumn(const QString &column, const TypedMeters &types)
{
    // Rows of only default meters: frequency, kw1 .. kw5.
    if (column == frequencyField) {
        const auto slot = types.lineFrequencySlot();
        if (!slot || types.typeOf(*slot))
            return std::nullopt;
        // Written as today's meters give it, in 1/100 Hz.
        return ColumnField {{*slot, frequencyField}, 0.01};
    }
    static const QRegularExpression kilowatts(QStringLiteral("^kw([1-5])$"));
    if (const auto match = kilowatts.match(column); match.hasMatch()) {
        const int slot = match.captured(1).toInt() - 1;
        return types.typeOf(slot) ? std::nullopt : std::optional(ColumnField {{slot, powerField}});
    }
    // Rows with typed meters: mK_FIELD, a default meter's kW as mK_power.
    static const QRegularExpression field(QStringLiteral("^m([1-5])_(.+)$"));
    const auto match = field.match(column);
    if (!match.hasMatch())
        return std::nullopt;
    const int slot = match.captured(1).toInt() - 1;
    const QString name = match.captured(2);
    const auto *type = types.typeOf(slot);
    if (type ? !fieldNamed(*type, name) : name != powerField)
        return std::nullopt;
    return ColumnField {{slot, name}};
}

TrendTraces historyTraces(const TypedMeters &types, const QString &folder, const QDateTime &from,
    const QDateTime &until, std::chrono::seconds every, std::stop_token stop)
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
                fields << fieldOfColumn(column, types);
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
