#pragma once

// The history files' format, the one home of it for the writer and for those who read the files
// back: one CSV file a day, DIR/meterlog-YYYY-MM-DD.csv (local date), and DAY-2, DAY-3 ... for rows
// under other headers; a header, then a row for each reading kept, holding only values a meter
// confirmed at that time (a meter whose most recent scan got no verified reply leaves its field
// empty).

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "meters/reading.h"

namespace meterlog {

inline const QString historyHeader = QStringLiteral("time,frequency,kw1,kw2,kw3,kw4,kw5");

// The columns: with meters of a type among them, time and a column for every field of every
// meter with an id: mID_FIELD where its id is its place on the line (mID_power, the kW value, for
// a default one in a slot), ID.FIELD where it has an id of its own; else historyHeader.
QString historyHeaderFor(const Reading &reading);
// time (local, ISO 8601 with its offset), then the columns' values; no line end.
QString historyRow(const Reading &reading);

// What a column after "time" holds, for a line whose meters have `ids`: the line's frequency in
// 1/100 Hz ("frequency", no slot), a default meter's kW ("kwK", field "power") or a meter's field
// ("mID_FIELD", "ID.FIELD"); nothing for a meter that is not on the line.
struct HistoryColumn
{
    std::optional<int> slot; // 0 for M1
    QString field;
    bool defaultMeterOnly = false; // kwK: written only while meter K was of the default type
};
std::optional<HistoryColumn> historyColumn(const QString &name, const std::vector<QString> &ids);

// The day's first file (number 1), then DAY-2, DAY-3 ...
QString historyPath(const QString &folder, QDate day, int number);
// The day of a history file's name; none for any other name.
std::optional<QDate> historyFileDay(const QString &fileName);

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

} // namespace meterlog
