#include "linux/PlasmaShell.h"

#include "linux/ToolkitWayland.h"
#include "plasma-shell-client-protocol.h"

#include <QHash>
#include <QWindow>
#include <wayland-client.h>

namespace {

struct Shell {
    org_kde_plasma_shell* shell = nullptr;
    // A hidden window loses its surface, and its shell surface with it: one per current surface.
    struct Placed {
        wl_surface* surface = nullptr;
        org_kde_plasma_surface* shellSurface = nullptr;
    };
    QHash<QWindow*, Placed> placed;
};

Shell& shell()
{
    static Shell* found =
        new Shell{static_cast<org_kde_plasma_shell*>(ToolkitWayland::bind(&org_kde_plasma_shell_interface, 1)), {}};
    return *found;
}

} // namespace

namespace PlasmaShell {

bool offered()
{
    return shell().shell != nullptr;
}

bool place(QWindow* window, QPoint topLeft)
{
    Shell& s = shell();
    wl_surface* surface = s.shell ? ToolkitWayland::surface(window) : nullptr;
    if (!surface)
        return false;
    if (!s.placed.contains(window))
        QObject::connect(window, &QObject::destroyed, [window] {
            Shell& s = shell();
            if (auto it = s.placed.find(window); it != s.placed.end()) {
                if (it->shellSurface)
                    org_kde_plasma_surface_destroy(it->shellSurface);
                s.placed.erase(it);
            }
        });
    Shell::Placed& placed = s.placed[window];
    if (placed.surface != surface) {
        if (placed.shellSurface)
            org_kde_plasma_surface_destroy(placed.shellSurface);
        placed = {surface, org_kde_plasma_shell_get_surface(s.shell, surface)};
    }
    org_kde_plasma_surface_set_position(placed.shellSurface, topLeft.x(), topLeft.y());
    // Sent now, before the window's first frame: it appears there rather than jumping there.
    wl_display_flush(ToolkitWayland::display());
    return true;
}

} // namespace PlasmaShell
