#include "onboarding/OnboardingIllustrations.h"

#include "onboarding/QrEncoder.h"
#include "ui/Accessibility.h"
#include "ui/CardShadow.h"
#include "ui/Eyebrow.h"
#include "ui/Palette.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"

#include <QFileInfo>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

static void initOnboardingResources()
{
    Q_INIT_RESOURCE(blocking);
}

using namespace OnboardingPaint;

namespace {

QColor hex(const char* text)
{
    return colorFromHex(QString::fromLatin1(text));
}

QFont serif(qreal size, QFont::Weight weight = QFont::DemiBold)
{
    return Theme::font(size, weight, Theme::Design::serif);
}

QFont sans(qreal size, QFont::Weight weight = QFont::Normal)
{
    return Theme::font(size, weight);
}

// Text wrapped to `width` from `topLeft`; returns its height. With a null painter only measures.
// With `maxLines`, text that needs more lines ends its last line in an ellipsis.
qreal wrapped(QPainter* p, const QPointF& topLeft, qreal width, const QString& text, const QFont& font,
              const QColor& color, int maxLines = 0, Qt::Alignment align = Qt::AlignLeft)
{
    const QFontMetricsF fm(font);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setAlignment(align);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    QList<QTextLine> lines;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        line.setPosition({0, y});
        y += fm.height();
        lines.append(line);
        if (maxLines && lines.size() >= maxLines)
            break;
    }
    layout.endLayout();
    if (!p)
        return y;
    p->setPen(color);
    const QTextLine& last = lines.isEmpty() ? QTextLine() : lines.last();
    const bool cut = last.isValid() && last.textStart() + last.textLength() < text.size();
    for (const QTextLine& line : lines) {
        if (cut && line.lineNumber() == last.lineNumber()) {
            p->setFont(font);
            const QString rest = text.mid(last.textStart()).simplified();
            p->drawText(QPointF(topLeft.x(), topLeft.y() + last.y() + fm.ascent()),
                        fm.elidedText(rest, Qt::ElideRight, width));
        } else {
            line.draw(p, topLeft);
        }
    }
    return y;
}

void capsule(QPainter& p, const QRectF& rect, const QColor& color)
{
    fillRounded(p, rect, rect.height() / 2, color);
}

void textAt(QPainter& p, const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
            int flags = Qt::AlignLeft | Qt::AlignVCenter)
{
    p.setFont(font);
    p.setPen(color);
    p.drawText(rect, flags, text);
}

// The small browser window of the previews; returns the page's rectangle.
QRectF browserFrame(QPainter& p, const QRectF& window, const QString& address)
{
    fillRounded(p, window, 14, FocusColor::paper());
    p.save();
    QPainterPath clip;
    clip.addRoundedRect(window, 14, 14);
    p.setClipPath(clip);
    const QRectF bar(window.left(), window.top(), window.width(), 34);
    p.fillRect(bar, hex("F8F5EE"));
    p.fillRect(QRectF(bar.left(), bar.bottom() - 1, bar.width(), 1), FocusColor::hairline());
    for (int i = 0; i < 3; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(hex("D9D3C5"));
        p.drawEllipse(QRectF(bar.left() + 12 + i * 15, bar.center().y() - 4.5, 9, 9));
    }
    const QRectF field(bar.left() + 12 + 39 + 12, bar.center().y() - 10, bar.width() - 24 - 51, 20);
    fillRounded(p, field, 6, FocusColor::white());
    strokeInside(p, field, 6, FocusColor::hairline(), 1);
    textAt(p, field, address, sans(11), FocusColor::textSecondary(), Qt::AlignCenter);
    p.restore();
    strokeInside(p, window, 14, FocusColor::hairline(), 1);
    return QRectF(window.left(), bar.bottom(), window.width(), window.bottom() - bar.bottom());
}

} // namespace

// --- painting helpers

void OnboardingPaint::softShadow(QPainter& p, const QRectF& card, qreal radius, qreal blur, qreal offsetY,
                                 const QColor& color)
{
    // Layers that grow outwards; where they all overlap the shadow reaches the colour's opacity.
    constexpr int layers = 14;
    const qreal layerAlpha = 1 - std::pow(1 - color.alphaF(), 1.0 / layers);
    QColor layer = color;
    layer.setAlphaF(layerAlpha);
    const QRectF base = card.translated(0, offsetY);
    for (int k = 0; k < layers; ++k) {
        const qreal grow = blur * (qreal(k) / layers - 0.35);
        fillRounded(p, base.adjusted(-grow, -grow, grow, grow), qMax(0.0, radius + grow), layer);
    }
}

void OnboardingPaint::fillRounded(QPainter& p, const QRectF& rect, qreal radius, const QColor& color)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    p.fillPath(path, color);
}

void OnboardingPaint::strokeInside(QPainter& p, const QRectF& rect, qreal radius, const QColor& color, qreal width)
{
    const qreal h = width / 2;
    p.save();
    p.setPen(QPen(color, width));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(rect.adjusted(h, h, -h, -h), qMax(0.0, radius - h), qMax(0.0, radius - h));
    p.restore();
}

void OnboardingPaint::glyph(QPainter& p, const QRectF& rect, char16_t codepoint, qreal size, const QColor& color)
{
    QFont font(QStringLiteral("Material Icons"));
    font.setPixelSize(qMax(1, qRound(size * 1.2)));
    p.save();
    p.setFont(font);
    p.setPen(color);
    p.drawText(rect, Qt::AlignCenter, QString(QChar(codepoint)));
    p.restore();
}

qreal OnboardingPaint::eyebrow(QPainter& p, const QPointF& topLeft, const QString& text, const QColor& color,
                               qreal size)
{
    QFont font = Theme::font(size, QFont::ExtraBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.11 * size);
    const QFontMetricsF fm(font);
    p.save();
    p.setFont(font);
    p.setPen(color);
    p.drawText(QPointF(topLeft.x(), topLeft.y() + fm.ascent()), Eyebrow::displayText(text));
    p.restore();
    return fm.height();
}

QImage OnboardingPaint::appLogoImage()
{
    initOnboardingResources();
    static const QImage image(QStringLiteral(":/app-icon.png"));
    return image;
}

