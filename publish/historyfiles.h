#pragma once

// Writes the history files (their format is historyformat.h's). Every row goes in whole, in one
// append, and a row cut short (a power cut, a full disk) is taken out again, so that every line of
// every file is a whole row that tells the truth.

#include <QDate>
#include <QString>

#include <optional>

#include "meters/historyformat.h"

namespace meterlog {

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
