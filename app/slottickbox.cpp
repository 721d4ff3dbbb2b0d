#include "app/slottickbox.h"

#include <QHelpEvent>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolTip>

namespace meterlog {

SlotTickBox::SlotTickBox(QWidget *parent)
    : QCheckBox(parent)
{
    // The box has always filled its square with the window's colour; being opaque also spares
    // the frame behind it a repaint at every mark.
    setAutoFillBackground(true);
}

void SlotTickBox::setBackColour(const QColor &colour)
{
    if (colour == m_backColour)
        return;
    m_backColour = colour;
    makeMarkPalette();
    update();
}

void SlotTickBox::setToolTipSource(ToolTipSource source)
{
    m_toolTip = std::move(source);
}

QString SlotTickBox::currentToolTip() const
{
    return m_toolTip ? m_toolTip() : QString();
}

void SlotTickBox::makeMarkPalette()
{
    m_markPalette = palette();
    if (m_backColour.isValid())
        m_markPalette.setColor(QPalette::Window, m_backColour);
}

bool SlotTickBox::event(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        makeMarkPalette();
    if (event->type() == QEvent::ToolTip && m_toolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        QToolTip::showText(help->globalPos(), m_toolTip(), this);
        return true;
    }
    return QCheckBox::event(event);
}

void SlotTickBox::paintEvent(QPaintEvent *)
{
    // What QCheckBox draws, with the mark as the window colour the style draws the box in.
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    if (m_backColour.isValid())
        option.palette = m_markPalette;
    painter.drawControl(QStyle::CE_CheckBox, option);
}

} // namespace meterlog