void OnboardingPaint::appLogo(QPainter& p, const QRectF& rect, qreal radius)
{
    p.save();
    QPainterPath clip;
    clip.addRoundedRect(rect, radius, radius);
    p.setClipPath(clip);
    p.fillRect(rect, FocusColor::white());
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(rect, appLogoImage());
    p.restore();
}

// --- PaintedView

PaintedView::PaintedView(QSize size, Drawer drawer, QWidget* parent) : PaintedView(size, parent)
{
    m_drawer = std::move(drawer);
}

PaintedView::PaintedView(QSize size, QWidget* parent) : QWidget(parent), m_size(size)
{
    setFixedSize(size);
    setAttribute(Qt::WA_TranslucentBackground);
    Accessibility::hide(this);
}

void PaintedView::setDrawer(Drawer drawer)
{
    m_drawer = std::move(drawer);
    invalidate();
}

void PaintedView::invalidate()
{
    m_cache = QPixmap();
    update();
}

void PaintedView::setFixedDrawingSize(QSize size)
{
    if (size == m_size)
        return;
    m_size = size;
    setFixedSize(size);
    updateGeometry();
    invalidate();
}

void PaintedView::draw(QPainter& painter, const QSizeF& size) const
{
    if (m_drawer)
        m_drawer(painter, size);
}

void PaintedView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    // The target's own ratio: a widget rendered into a sharper pixmap gets a sharper drawing.
    const QPaintDevice* target = p.paintEngine() ? p.paintEngine()->paintDevice() : nullptr;
    const qreal ratio = target ? target->devicePixelRatioF() : devicePixelRatioF();
    // A picture, a printer or another device that is no bitmap records the drawing itself.
    const int kind = target ? target->devType() : int(QInternal::Widget);
    if (kind != QInternal::Widget && kind != QInternal::Pixmap && kind != QInternal::Image &&
        kind != QInternal::OpenGL && kind != QInternal::FramebufferObject) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        draw(p, QSizeF(size()));
        return;
    }
    if (m_cache.isNull() || m_cache.deviceIndependentSize().toSize() != size() || m_cache.devicePixelRatio() != ratio) {
        m_cache = QPixmap((QSizeF(size()) * ratio).toSize());
        m_cache.setDevicePixelRatio(ratio);
        m_cache.fill(Qt::transparent);
        QPainter cp(&m_cache);
        cp.setRenderHint(QPainter::Antialiasing);
        cp.setRenderHint(QPainter::TextAntialiasing);
        draw(cp, QSizeF(size()));
        ++m_drawCount;
    }
    p.drawPixmap(0, 0, m_cache);
}

// --- year of dots

const int OnboardingYearDots::monthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

namespace {
constexpr qreal yearLabelWidth = 10, yearLabelGap = 8, yearRowGap = 5, yearRowMin = 12;

qreal yearRowHeight(qreal dot)
{
    return qMax(dot, yearRowMin);
}
} // namespace

OnboardingYearDots::OnboardingYearDots(int lostDays, qreal dot, qreal gap, QWidget* parent)
    : PaintedView(QSize(qCeil(yearLabelWidth + yearLabelGap + dot * 31 + gap * 30),
                        qCeil(12 * yearRowHeight(dot) + 11 * yearRowGap)),
                  parent),
      m_lostDays(lostDays), m_dot(dot), m_gap(gap)
{
    setAccessibleName(QStringLiteral("%1 of the 365 days in a year").arg(lostDays));
}

void OnboardingYearDots::setLostDays(int lostDays)
{
    if (lostDays == m_lostDays)
        return;
    m_lostDays = lostDays;
    setAccessibleName(QStringLiteral("%1 of the 365 days in a year").arg(lostDays));
    invalidate();
}

QPointF OnboardingYearDots::dotCenter(int month, int day) const
{
    const qreal row = yearRowHeight(m_dot);
    return {yearLabelWidth + yearLabelGap + (m_dot + m_gap) * day + m_dot / 2, month * (row + yearRowGap) + row / 2};
}

void OnboardingYearDots::draw(QPainter& p, const QSizeF&) const
{
    static const char* labels[12] = {"J", "F", "M", "A", "M", "J", "J", "A", "S", "O", "N", "D"};
    const qreal row = yearRowHeight(m_dot);
    int first = 0;
    p.setPen(Qt::NoPen);
    for (int m = 0; m < 12; ++m) {
        const qreal top = m * (row + yearRowGap);
        textAt(p, QRectF(0, top, yearLabelWidth + 4, row), QString::fromLatin1(labels[m]), sans(9.5, QFont::Bold),
               FocusColor::textSecondary());
        p.setPen(Qt::NoPen);
        for (int d = 0; d < monthLengths[m]; ++d) {
            p.setBrush(first + d < m_lostDays ? FocusColor::priorityHigh() : hex("DDD7CA"));
            p.drawEllipse(
                QRectF(yearLabelWidth + yearLabelGap + (m_dot + m_gap) * d, top + (row - m_dot) / 2, m_dot, m_dot));
        }
        first += monthLengths[m];
    }
}

// --- block page preview

OnboardingBlockPagePreview::OnboardingBlockPagePreview(const QString& domain, int breakMinutes,
                                                       std::optional<QString> priority, int width, QWidget* parent)
    : PaintedView(QSize(width, 100), parent), m_widest(width)
{
    setContent(domain, breakMinutes, std::move(priority));
}

void OnboardingBlockPagePreview::fitWidth(int available)
{
    // Below this the buttons of the priority card no longer fit side by side.
    constexpr int narrowest = 260;
    resizeTo(std::clamp(available, narrowest, m_widest));
}

void OnboardingBlockPagePreview::resizeTo(int width)
{
    setFixedDrawingSize(QSize(width, qCeil(layout(nullptr, width, 0))));
}

void OnboardingBlockPagePreview::setContent(const QString& domain, int breakMinutes, std::optional<QString> priority)
{
    m_domain = domain;
    m_breakMinutes = breakMinutes;
    m_priority = std::move(priority);
    setAccessibleName(QStringLiteral("Preview of what ") + domain + QStringLiteral(" shows instead"));
    resizeTo(width());
    invalidate();
}

