#include "app/AppLogo.h"

#include "ui/Palette.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

AppLogo::AppLogo(int size, qreal radius, QWidget* parent) : QWidget(parent), m_radius(radius)
{
    setFixedSize(size, size);
}

void AppLogo::paintEvent(QPaintEvent*)
{
    // Only the size shown is kept: the icon as stored is many times larger than this widget.
    const QSize pixels = size() * devicePixelRatio();
    if (m_image.size() != pixels) {
        // Read as the PNG it is: a reader left to guess would load every image plug-in to ask it.
        QImageReader reader(QStringLiteral(":/app-icon.png"), "png");
        reader.setAutoDetectImageFormat(false);
        m_image = reader.read().scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_image.setDevicePixelRatio(devicePixelRatio());
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), m_radius, m_radius);
    painter.setClipPath(clip);
    painter.fillRect(rect(), FocusColor::white());
    if (!m_image.isNull())
        painter.drawImage(QRectF(rect()), m_image);
}
