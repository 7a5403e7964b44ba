#include "app/AppLogo.h"

#include "ui/Palette.h"

#include <QPainter>
#include <QPainterPath>

AppLogo::AppLogo(int size, qreal radius, QWidget* parent) : QWidget(parent), m_radius(radius)
{
    setFixedSize(size, size);
}

void AppLogo::paintEvent(QPaintEvent*)
{
    static const QImage image(QStringLiteral(":/app-icon.png"));
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), m_radius, m_radius);
    painter.setClipPath(clip);
    painter.fillRect(rect(), FocusColor::white());
    if (!image.isNull())
        painter.drawImage(QRectF(rect()), image);
}