QRectF OnboardingBlockPagePreview::ringRect() const
{
    return m_priority ? QRectF() : m_ring;
}

void OnboardingBlockPagePreview::draw(QPainter& p, const QSizeF& size) const
{
    layout(&p, size.width(), size.height());
}

// Lays the page out from the top; paints when given a painter. Returns the whole height.
qreal OnboardingBlockPagePreview::layout(QPainter* p, qreal width, qreal height) const
{
    const qreal inner = width - 48;
    qreal y = 34 + 24;
    const QFont title = serif(27);
    if (p) {
        browserFrame(*p, QRectF(0, 0, width, height), m_domain);
        eyebrow(*p, {24, y}, m_domain + QStringLiteral(" \u00B7 on a short break"), FocusColor::textSecondary(), 9.5);
    }
    y += QFontMetricsF(Theme::font(9.5, QFont::ExtraBold)).height() + 8;
    y += wrapped(p, {24, y}, inner, QStringLiteral("Time for a break"), title, FocusColor::text()) + 8;
    if (!m_priority) {
        y += wrapped(p, {24, y}, inner,
                     QStringLiteral("You've been scrolling for a while. This site is on a short break. It opens "
                                    "again automatically."),
                     sans(13), FocusColor::textSecondary());
        y += 8 + 8;
        const QRectF card(24, y, inner, 14 + 40 + 14);
        m_ring = QRectF(card.left() + 14, card.top() + 14, 40, 40);
        if (p) {
            fillRounded(*p, card, 16, FocusColor::ink());
            const QRectF ring = m_ring.adjusted(2, 2, -2, -2);
            p->setBrush(Qt::NoBrush);
            p->setPen(QPen(hex("3A3833"), 4));
            p->drawEllipse(ring);
            p->setPen(QPen(FocusColor::gold(), 4, Qt::SolidLine, Qt::RoundCap));
            // The whole circle, starting at the top.
            p->drawArc(ring, 90 * 16, -360 * 16);
            const qreal tx = m_ring.right() + 14;
            textAt(*p, QRectF(tx, card.top() + 10, card.right() - tx, 28), QStringLiteral("%1:00").arg(m_breakMinutes),
                   serif(21), FocusColor::white());
            textAt(*p, QRectF(tx, card.top() + 38, card.right() - tx, 18), QStringLiteral("until the site opens again"),
                   sans(12.5), FocusColor::mutedOnDark());
        }
        y = card.bottom();
    } else {
        y += 4 - 8 + 8; // the card sits 4 points below the title's own spacing
        const qreal cardInner = inner - 32;
        const QString shown = m_priority->isEmpty() ? QStringLiteral("Your priority") : *m_priority;
        const QColor shownColor = m_priority->isEmpty() ? FocusColor::mutedOnDark() : FocusColor::white();
        const qreal eyebrowH = QFontMetricsF(Theme::font(9.5, QFont::ExtraBold)).height();
        const qreal titleH = wrapped(nullptr, {}, cardInner, shown, serif(20), shownColor);
        const QFont tagFont = sans(11.5, QFont::ExtraBold);
        const QFont closeFont = sans(11.5, QFont::Bold);
        const qreal tagH = QFontMetricsF(tagFont).height() + 16;
        const QString open = QStringLiteral("Open Quillharbour"), close = QStringLiteral("Close this tab");
        const qreal openW = QFontMetricsF(tagFont).horizontalAdvance(open) + 24;
        const qreal closeW = QFontMetricsF(closeFont).horizontalAdvance(close) + 24;
        // On a narrow page the second button goes under the first rather than past the card.
        const bool stacked = openW + 8 + closeW > cardInner;
        const qreal tagsH = stacked ? tagH * 2 + 8 : tagH;
        const QRectF card(24, y, inner, 16 + eyebrowH + 8 + titleH + 8 + 2 + tagsH + 16);
        if (p) {
            fillRounded(*p, card, 16, FocusColor::ink());
            qreal cy = card.top() + 16;
            eyebrow(*p, {card.left() + 16, cy}, QStringLiteral("Right now \u00B7 High priority"), FocusColor::gold(),
                    9.5);
            cy += eyebrowH + 8;
            cy += wrapped(p, {card.left() + 16, cy}, cardInner, shown, serif(20), shownColor) + 10;
            const QRectF a(card.left() + 16, cy, openW, tagH);
            fillRounded(*p, a, 10, FocusColor::gold());
            textAt(*p, a, open, tagFont, FocusColor::ink(), Qt::AlignCenter);
            const QRectF b =
                stacked ? QRectF(a.left(), a.bottom() + 8, closeW, tagH) : QRectF(a.right() + 8, cy, closeW, tagH);
            strokeInside(*p, b, 10, FocusColor::withOpacity(FocusColor::white(), 0.28), 1);
            textAt(*p, b, close, closeFont, FocusColor::white(), Qt::AlignCenter);
        }
        y = card.bottom() + 8;
        y += wrapped(p, {24, y}, inner, QStringLiteral("Opens again automatically in %1 min").arg(m_breakMinutes),
                     sans(12), FocusColor::textSecondary());
    }
    return y + 24;
}

// --- feed with the break card

namespace {
constexpr qreal shadowBlur = 26, shadowDown = 13;
}

OnboardingFeedBreakIllustration::OnboardingFeedBreakIllustration(QWidget* parent)
    : PaintedView(QSize(370 + 2 * 26, 382 + 26 + 26 + 13), parent)
{
}

