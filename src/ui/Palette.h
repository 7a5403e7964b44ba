#pragma once

// The one palette of the interface. Every colour a widget draws comes from here: named colours,
// the three literal shades some components use, and the hex parser they are all built with.
// There is no dark variant; the interface is always light.

#include <QColor>
#include <QStringView>

// Parses "#EDCB6A", "EDCB6A", "80EDCB6A" (alpha first) or "F80" into an sRGB colour. Never fails:
// a text of another length gives an almost invisible colour (red 1, green 1, blue 0, alpha 1 of
// 255), and characters that are not hex digits end the number (the length still decides).
QColor colorFromHex(QStringView text);

namespace FocusColor {

const QColor& ink();            // dark cards, charcoal buttons, selected pills, switch tint
const QColor& gold();           // gold buttons, accents on dark cards
const QColor& green();          // completed check circle
const QColor& okGreen();        // confirmation texts
const QColor& paper();          // page, popover and sheet background
const QColor& text();           // primary text
const QColor& textSecondary();  // secondary text, eyebrows, key hints
const QColor& textTertiary();   // completed to-do titles
const QColor& hairline();       // separators and thin borders
const QColor& priorityHigh();   // ring of an open high-priority circle
const QColor& priorityMedium(); // ring of an open medium-priority circle
const QColor& priorityLow();    // ring of an open low-priority circle
const QColor& mutedOnDark();    // secondary text on dark cards
const QColor& wash();           // light fills behind secondary content
const QColor& alert();          // warnings, the day line of an earlier to-do
const QColor& border();         // outlines of unselected pills and other controls

// Shades outside the named palette, used by one component each.
const QColor& white();
const QColor& completedStepTitle();    // title of a completed step on the focus card
const QColor& disabledOutlineText();   // text of a disabled outline sheet button
const QColor& disabledOutlineBorder(); // border of a disabled outline sheet button
const QColor& trayPadlock();           // the tray's padlock, drawn light to show on any panel
const QColor& trayPadlockAttention();  // the padlock when a browser needs attention

// `color` at `opacity` (0 ... 1) times its own alpha.
QColor withOpacity(const QColor& color, qreal opacity);

// How far apart two opaque colours stand for the eye: the ratio of their relative luminances
// (each plus 0.05), from 1 (the same) to 21 (black on white). A focus indicator needs 3.
qreal contrast(const QColor& a, const QColor& b);

} // namespace FocusColor
