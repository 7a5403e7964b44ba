#include "linux/PlasmaShell.h"

#include "plasma-shell-client-protocol.h"

#include <QGuiApplication>
#include <QHash>
#include <QPointer>
#include <QWindow>
#include <cstring>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

namespace {

// The shell, bound once on the toolkit's own connection (a surface belongs to the connection that
// made it), through a queue of our own so that the toolkit's reader never sees its events.
struct Shell {
    wl_event_queue* queue = nullptr;
    org_kde_plasma_shell* shell = nullptr;
    // A hidden window loses its surface, and its shell surface with it: one per current surface.
    struct Placed {
        wl_surface* surface = nullptr;
        org_kde_plasma_surface* shellSurface = nullptr;
    };
    QHash<QWindow*, Placed> placed;
};

wl_display* toolkitDisplay()
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return nullptr;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    return native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
}

Shell& shell()
{
    static Shell* found = [] {
        auto* s = new Shell;
        wl_display* display = toolkitDisplay();
        if (!display)
            return s;
        s->queue = wl_display_create_queue(display);
        auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), s->queue);
        wl_registry* registry = wl_display_get_registry(wrapped);
        wl_proxy_wrapper_destroy(wrapped);
        static const wl_registry_listener listener = {
            [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
                auto* s = static_cast<Shell*>(data);
                if (!s->shell && std::strcmp(interface, org_kde_plasma_shell_interface.name) == 0)
                    s->shell = static_cast<org_kde_plasma_shell*>(
                        wl_registry_bind(registry, name, &org_kde_plasma_shell_interface, 1));
            },
            [](void*, wl_registry*, uint32_t) {}};
        wl_registry_add_listener(registry, &listener, s);
        // The globals come in one answer; a compositor that broke the connection offers nothing.
        if (wl_display_roundtrip_queue(display, s->queue) < 0 && s->shell) {
            org_kde_plasma_shell_destroy(s->shell);
            s->shell = nullptr;
        }
        wl_registry_destroy(registry);
        return s;
    }();
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
    if (!s.shell || !window || !window->handle())
        return false;
    auto* surface = static_cast<wl_surface*>(
        QGuiApplication::platformNativeInterface()->nativeResourceForWindow("surface", window));
    if (!surface)
        return false;
    const bool known = s.placed.contains(window);
    Shell::Placed& placed = s.placed[window];
    if (placed.surface != surface) {
        if (placed.shellSurface)
            org_kde_plasma_surface_destroy(placed.shellSurface);
        placed = {surface, org_kde_plasma_shell_get_surface(s.shell, surface)};
    }
    if (!known)
        QObject::connect(window, &QObject::destroyed, [window] {
            Shell& s = shell();
            if (auto it = s.placed.find(window); it != s.placed.end()) {
                if (it->shellSurface)
                    org_kde_plasma_surface_destroy(it->shellSurface);
                s.placed.erase(it);
            }
        });
    org_kde_plasma_surface_set_position(placed.shellSurface, topLeft.x(), topLeft.y());
    // Sent now, before the window's first frame: it appears there rather than jumping there.
    wl_display_flush(toolkitDisplay());
    return true;
}

} // namespace PlasmaShell