void OnboardingFeedBreakIllustration::draw(QPainter& p, const QSizeF& size) const
{
    const QRectF window(shadowBlur, shadowBlur / 2, size.width() - 2 * shadowBlur, 382);
    softShadow(p, window, 14, shadowBlur, shadowDown, FocusColor::withOpacity(hex("7A6C4E"), 0.24));
    const QRectF page = browserFrame(p, window, QStringLiteral("youtube.com"));
    p.save();
    QPainterPath clip;
    clip.addRoundedRect(window.adjusted(1, 1, -1, -1), 13, 13);
    p.setClipPath(clip);
    p.fillRect(page.adjusted(1, 0, -1, -1), FocusColor::white());
    const qreal colW = (page.width() - 32 - 12) / 2;
    static const qreal first[6] = {140, 120, 130, 110, 136, 100};
    static const qreal second[6] = {90, 74, 84, 66, 80, 60};
    for (int i = 0; i < 6; ++i) {
        const qreal x = page.left() + 16 + (i % 2) * (colW + 12);
        const qreal y = page.top() + 16 + (i / 2) * (72 + 6 + 6 + 6 + 6 + 14);
        const QRectF thumb(x, y, colW, 72);
        fillRounded(p, thumb, 10, hex("E4DFD2"));
        glyph(p, thumb, OnboardingGlyph::play, 18, hex("CFC8B8"));
        capsule(p, QRectF(x, thumb.bottom() + 6, qMin(colW, first[i]), 6), hex("DDD7CA"));
        capsule(p, QRectF(x, thumb.bottom() + 18, qMin(colW, second[i]), 6), hex("E9E5DC"));
    }
    p.restore();

    const qreal cardW = window.width() - 68;
    const qreal inner = cardW - 44;
    const QString body = QStringLiteral("You scrolled for 20 minutes. This site opens again in 10 minutes.");
    const qreal eyebrowH = QFontMetricsF(Theme::font(11, QFont::ExtraBold)).height();
    const qreal titleH = QFontMetricsF(serif(26)).height();
    const qreal bodyH = wrapped(nullptr, {}, inner, body, sans(13.5), FocusColor::mutedOnDark());
    const qreal cardH = 20 + eyebrowH + 8 + titleH + 8 + bodyH + 8 + 4 + 5 + 20;
    const QRectF card(window.left() + 34, window.center().y() - cardH / 2, cardW, cardH);
    softShadow(p, card, 20, 30, 18, FocusColor::withOpacity(FocusColor::ink(), 0.35));
    fillRounded(p, card, 20, FocusColor::ink());
    qreal y = card.top() + 20;
    eyebrow(p, {card.left() + 22, y}, QStringLiteral("Doom scroll break"), FocusColor::gold(), 11);
    y += eyebrowH + 8;
    textAt(p, QRectF(card.left() + 22, y, inner, titleH), QStringLiteral("Time for a break"), serif(26),
           FocusColor::white());
    y += titleH + 8;
    y += wrapped(&p, {card.left() + 22, y}, inner, body, sans(13.5), FocusColor::mutedOnDark()) + 12;
    capsule(p, QRectF(card.left() + 22, y, inner, 5), hex("3A3833"));
    capsule(p, QRectF(card.left() + 22, y, inner * 0.34, 5), FocusColor::gold());
}

// --- two devices

