#pragma once

#include <cstdint>

class QWindow;
struct wl_display;
struct wl_interface;
struct wl_surface;

// The toolkit's own Wayland connection, for the few compositor extensions it does not speak
// itself: a window's surface belongs to the connection that made it.
namespace ToolkitWayland {

// Nothing outside a Wayland session.
wl_display* display();
// The compositor's global `interface` bound at `version`, on a queue of our own that the toolkit's
// reader never dispatches; nothing when the compositor does not offer it.
void* bind(const wl_interface* interface, uint32_t version);
// The window's current surface; nothing before it is shown.
wl_surface* surface(QWindow* window);

} // namespace ToolkitWayland
