#pragma once

// The keyboard-focus ring of every control, 2 points outside the control's outline: a band of ink
// inside a band of the accent gold, each 2 points wide. The gold alone hardly shows on paper and
// the ink alone vanishes on the dark cards; together one of them stands out on every surface.
//
// It shows while a control has focus that did not come from the pointer: focus moved by Tab or a
// shortcut, and focus the program moves (a sheet that opens on its first field, a window that gets
// the keyboard back) unless the person's last act was a click.
//
// The ring is drawn by one overlay beside the focused control, so a control needs no margin for it
// and draws nothing itself; a control tells the ring its outline's corner radius.

#include <QColor>
#include <array>

class QApplication;
class QWidget;

namespace FocusRing {

// Watches focus in the whole application (Theme::apply calls it).
void install(QApplication& app);

// The corner radius of the control's outline; a negative radius means a capsule. Default 6.
void setRadius(QWidget* control, double radius);

// The overlay that draws the ring now, or null when no ring shows.
QWidget* visibleRing();

// The ring's bands, from the control outwards.
struct Band {
    QColor color;
    qreal offset; // from the control's outline to the band's inner edge, in points
    qreal width;
};
std::array<Band, 2> bands();

} // namespace FocusRing
