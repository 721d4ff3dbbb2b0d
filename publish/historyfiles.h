#pragma once

// The history on disk: one CSV file a day, DIR/meterlog-YYYY-MM-DD.csv (local date), a header
// and then a row for each reading kept, holding only values a meter confirmed at that time: a
// meter whose most recent scan got no verified reply leaves its field empty. Every row goes in
// whole, in one append, and a row cut short (a power cut, a full disk) is taken out again, so that
// every line of every file is a whole row that tells the truth.

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "reading.h"

namespace meterlog {

inline const QString historyHeader = QStringLiteral("time,frequency,kw1,kw2,kw3,kw4,kw5");

// The columns: with meters of a type among them, time and mK_FIELD for every field of every typed
// meter K (mK_power, the kW value, for a default one); else historyHeader.
QString historyHeaderFor(const Reading &reading);
// time (local, ISO 8601 with its offset), then the columns' values; no line end.
QString historyRow(const Reading &reading);

// A history file read back: its columns after "time", and its rows.
struct HistoryRow
{
    QDateTime at;
    QList<std::optional<double>> values; // one a column; none for an empty field
};
struct HistoryTable
{
    QStringList columns;
    QList<HistoryRow> rows;
};
// Every history file of `day` in `folder` (the day's file and its -2, -3 ... files), read back.
// A line that is not a whole row of its file is passed over.
QList<HistoryTable> readHistory(const QString &folder, QDate day);

class HistoryFiles
{
public:
    // `keepDays`: files older than that many days are removed; all are kept without it.
    HistoryFiles(QString folder, std::optional<int> keepDays);

    // Appends the reading's row to the file of its local date; a file of that date whose header
    // is not the reading's is never appended to: the rows go to a file of its own,
    // meterlog-YYYY-MM-DD-2.csv and so on. Returns why it could not, or an empty text.
    QString append(const Reading &reading);
    QString pathFor(QDate day) const;

private:
    QString prepare(const QString &path);
    QString pathWithHeader(QDate day, const QString &header) const;
    void removeOldFiles(QDate today);

    QString m_folder;
    std::optional<int> m_keepDays;
    QDate m_day; // of the file last written to, checked and trimmed
    QString m_header; // of that file
    QString m_path;
};

} // namespace meterlog
