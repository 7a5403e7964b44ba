#include "linux/GtkShell.h"

#include "gtk-shell-v1-client-protocol.h"
#include "linux/ToolkitWayland.h"

#include <QHash>
#include <QWindow>
#include <wayland-client.h>

namespace GtkShell {

void markModal(QWindow* window)
{
    static auto* shell = static_cast<gtk_shell1*>(ToolkitWayland::bind(&gtk_shell1_interface, 1));
    // The surface each window was last marked on: a window shown twice without hiding keeps it.
    static QHash<QWindow*, wl_surface*> marked;
    wl_surface* surface = shell ? ToolkitWayland::surface(window) : nullptr;
    if (!surface || marked.value(window) == surface)
        return;
    if (!marked.contains(window))
        QObject::connect(window, &QObject::destroyed, [window] { marked.remove(window); });
    marked.insert(window, surface);
    // This version of the extension has no request to let go of it: the compositor drops it with
    // the surface, and only our side of it is destroyed here.
    gtk_surface1* extension = gtk_shell1_get_gtk_surface(shell, surface);
    gtk_surface1_set_modal(extension);
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(extension));
    wl_display_flush(ToolkitWayland::display());
}

} // namespace GtkShell
