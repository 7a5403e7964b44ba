#include "ui/CountdownRing.h"

#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

CountdownRing::CountdownRing(int diameter, qreal numberSize, QWidget* parent)
    : QWidget(parent), m_numberSize(numberSize), m_arc(new Tween(0.25, QEasingCurve::Linear, this))
{
    setFixedSize(diameter, diameter);
    connect(m_arc, &Tween::valueChanged, this, qOverload<>(&QWidget::update));
}

double CountdownRing::shownProgress() const
{
    return m_arc->value();
}

void CountdownRing::setState(const QString& number, const QString& caption, double progress,
                             const QString& accessibleText)
{
    progress = std::clamp(progress, 0.0, 1.0);
    if (number == m_number && caption == m_caption && progress == m_progress)
        return;
    const bool first = m_number.isNull() && m_caption.isNull();
    m_number = number;
    m_caption = caption;
    // The first state is drawn as it is; later ones move there.
    if (first)
        m_arc->jumpTo(progress);
    else
        m_arc->moveTo(progress);
    m_progress = progress;
    setAccessibleName(accessibleText);
    update();
}

void CountdownRing::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(3, 3, -3, -3);
    p.setPen(QPen(FocusColor::wash(), 6, Qt::SolidLine, Qt::FlatCap));
    p.drawEllipse(circle);
    const double shown = m_arc->value();
    if (shown > 0) {
        p.setPen(QPen(FocusColor::ink(), 6, Qt::SolidLine, Qt::RoundCap));
        // From the top, clockwise: Qt counts angles counter-clockwise in sixteenths of a degree.
        p.drawArc(circle, 90 * 16, -int(std::lround(shown * 360 * 16)));
    }
    p.setPen(FocusColor::text());
    p.setFont(Theme::font(m_numberSize, QFont::DemiBold, Theme::Design::serif));
    const QFontMetricsF number(p.font());
    QFont caption = Theme::font(10.5, QFont::ExtraBold);
    caption.setLetterSpacing(QFont::AbsoluteSpacing, 10.5 * 0.11);
    const QFontMetricsF captionMetrics(caption);
    const qreal total = number.height() + 2 + captionMetrics.height();
    const qreal top = (height() - total) / 2;
    p.drawText(QRectF(0, top, width(), number.height()), Qt::AlignCenter, m_number);
    p.setFont(caption);
    p.setPen(FocusColor::textSecondary());
    p.drawText(QRectF(0, top + number.height() + 2, width(), captionMetrics.height()), Qt::AlignCenter, m_caption);
}
