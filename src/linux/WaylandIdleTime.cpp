#include "linux/WaylandIdleTime.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "model/Clock.h"

#include <QSocketNotifier>
#include <QtGlobal>
#include <cerrno>
#include <cstring>
#include <wayland-client.h>

struct WaylandIdleTime::Wayland {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_callback* listed = nullptr;
    wl_seat* seat = nullptr;
    uint32_t seatName = 0;
    ext_idle_notifier_v1* notifier = nullptr;
    uint32_t notifierName = 0;
    ext_idle_notification_v1* notification = nullptr;

    void dropNotification()
    {
        if (notification)
            ext_idle_notification_v1_destroy(notification);
        notification = nullptr;
    }
    void dropSeat()
    {
        if (seat)
            wl_seat_destroy(seat);
        seat = nullptr;
        seatName = 0;
    }
    void dropNotifier()
    {
        if (notifier)
            ext_idle_notifier_v1_destroy(notifier);
        notifier = nullptr;
        notifierName = 0;
    }
    // Every proxy goes before the display that owns it.
    void disconnect()
    {
        if (!display)
            return;
        dropNotification();
        dropSeat();
        dropNotifier();
        if (listed)
            wl_callback_destroy(listed);
        listed = nullptr;
        if (registry)
            wl_registry_destroy(registry);
        registry = nullptr;
        wl_display_disconnect(display);
        display = nullptr;
    }
};

namespace {

WaylandIdleTime* self(void* data)
{
    return static_cast<WaylandIdleTime*>(data);
}

} // namespace

WaylandIdleTime::WaylandIdleTime(const QString& display, const MonotonicClock& monotonic, QObject* parent)
    : QObject(parent), m_monotonic(monotonic), d(std::make_unique<Wayland>())
{
    if (display.isEmpty())
        return;
    d->display = wl_display_connect(display.toLocal8Bit().constData());
    if (!d->display)
        return;

    static const wl_registry_listener registryListener = {
        [](void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
            self(data)->bindGlobal(name, interface, version);
        },
        [](void* data, wl_registry*, uint32_t name) { self(data)->removeGlobal(name); },
    };
    static const wl_callback_listener listedListener = {
        [](void* data, wl_callback*, uint32_t) { self(data)->listingDone(); },
    };
    d->registry = wl_display_get_registry(d->display);
    wl_registry_add_listener(d->registry, &registryListener, this);
    // The compositor answers this only after it has announced every global it has.
    d->listed = wl_display_sync(d->display);
    wl_callback_add_listener(d->listed, &listedListener, this);
    if (wl_display_flush(d->display) < 0 && errno != EAGAIN) {
        d->disconnect();
        return;
    }
    m_phase = Phase::listing;
    m_notifier = new QSocketNotifier(wl_display_get_fd(d->display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WaylandIdleTime::readEvents);
}

WaylandIdleTime::~WaylandIdleTime()
{
    d->disconnect();
}

QString WaylandIdleTime::sessionDisplay()
{
    return qEnvironmentVariable("WAYLAND_DISPLAY");
}

std::optional<double> WaylandIdleTime::secondsSinceLastInput() const
{
    switch (m_phase) {
    case Phase::idle:
        return notifyAfter + std::max(0.0, m_monotonic.seconds() - m_since);
    case Phase::active:
        return 0.0;
    case Phase::watching:
        // Input before the notification was made is not known to it: only once its deadline has
        // passed with no idled event does the silence mean the person was there.
        if (m_monotonic.seconds() - m_since >= notifyAfter + eventLatency)
            return 0.0;
        return std::nullopt;
    case Phase::none:
    case Phase::listing:
    case Phase::unsupported:
        break;
    }
    return std::nullopt;
}

void WaylandIdleTime::readEvents()
{
    if (!d->display)
        return;
    // The documented way to read without blocking: events already queued first, then the
    // socket (which the notifier says has data), then what that brought.
    while (wl_display_prepare_read(d->display) != 0)
        if (wl_display_dispatch_pending(d->display) < 0) {
            disconnectCompositor();
            return;
        }
    if (wl_display_read_events(d->display) < 0 || wl_display_dispatch_pending(d->display) < 0) {
        disconnectCompositor();
        return;
    }
    if (wl_display_flush(d->display) < 0 && errno != EAGAIN)
        disconnectCompositor();
}

void WaylandIdleTime::disconnectCompositor()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    d->disconnect();
    setPhase(Phase::none);
}

void WaylandIdleTime::setPhase(Phase phase)
{
    if (phase == m_phase)
        return;
    m_phase = phase;
    emit phaseChanged();
}

void WaylandIdleTime::bindGlobal(uint32_t name, const char* interface, uint32_t version)
{
    Q_UNUSED(version);
    if (!d->seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        // Version 1 is enough: the seat only names whose input is watched.
        d->seat = static_cast<wl_seat*>(wl_registry_bind(d->registry, name, &wl_seat_interface, 1));
        d->seatName = name;
    } else if (!d->notifier && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
        d->notifier =
            static_cast<ext_idle_notifier_v1*>(wl_registry_bind(d->registry, name, &ext_idle_notifier_v1_interface, 1));
        d->notifierName = name;
    } else {
        return;
    }
    // A seat or notifier that appears later (a compositor that adds its seat late).
    if (m_phase == Phase::unsupported)
        watch();
}

void WaylandIdleTime::removeGlobal(uint32_t name)
{
    if (name == d->seatName)
        d->dropSeat();
    else if (name == d->notifierName)
        d->dropNotifier();
    else
        return;
    d->dropNotification();
    if (m_phase != Phase::listing)
        setPhase(Phase::unsupported);
}

void WaylandIdleTime::listingDone()
{
    wl_callback_destroy(d->listed);
    d->listed = nullptr;
    m_phase = Phase::unsupported;
    watch();
    if (m_phase == Phase::unsupported)
        emit phaseChanged();
}

void WaylandIdleTime::watch()
{
    if (!d->seat || !d->notifier || d->notification)
        return;
    static const ext_idle_notification_v1_listener notificationListener = {
        [](void* data, ext_idle_notification_v1*) {
            WaylandIdleTime* reader = self(data);
            reader->m_since = reader->m_monotonic.seconds();
            reader->setPhase(Phase::idle);
        },
        [](void* data, ext_idle_notification_v1*) {
            WaylandIdleTime* reader = self(data);
            reader->m_since = reader->m_monotonic.seconds();
            reader->setPhase(Phase::active);
        },
    };
    d->notification = ext_idle_notifier_v1_get_idle_notification(d->notifier, uint32_t(notifyAfter * 1000), d->seat);
    ext_idle_notification_v1_add_listener(d->notification, &notificationListener, this);
    m_since = m_monotonic.seconds();
    setPhase(Phase::watching);
}
