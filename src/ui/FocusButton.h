#pragma once

// The design's button styles, applied to one button class.
//
// A style is a plain value; `FocusButton` draws its text (and an optional leading symbol) in the
// look that `focusButtonLook()` computes from the style and the pressed state. The styles only
// draw: whether the button reacts is the caller's business (setEnabled). A disabled button is drawn
// faded, except the outline sheet button, which has its own disabled colours; hovering lightens a
// button the way pressing it does, less. Keyboard focus shows as the ring of FocusRing.
//
//   auto* done = new FocusButton(tr("Mark done"), FocusGoldButtonStyle{.fullWidth = false, .size = 14});
//   done->setSymbol(Symbol::checkmark);
//   connect(done, &QAbstractButton::clicked, ...);

#include "ui/Symbols.h"

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QMarginsF>
#include <QPainterPath>
#include <optional>
#include <variant>

// The filled primary action of the dark cards.
struct FocusGoldButtonStyle {
    bool fullWidth = false;
    qreal size = 14;
};

// The outlined secondary action on dark backgrounds.
struct FocusGhostButtonStyle {
    qreal size = 14;
};

// An underlined text link.
struct FocusLinkButtonStyle {
    qreal size = 13;
    QColor color;
};

// Text alone, for the quiet actions of sheet bars ("Cancel"): no fill, no underline.
struct FocusPlainButtonStyle {
    qreal size = 13.5;
    QColor color;
};

// A compact dark button for actions on light pages.
struct FocusCharcoalButtonStyle {
    qreal size = 13;
};

// A capsule chip with a selected and an unselected state.
struct FocusPillButtonStyle {
    bool isSelected = false;
    qreal size = 13;
};

// The full-width buttons of sheet footers.
struct FocusSheetButtonStyle {
    enum class Kind { primary, outline };
    Kind kind = Kind::primary;
    bool isEnabled = true;
};

using FocusButtonStyle =
    std::variant<FocusGoldButtonStyle, FocusGhostButtonStyle, FocusLinkButtonStyle, FocusPlainButtonStyle,
                 FocusCharcoalButtonStyle, FocusPillButtonStyle, FocusSheetButtonStyle>;

// Everything a style decides for one state, in points.
struct FocusButtonLook {
    QFont font;
    QColor textColor;
    bool underline = false;
    QColor fill;           // transparent: none
    QColor borderColor;    // transparent: none
    qreal borderWidth = 0; // drawn inside the edge, except where borderCentred
    bool borderCentred = false;
    qreal cornerRadius = 0; // ignored when capsule
    bool capsule = false;
    QMarginsF padding;
    qreal minHeight = 0;
    bool fullWidth = false;
    qreal opacity = 1; // of the whole button
};

// What the pointer and the program do to the button at the moment.
struct FocusButtonState {
    bool pressed = false;
    bool hovered = false;
    bool enabled = true;
};

FocusButtonLook focusButtonLook(const FocusButtonStyle& style, FocusButtonState state);
// The state of a button widget that draws itself in one of the styles.
FocusButtonState focusButtonState(const QAbstractButton* button);
// What such a button sets up once: hover updates and the focus ring's corner.
void prepareFocusButton(QAbstractButton* button, const FocusButtonStyle& style);
inline FocusButtonLook focusButtonLook(const FocusButtonStyle& style, bool pressed)
{
    return focusButtonLook(style, FocusButtonState{.pressed = pressed});
}

class FocusButton : public QAbstractButton {
    Q_OBJECT
public:
    FocusButton(const QString& text, const FocusButtonStyle& style, QWidget* parent = nullptr);

    const FocusButtonStyle& buttonStyle() const { return m_style; }
    void setButtonStyle(const FocusButtonStyle& style);
    // A symbol before the text (for example the check mark of "Mark done").
    void setSymbol(std::optional<Symbol> symbol);

    // A pill chip of a group of which one is chosen (a daily limit, a break length): announced as
    // a radio button, checked while it is drawn selected.
    static FocusButton* choiceChip(const QString& text, qreal size, QWidget* parent = nullptr);
    // Draws a choice chip selected or not, and says so.
    void setChosen(bool chosen);

    FocusButtonLook currentLook() const;
    // The faces a button of `style` draws with: its text's, and its symbol's where it has one.
    static QList<QFont> faces(const FocusButtonStyle& style, bool withSymbol);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QPainterPath shape(const QRectF& rect, const FocusButtonLook& look) const;

    FocusButtonStyle m_style;
    std::optional<Symbol> m_symbol;
};
