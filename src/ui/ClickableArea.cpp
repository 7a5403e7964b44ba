#include "ui/ClickableArea.h"

#include "ui/FocusRing.h"
#include "ui/Palette.h"

#include <QEvent>
#include <QLayout>
#include <QPainter>
#include <algorithm>

namespace {

constexpr qreal cornerRadius = 8;

} // namespace

ClickableArea::ClickableArea(QWidget* parent)
    : QAbstractButton(parent), m_hoverTint(FocusColor::withOpacity(FocusColor::ink(), 0.045))
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setAttribute(Qt::WA_Hover);
    FocusRing::setRadius(this, cornerRadius);
}

QSize ClickableArea::sizeHint() const
{
    return layout() ? layout()->sizeHint() : QSize();
}

QSize ClickableArea::minimumSizeHint() const
{
    return layout() ? layout()->minimumSize() : QSize();
}

void ClickableArea::setHoverTint(const QColor& tint)
{
    m_hoverTint = tint;
    update();
}

bool ClickableArea::event(QEvent* event)
{
    if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverLeave)
        update();
    return QAbstractButton::event(event);
}

void ClickableArea::paintEvent(QPaintEvent*)
{
    // Its children are the label; the area itself only shows that it can be clicked.
    if (!isEnabled() || !(underMouse() || isDown()))
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor tint = m_hoverTint;
    if (isDown())
        tint.setAlphaF(std::min(1.0f, tint.alphaF() * 2));
    painter.setBrush(tint);
    painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
}
