#include "app/cachingstyle.h"

#include <QPainter>
#include <QStyleOption>

#include <array>

namespace meterlog {

namespace {

// Styles draw a little past the rectangle at times (a pen's half pixel): a picture has room for
// that around it.
constexpr int overdraw = 2;
// More kinds than the window ever shows; past this the pictures are drawn afresh.
constexpr qsizetype mostPictures = 256;

// What a kept picture is known by: everything its look depends on, the palette by its colours
// (styles copy and change palettes as they draw, so a palette's own identity tells nothing).
QByteArray pictureKey(
    QStyle::PrimitiveElement element, const QStyleOption &option, qreal pixelRatio)
{
    std::array<qint64, 11> facts {qint64(element), option.rect.width(), option.rect.height(),
        qint64(option.state), qint64(option.direction), qint64(pixelRatio * 1000)};
    if (const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(&option)) {
        facts[6] = frame->lineWidth;
        facts[7] = frame->midLineWidth;
        facts[8] = qint64(frame->features);
        facts[9] = qint64(frame->frameShape);
    } else if (const auto *button = qstyleoption_cast<const QStyleOptionButton *>(&option)) {
        facts[10] = qint64(button->features);
    }
    std::array<QRgb, int(QPalette::NColorGroups) * int(QPalette::NColorRoles)> colours;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            colours[group * int(QPalette::NColorRoles) + role]
                = option.palette.color(QPalette::ColorGroup(group), QPalette::ColorRole(role))
                      .rgba();
        }
    }
    QByteArray key(reinterpret_cast<const char *>(facts.data()), sizeof facts);
    key.append(reinterpret_cast<const char *>(colours.data()), sizeof colours);
    return key;
}

bool isKept(QStyle::PrimitiveElement element)
{
    switch (element) {
    case QStyle::PE_PanelLineEdit:
    case QStyle::PE_FrameLineEdit:
    case QStyle::PE_FrameGroupBox:
    case QStyle::PE_IndicatorCheckBox:
    case QStyle::PE_PanelButtonCommand:
        return true;
    default:
        return false;
    }
}

// Hands `draw` the same option, of its own kind, moved to `at`. (Style options are copied by
// value: they have no virtual destructor.)
template<typename Draw>
void withMovedOption(const QStyleOption &option, QPoint at, Draw draw)
{
    if (const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(&option)) {
        QStyleOptionFrame moved(*frame);
        moved.rect.moveTo(at);
        draw(&moved);
    } else if (const auto *button = qstyleoption_cast<const QStyleOptionButton *>(&option)) {
        QStyleOptionButton moved(*button);
        moved.rect.moveTo(at);
        draw(&moved);
    } else {
        QStyleOption moved(option);
        moved.rect.moveTo(at);
        draw(&moved);
    }
}

} // namespace

CachingStyle::CachingStyle(QObject *parent)
{
    setParent(parent);
}

bool CachingStyle::suits(const QStyle &style)
{
    return style.name() == u"fusion";
}

void CachingStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
    QPainter *painter, const QWidget *widget) const
{
    if (!option || !isKept(element) || option->rect.isEmpty()) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const qreal pixelRatio = painter->device()->devicePixelRatio();
    const QByteArray key = pictureKey(element, *option, pixelRatio);
    auto kept = m_pictures.constFind(key);
    if (kept == m_pictures.cend()) {
        QPixmap picture((option->rect.size() + QSize(2 * overdraw, 2 * overdraw)) * pixelRatio);
        picture.setDevicePixelRatio(pixelRatio);
        picture.fill(Qt::transparent);
        // The painter the style would have drawn with, as it stands.
        QPainter onPicture(&picture);
        onPicture.setFont(painter->font());
        onPicture.setPen(painter->pen());
        onPicture.setBrush(painter->brush());
        onPicture.setRenderHints(painter->renderHints());
        withMovedOption(*option, QPoint(overdraw, overdraw), [&](const QStyleOption *moved) {
            QProxyStyle::drawPrimitive(element, moved, &onPicture, widget);
        });
        onPicture.end();
        if (m_pictures.size() >= mostPictures)
            m_pictures.clear();
        kept = m_pictures.insert(key, picture);
    }
    painter->drawPixmap(option->rect.topLeft() - QPoint(overdraw, overdraw), *kept);
}

} // namespace meterlog
