#include "meters/historyformat.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace meterlog {

namespace {

const QString filePrefix = QStringLiteral("meterlog-");
const QString fileSuffix = QStringLiteral(".csv");
const QString frequencyColumn = QStringLiteral("frequency");
const QString powerField = QStringLiteral("power");

// "m3_power" for a meter whose id is its place on the line, as the columns have always been named;
// "incomer.power" for one with an id of its own (ids and fields may hold "_", never ".").
QString typedColumn(const QString &id, const QString &field)
{
    static const QRegularExpression place(QStringLiteral("^[0-9]+$"));
    return place.match(id).hasMatch() ? QStringLiteral("m%1_%2").arg(id, field)
                                      : QStringLiteral("%1.%2").arg(id, field);
}

// The meters the history speaks of: those with an id.
bool kept(const Reading &reading, int meter)
{
    return std::size_t(meter) < reading.labels.size() && !reading.labels[meter].id.isEmpty();
}

bool hasTypedMeters(const Reading &reading)
{
    return std::any_of(reading.fields.begin(), reading.fields.end(),
        [](const auto &fields) { return fields.has_value(); });
}

std::optional<HistoryTable> readHistoryFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray header = file.readLine().trimmed();
    HistoryTable table;
    table.columns = QString::fromUtf8(header).split(u',').mid(1);
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.endsWith('\n'))
            break; // cut short while it was written
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() != table.columns.size() + 1)
            continue;
        HistoryRow row {QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODate), {}};
        if (!row.at.isValid())
            continue;
        for (const auto &field : fields.mid(1)) {
            bool ok = false;
            const double value = field.toDouble(&ok);
            row.values << (ok ? std::optional(value) : std::nullopt);
        }
        table.rows << row;
    }
    return table;
}

} // namespace

QString historyHeaderFor(const Reading &reading)
{
    if (!hasTypedMeters(reading))
        return historyHeader;
    QStringList columns {QStringLiteral("time")};
    for (int meter = 0; meter < int(reading.meters.size()); ++meter) {
        if (!kept(reading, meter))
            continue;
        const QString &id = reading.labels[meter].id;
        if (!reading.fields[meter]) {
            columns << typedColumn(id, powerField);
            continue;
        }
        for (const auto &field : reading.fields[meter]->values)
            columns << typedColumn(id, field.name);
    }
    return columns.join(u',');
}

QString historyRow(const Reading &reading)
{
    QStringList fields {isoLocalTime(reading.at)};
    if (hasTypedMeters(reading)) {
        for (int meter = 0; meter < int(reading.meters.size()); ++meter) {
            if (!kept(reading, meter))
                continue;
            const bool confirmed = reading.meters[meter].confirmed();
            if (!reading.fields[meter]) {
                fields << (confirmed && meter < slotCount ? reading.kilowatts[meter] : QString());
                continue;
            }
            for (const auto &field : reading.fields[meter]->values) {
                fields << (confirmed && field.value ? QString::number(*field.value, 'g', 12)
                                                    : QString());
            }
        }
        return fields.join(u',');
    }
    const bool frequencyConfirmed
        = reading.frequencySlot && reading.meters[*reading.frequencySlot].confirmed();
    fields << (frequencyConfirmed ? reading.frequency.trimmed() : QString());
    for (int meter = 0; meter < slotCount; ++meter)
        fields << (reading.meters[meter].confirmed() ? reading.kilowatts[meter] : QString());
    return fields.join(u',');
}

std::optional<HistoryColumn> historyColumn(const QString &name, const std::vector<QString> &ids)
{
    if (name == frequencyColumn)
        return HistoryColumn {std::nullopt, frequencyColumn};
    static const QRegularExpression kilowatts(QStringLiteral("^kw([1-5])$"));
    if (const auto match = kilowatts.match(name); match.hasMatch())
        return HistoryColumn {match.captured(1).toInt() - 1, powerField, true};
    static const QRegularExpression byPlace(QStringLiteral("^m([0-9]+)_(.+)$"));
    static const QRegularExpression byId(QStringLiteral("^([a-z0-9_]+)\\.(.+)$"));
    auto match = byPlace.match(name);
    if (!match.hasMatch())
        match = byId.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    const auto meter = std::find(ids.begin(), ids.end(), match.captured(1));
    if (meter == ids.end())
        return std::nullopt;
    return HistoryColumn {int(meter - ids.begin()), match.captured(2)};
}

QString historyPath(const QString &folder, QDate day, int number)
{
    const QString name = number == 1 ? filePrefix + day.toString(Qt::ISODate) + fileSuffix
                                     : QStringLiteral("%1%2-%3%4")
                                           .arg(filePrefix, day.toString(Qt::ISODate))
                                           .arg(number)
                                           .arg(fileSuffix);
    return QDir(folder).filePath(name);
}

std::optional<QDate> historyFileDay(const QString &fileName)
{
    static const QRegularExpression name(
        QStringLiteral("^meterlog-(\\d{4}-\\d{2}-\\d{2})(-\\d+)?\\.csv$"));
    const auto match = name.match(fileName);
    const QDate day
        = match.hasMatch() ? QDate::fromString(match.captured(1), Qt::ISODate) : QDate();
    return day.isValid() ? std::optional(day) : std::nullopt;
}

QList<HistoryTable> readHistory(const QString &folder, QDate day)
{
    QList<HistoryTable> tables;
    for (int number = 1;; ++number) {
        auto table = readHistoryFile(historyPath(folder, day, number));
        if (!table)
            return tables;
        tables << std::move(*table);
    }
}

} // namespace meterlog
