#include "publish/historyfiles.h"

#include <QDir>
#include <QFile>

namespace meterlog {

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
    const QDir folder(m_folder);
    const QDate oldestKept = today.addDays(-*m_keepDays);
    for (const auto &entry : folder.entryList(QDir::Files)) {
        if (const auto day = historyFileDay(entry); day && *day < oldestKept)
            QFile::remove(folder.filePath(entry));
    }
}

} // namespace meterlog
