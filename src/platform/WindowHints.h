#pragma once

#include <QPoint>

class QWindow;

// What a compositor is told about a window that the toolkit cannot say: that a sheet is modal,
// and where a window should open. A desktop that takes no such word ignores it.
class WindowHints {
public:
    virtual ~WindowHints() = default;
    // Marks the shown `window` a modal dialog of its transient parent, so it is centred over that
    // window instead of cascaded from its corner. Before its first frame, and again at every show.
    virtual void markModal(QWindow* window) = 0;
    // Asks for the shown `window`'s top-left corner at `topLeft` (screen coordinates), before the
    // event loop runs again; false where the compositor decides alone.
    virtual bool place(QWindow* window, QPoint topLeft) = 0;
};
