#pragma once

// A device slot's tick box. Its back colour is the scan's mark for the slot, painted under the
// box itself: changing a palette instead would send the change through the style and the box's
// children at every mark, twice a scan. Its tooltip, the slot's counts, is composed when someone
// hovers over it rather than after every scan.

#include <QCheckBox>
#include <QColor>

#include <functional>

namespace meterlog {

class SlotTickBox : public QCheckBox
{
    Q_OBJECT

public:
    using ToolTipSource = std::function<QString()>;

    explicit SlotTickBox(QWidget *parent = nullptr);

    // An invalid colour shows the window's own background, as before the first scan.
    void setBackColour(const QColor &colour);
    QColor backColour() const { return m_backColour; }
    void setToolTipSource(ToolTipSource source);
    QString currentToolTip() const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void makeMarkPalette();

    QColor m_backColour;
    // The box's palette with the mark as its window colour, made once for each mark so that the
    // style knows it again.
    QPalette m_markPalette;
    ToolTipSource m_toolTip;
};

} // namespace meterlog
