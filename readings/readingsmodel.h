#pragma once

// The readings window's table: a row for each field of every ticked meter, with a tick that puts
// the field on the chart. A row whose meter the latest scan did not confirm is greyed and says
// "stale": its value is the last one sent, never shown as fresh.

#include <QAbstractTableModel>

#include <set>

#include "readings/readingrows.h"

namespace meterlog {

class ReadingsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Chart, Meter, Address, Type, Field, Value, LastReply, State, ColumnCount };

    // The rows of the latest summary.
    void show(const QList<ReadingRow> &rows);
    const QList<ReadingRow> &rows() const { return m_rows; }
    // The fields ticked for the chart. A field gets its tick when it first appears if it is a
    // meter's power or the line's frequency; after that only the user changes it.
    const std::set<FieldKey> &charted() const { return m_charted; }
    void chartByDefault(const FieldKey &key) { m_charted.insert(key); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void chartedChanged();

private:
    QVariant text(const ReadingRow &row, int column) const;

    QList<ReadingRow> m_rows;
    std::set<FieldKey> m_charted;
};

// A value as the table shows it: the number, a blank and the unit; "n/a" for none.
QString valueText(const std::optional<double> &value, const QString &unit, int decimals);

} // namespace meterlog
