#include "ui/Symbols.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// The icon font's glyphs are drawn a little larger than the text they stand beside, so that a
// symbol's strokes and the text's capitals have the same visual height.
constexpr qreal glyphScale = 1.3;

} // namespace

namespace Symbols {

char16_t codepoint(Symbol symbol)
{
    switch (symbol) {
    case Symbol::checkmark:
        return 0xE5CA; // check
    case Symbol::plus:
        return 0xE145; // add
    case Symbol::ellipsis:
        return 0xE5D3; // more_horiz
    case Symbol::xmarkCircleFill:
        return 0xE5C9; // cancel
    case Symbol::xmark:
        return 0xE5CD; // close
    case Symbol::trash:
        return 0xE872; // delete
    case Symbol::repeat:
        return 0xE040;
    case Symbol::chevronLeft:
        return 0xE5CB;
    case Symbol::chevronRight:
        return 0xE5CC;
    case Symbol::chevronDown:
        return 0xE5CF; // expand_more
    case Symbol::chevronUp:
        return 0xE5CE; // expand_less
    case Symbol::calendar:
        return 0xE935; // calendar_today
    case Symbol::bell:
        return 0xE7F4; // notifications
    case Symbol::bellSlash:
        return 0xE7F6; // notifications_off
    case Symbol::lock:
        return 0xE897;
    case Symbol::lockOpen:
        return 0xE898;
    case Symbol::sync:
        return 0xE627;
    case Symbol::history:
        return 0xE889;
    case Symbol::clock:
        return 0xE8B5; // schedule
    case Symbol::info:
        return 0xE88E;
    case Symbol::warning:
        return 0xE002;
    case Symbol::globe:
        return 0xE894; // language
    case Symbol::pencil:
        return 0xE3C9; // edit
    case Symbol::search:
        return 0xE8B6;
    case Symbol::pause:
        return 0xE034;
    case Symbol::play:
        return 0xE037; // play_arrow
    case Symbol::sun:
        return 0xE430; // wb_sunny
    case Symbol::hourglass:
        return 0xE88B; // hourglass_empty
    case Symbol::arrowUpRight:
        return 0xE89E; // open_in_new
    }
    return 0xE5CA;
}

qreal boxSize(qreal textSize)
{
    return std::round(textSize * glyphScale);
}

QFont font(qreal textSize)
{
    QFont f(QStringLiteral("Material Icons"));
    f.setPixelSize(std::max(1, int(boxSize(textSize))));
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::NoFontMerging);
    return f;
}

void paint(QPainter& painter, const QRectF& rect, Symbol symbol, const QColor& color, qreal textSize, qreal embolden)
{
    const QFont f = font(textSize);
    const QFontMetricsF metrics(f);
    const QString glyph(QChar(codepoint(symbol)));
    QPainterPath path;
    path.addText(0, 0, f, glyph);
    // Centre the glyph's em box, not its ink, so that symbols of one size share a baseline.
    const qreal em = f.pixelSize();
    const qreal x = rect.center().x() - metrics.horizontalAdvance(glyph) / 2;
    const qreal y = rect.center().y() - em / 2 + metrics.ascent() * em / (metrics.ascent() + metrics.descent());
    path.translate(x, y);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (embolden > 0) {
        QPen pen(color, embolden, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.strokePath(path, pen);
    }
    painter.fillPath(path, color);
    painter.restore();
}

QIcon icon(Symbol symbol, const QColor& color, qreal textSize)
{
    QIcon result;
    const int edge = int(boxSize(textSize));
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap(QSize(edge, edge) * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(painter, QRectF(0, 0, edge, edge), symbol, color, textSize);
        painter.end();
        result.addPixmap(pixmap);
    }
    return result;
}

} // namespace Symbols

SymbolLabel::SymbolLabel(Symbol symbol, qreal textSize, const QColor& color, QWidget* parent)
    : QWidget(parent), m_symbol(symbol), m_textSize(textSize), m_color(color)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolLabel::setSymbol(Symbol symbol)
{
    m_symbol = symbol;
    update();
}

void SymbolLabel::setColor(const QColor& color)
{
    m_color = color;
    update();
}

void SymbolLabel::setTextSize(qreal textSize)
{
    m_textSize = textSize;
    updateGeometry();
    update();
}

void SymbolLabel::setEmbolden(qreal points)
{
    m_embolden = points;
    update();
}

QSize SymbolLabel::sizeHint() const
{
    const int edge = int(Symbols::boxSize(m_textSize));
    return {edge, edge};
}

void SymbolLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Symbols::paint(painter, rect(), m_symbol, m_color, m_textSize, m_embolden);
}
