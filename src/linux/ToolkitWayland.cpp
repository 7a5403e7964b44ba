#include "linux/ToolkitWayland.h"

#include <QGuiApplication>
#include <QWindow>
#include <cstring>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

namespace ToolkitWayland {

wl_display* display()
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return nullptr;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    return native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
}

void* bind(const wl_interface* interface, uint32_t version)
{
    wl_display* connection = display();
    if (!connection)
        return nullptr;
    static wl_event_queue* queue = wl_display_create_queue(connection);
    struct Lookup {
        const wl_interface* interface;
        uint32_t version;
        void* bound = nullptr;
    } lookup{interface, version};
    auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(connection));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), queue);
    wl_registry* registry = wl_display_get_registry(wrapped);
    wl_proxy_wrapper_destroy(wrapped);
    static const wl_registry_listener listener = {
        [](void* data, wl_registry* registry, uint32_t name, const char* offered, uint32_t offeredVersion) {
            auto* lookup = static_cast<Lookup*>(data);
            if (!lookup->bound && std::strcmp(offered, lookup->interface->name) == 0 &&
                offeredVersion >= lookup->version)
                lookup->bound = wl_registry_bind(registry, name, lookup->interface, lookup->version);
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_registry_add_listener(registry, &listener, &lookup);
    // The globals come in one answer; a compositor that broke the connection offers nothing.
    if (wl_display_roundtrip_queue(connection, queue) < 0 && lookup.bound) {
        wl_proxy_destroy(static_cast<wl_proxy*>(lookup.bound));
        lookup.bound = nullptr;
    }
    wl_registry_destroy(registry);
    return lookup.bound;
}

wl_surface* surface(QWindow* window)
{
    if (!window || !window->handle() || !display())
        return nullptr;
    return static_cast<wl_surface*>(
        QGuiApplication::platformNativeInterface()->nativeResourceForWindow("surface", window));
}

} // namespace ToolkitWayland
