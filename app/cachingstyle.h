#pragma once

// The window's style, drawing as the application's style does, but drawing the frames and boxes
// that a scan makes it repaint again and again (the snapshot line's box, the tick boxes, the
// frames behind labels that change) once each into a picture that it then copies. Only parts
// whose look follows wholly from their size, state, palette and options are kept, and only over a
// style known to draw them so: one that animates them or keeps state per widget (as desktop
// themes do) would be frozen in its first picture.

#include <QByteArray>
#include <QHash>
#include <QPixmap>
#include <QProxyStyle>

namespace meterlog {

class CachingStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // Draws with the application's style.
    explicit CachingStyle(QObject *parent);
    // Whether `style` draws the kept parts from their options alone (Qt's Fusion).
    static bool suits(const QStyle &style);

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
        const QWidget *widget = nullptr) const override;

private:
    mutable QHash<QByteArray, QPixmap> m_pictures;
};

} // namespace meterlog
