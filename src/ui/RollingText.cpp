#include "ui/RollingText.h"

#include "ui/Accessibility.h"
#include "ui/Motion.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

RollingText::RollingText(const QFont& face, const QColor& color, QWidget* parent)
    : QWidget(parent), m_face(face), m_color(color), m_roll(new Tween(0.2, QEasingCurve::InOutQuad, this))
{
    m_roll->setObjectName(QStringLiteral("roll"));
    m_roll->jumpTo(1);
    connect(m_roll, &Tween::valueChanged, this, qOverload<>(&QWidget::update));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // Read as the text it shows.
    Accessibility::setRole(this, QAccessible::StaticText);
}

void RollingText::setText(const QString& text, bool roll)
{
    if (text == m_text)
        return;
    m_previous = m_text;
    m_text = text;
    if (roll && !m_previous.isEmpty())
        m_roll->moveFromTo(0, 1);
    else
        m_roll->jumpTo(1);
    updateGeometry();
    update();
}

qreal RollingText::scaleAt(int width) const
{
    const qreal natural = QFontMetricsF(m_face).horizontalAdvance(m_text);
    if (natural <= width || natural <= 0)
        return 1;
    return std::max(smallestScale, width / natural);
}

QSize RollingText::sizeHint() const
{
    const QFontMetricsF metrics(m_face);
    return QSize(int(std::ceil(metrics.horizontalAdvance(m_text))), int(std::ceil(metrics.height())));
}

QSize RollingText::minimumSizeHint() const
{
    const QSize natural = sizeHint();
    return QSize(int(std::ceil(natural.width() * smallestScale)), natural.height());
}

void RollingText::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont face = m_face;
    const qreal scale = scaleAt(width());
    if (m_face.pixelSize() > 0)
        face.setPixelSize(std::max(1, int(std::lround(m_face.pixelSize() * scale))));
    else
        face.setPointSizeF(m_face.pointSizeF() * scale);
    p.setFont(face);
    p.setClipRect(rect());
    const QFontMetricsF metrics(face);
    const qreal lineHeight = metrics.height();
    const qreal baseline = (height() - lineHeight) / 2 + metrics.ascent();
    const qreal progress = m_roll->value();
    // From the right, character by character: the old text's character at the same place from
    // the end rolls out where it differs.
    qreal right = width();
    for (qsizetype i = 1; i <= m_text.size(); ++i) {
        const QChar now = m_text.at(m_text.size() - i);
        const qsizetype j = m_previous.size() - i;
        const QChar before = j >= 0 ? m_previous.at(j) : QChar();
        const qreal advance = metrics.horizontalAdvance(now);
        right -= advance;
        if (progress >= 1 || now == before) {
            p.setPen(m_color);
            p.drawText(QPointF(right, baseline), QString(now));
            continue;
        }
        const qreal shift = lineHeight * progress;
        if (!before.isNull()) {
            p.setOpacity(1 - progress);
            p.setPen(m_color);
            p.drawText(QPointF(right, baseline - shift), QString(before));
        }
        p.setOpacity(progress);
        p.setPen(m_color);
        p.drawText(QPointF(right, baseline + lineHeight - shift), QString(now));
        p.setOpacity(1);
    }
}
