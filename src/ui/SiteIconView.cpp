#include "ui/SiteIconView.h"

#include "model/Text.h"
#include "ui/Accessibility.h"
#include "ui/Palette.h"
#include "ui/SiteIconStore.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

qreal cornerRadius(qreal size)
{
    return size * 0.28;
}

} // namespace

SiteIconView::SiteIconView(const QString& domain, const QString& name, qreal size, QWidget* parent,
                           SiteIconStore* store)
    : QWidget(parent), m_store(store ? store : &SiteIconStore::shared()), m_domain(domain), m_name(name), m_size(size)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    Accessibility::hide(this);
    // A known icon is there in the first frame.
    m_image = m_store->cachedImage(m_domain);
}

void SiteIconView::setDomain(const QString& domain)
{
    if (domain == m_domain)
        return;
    m_domain = domain;
    if (isVisible())
        load();
    else {
        ++m_generation;
        setImage(m_store->cachedImage(m_domain));
    }
}

void SiteIconView::setName(const QString& name)
{
    m_name = name;
    update();
}

void SiteIconView::setIconSize(qreal size)
{
    m_size = size;
    m_scaled = QPixmap();
    updateGeometry();
    update();
}

qreal SiteIconView::imageInset(qreal size, int imageWidth)
{
    return imageWidth < 96 ? size * 0.18 : 0;
}

QSize SiteIconView::sizeHint() const
{
    const int edge = int(std::ceil(m_size));
    return {edge, edge};
}

void SiteIconView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    load();
}

void SiteIconView::load()
{
    const quint64 generation = ++m_generation;
    setImage(m_store->cachedImage(m_domain));
    if (!m_image.isNull())
        return;
    // Only the answer for the domain shown now counts; a view that is gone gets none.
    m_store->image(m_domain, this, [this, generation](const QImage& image) {
        if (generation == m_generation)
            setImage(image);
    });
}

void SiteIconView::setImage(const QImage& image)
{
    if (image.cacheKey() == m_image.cacheKey() && image.isNull() == m_image.isNull())
        return;
    m_image = image;
    m_scaled = QPixmap();
    update();
}

void SiteIconView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile((width() - m_size) / 2, (height() - m_size) / 2, m_size, m_size);
    const qreal radius = cornerRadius(m_size);
    QPainterPath shape;
    shape.addRoundedRect(tile, radius, radius);
    painter.fillPath(shape, FocusColor::white());

    if (!m_image.isNull()) {
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = (QSizeF(m_size, m_size) * ratio).toSize();
        if (m_scaled.isNull() || m_scaled.size() != pixels) {
            // Fit inside the inset square, then clip to the tile's rounded shape, at the screen's
            // own resolution so the icon stays sharp.
            const qreal inset = imageInset(m_size, m_image.width()) * ratio;
            const QSizeF box(pixels.width() - 2 * inset, pixels.height() - 2 * inset);
            const QImage fitted = m_image.scaled(box.toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
            QImage canvas(pixels, QImage::Format_ARGB32_Premultiplied);
            canvas.fill(Qt::transparent);
            QPainter p(&canvas);
            p.setRenderHint(QPainter::Antialiasing);
            p.drawImage(QPointF((pixels.width() - fitted.width()) / 2.0, (pixels.height() - fitted.height()) / 2.0),
                        fitted);
            QPainterPath clip;
            clip.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(pixels)), radius * ratio, radius * ratio);
            p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            p.fillPath(clip, Qt::black);
            p.end();
            m_scaled = QPixmap::fromImage(canvas);
            m_scaled.setDevicePixelRatio(ratio);
        }
        painter.drawPixmap(tile.topLeft(), m_scaled);
    } else {
        const QString letter = Text::leftCharacters(m_name, 1).toUpper();
        painter.setFont(Theme::font(m_size * 0.42, QFont::ExtraBold));
        painter.setPen(FocusColor::text());
        painter.drawText(tile, Qt::AlignCenter, letter);
    }

    // The outline sits on the tile's edge, drawn just inside so that no half of it is clipped.
    painter.setPen(QPen(FocusColor::hairline(), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
}
