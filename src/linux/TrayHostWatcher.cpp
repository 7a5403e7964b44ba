#include "linux/TrayHostWatcher.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>
#include <memory>

#include <xcb/xcb.h>

namespace {

bool statusNotifierHost()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusInterface watcher(QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
                           QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    if (!watcher.isValid())
        return false;
    const QDBusReply<QDBusVariant> reply =
        watcher.call(QStringLiteral("Get"), QStringLiteral("org.kde.StatusNotifierWatcher"),
                     QStringLiteral("IsStatusNotifierHostRegistered"));
    return reply.isValid() && reply.value().variant().toBool();
}

bool xembedTray()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    bool owned = false;
    if (!xcb_connection_has_error(connection)) {
        const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, name.size(), name.constData()), nullptr);
        if (atom && atom->atom != XCB_ATOM_NONE) {
            xcb_get_selection_owner_reply_t* owner =
                xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
            owned = owner && owner->owner != XCB_WINDOW_NONE;
            free(owner);
        }
        free(atom);
    }
    xcb_disconnect(connection);
    return owned;
}

} // namespace

TrayHostWatcher::TrayHostWatcher(int patienceMs, QObject* parent, std::function<bool()> look)
    : QObject(parent), m_look(std::move(look)), m_patienceMs(patienceMs)
{
    m_poll.setInterval(250);
    connect(&m_poll, &QTimer::timeout, this, &TrayHostWatcher::poll);
}

bool TrayHostWatcher::hostPresent()
{
    return xembedTray() || statusNotifierHost();
}

void TrayHostWatcher::start()
{
    m_poll.start();
    poll();
}

void TrayHostWatcher::poll()
{
    if (m_done)
        return;
    m_waitedMs += m_poll.interval();
    if (m_looking)
        return;
    m_looking = true;
    auto promise = std::make_shared<QPromise<bool>>();
    promise->start();
    promise->future().then(this, [this](bool seen) { looked(seen); });
    QThreadPool::globalInstance()->start([promise, look = m_look] {
        promise->addResult(look());
        promise->finish();
    });
}

void TrayHostWatcher::looked(bool seen)
{
    m_looking = false;
    if (m_done)
        return;
    if (seen || m_waitedMs > m_patienceMs) {
        m_done = true;
        m_poll.stop();
        emit decided(seen);
    }
}
