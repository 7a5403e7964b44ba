#include "linux/DesktopIdleTime.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <array>

DesktopIdleTime::DesktopIdleTime(std::function<std::optional<double>()> x11, const IdleTime* compositor,
                                 QDBusConnection session)
    : m_x11(std::move(x11)), m_compositor(compositor), m_session(std::move(session))
{
}

std::optional<double> DesktopIdleTime::read(Source source) const
{
    const auto call = [this](const QString& service, const QString& path, const QString& interface,
                             const QString& method) -> std::optional<double> {
        if (!m_session.isConnected())
            return std::nullopt;
        const QDBusMessage reply = m_session.call(QDBusMessage::createMethodCall(service, path, interface, method),
                                                  QDBus::Block, callTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        bool ok = false;
        const qulonglong ms = reply.arguments().constFirst().toULongLong(&ok);
        if (!ok)
            return std::nullopt;
        return double(ms) / 1000.0;
    };
    switch (source) {
    case Source::x11:
        return m_x11 ? m_x11() : std::nullopt;
    case Source::wayland:
        return m_compositor ? m_compositor->secondsSinceLastInput() : std::nullopt;
    case Source::gnome:
        return call(QStringLiteral("org.gnome.Mutter.IdleMonitor"),
                    QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
                    QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"));
    case Source::freedesktop:
        return call(QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
                    QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("GetSessionIdleTime"));
    case Source::unknown:
        break;
    }
    return std::nullopt;
}

std::optional<double> DesktopIdleTime::secondsSinceLastInput() const
{
    // The compositor's reading is unknown for its first seconds, so a D-Bus service may answer
    // meanwhile; once a local source answers, the per-check calls to the services stop.
    const bool kde = m_source == Source::freedesktop;
    const std::array order{Source::x11, Source::wayland, kde ? Source::freedesktop : Source::gnome,
                           kde ? Source::gnome : Source::freedesktop};
    for (Source s : order)
        if (const std::optional<double> seconds = read(s)) {
            m_source = s;
            return seconds;
        }
    m_source = Source::unknown;
    return std::nullopt;
}
