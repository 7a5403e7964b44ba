#pragma once

#include <QPoint>

class QWindow;

// Where a window opens under Wayland is the compositor's to decide, and most put a new window in
// the middle of the screen. KDE Plasma's compositor lets a program name the place through its
// shell protocol; this asks for it there and does nothing elsewhere.
namespace PlasmaShell {

// Whether this session's compositor takes a program's word for where its windows go.
bool offered();

// Asks for `window`'s top-left corner at `topLeft` (screen coordinates). Call it once the window
// is shown, before the event loop runs again, so that the window appears there rather than moving
// there; again at every show, as a hidden window loses its surface. False where not offered.
bool place(QWindow* window, QPoint topLeft);

} // namespace PlasmaShell
