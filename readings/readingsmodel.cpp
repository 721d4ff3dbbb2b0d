#include "readings/readingsmodel.h"

#include <QColor>

namespace meterlog {

QString valueText(const std::optional<double> &value, const QString &unit, int decimals)
{
    if (!value)
        return QStringLiteral("n/a");
    const QString number = QString::number(*value, 'f', decimals);
    return unit.isEmpty() ? number : number + u' ' + unit;
}

void ReadingsModel::show(const QList<ReadingRow> &rows)
{
    const bool sameRows = std::equal(m_rows.begin(), m_rows.end(), rows.begin(), rows.end(),
        [](const ReadingRow &a, const ReadingRow &b) { return a.key == b.key; });
    if (!sameRows) {
        beginResetModel();
        m_rows = rows;
        endResetModel();
        return;
    }
    // Only rows that read differently are painted again.
    for (int i = 0; i < rows.size(); ++i) {
        const auto &was = m_rows[i], &now = rows[i];
        const bool same = was.address == now.address && was.value == now.value
            && was.fresh == now.fresh && was.type == now.type && was.unit == now.unit
            && was.repliedAt.toSecsSinceEpoch() == now.repliedAt.toSecsSinceEpoch()
            && was.repliedAt.isValid() == now.repliedAt.isValid();
        m_rows[i] = now;
        if (!same)
            emit dataChanged(index(i, Address), index(i, State));
    }
}

int ReadingsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ReadingsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ReadingsModel::text(const ReadingRow &row, int column) const
{
    switch (column) {
    case Meter:
        return row.meter;
    case Address:
        return row.address ? QString::number(*row.address) : QString();
    case Type:
        return row.type;
    case Field:
        return row.key.second;
    case Value:
        return row.repliedAt.isValid() ? valueText(row.value, row.unit, row.decimals) : QString();
    case LastReply:
        return row.repliedAt.isValid()
            ? row.repliedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
            : QString();
    case State:
        return row.fresh ? QStringLiteral("ok") : QStringLiteral("stale");
    }
    return {};
}

QVariant ReadingsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const auto &row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return text(row, index.column());
    case Qt::CheckStateRole:
        if (index.column() == Chart)
            return m_charted.contains(row.key) ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::ForegroundRole:
        if (!row.fresh)
            return QColor(Qt::gray);
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == Value || index.column() == Address)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    return {};
}

bool ReadingsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.column() != Chart || role != Qt::CheckStateRole)
        return false;
    const auto &key = m_rows[index.row()].key;
    if (value.value<Qt::CheckState>() == Qt::Checked)
        m_charted.insert(key);
    else
        m_charted.erase(key);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit chartedChanged();
    return true;
}

Qt::ItemFlags ReadingsModel::flags(const QModelIndex &index) const
{
    auto flags = QAbstractTableModel::flags(index);
    if (index.column() == Chart)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant ReadingsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const std::array<QString, ColumnCount> titles {QStringLiteral("Chart"),
        QStringLiteral("Meter"), QStringLiteral("Address"), QStringLiteral("Type"),
        QStringLiteral("Field"), QStringLiteral("Value"), QStringLiteral("Last reply"),
        QStringLiteral("State")};
    return section >= 0 && section < ColumnCount ? titles[section] : QVariant();
}

} // namespace meterlog
