#include "onboarding/OnboardingStepParts.h"

#include "onboarding/OnboardingIllustrations.h"
#include "ui/Accessibility.h"
#include "ui/Controls.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QVBoxLayout>

using namespace OnboardingPaint;

namespace OnboardingParts {

QColor hex(const char* text)
{
    return colorFromHex(QString::fromLatin1(text));
}

QLabel* label(const QString& text, const QFont& font, const QColor& color, bool wrap, QWidget* parent)
{
    QLabel* l = plainLabel(text, font, color, parent);
    l->setWordWrap(wrap);
    return l;
}

FittingTitle::FittingTitle(const QString& text, qreal size, const QColor& color) : QLabel(text), m_size(size)
{
    setTextFormat(Qt::PlainText);
    setFont(Theme::font(size, QFont::DemiBold, Theme::Design::serif));
    setTextColor(this, color);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setMinimumHeight(QFontMetrics(font()).height());
    Accessibility::markHeader(this);
}

void FittingTitle::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    qreal size = m_size;
    while (size > m_size * 0.7) {
        if (QFontMetricsF(Theme::font(size, QFont::DemiBold, Theme::Design::serif)).horizontalAdvance(text()) <=
            width())
            break;
        size -= 0.5;
    }
    setFont(Theme::font(qMax(size, m_size * 0.7), QFont::DemiBold, Theme::Design::serif));
}

QLabel* stepTitle(const QString& text, qreal size)
{
    return new FittingTitle(text, size, FocusColor::text());
}

QLabel* bodyText(const QString& text, qreal size)
{
    auto* l = label(text, Theme::font(size), FocusColor::textSecondary(), true);
    l->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    return l;
}

void Panel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    fillRounded(p, rect(), m_radius, m_fill);
    if (m_borderWidth > 0) {
        if (penStyle == Qt::SolidLine) {
            strokeInside(p, rect(), m_radius, m_border, m_borderWidth);
        } else {
            QPen pen(m_border, m_borderWidth);
            pen.setDashPattern({4, 3});
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            const qreal h = m_borderWidth / 2;
            p.drawRoundedRect(QRectF(rect()).adjusted(h, h, -h, -h), m_radius - h, m_radius - h);
        }
    }
}

void Ruled::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(QRectF(0, m_top ? 0 : height() - 1, width(), 1), FocusColor::hairline());
}

QWidget* logo(int size, qreal radius)
{
    return new PaintedView(QSize(size, size), [radius](QPainter& p, const QSizeF& s) {
        const QRectF r(QPointF(0, 0), s);
        appLogo(p, r, radius);
        strokeInside(p, r, radius, FocusColor::hairline(), 1);
    });
}

QWidget* tile(int size, qreal radius, const QColor& fill, char16_t codepoint, qreal glyphSize, const QColor& color,
              const QColor& ring)
{
    return new PaintedView(QSize(size, size), [=](QPainter& p, const QSizeF& s) {
        const QRectF r(QPointF(0, 0), s);
        fillRounded(p, r, radius, fill);
        if (ring.alpha())
            strokeInside(p, r, radius, ring, 1);
        glyph(p, r, codepoint, glyphSize, color);
    });
}

QHBoxLayout* row(int spacing)
{
    return rowLayout(nullptr, spacing);
}

QVBoxLayout* column(QWidget* owner, const QMargins& margins, int spacing)
{
    auto* l = new QVBoxLayout(owner);
    l->setContentsMargins(margins);
    l->setSpacing(spacing);
    return l;
}

} // namespace OnboardingParts
