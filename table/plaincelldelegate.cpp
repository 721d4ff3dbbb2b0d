#include "table/plaincelldelegate.h"

#include <QApplication>
#include <QPainter>

#include <cmath>

namespace meterlog {

void PlainCellDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    constexpr auto drawnByTheStyle
        = QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver;
    if ((option.state & drawnByTheStyle) || index.data(Qt::TextAlignmentRole).isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return;

    const auto group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
        : (option.state & QStyle::State_Active)                ? QPalette::Normal
                                                               : QPalette::Inactive;
    const QVariant foreground = index.data(Qt::ForegroundRole);
    const QColor ink = foreground.canConvert<QBrush>()
        ? qvariant_cast<QBrush>(foreground).color()
        : option.palette.color(group, QPalette::Text);
    // The style's text room: the cell less a focus frame's margin and one pixel on either side,
    // the line centred in it as the style lays it out (ascent and descent, rounded up).
    const QWidget *view = option.widget;
    const QStyle *style = view ? view->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QRect room = option.rect.adjusted(margin, 0, -margin, 0);
    const QFontMetricsF metrics(option.font);
    const int lineHeight = int(std::ceil(metrics.ascent() + metrics.descent()));
    const QRect line = QStyle::alignedRect(
        option.direction, Qt::AlignVCenter, QSize(room.width(), lineHeight), room);

    painter->save();
    painter->setPen(ink);
    painter->setFont(option.font);
    painter->setClipRect(option.rect);
    painter->drawText(QPointF(room.x(), line.top() + metrics.ascent()),
        option.fontMetrics.elidedText(text, Qt::ElideRight, room.width()));
    painter->restore();
}

} // namespace meterlog
