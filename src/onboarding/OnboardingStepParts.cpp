#include "onboarding/OnboardingStepParts.h"

#include "onboarding/OnboardingIllustrations.h"
#include "ui/Accessibility.h"
#include "ui/Controls.h"
#include "ui/Layouts.h"
#include "ui/Palette.h"
#include "ui/TextLabel.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtMath>

using namespace OnboardingPaint;

namespace OnboardingParts {

namespace {

// Decides on the illustration by its own width, which a scroll bar coming or going leaves alone:
// the decision cannot undo itself.
class IntroScroll : public QScrollArea {
public:
    IntroScroll(QWidget* illustration, int widthForBoth) : m_illustration(illustration), m_widthForBoth(widthForBoth) {}

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        m_illustration->setVisible(width() >= m_widthForBoth);
        QScrollArea::resizeEvent(event);
    }

private:
    QWidget* m_illustration;
    int m_widthForBoth;
};

// What a scroll area scrolls. Wrapped texts make a layout's own minimum height a guess at a
// narrower width than they get; the scroll area takes the height for the width it gives instead,
// so that a step that fits shows no scroll bar.
class ScrolledHolder : public QWidget {
public:
    QSize minimumSizeHint() const override
    {
        QSize size = QWidget::minimumSizeHint();
        if (layout() && layout()->hasHeightForWidth())
            size.setHeight(0);
        return size;
    }
};

void prepareScrolling(QScrollArea* scroll, QWidget* content, bool centred)
{
    scroll->setObjectName(QStringLiteral("stepScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus); // not a stop of its own between the step's controls
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { width: 6px; background: transparent; margin: 0; }"
                       "QScrollBar::handle:vertical { background: #CFC8B8; border-radius: 3px; min-height: 24px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    auto* holder = new ScrolledHolder;
    holder->setAutoFillBackground(false);
    auto* hl = column(holder);
    if (centred)
        hl->addStretch(1);
    hl->addWidget(content);
    hl->addStretch(1);
    scroll->setWidget(holder);
}

} // namespace

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

QSize FittingTitle::minimumSizeHint() const
{
    const QFontMetricsF metrics(Theme::font(m_size * 0.7, QFont::DemiBold, Theme::Design::serif));
    return QSize(qCeil(metrics.horizontalAdvance(text())) + 1, QLabel::minimumSizeHint().height());
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
    // A policy set by hand drops the height-for-width that wrapping set: without it a layout
    // gives the text the height of its widest guess and cuts the lines that do not fit.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    l->setSizePolicy(policy);
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

QScrollArea* scrolling(QWidget* content, bool centred)
{
    auto* scroll = new QScrollArea;
    prepareScrolling(scroll, content, centred);
    return scroll;
}

QWidget* introRow(QWidget* text, QWidget* illustration, const QMargins& margins, int spacing, int textMinimum)
{
    auto* content = new QWidget;
    auto* r = new QHBoxLayout(content);
    r->setContentsMargins(margins);
    r->setSpacing(spacing);
    r->addWidget(text, 1, Qt::AlignVCenter);
    r->addWidget(illustration, 0, Qt::AlignVCenter);
    const int widthForBoth =
        margins.left() + margins.right() + spacing + illustration->sizeHint().width() + textMinimum;
    auto* scroll = new IntroScroll(illustration, widthForBoth);
    prepareScrolling(scroll, content, true);
    return scroll;
}

QVBoxLayout* column(QWidget* owner, const QMargins& margins, int spacing)
{
    auto* l = new QVBoxLayout(owner);
    l->setContentsMargins(margins);
    l->setSpacing(spacing);
    return l;
}

} // namespace OnboardingParts
