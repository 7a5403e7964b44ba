#include "screens/block/BlockWidgets.h"

#include "linux/LinuxBrowsers.h"
#include "ui/Accessibility.h"
#include "ui/CardShadow.h"
#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/TextLabel.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr qreal shadowBlur = 10;
constexpr qreal shadowOffset = 4;

} // namespace

namespace BlockUi {

QLabel* label(const QString& text, qreal size, QFont::Weight weight, const QColor& color, Theme::Design design,
              QWidget* parent)
{
    return plainLabel(text, Theme::font(size, weight, design), color, parent);
}

void paintPaper(QWidget* sheet)
{
    QPalette p = sheet->palette();
    p.setColor(QPalette::Window, FocusColor::paper());
    sheet->setPalette(p);
    sheet->setAutoFillBackground(true);
}

} // namespace BlockUi

SectionCard::SectionCard(qreal cornerRadius, QWidget* parent)
    : QWidget(parent), m_radius(cornerRadius), m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(CardShadow::extent(shadowBlur, shadowOffset));
    m_layout->setSpacing(0);
}

QMargins SectionCard::shadowMargins()
{
    return CardShadow::extent(shadowBlur, shadowOffset);
}

void SectionCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).marginsRemoved(QMarginsF(CardShadow::extent(shadowBlur, shadowOffset)));
    CardShadow::paint(p, card, m_radius, shadowBlur, shadowOffset, FocusColor::withOpacity(FocusColor::ink(), 0.05));
    QPainterPath shape;
    shape.addRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
    p.fillPath(shape, FocusColor::white());
    p.setPen(QPen(FocusColor::hairline(), 1));
    p.drawPath(shape);
}

HairlineFrame::HairlineFrame(QWidget* parent) : QWidget(parent) {}

void HairlineFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(QRectF(0, 0, width(), 1), FocusColor::hairline());
    p.fillRect(QRectF(0, height() - 1, width(), 1), FocusColor::hairline());
}

CountdownRing::CountdownRing(QWidget* parent) : QWidget(parent)
{
    setFixedSize(130, 130);
    setAccessibleName(QStringLiteral("15 seconds left"));
}

void CountdownRing::setState(int secondsRemaining, double progress, const QString& accessibleText)
{
    if (secondsRemaining == m_seconds && progress == m_progress)
        return;
    m_seconds = secondsRemaining;
    m_progress = std::clamp(progress, 0.0, 1.0);
    setAccessibleName(accessibleText);
    update();
}

void CountdownRing::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(3, 3, -3, -3);
    QPen track(FocusColor::wash(), 6, Qt::SolidLine, Qt::FlatCap);
    p.setPen(track);
    p.drawEllipse(circle);
    if (m_progress > 0) {
        QPen arc(FocusColor::ink(), 6, Qt::SolidLine, Qt::RoundCap);
        p.setPen(arc);
        // From the top, clockwise: Qt counts angles counter-clockwise in sixteenths of a degree.
        p.drawArc(circle, 90 * 16, -int(std::lround(m_progress * 360 * 16)));
    }
    p.setPen(FocusColor::text());
    p.setFont(Theme::font(38, QFont::DemiBold, Theme::Design::serif));
    const QFontMetricsF number(p.font());
    QFont caption = Theme::font(10.5, QFont::ExtraBold);
    caption.setLetterSpacing(QFont::AbsoluteSpacing, 10.5 * 0.11);
    const QFontMetricsF captionMetrics(caption);
    const qreal total = number.height() + 2 + captionMetrics.height();
    const qreal top = (height() - total) / 2;
    p.drawText(QRectF(0, top, width(), number.height()), Qt::AlignCenter, QString::number(m_seconds));
    p.setFont(caption);
    p.setPen(FocusColor::textSecondary());
    p.drawText(QRectF(0, top + number.height() + 2, width(), captionMetrics.height()), Qt::AlignCenter,
               QStringLiteral("SECONDS"));
}

BrowserIcon::BrowserIcon(const QString& bundleIdentifier, QWidget* parent) : QWidget(parent)
{
    setFixedSize(28, 28);
    Accessibility::hide(this);
    if (const LinuxBrowserIdentity* identity = LinuxBrowsers::forBundleIdentifier(bundleIdentifier)) {
        for (const QString& name : identity->executables) {
            if (QIcon::hasThemeIcon(name)) {
                m_icon = QIcon::fromTheme(name);
                break;
            }
        }
    }
}

void BrowserIcon::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_icon.isNull())
        m_icon.paint(&p, rect());
    else
        Symbols::paint(p, QRectF(rect()), Symbol::globe, FocusColor::textSecondary(), 20);
}
