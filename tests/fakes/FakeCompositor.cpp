#include "FakeCompositor.h"

#include "ext-idle-notify-v1-server-protocol.h"

#include <algorithm>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>
#include <wayland-server.h>

namespace {

enum Command { idled = 1, resumed = 2, quit = 3 };

} // namespace

struct FakeCompositor::Server {
    FakeCompositor* owner = nullptr;
    wl_display* display = nullptr;
    int wake = -1;
    std::mutex mutex;
    std::vector<int> commands;
    bool running = true;
    std::vector<wl_resource*> notifications;

    void countNotifications() { owner->m_notifications = int(notifications.size()); }
};

namespace {

FakeCompositor::Server* serverOf(wl_resource* resource)
{
    return static_cast<FakeCompositor::Server*>(wl_resource_get_user_data(resource));
}

void destroyResource(wl_client*, wl_resource* resource)
{
    wl_resource_destroy(resource);
}

const struct wl_seat_interface seatRequests = {
    [](wl_client*, wl_resource*, uint32_t) {}, // get_pointer: this seat has none
    [](wl_client*, wl_resource*, uint32_t) {}, // get_keyboard
    [](wl_client*, wl_resource*, uint32_t) {}, // get_touch
    destroyResource,                           // release
};

const struct ext_idle_notification_v1_interface notificationRequests = {destroyResource};

void getIdleNotification(wl_client* client, wl_resource* notifier, uint32_t id, uint32_t, wl_resource*)
{
    FakeCompositor::Server* server = serverOf(notifier);
    wl_resource* notification = wl_resource_create(client, &ext_idle_notification_v1_interface, 1, id);
    wl_resource_set_implementation(notification, &notificationRequests, server, [](wl_resource* gone) {
        FakeCompositor::Server* s = serverOf(gone);
        std::erase(s->notifications, gone);
        s->countNotifications();
    });
    server->notifications.push_back(notification);
    server->countNotifications();
}

const struct ext_idle_notifier_v1_interface notifierRequests = {destroyResource, getIdleNotification};

} // namespace

FakeCompositor::FakeCompositor(bool offersIdleNotifier) : d(std::make_unique<Server>())
{
    d->owner = this;
    d->display = wl_display_create();
    if (!d->display)
        return;
    const char* name = wl_display_add_socket_auto(d->display);
    if (!name)
        return;
    m_socketName = QString::fromLocal8Bit(name);
    wl_global_create(d->display, &wl_seat_interface, 1, d.get(),
                     [](wl_client* client, void* data, uint32_t version, uint32_t id) {
                         wl_resource* seat = wl_resource_create(client, &wl_seat_interface, int(version), id);
                         wl_resource_set_implementation(seat, &seatRequests, data, nullptr);
                     });
    if (offersIdleNotifier)
        wl_global_create(d->display, &ext_idle_notifier_v1_interface, 1, d.get(),
                         [](wl_client* client, void* data, uint32_t, uint32_t id) {
                             wl_resource* notifier = wl_resource_create(client, &ext_idle_notifier_v1_interface, 1, id);
                             wl_resource_set_implementation(notifier, &notifierRequests, data, nullptr);
                         });

    // The test's requests reach the compositor's thread through an eventfd in its own loop.
    d->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    wl_event_loop_add_fd(
        wl_display_get_event_loop(d->display), d->wake, WL_EVENT_READABLE,
        [](int fd, uint32_t, void* data) {
            auto* server = static_cast<Server*>(data);
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(fd, &count, sizeof count);
            std::vector<int> commands;
            {
                const std::lock_guard lock(server->mutex);
                commands.swap(server->commands);
            }
            for (int command : commands) {
                if (command == quit)
                    server->running = false;
                for (wl_resource* notification : server->notifications)
                    if (command == idled)
                        ext_idle_notification_v1_send_idled(notification);
                    else if (command == resumed)
                        ext_idle_notification_v1_send_resumed(notification);
            }
            return 0;
        },
        d.get());
    m_thread = std::thread([server = d.get()] {
        wl_event_loop* loop = wl_display_get_event_loop(server->display);
        while (server->running) {
            wl_display_flush_clients(server->display);
            wl_event_loop_dispatch(loop, -1);
        }
    });
}

FakeCompositor::~FakeCompositor()
{
    stop();
}

void FakeCompositor::post(int command)
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(d->mutex);
        d->commands.push_back(command);
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(d->wake, &one, sizeof one);
}

void FakeCompositor::sendIdled()
{
    post(idled);
}

void FakeCompositor::sendResumed()
{
    post(resumed);
}

void FakeCompositor::stop()
{
    post(quit);
    if (m_thread.joinable())
        m_thread.join();
    if (d->display) {
        // Closes every client's socket and removes the listening one.
        wl_display_destroy_clients(d->display);
        wl_display_destroy(d->display);
        d->display = nullptr;
    }
    if (d->wake >= 0)
        close(d->wake);
    d->wake = -1;
}
