#pragma once

// The keyboard-focus ring of every control: 2 points of the accent gold, 2 points outside the
// control's outline, shown while a control has focus that did not come from a mouse click.
//
// The ring is drawn by one overlay beside the focused control, so a control needs no margin for it
// and draws nothing itself; a control tells the ring its outline's corner radius.

class QApplication;
class QWidget;

namespace FocusRing {

// Watches focus in the whole application (Theme::apply calls it).
void install(QApplication& app);

// The corner radius of the control's outline; a negative radius means a capsule. Default 6.
void setRadius(QWidget* control, double radius);

// The overlay that draws the ring now, or null when no ring shows.
QWidget* visibleRing();

} // namespace FocusRing
