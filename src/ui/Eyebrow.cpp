#include "ui/Eyebrow.h"

#include "ui/Accessibility.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

Eyebrow::Eyebrow(const QString& text, const QColor& color, qreal size, QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    QFont f = face(size);
    f.setLetterSpacing(QFont::AbsoluteSpacing, size * 0.11);
    setFont(f);
    setColor(color);
    setEyebrowText(text);
}

void Eyebrow::setEyebrowText(const QString& text)
{
    setText(displayText(text));
}

void Eyebrow::setColor(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::ButtonText, color);
    setPalette(p);
}

QString Eyebrow::displayText(const QString& text)
{
    return text.toUpper();
}

QFont Eyebrow::face(qreal size)
{
    return Theme::font(size, QFont::ExtraBold);
}

namespace {

constexpr qreal keyHintTextSize = 11;
constexpr qreal keyHintPaddingX = 5;
constexpr qreal keyHintPaddingY = 2;
constexpr qreal keyHintRadius = 5;

} // namespace

KeyHint::KeyHint(const QString& keys, QWidget* parent) : QWidget(parent), m_keys(keys)
{
    setFont(face());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    Accessibility::hide(this);
}

QFont KeyHint::face()
{
    return Theme::font(keyHintTextSize, QFont::Normal, Theme::Design::monospaced);
}

void KeyHint::setKeys(const QString& keys)
{
    m_keys = keys;
    updateGeometry();
    update();
}

QSize KeyHint::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return QSizeF(std::ceil(metrics.horizontalAdvance(m_keys)) + 2 * keyHintPaddingX,
                  std::ceil(metrics.height()) + 2 * keyHintPaddingY)
        .toSize();
}

void KeyHint::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline is centred on the rectangle's edge: half of it lies outside, so inset by half.
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(FocusColor::hairline(), 1));
    painter.setBrush(FocusColor::white());
    painter.drawRoundedRect(box, keyHintRadius, keyHintRadius);
    painter.setPen(FocusColor::textSecondary());
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, m_keys);
}

FocusMeter::FocusMeter(qreal fraction, const QColor& color, const QColor& track, qreal height, QWidget* parent)
    : QWidget(parent), m_fraction(fraction), m_color(color), m_track(track), m_height(height)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    Accessibility::hide(this);
}

void FocusMeter::setFraction(qreal fraction)
{
    m_fraction = fraction;
    update();
}

void FocusMeter::setColors(const QColor& color, const QColor& track)
{
    m_color = color;
    m_track = track;
    update();
}

qreal FocusMeter::filledWidth(qreal width, qreal fraction, qreal height)
{
    const qreal share = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    // Nothing used draws nothing: a dot at the start would read as a little already used.
    if (share <= 0)
        return 0;
    return std::max(width * share, height);
}

QSize FocusMeter::sizeHint() const
{
    return QSize(120, int(std::ceil(m_height)));
}

QSize FocusMeter::minimumSizeHint() const
{
    return QSize(int(std::ceil(m_height)), int(std::ceil(m_height)));
}

void FocusMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal h = m_height;
    const qreal y = (height() - h) / 2;
    const qreal radius = h / 2;
    painter.setBrush(m_track);
    painter.drawRoundedRect(QRectF(0, y, width(), h), radius, radius);
    const qreal filled = filledWidth(width(), m_fraction, h);
    if (filled <= 0)
        return;
    QRectF bar(0, y, filled, h);
    if (layoutDirection() == Qt::RightToLeft)
        bar.moveRight(width());
    painter.setBrush(m_color);
    painter.drawRoundedRect(bar, radius, radius);
}
