#pragma once

// Symbols are glyphs of the "Material Icons" font, drawn as text: crisp at any size and in any
// colour. Each symbol the interface names maps to one glyph here.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QWidget>

class QPainter;

enum class Symbol {
    checkmark,
    plus,
    ellipsis,
    xmarkCircleFill,
    xmark,
    trash,
    repeat,
    chevronLeft,
    chevronRight,
    chevronDown,
    chevronUp,
    calendar,
    bell,
    bellSlash,
    lock,
    lockOpen,
    sync,
    history,
    clock,
    info,
    warning,
    globe,
    pencil,
    search,
    pause,
    play,
    sun,
    hourglass,
    arrowUpRight,
};

namespace Symbols {

// The glyph of the symbol in the "Material Icons" font.
char16_t codepoint(Symbol symbol);
// The icon font for symbols that stand beside text of `textSize` points: the glyph box is a little
// larger than the text so that both look alike in weight and height.
QFont font(qreal textSize);
// The symbol's box, in points, beside text of `textSize` points.
qreal boxSize(qreal textSize);
// Draws the symbol centred in `rect`. `embolden` (points) thickens the strokes for bold and heavy
// text weights, which the icon font does not have.
void paint(QPainter& painter, const QRectF& rect, Symbol symbol, const QColor& color, qreal textSize,
           qreal embolden = 0);
// An icon of the symbol (for menus and tool buttons), sharp at a device-pixel ratio of 1 and 2.
QIcon icon(Symbol symbol, const QColor& color, qreal textSize);

} // namespace Symbols

// A widget that shows one symbol. It has no accessible name of its own: give one to the control
// that holds it.
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    SymbolLabel(Symbol symbol, qreal textSize, const QColor& color, QWidget* parent = nullptr);

    void setSymbol(Symbol symbol);
    void setColor(const QColor& color);
    void setTextSize(qreal textSize);
    void setEmbolden(qreal points);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Symbol m_symbol;
    qreal m_textSize;
    QColor m_color;
    qreal m_embolden = 0;
};