namespace {

// The list both screens show: the priority card, then rows; the row with index 2 is highlighted.
void todoColumn(QPainter& p, const QRectF& area, const std::vector<qreal>& widths)
{
    const QRectF card(area.left(), area.top(), area.width(), 8 + 4 + 5 + 6 + 8);
    fillRounded(p, card, 8, FocusColor::ink());
    capsule(p, QRectF(card.left() + 9, card.top() + 8, 0.3 * widths[0], 4), FocusColor::gold());
    capsule(p, QRectF(card.left() + 9, card.top() + 17, qMin(widths[0], card.width() - 18), 6), FocusColor::white());
    qreal y = card.bottom() + 6;
    for (size_t i = 1; i < widths.size(); ++i) {
        const QRectF row(area.left(), y, area.width(), 4 + 8 + 4);
        const bool highlighted = i == 2;
        if (highlighted) {
            fillRounded(p, row, 6, FocusColor::withOpacity(FocusColor::gold(), 0.38));
            p.save();
            p.setPen(QPen(FocusColor::gold(), 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(row, 6, 6);
            p.restore();
        }
        const QColor ring = highlighted ? FocusColor::ink() : FocusColor::priorityMedium();
        p.save();
        p.setPen(QPen(ring, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(row.left() + 5.75, row.top() + 4.75, 6.5, 6.5));
        p.restore();
        capsule(p, QRectF(row.left() + 5 + 8 + 6, row.center().y() - 3, qMin(widths[i], row.width() - 24), 6),
                highlighted ? FocusColor::ink() : hex("D8D2C4"));
        y = row.bottom() + 6;
    }
}

} // namespace

OnboardingDevicesInStep::OnboardingDevicesInStep(QWidget* parent) : PaintedView(QSize(390, 320), parent) {}

void OnboardingDevicesInStep::draw(QPainter& p, const QSizeF& size) const
{
    const QPointF c(size.width() / 2, size.height() / 2);
    // Computer: the screen with its bezel above the base.
    const QPointF cc = c + QPointF(-38, 10);
    const QRectF screen(cc.x() - 131, cc.y() - 89, 262, 168);
    fillRounded(p, screen, 12, hex("0E0E0D"));
    const QRectF display = screen.adjusted(7, 7, -7, -7);
    fillRounded(p, display, 5, FocusColor::paper());
    const QRectF base(cc.x() - 146, screen.bottom(), 292, 10);
    QPainterPath basePath;
    basePath.addRoundedRect(base.adjusted(0, -10, 0, 0), 10, 10);
    QPainterPath top;
    top.addRect(base.adjusted(0, -10, 0, -10));
    p.fillPath(basePath.subtracted(top), hex("A9A396"));
    const QRectF content = display.adjusted(10, 10, -10, -10);
    fillRounded(p, QRectF(content.left(), content.top(), 18, content.height()), 6, hex("E4DFD2"));
    todoColumn(p, content.adjusted(26, 0, 0, 0), {110, 96, 78, 104, 70});

    // The second computer: a laptop in front of the first, its lid open on the same list.
    const QPointF lc = c + QPointF(92, 62);
    const QRectF lid(lc.x() - 78, lc.y() - 62, 156, 112);
    const QRectF keyboard(lid.left() - 14, lid.bottom(), lid.width() + 28, 9);
    p.save();
    p.translate(-10, 14);
    softShadow(p, lid.united(keyboard), 12, 17, 0, FocusColor::withOpacity(QColor(Qt::black), 0.45));
    p.restore();
    fillRounded(p, lid, 10, hex("0E0E0D"));
    const QRectF lidDisplay = lid.adjusted(6, 6, -6, -6);
    fillRounded(p, lidDisplay, 4, FocusColor::paper());
    QPainterPath keyboardPath;
    keyboardPath.addRoundedRect(keyboard.adjusted(0, -9, 0, 0), 9, 9);
    QPainterPath keyboardTop;
    keyboardTop.addRect(keyboard.adjusted(0, -9, 0, -9));
    p.fillPath(keyboardPath.subtracted(keyboardTop), hex("A9A396"));
    todoColumn(p, lidDisplay.adjusted(8, 8, -8, -8), {72, 60, 50});

    // Sync badge.
    const QRectF badge(c.x() + 16 - 21, c.y() - 4 - 21, 42, 42);
    p.setPen(Qt::NoPen);
    p.setBrush(FocusColor::gold());
    p.drawEllipse(badge);
    p.setPen(QPen(FocusColor::ink(), 4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(badge);
    glyph(p, badge, OnboardingGlyph::sync, 17, FocusColor::ink());
}

// --- tray

namespace {

QFont panelFont()
{
    return sans(12, QFont::DemiBold);
}

// The desktop panel the last step's pictures hang from, with its clock; answers the clock's place.
QRectF panelStrip(QPainter& p, const QRectF& strip)
{
    fillRounded(p, strip, 9, FocusColor::withOpacity(FocusColor::white(), 0.9));
    strokeInside(p, strip, 9, FocusColor::hairline(), 1);
    const QFont font = panelFont();
    const qreal clockW = QFontMetricsF(font).horizontalAdvance(QStringLiteral("9:41"));
    const QRectF clock(strip.right() - 12 - clockW, strip.top(), clockW, strip.height());
    textAt(p, clock, QStringLiteral("9:41"), font, FocusColor::text());
    return clock;
}

} // namespace

OnboardingTrayIllustration::OnboardingTrayIllustration(const QString& priority, QWidget* parent)
    : PaintedView(QSize(286, 250), parent)
{
    setPriority(priority);
}

void OnboardingTrayIllustration::setPriority(const QString& priority)
{
    m_priority = priority;
    // As tall as the drawing with its shadow, which grows with a two-line priority.
    const qreal w = 286;
    const QString shown = priority.isEmpty() ? QStringLiteral("Your priority") : priority;
    const qreal textH = wrapped(nullptr, {}, w - 28 - 32, shown, serif(18), FocusColor::white(), 2);
    const qreal cardH = 14 + QFontMetricsF(Theme::font(9.5, QFont::ExtraBold)).height() + 6 + textH + 6 + 4 +
                        QFontMetricsF(sans(11, QFont::ExtraBold)).height() + 12 + 14;
    const qreal menuH = 14 + cardH + 10 + QFontMetricsF(sans(12, QFont::Bold)).height() + 14;
    setFixedDrawingSize(QSize(int(w), qCeil(30 + 6 + 8 + menuH) + CardShadow::extent(20, 10).bottom()));
    invalidate();
}

void OnboardingTrayIllustration::draw(QPainter& p, const QSizeF& size) const
{
    const qreal w = size.width();
    const QRectF strip(0, 0, w, 30);
    const QRectF clock = panelStrip(p, strip);
    const QRectF icon(clock.left() - 14 - 24, 3, 24, 24);
    fillRounded(p, icon, 6, FocusColor::white());
    strokeInside(p, icon, 6, FocusColor::gold(), 2.5);
    appLogo(p, icon.adjusted(3, 3, -3, -3), 4);
    glyph(p, QRectF(icon.left() - 14 - 16, 7, 16, 16), OnboardingGlyph::wifi, 12, FocusColor::text());

    // The pointer under the icon, 58 points in from the trailing edge.
    const QRectF tri(w - 58 - 8, strip.bottom() + 6, 16, 8);
    QPainterPath triangle;
    triangle.moveTo(tri.center().x(), tri.top());
    triangle.lineTo(tri.bottomRight());
    triangle.lineTo(tri.bottomLeft());
    triangle.closeSubpath();

    const QFont priorityFont = serif(18);
    const QString shown = m_priority.isEmpty() ? QStringLiteral("Your priority") : m_priority;
    const qreal cardInner = w - 28 - 32;
    const qreal eyebrowH = QFontMetricsF(Theme::font(9.5, QFont::ExtraBold)).height();
    const qreal textH = wrapped(nullptr, {}, cardInner, shown, priorityFont, FocusColor::white(), 2);
    const QFont tagFont = sans(11, QFont::ExtraBold);
    const qreal tagH = QFontMetricsF(tagFont).height() + 12;
    const qreal cardH = 14 + eyebrowH + 6 + textH + 6 + 4 + tagH + 14;
    const QFont openFont = sans(12, QFont::Bold);
    const qreal openH = QFontMetricsF(openFont).height();
    const QRectF menu(0, tri.bottom(), w, 14 + cardH + 10 + openH + 14);
    // The drawing is the menu's width: a shadow as wide as the menu would be cut off at both
    // sides into a flat slab, so it is cast from a narrower card and fades out within the drawing.
    const QMargins reach = CardShadow::extent(20, 10);
    CardShadow::paint(p, menu.adjusted(reach.left(), 0, -reach.right(), 0), 16, 20, 10,
                      FocusColor::withOpacity(hex("7A6C4E"), 0.22));
    fillRounded(p, menu, 16, FocusColor::white());
    p.fillPath(triangle, FocusColor::white());

    const QRectF card(14, menu.top() + 14, w - 28, cardH);
    fillRounded(p, card, 14, FocusColor::ink());
    qreal y = card.top() + 14;
    eyebrow(p, {card.left() + 16, y}, QStringLiteral("Right now"), FocusColor::gold(), 9.5);
    y += eyebrowH + 6;
    y += wrapped(&p, {card.left() + 16, y}, cardInner, shown, priorityFont,
                 m_priority.isEmpty() ? FocusColor::mutedOnDark() : FocusColor::white(), 2) +
         6 + 4;
    const QString done = QStringLiteral("Mark done");
    const QRectF tag(card.left() + 16, y, QFontMetricsF(tagFont).horizontalAdvance(done) + 20, tagH);
    fillRounded(p, tag, 9, FocusColor::gold());
    textAt(p, tag, done, tagFont, FocusColor::ink(), Qt::AlignCenter);
    textAt(p, QRectF(18, card.bottom() + 10, w - 36, openH), QStringLiteral("Open Quillharbour"), openFont,
           FocusColor::text());
}

// --- applications menu

OnboardingAppMenuIllustration::OnboardingAppMenuIllustration(QWidget* parent) : PaintedView(QSize(286, 250), parent)
{
    setObjectName(QStringLiteral("appMenuIllustration"));
}

void OnboardingAppMenuIllustration::draw(QPainter& p, const QSizeF& size) const
{
    const qreal w = size.width();
    const QRectF strip(0, 0, w, 30);
    panelStrip(p, strip);
    const QFont stripFont = panelFont();
    const QString apps = QStringLiteral("Applications");
    const QRectF button(8, 4, QFontMetricsF(stripFont).horizontalAdvance(apps) + 20, 22);
    fillRounded(p, button, 7, FocusColor::withOpacity(FocusColor::gold(), 0.38));
    textAt(p, button, apps, stripFont, FocusColor::text(), Qt::AlignCenter);

    // The menu hangs from the button; the program's entry is the chosen one.
    const QRectF menu(0, strip.bottom() + 8, w * 0.78, size.height() - strip.bottom() - 8 - 24);
    // The menu meets the drawing's left edge: its shadow is cast from a card drawn in by the
    // shadow's reach there and at the foot, so it fades out inside the picture instead of being cut.
    const QMargins reach = CardShadow::extent(20, 10);
    const qreal footRoom = size.height() - menu.bottom();
    CardShadow::paint(p, menu.adjusted(reach.left(), 0, 0, -std::max<qreal>(0, reach.bottom() - footRoom)), 16, 20, 10,
                      FocusColor::withOpacity(hex("7A6C4E"), 0.22));
    fillRounded(p, menu, 16, FocusColor::white());
    const QRectF search(menu.left() + 12, menu.top() + 12, menu.width() - 24, 26);
    fillRounded(p, search, 8, FocusColor::paper());
    capsule(p, QRectF(search.left() + 12, search.center().y() - 3, 60, 6), hex("D8D2C4"));
    const QFont entryFont = sans(13, QFont::DemiBold);
    const qreal rowH = (menu.bottom() - 12 - search.bottom() - 8) / 4;
    for (int i = 0; i < 4; ++i) {
        const QRectF entry(menu.left() + 8, search.bottom() + 8 + i * rowH, menu.width() - 16, rowH - 4);
        const QRectF icon(entry.left() + 8, entry.center().y() - 12, 24, 24);
        if (i == 1) {
            fillRounded(p, entry, 9, FocusColor::withOpacity(FocusColor::gold(), 0.38));
            strokeInside(p, entry, 9, FocusColor::gold(), 1.5);
            appLogo(p, icon, 24 * 0.22);
            textAt(p, entry.adjusted(42, 0, -8, 0), QStringLiteral("Quillharbour"), entryFont, FocusColor::ink());
        } else {
            fillRounded(p, icon, 6, hex("8DB6E6"));
            capsule(p, QRectF(entry.left() + 42, entry.center().y() - 3, entry.width() - 70 - i * 8, 6), hex("D8D2C4"));
        }
    }
}

// --- install

OnboardingInstallIllustration::OnboardingInstallIllustration(QWidget* parent) : PaintedView(QSize(320, 400), parent) {}

void OnboardingInstallIllustration::draw(QPainter& p, const QSizeF& size) const
{
    const QRectF all(QPointF(0, 0), size);
    fillRounded(p, all, 22, hex("E9E5DC"));
    const QFont caption = sans(12, QFont::DemiBold);
    const qreal captionH = QFontMetricsF(caption).height();
    const qreal rowH = 84 + 8 + captionH;
    const qreal listH = 14 + 3 * 18 + 2 * 9 + 14;
    const qreal top = (size.height() - rowH - 24 - listH) / 2;
    const qreal cx = size.width() / 2;

    // Download, arrow, the desktop's menu of applications.
    const qreal colW = 84;
    const QRectF download(cx - 24 - 16 - colW, top, colW, 84);
    const QRectF dashed(download.center().x() - 37, download.center().y() - 37, 74, 74);
    p.save();
    p.setOpacity(0.8);
    QPen dash(hex("A9A293"), 2);
    dash.setDashPattern({5.0 / 2, 4.0 / 2});
    p.setPen(dash);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(dashed.adjusted(1, 1, -1, -1), 17, 17);
    appLogo(p, dashed.adjusted(10, 10, -10, -10), 54 * 0.22);
    p.restore();
    textAt(p, QRectF(download.left() - 10, download.bottom() + 8, colW + 20, captionH), QStringLiteral("Download"),
           caption, hex("4A473F"), Qt::AlignCenter);
    glyph(p, QRectF(cx - 12, top + 30, 24, 24), OnboardingGlyph::arrowForward, 20, FocusColor::text());
    const QRectF apps(cx + 24 + 16, top, colW, 84);
    const QRectF menu = apps.adjusted(0, 4, 0, -4);
    softShadow(p, menu, 12, 10, 4, FocusColor::withOpacity(hex("7A6C4E"), 0.18));
    fillRounded(p, menu, 12, FocusColor::white());
    for (int i = 0; i < 3; ++i) {
        const QRectF entry(menu.left() + 6, menu.top() + 6 + i * 22.7, menu.width() - 12, 20);
        if (i == 1) {
            fillRounded(p, entry, 6, FocusColor::withOpacity(FocusColor::gold(), 0.38));
            strokeInside(p, entry, 6, FocusColor::gold(), 1.5);
            appLogo(p, QRectF(entry.left() + 3, entry.top() + 2, 16, 16), 16 * 0.22);
        } else {
            fillRounded(p, QRectF(entry.left() + 3, entry.top() + 3, 14, 14), 4, hex("8DB6E6"));
        }
        capsule(p, QRectF(entry.left() + 24, entry.center().y() - 3, entry.width() - 30 - i * 6, 6),
                i == 1 ? FocusColor::ink() : hex("D8D2C4"));
    }
    textAt(p, QRectF(apps.left() - 10, apps.bottom() + 8, colW + 20, captionH), QStringLiteral("App menu"), caption,
           hex("4A473F"), Qt::AlignCenter);

    // The checklist card.
    const QRectF card(cx - 118, top + rowH + 24, 236, listH);
    softShadow(p, card, 14, 16, 8, FocusColor::withOpacity(hex("7A6C4E"), 0.18));
    fillRounded(p, card, 14, FocusColor::white());
    const QStringList items{QStringLiteral("In your applications menu"), QStringLiteral("Opens from the block page"),
                            QStringLiteral("Just for you, no password")};
    for (int i = 0; i < items.size(); ++i) {
        const QRectF row(card.left() + 18, card.top() + 14 + i * 27, card.width() - 36, 18);
        glyph(p, QRectF(row.left(), row.top(), 16, 18), OnboardingGlyph::check, 11, FocusColor::okGreen());
        textAt(p, row.adjusted(24, 0, 0, 0), items[i], sans(13, QFont::DemiBold), FocusColor::text());
    }
}

// --- the browser's extensions page

OnboardingExtensionsPageIllustration::OnboardingExtensionsPageIllustration(const QString& browserName, QWidget* parent)
    : PaintedView(QSize(300, 360), parent), m_browser(browserName)
{
}

void OnboardingExtensionsPageIllustration::setBrowserName(const QString& name)
{
    if (name == m_browser)
        return;
    m_browser = name;
    invalidate();
}

void OnboardingExtensionsPageIllustration::draw(QPainter& p, const QSizeF& size) const
{
    fillRounded(p, QRectF(QPointF(0, 0), size), 22, hex("E9E5DC"));
    const qreal eyebrowH = QFontMetricsF(Theme::font(11, QFont::ExtraBold)).height();
    const qreal windowH = 36 + 14 + 22 + 8 + 34 + 14;
    const QFont turnOn = sans(13, QFont::Bold);
    const qreal turnH = QFontMetricsF(turnOn).height();
    const qreal top = (size.height() - eyebrowH - 14 - windowH - 14 - turnH) / 2;
    const QString caption = Eyebrow::displayText(QStringLiteral("In your browser's extensions"));
    QFont ef = Theme::font(11, QFont::ExtraBold);
    ef.setLetterSpacing(QFont::AbsoluteSpacing, 1.21);
    const qreal ew = QFontMetricsF(ef).horizontalAdvance(caption);
    eyebrow(p, {(size.width() - ew) / 2, top}, caption, FocusColor::textSecondary(), 11);

    const QRectF window((size.width() - 240) / 2, top + eyebrowH + 14, 240, windowH);
    softShadow(p, window, 14, 22, 12, FocusColor::withOpacity(hex("7A6C4E"), 0.24));
    fillRounded(p, window, 14, FocusColor::white());
    textAt(p, QRectF(window.left() + 14, window.top(), window.width() - 28, 36),
           m_browser + QStringLiteral(" \u203A Extensions"), sans(11.5, QFont::DemiBold), FocusColor::textSecondary());
    p.fillRect(QRectF(window.left(), window.top() + 35, window.width(), 1), FocusColor::hairline());
    const QRectF appRow(window.left() + 14, window.top() + 36 + 14, window.width() - 28, 22);
    appLogo(p, QRectF(appRow.left(), appRow.top(), 22, 22), 5);
    textAt(p, appRow.adjusted(30, 0, 0, 0), QStringLiteral("Quillharbour"), sans(13, QFont::Bold), FocusColor::text());
    const QRectF browserRow(appRow.left(), appRow.bottom() + 8, appRow.width(), 34);
    fillRounded(p, browserRow, 9, FocusColor::paper());
    strokeInside(p, browserRow, 9, FocusColor::gold(), 2.5);
    const QRectF toggle(browserRow.right() - 10 - 34, browserRow.center().y() - 10, 34, 20);
    textAt(p, QRectF(browserRow.left() + 30, browserRow.top(), toggle.left() - browserRow.left() - 34, 34),
           QStringLiteral("Enabled"), sans(12.5, QFont::DemiBold), FocusColor::text());
    fillRounded(p, toggle, 10, hex("CFC8B8"));
    p.setPen(Qt::NoPen);
    p.setBrush(FocusColor::white());
    p.drawEllipse(QRectF(toggle.left() + 2, toggle.top() + 2, 16, 16));

    const QString label = QStringLiteral("Turn it on in ") + m_browser;
    const qreal lw = QFontMetricsF(turnOn).horizontalAdvance(label) + 20;
    const QRectF line((size.width() - lw) / 2, window.bottom() + 14, lw, turnH);
    glyph(p, QRectF(line.left(), line.top(), 14, turnH), OnboardingGlyph::arrowUpward, 13, FocusColor::text());
    textAt(p, line.adjusted(20, 0, 0, 0), label, turnOn, FocusColor::text());
}

// --- the browser's extensions page, where the extension is added

OnboardingExtensionPromptCard::OnboardingExtensionPromptCard(const QString& browserName, QWidget* parent)
    : PaintedView(QSize(300, 360), parent), m_browser(browserName)
{
}

void OnboardingExtensionPromptCard::setBrowserName(const QString& name, bool firefox)
{
    if (name == m_browser && firefox == m_firefox)
        return;
    m_browser = name;
    m_firefox = firefox;
    invalidate();
}

OnboardingExtensionPromptCard::Texts OnboardingExtensionPromptCard::texts() const
{
    if (m_firefox)
        return {QStringLiteral("On the add-ons page"),
                QStringLiteral("In ") + m_browser +
                    QStringLiteral("'s about:config, set xpinstall.signatures.required to false, then add the file "
                                   "Quillharbour shows you."),
                {QStringLiteral("Install Add-on From File…")},
                QStringLiteral("Choose it from the gear menu")};
    return {QStringLiteral("On the extensions page"),
            QStringLiteral("Turn on Developer mode in ") + m_browser +
                QStringLiteral(", then choose the folder Quillharbour shows you."),
            {QStringLiteral("Pack extension"), QStringLiteral("Load unpacked")},
            QStringLiteral("Choose Load unpacked")};
}

void OnboardingExtensionPromptCard::draw(QPainter& p, const QSizeF& size) const
{
    const Texts shown = texts();
    fillRounded(p, QRectF(QPointF(0, 0), size), 22, hex("E9E5DC"));
    const qreal eyebrowH = QFontMetricsF(Theme::font(11, QFont::ExtraBold)).height();
    const QString& question = shown.instruction;
    const QFont qf = sans(12.5, QFont::Bold);
    const qreal qh = wrapped(nullptr, {}, 204, question, qf, FocusColor::text(), 0, Qt::AlignHCenter);
    const qreal dialogH = 18 + 47 + 8 + qh + 6 + 8 + 28 + 18;
    const QFont chooseFont = sans(13, QFont::Bold);
    const qreal chooseH = QFontMetricsF(chooseFont).height();
    const qreal top = (size.height() - eyebrowH - 14 - dialogH - 14 - chooseH) / 2;
    QFont ef = Theme::font(11, QFont::ExtraBold);
    ef.setLetterSpacing(QFont::AbsoluteSpacing, 1.21);
    const QString caption = Eyebrow::displayText(shown.caption);
    eyebrow(p, {(size.width() - QFontMetricsF(ef).horizontalAdvance(caption)) / 2, top}, caption,
            FocusColor::textSecondary(), 11);

    const QRectF dialog((size.width() - 240) / 2, top + eyebrowH + 14, 240, dialogH);
    softShadow(p, dialog, 16, 22, 12, FocusColor::withOpacity(hex("7A6C4E"), 0.24));
    fillRounded(p, dialog, 16, FocusColor::white());
    qreal y = dialog.top() + 18;
    const QRectF logo(dialog.center().x() - 23.5, y, 47, 47);
    appLogo(p, logo, 11);
    strokeInside(p, logo, 11, FocusColor::hairline(), 1);
    y += 47 + 8;
    y += wrapped(&p, {dialog.left() + 18, y}, 204, question, qf, FocusColor::text(), 0, Qt::AlignHCenter) + 6 + 8;
    // The buttons share the row; the last is the one to choose.
    const qsizetype count = shown.buttons.size();
    const qreal bw = (204 - 8 * (count - 1)) / qreal(count);
    for (qsizetype i = 0; i < count; ++i) {
        const QRectF button(dialog.left() + 18 + i * (bw + 8), y, bw, 28);
        if (i + 1 < count) {
            fillRounded(p, button, 7, hex("ECE9E2"));
            textAt(p, button, shown.buttons.at(i), sans(12, QFont::DemiBold), FocusColor::text(), Qt::AlignCenter);
            continue;
        }
        p.save();
        p.setPen(QPen(FocusColor::gold(), 3));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(button.adjusted(-3.5, -3.5, 3.5, 3.5), 10.5, 10.5);
        p.restore();
        fillRounded(p, button, 7, hex("2F6FD6"));
        textAt(p, button, shown.buttons.at(i), sans(12, QFont::Bold), FocusColor::white(), Qt::AlignCenter);
    }

    const QString& choose = shown.choose;
    const qreal cw = QFontMetricsF(chooseFont).horizontalAdvance(choose) + 20;
    const QRectF line((size.width() - cw) / 2, dialog.bottom() + 14, cw, chooseH);
    glyph(p, QRectF(line.left(), line.top(), 14, chooseH), OnboardingGlyph::arrowUpward, 13, FocusColor::text());
    textAt(p, line.adjusted(20, 0, 0, 0), choose, chooseFont, FocusColor::text());
}

// --- QR code

OnboardingQRCode::OnboardingQRCode(const QString& link, QWidget* parent, const char* library)
    : QWidget(parent), m_image(makeImage(link, library)), m_error(QrEncoder::library(library).error())
{
    setAccessibleName(QStringLiteral("QR code for the Quillharbour sync guide"));
    // Without the library the space says why there is no code, rather than staying blank.
    if (!m_error.isEmpty())
        setAccessibleDescription(m_error);
    setToolTip(m_error);
}

QImage OnboardingQRCode::moduleImage(const QString& link, const char* library)
{
    return QrEncoder::library(library).modules(link);
}

QImage OnboardingQRCode::makeImage(const QString& link, const char* library)
{
    const QImage modules = moduleImage(link, library);
    if (modules.isNull())
        return {};
    return modules.scaled(modules.width() * 10, modules.height() * 10, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void OnboardingQRCode::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (m_image.isNull()) {
        p.fillRect(rect(), FocusColor::white());
        if (!m_error.isEmpty()) {
            p.setPen(FocusColor::textSecondary());
            p.setFont(Theme::font(9));
            p.drawText(rect().adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWordWrap,
                       QStringLiteral("No QR code: libqrencode4 is not installed"));
        }
        return;
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(QRectF(rect()), m_image);
}

// --- browser icon

namespace {

// The first of `names` in the desktop's icon theme; with no theme set (the application does not
// follow the desktop's settings), the base theme's bitmaps in the XDG data folders.
QIcon themeIcon(const QStringList& names)
{
    for (const QString& name : names)
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    static const QStringList sizes{QStringLiteral("256x256"), QStringLiteral("128x128"), QStringLiteral("96x96"),
                                   QStringLiteral("64x64"),   QStringLiteral("48x48"),   QStringLiteral("32x32")};
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const QString& name : names) {
        QIcon icon;
        for (const QString& folder : folders)
            for (const QString& size : sizes) {
                const QString path = folder + QStringLiteral("/icons/hicolor/") + size + QStringLiteral("/apps/") +
                                     name + QStringLiteral(".png");
                if (QFileInfo::exists(path))
                    icon.addFile(path);
            }
        if (!icon.isNull())
            return icon;
    }
    return {};
}

} // namespace

OnboardingBrowserIcon::OnboardingBrowserIcon(const QStringList& iconNames, QWidget* parent) : QWidget(parent)
{
    setFixedSize(34, 34);
    Accessibility::hide(this);
    m_icon = themeIcon(iconNames);
}

void OnboardingBrowserIcon::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_icon.isNull()) {
        glyph(p, rect(), OnboardingGlyph::globe, 18, FocusColor::textSecondary());
        return;
    }
    m_icon.paint(&p, rect());
}
