#pragma once

// Draws the grid's cells. A plain cell (not selected, not the current one, not under the mouse,
// no alignment of its own) is drawn as the style draws it, pixel for pixel: its text in its
// colour, inside the style's margins, centred as the style lays out a line. That costs a fraction
// of the style's work, and the grid repaints a dozen cells at every scan. Any other cell is left
// to the style.

#include <QStyledItemDelegate>

namespace meterlog {

class PlainCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
};

} // namespace meterlog
