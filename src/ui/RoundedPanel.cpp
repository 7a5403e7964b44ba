#include "ui/RoundedPanel.h"

#include <QPainter>

RoundedPanel::RoundedPanel(const QColor& fill, const QColor& outline, qreal radius, QWidget* parent)
    : QWidget(parent), m_fill(fill), m_outline(outline), m_radius(radius)
{
}

void RoundedPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(m_outline.alpha() ? QPen(m_outline, 1) : Qt::NoPen);
    painter.setBrush(m_fill);
    // Half a point in, so the outline falls on whole pixels.
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
}
