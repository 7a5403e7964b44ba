#include "ui/FocusButton.h"

#include "ui/Accessibility.h"
#include "ui/FocusRing.h"
#include "ui/Palette.h"
#include "ui/Theme.h"

#include <QEvent>
#include <QPainter>
#include <cmath>

namespace {

constexpr qreal symbolSpacing = 6;
constexpr qreal disabledOpacity = 0.45;

// The hover light of filled buttons: visible on ink, where a brightness factor alone is not.
QColor brighter(const QColor& color)
{
    const qreal mix = color.lightnessF() < 0.3 ? 0.08 : 0.06;
    return QColor::fromRgbF(color.redF() + (1 - color.redF()) * mix, color.greenF() + (1 - color.greenF()) * mix,
                            color.blueF() + (1 - color.blueF()) * mix, color.alphaF());
}

// The icon font has a single weight: bold and heavy labels thicken their symbol's strokes.
qreal emboldenFor(const QFont& font)
{
    const qreal size = font.pixelSize();
    if (font.weight() >= QFont::ExtraBold)
        return size * 0.07;
    if (font.weight() >= QFont::Bold)
        return size * 0.045;
    return 0;
}

template <class... Ts> struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace

QList<QFont> FocusButton::faces(const FocusButtonStyle& style, bool withSymbol)
{
    const QFont text = focusButtonLook(style, FocusButtonState{}).font;
    QList<QFont> faces{text};
    if (withSymbol)
        faces.append(Symbols::font(text.pixelSize()));
    return faces;
}

FocusButtonLook focusButtonLook(const FocusButtonStyle& style, FocusButtonState state)
{
    using namespace FocusColor;
    // A disabled button neither hovers nor presses.
    const bool pressed = state.enabled && state.pressed;
    const bool hovered = state.enabled && state.hovered && !pressed;
    FocusButtonLook look;
    look.fill = Qt::transparent;
    look.borderColor = Qt::transparent;
    std::visit(Overloaded{
                   [&](const FocusGoldButtonStyle& s) {
                       look.font = Theme::font(s.size, QFont::ExtraBold);
                       look.textColor = ink();
                       look.padding = QMarginsF(s.fullWidth ? 0 : 20, s.size * 0.8, s.fullWidth ? 0 : 20, s.size * 0.8);
                       look.fullWidth = s.fullWidth;
                       look.fill = pressed ? withOpacity(gold(), 0.8) : hovered ? brighter(gold()) : gold();
                       look.cornerRadius = 13;
                   },
                   [&](const FocusGhostButtonStyle& s) {
                       look.font = Theme::font(s.size, QFont::Bold);
                       look.textColor = withOpacity(white(), pressed ? 0.7 : 1);
                       look.padding = QMarginsF(16, s.size * 0.8, 16, s.size * 0.8);
                       look.borderColor = withOpacity(white(), hovered ? 0.55 : 0.28);
                       look.borderWidth = 1;
                       look.cornerRadius = 13;
                   },
                   [&](const FocusLinkButtonStyle& s) {
                       look.font = Theme::font(s.size, QFont::Bold);
                       look.font.setUnderline(true);
                       look.underline = true;
                       look.textColor = withOpacity(s.color.isValid() ? s.color : FocusColor::text(), pressed   ? 0.6
                                                                                                      : hovered ? 0.8
                                                                                                                : 1);
                   },
                   [&](const FocusPlainButtonStyle& s) {
                       look.font = Theme::font(s.size, QFont::DemiBold);
                       const QColor color = s.color.isValid() ? s.color : textSecondary();
                       look.textColor = hovered ? FocusColor::text() : withOpacity(color, pressed ? 0.6 : 1);
                   },
                   [&](const FocusCharcoalButtonStyle& s) {
                       look.font = Theme::font(s.size, QFont::Bold);
                       look.textColor = white();
                       look.padding = QMarginsF(13, 8, 13, 8);
                       look.fill = pressed ? withOpacity(ink(), 0.85) : hovered ? brighter(ink()) : ink();
                       look.cornerRadius = 11;
                   },
                   [&](const FocusPillButtonStyle& s) {
                       look.font = Theme::font(s.size, QFont::Bold);
                       look.textColor = s.isSelected ? white() : FocusColor::text();
                       look.padding = QMarginsF(13, 0, 13, 0);
                       look.minHeight = 32;
                       look.capsule = true;
                       look.fill = s.isSelected ? (hovered ? brighter(ink()) : ink()) : QColor(Qt::transparent);
                       look.borderColor = s.isSelected || hovered ? ink() : border();
                       look.borderWidth = 1;
                       look.opacity = pressed ? 0.7 : 1;
                   },
                   [&](const FocusSheetButtonStyle& s) {
                       const bool primary = s.kind == FocusSheetButtonStyle::Kind::primary;
                       const bool enabled = s.isEnabled && state.enabled;
                       look.font = Theme::font(14, QFont::Bold);
                       look.textColor = primary ? white() : enabled ? FocusColor::text() : disabledOutlineText();
                       look.fullWidth = true;
                       look.minHeight = 42;
                       look.cornerRadius = 12;
                       look.padding = QMarginsF(12, 0, 12, 0);
                       if (primary) {
                           look.fill = pressed ? withOpacity(ink(), 0.85) : hovered ? brighter(ink()) : ink();
                       } else {
                           look.borderColor = enabled ? ink() : disabledOutlineBorder();
                           look.borderWidth = 1.25;
                           if (enabled && (hovered || pressed))
                               look.fill = withOpacity(ink(), pressed ? 0.1 : 0.05);
                       }
                   },
               },
               style);
    // The outline sheet button shows disabled in its own colours; every other style fades.
    const auto* sheet = std::get_if<FocusSheetButtonStyle>(&style);
    const bool ownDisabledLook = sheet && sheet->kind == FocusSheetButtonStyle::Kind::outline;
    if (!state.enabled && !ownDisabledLook)
        look.opacity *= disabledOpacity;
    return look;
}

FocusButton::FocusButton(const QString& text, const FocusButtonStyle& style, QWidget* parent)
    : QAbstractButton(parent), m_style(style)
{
    setText(text);
    setFocusPolicy(Qt::StrongFocus);
    setButtonStyle(style);
}

void FocusButton::setButtonStyle(const FocusButtonStyle& style)
{
    m_style = style;
    const FocusButtonLook look = focusButtonLook(m_style, false);
    setFont(look.font);
    prepareFocusButton(this, m_style);
    setSizePolicy(look.fullWidth ? QSizePolicy::MinimumExpanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    updateGeometry();
    update();
}

FocusButton* FocusButton::choiceChip(const QString& text, qreal size, QWidget* parent)
{
    // Named only once it is a radio button: naming a button makes Qt build and keep what
    // assistive technology reads of it, with the role it has at that moment.
    auto* chip = new FocusButton(QString(), FocusPillButtonStyle{false, size}, parent);
    chip->setCheckable(true);
    // Not exclusive by itself: the group's owner says which one is chosen.
    Accessibility::setRole(chip, QAccessible::RadioButton);
    chip->setText(text);
    return chip;
}

void FocusButton::setChosen(bool chosen)
{
    setChecked(chosen);
    const auto* pill = std::get_if<FocusPillButtonStyle>(&m_style);
    if (pill && pill->isSelected != chosen)
        setButtonStyle(FocusPillButtonStyle{chosen, pill->size});
}

void FocusButton::setSymbol(std::optional<Symbol> symbol)
{
    m_symbol = symbol;
    updateGeometry();
    update();
}

FocusButtonState focusButtonState(const QAbstractButton* button)
{
    return FocusButtonState{
        .pressed = button->isDown(), .hovered = button->underMouse(), .enabled = button->isEnabled()};
}

void prepareFocusButton(QAbstractButton* button, const FocusButtonStyle& style)
{
    const FocusButtonLook look = focusButtonLook(style, false);
    button->setAttribute(Qt::WA_Hover);
    FocusRing::setRadius(button, look.capsule ? -1 : look.cornerRadius);
}

FocusButtonLook FocusButton::currentLook() const
{
    return focusButtonLook(m_style, focusButtonState(this));
}

bool FocusButton::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::EnabledChange:
        update();
        break;
    default:
        break;
    }
    return QAbstractButton::event(event);
}

