#pragma once

// The history on disk: one CSV file a day, DIR/meterlog-YYYY-MM-DD.csv (local date), a header
// and then a row for each reading kept, holding only values a meter confirmed at that time: a
// meter whose most recent scan got no verified reply leaves its field empty. Every row goes in
// whole, in one append, and a row cut short (a power cut, a full disk) is taken out again, so that
// every line of every file is a whole row that tells the truth.

#include <QDate>
#include <QString>

#include <optional>

#include "reading.h"

namespace meterlog {

inline const QString historyHeader = QStringLiteral("time,frequency,kw1,kw2,kw3,kw4,kw5");

// time (local, ISO 8601 with its offset), frequency (trimmed), kw1 .. kw5; no line end.
QString historyRow(const Reading &reading);

class HistoryFiles
{
public:
    // `keepDays`: files older than that many days are removed; all are kept without it.
    HistoryFiles(QString folder, std::optional<int> keepDays);

    // Appends the reading's row to the file of its local date. Returns why it could not, or an
    // empty text.
    QString append(const Reading &reading);
    QString pathFor(QDate day) const;

private:
    QString prepare(const QString &path);
    void removeOldFiles(QDate today);

    QString m_folder;
    std::optional<int> m_keepDays;
    QDate m_day; // of the file last written to, checked and trimmed
};

} // namespace meterlog
