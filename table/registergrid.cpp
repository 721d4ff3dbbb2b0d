#include "table/registergrid.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QToolTip>

#include "common/numberreading.h"
#include "table/plaincelldelegate.h"

namespace meterlog {

namespace {
constexpr int twipsPerPixel = 15;
constexpr int headerColumnTwips = 350;
constexpr int valueColumnTwips = 700;
// A row as tall as an 8-point line with a little room, as the grid's rows have always been.
constexpr int rowPixels = 240 / twipsPerPixel + 2;
} // namespace

RegisterGrid::RegisterGrid(QWidget *parent)
    : QTableWidget(gridRows - 1, gridColumns - 1, parent)
{
    // Row 0 and column 0 are the table's own headers, so they stay fixed while the rest scrolls.
    for (int column = 1; column < gridColumns; ++column)
        setHorizontalHeaderItem(column - 1, new QTableWidgetItem());
    for (int row = 1; row < gridRows; ++row) {
        setVerticalHeaderItem(row - 1, new QTableWidgetItem());
        for (int column = 1; column < gridColumns; ++column)
            setItem(row - 1, column - 1, new QTableWidgetItem());
    }
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(rowPixels);
    verticalHeader()->setDefaultSectionSize(rowPixels);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setHighlightSections(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the grid for the next control, as in every other control of the window, instead
    // of walking its 144 cells.
    setTabKeyNavigation(false);
    horizontalHeader()->viewport()->installEventFilter(this);
    setWordWrap(false);
    setItemDelegate(new PlainCellDelegate(this));
}

QTableWidgetItem *RegisterGrid::itemAt(int row, int column) const
{
    if (row == 0)
        return horizontalHeaderItem(column - 1);
    if (column == 0)
        return verticalHeaderItem(row - 1);
    return item(row - 1, column - 1);
}

std::optional<QString> RegisterGrid::cellText(int row, int column) const
{
    if (row < 0 || row >= gridRows || column < 0 || column >= gridColumns)
        return std::nullopt;
    if (row == 0 && column == 0)
        return m_cornerText;
    return itemAt(row, column)->text();
}

bool RegisterGrid::setCellText(int row, int column, const QString &text)
{
    if (row < 0 || row >= gridRows || column < 0 || column >= gridColumns)
        return false;
    if (row == 0 && column == 0)
        m_cornerText = text;
    else
        itemAt(row, column)->setText(text);
    return true;
}

bool RegisterGrid::setColumnWidthTwips(int column, int twips)
{
    if (column < 0 || column >= gridColumns || twips < 0)
        return false;
    const int pixels = (twips + twipsPerPixel / 2) / twipsPerPixel;
    if (column == 0)
        verticalHeader()->setFixedWidth(pixels);
    else
        setColumnWidth(column - 1, pixels);
    return true;
}

void RegisterGrid::setColumnStale(int column, bool stale)
{
    if (column < 1 || column >= gridColumns || stale == isColumnStale(column))
        return;
    const QBrush ink = stale ? QBrush(Qt::gray) : QBrush();
    for (int row = 1; row < gridRows; ++row)
        itemAt(row, column)->setForeground(ink);
}

bool RegisterGrid::isColumnStale(int column) const
{
    if (column < 1 || column >= gridColumns)
        return false;
    return itemAt(1, column)->foreground().style() != Qt::NoBrush;
}

void RegisterGrid::setColumnToolTipSource(std::function<QString(int column)> source)
{
    m_columnToolTip = std::move(source);
}

QString RegisterGrid::columnToolTip(int column) const
{
    return column >= 1 && column < gridColumns && m_columnToolTip ? m_columnToolTip(column)
                                                                  : QString();
}

bool RegisterGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == horizontalHeader()->viewport() && event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const int column = horizontalHeader()->logicalIndexAt(help->pos()) + 1;
        QToolTip::showText(help->globalPos(), columnToolTip(column), horizontalHeader());
        return true;
    }
    return QTableWidget::eventFilter(watched, event);
}

void RegisterGrid::layOut(const std::array<QString, slotCount> &deviceAddressTexts,
    const QString &startAddressText, const QString &countText)
{
    for (int column = 1; column < gridColumns; ++column)
        setColumnWidthTwips(column, valueColumnTwips);
    setColumnWidthTwips(0, headerColumnTwips);
    setCellText(0, addressColumn, QStringLiteral("ADDR: "));
    for (int slot = 0; slot < int(deviceAddressTexts.size()); ++slot)
        setCellText(0, firstSlotColumn + slot, QStringLiteral("ID: ") + deviceAddressTexts[slot]);

    // Rows past the grid could take no label; a count beyond them labels the rows there are.
    const double count = readWholeNumber(countText).value_or(0);
    for (int row = 1; row <= count && row < gridRows; ++row) {
        // The "4" is put in front of the text, not added: 4011 becomes 44011.
        if (const auto address = readWholeNumber(QStringLiteral("4") + startAddressText))
            setCellText(row, addressColumn, plainNumberText(*address + row - 1));
    }
}

QString registerText(std::uint16_t value)
{
    return QStringLiteral(" ") + QString::number(value);
}

} // namespace meterlog
