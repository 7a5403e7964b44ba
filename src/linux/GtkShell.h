#pragma once

class QWindow;

// GNOME's compositor centres a modal dialog over the window it belongs to only when it knows the
// dialog is modal, which Wayland's own shell cannot say; left alone it cascades the dialog from
// the window's corner. This says so through GNOME's shell extension and does nothing elsewhere.
namespace GtkShell {

// Marks the shown `window` a modal dialog of its transient parent. Call it after the window is
// shown and before its first frame (the compositor places it then); again at every show, as a
// hidden window loses its surface.
void markModal(QWindow* window);

} // namespace GtkShell
