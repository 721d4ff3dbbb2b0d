#include "historyfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace meterlog {

namespace {

const QString filePrefix = QStringLiteral("meterlog-");
const QString fileSuffix = QStringLiteral(".csv");

// The day's first file, then DAY-2, DAY-3 ... for rows under other headers.
QString historyPath(const QString &folder, QDate day, int number)
{
    const QString name = number == 1 ? filePrefix + day.toString(Qt::ISODate) + fileSuffix
                                     : QStringLiteral("%1%2-%3%4")
                                           .arg(filePrefix, day.toString(Qt::ISODate))
                                           .arg(number)
                                           .arg(fileSuffix);
    return QDir(folder).filePath(name);
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

bool hasTypedMeters(const Reading &reading)
{
    return std::any_of(reading.fields.begin(), reading.fields.end(),
        [](const auto &fields) { return fields.has_value(); });
}

QString historyHeaderFor(const Reading &reading)
{
    if (!hasTypedMeters(reading))
        return historyHeader;
    QStringList columns {QStringLiteral("time")};
    for (int meter = 0; meter < slotCount; ++meter) {
        const QString prefix = QStringLiteral("m%1_").arg(meter + 1);
        if (!reading.fields[meter]) {
            columns << prefix + QStringLiteral("power");
            continue;
        }
        for (const auto &field : reading.fields[meter]->values)
            columns << prefix + field.name;
    }
    return columns.join(u',');
}

QString historyRow(const Reading &reading)
{
    QStringList fields {isoLocalTime(reading.at)};
    if (hasTypedMeters(reading)) {
        for (int meter = 0; meter < slotCount; ++meter) {
            const bool confirmed = reading.meters[meter].confirmed();
            if (!reading.fields[meter]) {
                fields << (confirmed ? reading.kilowatts[meter] : QString());
                continue;
            }
            for (const auto &field : reading.fields[meter]->values) {
                fields << (confirmed && field.value ? QString::number(*field.value, 'g', 12)
                                                    : QString());
            }
        }
        return fields.join(u',');
    }
    fields << (reading.meters[frequencySlot].confirmed() ? reading.frequency.trimmed() : QString());
    for (int meter = 0; meter < slotCount; ++meter)
        fields << (reading.meters[meter].confirmed() ? reading.kilowatts[meter] : QString());
    return fields.join(u',');
}

HistoryFiles::HistoryFiles(QString folder, std::optional<int> keepDays)
    : m_folder(std::move(folder))
    , m_keepDays(keepDays)
{ }

QString HistoryFiles::pathFor(QDate day) const
{
    return historyPath(m_folder, day, 1);
}

QString HistoryFiles::append(const Reading &reading)
{
    const QDate day = reading.at.toLocalTime().date();
    const QString header = historyHeaderFor(reading);
    if (day != m_day || header != m_header) {
        const QString path = pathWithHeader(day, header);
        if (const QString failure = prepare(path); !failure.isEmpty())
            return failure;
        removeOldFiles(day);
        m_day = day;
        m_header = header;
        m_path = path;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return file.errorString();
    const qint64 sizeBefore = file.size();
    QByteArray bytes;
    if (sizeBefore == 0)
        bytes = header.toUtf8() + '\n';
    bytes += historyRow(reading).toUtf8() + '\n';
    if (file.write(bytes) == bytes.size())
        return {};
    // A row cut short by a full disk would read as other values: it goes.
    const QString failure = file.errorString();
    file.resize(sizeBefore);
    m_day = {};
    return failure;
}

QString HistoryFiles::pathWithHeader(QDate day, const QString &header) const
{
    for (int number = 1;; ++number) {
        const QString path = historyPath(m_folder, day, number);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
            return path;
        if (file.readLine().trimmed() == header.toUtf8())
            return path;
    }
}

QString HistoryFiles::prepare(const QString &path)
{
    // After a power cut the last row may end half-way; it is taken out before the next is added.
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadWrite))
        return file.errorString();
    const qint64 size = file.size();
    constexpr qint64 tailLength = 4096;
    file.seek(std::max<qint64>(0, size - tailLength));
    const QByteArray tail = file.read(tailLength);
    if (tail.isEmpty() || tail.endsWith('\n'))
        return {};
    const qint64 wholeLines = size - tail.size() + tail.lastIndexOf('\n') + 1;
    if (!file.resize(wholeLines))
        return file.errorString();
    return {};
}

void HistoryFiles::removeOldFiles(QDate today)
{
    if (!m_keepDays)
        return;
    static const QRegularExpression name(
        QStringLiteral("^meterlog-(\\d{4}-\\d{2}-\\d{2})(-\\d+)?\\.csv$"));
    const QDir folder(m_folder);
    const QDate oldestKept = today.addDays(-*m_keepDays);
    for (const auto &entry : folder.entryList({filePrefix + '*' + fileSuffix}, QDir::Files)) {
        const auto match = name.match(entry);
        const QDate day
            = match.hasMatch() ? QDate::fromString(match.captured(1), Qt::ISODate) : QDate();
        if (day.isValid() && day < oldestKept)
            QFile::remove(folder.filePath(entry));
    }
}

} // namespace meterlog
