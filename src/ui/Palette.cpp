#include "ui/Palette.h"

#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

qsizetype characterCount(QStringView text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), int(text.size()));
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// An unsigned hexadecimal number at the start of `text` (an optional "0x" first), saturating at
// the largest value instead of wrapping; 0 when there is none.
quint64 scanHex(QStringView text)
{
    qsizetype i = 0;
    if (text.size() > 2 && text.at(0) == u'0' && (text.at(1) == u'x' || text.at(1) == u'X') &&
        hexDigit(text.at(2)) >= 0)
        i = 2;
    quint64 value = 0;
    for (; i < text.size(); ++i) {
        const int digit = hexDigit(text.at(i));
        if (digit < 0)
            break;
        if (value > (std::numeric_limits<quint64>::max() >> 4))
            value = std::numeric_limits<quint64>::max();
        else
            value = (value << 4) | quint64(digit);
    }
    return value;
}

QStringView trimmedToAlphanumerics(QStringView text)
{
    // Letters and digits of any script count, as a whole code point (surrogate pairs included).
    const auto isAlnum = [](char32_t u) { return QChar::isLetterOrNumber(u); };
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last) {
        char32_t u = text.at(first).unicode();
        qsizetype width = 1;
        if (text.at(first).isHighSurrogate() && first + 1 < last && text.at(first + 1).isLowSurrogate()) {
            u = QChar::surrogateToUcs4(text.at(first), text.at(first + 1));
            width = 2;
        }
        if (isAlnum(u))
            break;
        first += width;
    }
    while (last > first) {
        char32_t u = text.at(last - 1).unicode();
        qsizetype width = 1;
        if (text.at(last - 1).isLowSurrogate() && last - 2 >= first && text.at(last - 2).isHighSurrogate()) {
            u = QChar::surrogateToUcs4(text.at(last - 2), text.at(last - 1));
            width = 2;
        }
        if (isAlnum(u))
            break;
        last -= width;
    }
    return text.mid(first, last - first);
}

} // namespace

QColor colorFromHex(QStringView text)
{
    const QStringView trimmed = trimmedToAlphanumerics(text);
    const quint64 v = scanHex(trimmed);
    int a = 0;
    int r = 0;
    int g = 0;
    int b = 0;
    switch (characterCount(trimmed)) {
    case 8:
        a = int((v >> 24) & 0xFF);
        r = int((v >> 16) & 0xFF);
        g = int((v >> 8) & 0xFF);
        b = int(v & 0xFF);
        break;
    case 6:
        a = 255;
        r = int((v >> 16) & 0xFF);
        g = int((v >> 8) & 0xFF);
        b = int(v & 0xFF);
        break;
    case 3:
        a = 255;
        r = int((v >> 8) & 0xF) * 17;
        g = int((v >> 4) & 0xF) * 17;
        b = int(v & 0xF) * 17;
        break;
    default:
        r = 1;
        g = 1;
        b = 0;
        a = 1;
        break;
    }
    return QColor::fromRgb(r, g, b, a);
}

// Each colour is built on first use; C++ makes the initialisation of a function-local static
// thread-safe.
#define QH_COLOR(name, hex)                                                                                            \
    const QColor& name()                                                                                               \
    {                                                                                                                  \
        static const QColor color = colorFromHex(u"" hex);                                                             \
        return color;                                                                                                  \
    }

namespace FocusColor {

QH_COLOR(ink, "23221F")
QH_COLOR(gold, "EDCB6A")
QH_COLOR(green, "79A83E")
QH_COLOR(okGreen, "507029")
QH_COLOR(paper, "F1EEE7")
QH_COLOR(text, "201F1C")
QH_COLOR(textSecondary, "6E6A60")
QH_COLOR(textTertiary, "787163")
QH_COLOR(hairline, "E4E0D4")
QH_COLOR(priorityHigh, "C75B45")
QH_COLOR(priorityMedium, "D9A13F")
QH_COLOR(priorityLow, "7E96AB")
QH_COLOR(mutedOnDark, "CFC9BB")
QH_COLOR(wash, "E4DFD2")
QH_COLOR(alert, "A3432F")
QH_COLOR(border, "CFC8B8")
QH_COLOR(white, "FFFFFF")
QH_COLOR(completedStepTitle, "BDB6A6")
QH_COLOR(disabledOutlineText, "9A9486")
QH_COLOR(disabledOutlineBorder, "D8D2C4")
QH_COLOR(trayPadlock, "FAF8F3")
QH_COLOR(trayPadlockAttention, "F4C7BD")

QColor withOpacity(const QColor& color, qreal opacity)
{
    QColor c = color;
    c.setAlphaF(float(color.alphaF() * std::clamp(opacity, 0.0, 1.0)));
    return c;
}

qreal contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto linear = [](qreal v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        const QColor rgb = c.toRgb();
        return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
    };
    const qreal la = luminance(a);
    const qreal lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace FocusColor
