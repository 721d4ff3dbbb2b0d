#pragma once

// The window's places and sizes were drawn for a font smaller than the sans-serif that Qt finds
// on most Linux desktops, which then cuts captions off. The window's font is chosen once, when it
// is made: the largest size, from the drawn 8.25 points down, at which every caption, label, text
// and list entry fits inside its control.

#include <QFont>
#include <QList>
#include <QStringList>

class QWidget;

namespace meterlog {

// The room a control gives its text, in pixels, with its frame and margins taken off; and the
// texts it shows or can show (a combo box: each list entry). A control with no text gives none.
int textRoom(const QWidget *control);
QStringList shownTexts(const QWidget *control);

// `preferred` at the largest size, in quarter points from its own down to `smallest`, at which
// every text of `controls` fits its room; `smallest` when none does.
QFont fittingFont(const QList<const QWidget *> &controls, QFont preferred, qreal smallest);

} // namespace meterlog