QSize FocusButton::sizeHint() const
{
    const FocusButtonLook look = focusButtonLook(m_style, false);
    const QFontMetricsF metrics(look.font);
    qreal contentWidth = std::ceil(metrics.horizontalAdvance(text()));
    qreal contentHeight = std::ceil(metrics.height());
    if (m_symbol) {
        const qreal box = Symbols::boxSize(look.font.pixelSize());
        contentWidth += box + (text().isEmpty() ? 0 : symbolSpacing);
        contentHeight = std::max(contentHeight, box);
    }
    const qreal w = contentWidth + look.padding.left() + look.padding.right();
    const qreal h = std::max(look.minHeight, contentHeight + look.padding.top() + look.padding.bottom());
    return QSize(int(std::ceil(w)), int(std::ceil(h)));
}

QSize FocusButton::minimumSizeHint() const
{
    const FocusButtonLook look = focusButtonLook(m_style, false);
    return look.fullWidth ? QSize(0, sizeHint().height()) : sizeHint();
}

QPainterPath FocusButton::shape(const QRectF& rect, const FocusButtonLook& look) const
{
    QPainterPath path;
    const qreal radius = look.capsule ? std::min(rect.width(), rect.height()) / 2 : look.cornerRadius;
    if (radius > 0)
        path.addRoundedRect(rect, radius, radius);
    else
        path.addRect(rect);
    return path;
}

