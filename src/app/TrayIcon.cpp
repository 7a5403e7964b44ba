#include "app/TrayIcon.h"

#include "ui/Palette.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

namespace TrayIcon {

State state(bool hasRules, bool needsAttention, bool isPaused)
{
    if (needsAttention)
        return State::attention;
    if (hasRules && isPaused)
        return State::paused;
    return hasRules ? State::active : State::idle;
}

QString accessibleLabel(State state)
{
    switch (state) {
    case State::attention:
        return QStringLiteral("Quillharbour, browser access needed");
    case State::paused:
        return QStringLiteral("Quillharbour, blocking paused");
    default:
        return QStringLiteral("Quillharbour");
    }
}

namespace {

constexpr qreal idleFillOpacity = 0.45;

// On an 18-point canvas with y growing downwards.
QPainterPath padlock(State state)
{
    QPainterPath arc;
    const QRectF ring(9 - 3.7, 6 - 3.7, 7.4, 7.4);
    arc.arcMoveTo(ring, 180);
    arc.arcTo(ring, 180, -180);
    QPainterPathStroker stroker;
    stroker.setWidth(1.8);
    stroker.setCapStyle(Qt::FlatCap);
    QPainterPath shape = stroker.createStroke(arc);
    QPainterPath body;
    body.addRoundedRect(QRectF(2.5, 6, 13, 10.5), 3.2, 3.2);
    shape = shape.united(body);

    QPainterPath glyph;
    switch (state) {
    case State::idle:
    case State::active:
        for (const qreal y : {7.65, 10.5, 13.35})
            glyph.addRoundedRect(QRectF(4.8, y, 8.4, 1.5), 0.75, 0.75);
        break;
    case State::paused:
        for (const qreal x : {6.6, 9.9})
            glyph.addRoundedRect(QRectF(x, 8.7, 1.5, 5.1), 0.75, 0.75);
        break;
    case State::attention:
        glyph.addRoundedRect(QRectF(8.2, 7.5, 1.6, 5.2), 0.8, 0.8);
        glyph.addEllipse(QRectF(8.1, 13.5, 1.8, 1.8));
        break;
    }
    return shape.subtracted(glyph);
}

} // namespace

QImage render(State state, int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal scale = pixels / 18.0;
    painter.scale(scale, scale);
    const QPainterPath shape = padlock(state);
    // Idle is the faint padlock: its fill fades, not its outline of one device pixel (whatever the
    // size), which a light panel needs whole: faded, most of it fell under 2.5:1 there.
    painter.setOpacity(state == State::idle ? idleFillOpacity : 1.0);
    painter.fillPath(shape, state == State::attention ? FocusColor::trayPadlockAttention() : FocusColor::trayPadlock());
    painter.setOpacity(1.0);
    painter.strokePath(shape, QPen(FocusColor::ink(), 1.0 / scale));
    return image;
}

const QIcon& icon(State state)
{
    static QHash<int, QIcon> cache;
    auto found = cache.find(int(state));
    if (found == cache.end()) {
        QIcon made;
        for (const int size : {16, 18, 22, 24, 32, 36, 44, 48})
            made.addPixmap(QPixmap::fromImage(render(state, size)));
        found = cache.insert(int(state), made);
    }
    return *found;
}

} // namespace TrayIcon
