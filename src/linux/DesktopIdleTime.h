#pragma once

#include "platform/IdleTime.h"

#include <QDBusConnection>
#include <functional>

// Seconds since the person last touched keyboard or mouse, from whichever source this desktop
// has, in this order: the X11 screen saver extension (X11 sessions; Xwayland has none), the
// Wayland compositor's idle notifications, GNOME's org.gnome.Mutter.IdleMonitor, or
// org.freedesktop.ScreenSaver's GetSessionIdleTime (KDE Plasma and others). The two local sources
// cost no round trip to another process and are asked first every time; of the D-Bus services, the
// one that answered last is asked first. None answering is "unknown".
class DesktopIdleTime : public IdleTime {
public:
    // `x11` answers the X11 reading, nothing where there is none; `compositor` may be null.
    DesktopIdleTime(std::function<std::optional<double>()> x11, const IdleTime* compositor, QDBusConnection session);

    std::optional<double> secondsSinceLastInput() const override;

    enum class Source { unknown, x11, wayland, gnome, freedesktop };
    Source source() const { return m_source; }

    // A desktop service that does not answer within this long is taken as absent for this reading.
    static constexpr int callTimeoutMs = 250;

private:
    std::optional<double> read(Source source) const;

    std::function<std::optional<double>()> m_x11;
    const IdleTime* m_compositor;
    QDBusConnection m_session;
    mutable Source m_source = Source::unknown;
};