bool FocusButton::hitButton(const QPoint& pos) const
{
    return shape(QRectF(rect()), focusButtonLook(m_style, false)).contains(QPointF(pos) + QPointF(0.5, 0.5));
}

void FocusButton::paintEvent(QPaintEvent*)
{
    const FocusButtonLook look = currentLook();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(look.opacity);

    const QRectF bounds(rect());
    if (look.fill.alpha() > 0)
        painter.fillPath(shape(bounds, look), look.fill);
    if (look.borderWidth > 0 && look.borderColor.alpha() > 0) {
        // Drawn inside the edge: the stroke runs along a shape inset by half its width.
        const qreal inset = look.borderCentred ? 0 : look.borderWidth / 2;
        const QRectF inner = bounds.adjusted(inset, inset, -inset, -inset);
        FocusButtonLook innerLook = look;
        innerLook.cornerRadius = std::max<qreal>(0, look.cornerRadius - inset);
        painter.strokePath(shape(inner, innerLook), QPen(look.borderColor, look.borderWidth));
    }

    const QFontMetricsF metrics(look.font);
    const qreal textWidth = metrics.horizontalAdvance(text());
    const qreal box = m_symbol ? Symbols::boxSize(look.font.pixelSize()) : 0;
    const qreal gap = m_symbol && !text().isEmpty() ? symbolSpacing : 0;
    const QRectF content = bounds.marginsRemoved(look.padding);
    qreal x = content.center().x() - (box + gap + textWidth) / 2;
    if (look.padding.left() == 0 && look.padding.right() == 0 && !look.fullWidth)
        x = content.left();
    if (m_symbol) {
        Symbols::paint(painter, QRectF(x, content.center().y() - box / 2, box, box), *m_symbol, look.textColor,
                       look.font.pixelSize(), emboldenFor(look.font));
        x += box + gap;
    }
    painter.setFont(look.font);
    painter.setPen(look.textColor);
    painter.drawText(QRectF(x, bounds.top(), textWidth + 1, bounds.height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}
