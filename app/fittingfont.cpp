#include "app/fittingfont.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>

namespace meterlog {

namespace {

// A line edit keeps this much blank inside its frame on either side of its text.
constexpr int lineEditMargin = 2;

int frameWidth(const QWidget *control)
{
    return control->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
}

// The drawn layout lets some labels run under the box beside them: their text has to end where
// such a box begins.
int uncoveredWidth(const QWidget *control)
{
    int right = control->x() + control->width();
    for (const auto *sibling :
        control->parentWidget()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (sibling != control && sibling->x() > control->x()
            && sibling->geometry().intersects(control->geometry()))
            right = std::min(right, sibling->x());
    }
    return right - control->x();
}

bool fits(const QList<const QWidget *> &controls, const QFont &font)
{
    const QFontMetrics metrics(font);
    for (const auto *control : controls) {
        const int room = textRoom(control);
        for (const auto &text : shownTexts(control)) {
            if (metrics.horizontalAdvance(text) > room)
                return false;
        }
    }
    return true;
}

} // namespace

int textRoom(const QWidget *control)
{
    if (const auto *combo = qobject_cast<const QComboBox *>(control)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.rect = QRect(QPoint(), combo->size());
        option.editable = combo->isEditable();
        option.frame = combo->hasFrame();
        return combo->style()
                   ->subControlRect(
                       QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
                   .width()
            - 2 * lineEditMargin;
    }
    if (qobject_cast<const QLineEdit *>(control))
        return control->width() - 2 * frameWidth(control) - 2 * lineEditMargin;
    if (const auto *button = qobject_cast<const QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.rect = QRect(QPoint(), button->size());
        return button->style()
            ->subElementRect(QStyle::SE_PushButtonContents, &option, button)
            .width();
    }
    if (qobject_cast<const QGroupBox *>(control))
        return control->width() - 2 * frameWidth(control);
    return uncoveredWidth(control);
}

QStringList shownTexts(const QWidget *control)
{
    if (const auto *combo = qobject_cast<const QComboBox *>(control)) {
        QStringList entries;
        for (int entry = 0; entry < combo->count(); ++entry)
            entries << combo->itemText(entry);
        return entries;
    }
    // The line edit inside a combo box shows an entry, counted with the combo box.
    if (const auto *edit = qobject_cast<const QLineEdit *>(control))
        return qobject_cast<const QComboBox *>(edit->parentWidget()) ? QStringList()
                                                                     : QStringList {edit->text()};
    if (const auto *button = qobject_cast<const QPushButton *>(control))
        return {button->text()};
    if (const auto *label = qobject_cast<const QLabel *>(control))
        return {label->text()};
    if (const auto *frame = qobject_cast<const QGroupBox *>(control))
        return {frame->title()};
    return {};
}

QFont fittingFont(const QList<const QWidget *> &controls, QFont preferred, qreal smallest)
{
    constexpr qreal step = 0.25;
    for (qreal size = preferred.pointSizeF(); size > smallest; size -= step) {
        preferred.setPointSizeF(size);
        if (fits(controls, preferred))
            return preferred;
    }
    preferred.setPointSizeF(smallest);
    return preferred;
}

} // namespace meterlog
