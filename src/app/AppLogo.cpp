#include "app/AppLogo.h"

#include "ui/Palette.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

AppLogo::AppLogo(int size, qreal radius, QWidget* parent) : QWidget(parent), m_radius(radius)
{
    setFixedSize(size, size);
    // Reading and scaling the icon is a good part of a first frame: a worker does it while the
    // window is made, and the frame only draws it.
    const QSize likely = QSize(size, size) * qApp->devicePixelRatio();
    m_reading = std::async(std::launch::async, [likely] { return icon(likely); });
}

QImage AppLogo::icon(QSize pixels)
{
    // Only the size shown is kept: the icon as stored is many times larger than this widget.
    // Read as the PNG it is: a reader left to guess would load every image plug-in to ask it.
    QImageReader reader(QStringLiteral(":/app-icon.png"), "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read().scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void AppLogo::paintEvent(QPaintEvent*)
{
    const QSize pixels = size() * devicePixelRatio();
    if (m_image.size() != pixels) {
        if (m_reading.valid())
            m_image = m_reading.get();
        if (m_image.size() != pixels)
            m_image = icon(pixels);
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
