#include "linux/FreedesktopNotifications.h"

#include "files/FileSafety.h"
#include "platform/SystemEvents.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

// Even a far-off reminder is looked at again within the hour, in case the clock moved silently.
constexpr qint64 maxWaitMs = 3600 * 1000;

QJsonObject encodeRequest(const NotificationRequest& r)
{
    QJsonObject o{{QStringLiteral("identifier"), r.identifier},
                  {QStringLiteral("title"), r.title},
                  {QStringLiteral("body"), r.body},
                  {QStringLiteral("sound"), r.sound}};
    if (r.trigger)
        o.insert(QStringLiteral("trigger"),
                 QJsonArray{r.trigger->year, r.trigger->month, r.trigger->day, r.trigger->hour, r.trigger->minute});
    return o;
}

std::optional<NotificationRequest> decodeRequest(const QJsonValue& v)
{
    const QJsonObject o = v.toObject();
    const QJsonArray t = o.value(QStringLiteral("trigger")).toArray();
    if (!o.value(QStringLiteral("identifier")).isString() || t.size() != 5)
        return std::nullopt;
    NotificationRequest r;
    r.identifier = o.value(QStringLiteral("identifier")).toString();
    r.title = o.value(QStringLiteral("title")).toString();
    r.body = o.value(QStringLiteral("body")).toString();
    r.sound = o.value(QStringLiteral("sound")).toBool(true);
    r.trigger = CalendarMinute{t[0].toInt(), t[1].toInt(), t[2].toInt(), t[3].toInt(), t[4].toInt()};
    return r;
}

} // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QDBusConnection bus, QString pendingFile,
                                                             const Clock& clock, std::function<Calendar()> calendar,
                                                             SystemEvents* events, QObject* parent)
    : NotificationCenter(parent), m_bus(std::move(bus)), m_file(std::move(pendingFile)), m_clock(clock),
      m_calendar(std::move(calendar))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FreedesktopNotificationCenter::rearm);
    if (m_bus.isConnected()) {
        m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                      SLOT(onActionInvoked(uint, QString)));
        m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                      SLOT(onNotificationClosed(uint, uint)));
    }
    if (events) {
        for (auto signal : {&SystemEvents::clockChanged, &SystemEvents::timeZoneChanged, &SystemEvents::didWake,
                            &SystemEvents::dayChanged})
            connect(events, signal, this, &FreedesktopNotificationCenter::rearm, Qt::QueuedConnection);
    }
    if (!m_file.isEmpty())
        load();
    // Deliver what fell due while the application was not running once the event loop runs.
    QMetaObject::invokeMethod(this, &FreedesktopNotificationCenter::rearm, Qt::QueuedConnection);
}

FreedesktopNotificationCenter::~FreedesktopNotificationCenter()
{
    persistIfChanged();
}

void FreedesktopNotificationCenter::setPendingFile(const QString& path)
{
    if (path == m_file)
        return;
    // The old file keeps what it was told until now, as when every change was written at once.
    persistIfChanged();
    const QMap<QString, NotificationRequest> held = std::exchange(m_pending, {});
    m_file = path;
    m_fileUntouchable = false;
    load();
    for (auto it = held.cbegin(); it != held.cend(); ++it)
        m_pending.insert(it.key(), it.value());
    if (!held.isEmpty())
        m_unwritten = true;
    rearm();
}

bool FreedesktopNotificationCenter::serviceAvailable() const
{
    if (!m_bus.isConnected() || !m_bus.interface())
        return false;
    if (m_bus.interface()->isServiceRegistered(service))
        return true;
    const QDBusReply<QStringList> activatable = m_bus.interface()->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(service);
}

// The service may come or go at any moment, so each turn asks the bus again; but a turn that
// schedules many reminders, before the window shows, asks it once rather than twice a reminder.
void FreedesktopNotificationCenter::requestAuthorization(std::function<void(bool)> done)
{
    m_askers.append(std::move(done));
    if (m_askers.size() == 1)
        QMetaObject::invokeMethod(this, &FreedesktopNotificationCenter::answerAuthorization, Qt::QueuedConnection);
}

void FreedesktopNotificationCenter::authorizationStatus(std::function<void(NotificationAuthorization)> done)
{
    requestAuthorization([done = std::move(done)](bool available) {
        done(available ? NotificationAuthorization::authorized : NotificationAuthorization::denied);
    });
}

void FreedesktopNotificationCenter::answerAuthorization()
{
    // Those asking while the answers run are answered in a turn of their own.
    const QList<std::function<void(bool)>> askers = std::exchange(m_askers, {});
    const bool available = serviceAvailable();
    for (const auto& done : askers)
        done(available);
}

void FreedesktopNotificationCenter::removePendingRequests(const QStringList& identifiers)
{
    bool changed = false;
    for (const QString& id : identifiers)
        changed = m_pending.remove(id) > 0 || changed;
    if (changed)
        settleLater();
}

void FreedesktopNotificationCenter::add(const NotificationRequest& request)
{
    if (!request.trigger) {
        deliver(request);
        return;
    }
    m_pending.insert(request.identifier, request);
    settleLater();
}

// A turn's adds and removes cost one write of the file and one pass over the requests.
void FreedesktopNotificationCenter::settleLater()
{
    m_unwritten = true;
    if (m_settleQueued)
        return;
    m_settleQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_settleQueued = false;
            rearm();
        },
        Qt::QueuedConnection);
}

std::optional<Date> FreedesktopNotificationCenter::dueAt(const CalendarMinute& m) const
{
    return m_calendar().dateIfValid(QDate(m.year, m.month, m.day), m.hour, m.minute, 0);
}

void FreedesktopNotificationCenter::rearm()
{
    const Date now = m_clock.now();
    std::optional<Date> next;
    QList<NotificationRequest> due;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        const std::optional<Date> at = dueAt(*it->trigger);
        if (!at) { // a minute no calendar has: nothing will ever make it due
            it = m_pending.erase(it);
            continue;
        }
        if (*at <= now) {
            due.append(*it);
            it = m_pending.erase(it);
            continue;
        }
        next = next ? std::min(*next, *at) : *at;
        ++it;
    }
    if (!due.isEmpty())
        m_unwritten = true;
    persistIfChanged();
    for (const NotificationRequest& r : due)
        deliver(r);
    if (next) {
        const qint64 waitMs = static_cast<qint64>(std::ceil((*next - now) * 1000.0));
        m_timer.start(static_cast<int>(std::clamp<qint64>(waitMs, 0, maxWaitMs)));
    } else {
        m_timer.stop();
    }
}

void FreedesktopNotificationCenter::deliver(const NotificationRequest& request)
{
    if (!m_bus.isConnected())
        return;
    if (m_bodyMarkup) {
        send(request);
        return;
    }
    m_waiting.append(request);
    if (m_askingCapabilities)
        return;
    // Asked without blocking: a server that hangs must not freeze the application.
    m_askingCapabilities = true;
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(ask, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<QStringList> caps = *w;
        w->deleteLater();
        m_askingCapabilities = false;
        m_bodyMarkup = caps.isValid() && caps.value().contains(QStringLiteral("body-markup"));
        const QList<NotificationRequest> waiting = std::exchange(m_waiting, {});
        for (const NotificationRequest& r : waiting)
            send(r);
    });
}

void FreedesktopNotificationCenter::send(const NotificationRequest& request)
{
    // A to-do title is the person's own text: servers that read markup must see it as text.
    const QString body = m_bodyMarkup.value_or(false) ? request.body.toHtmlEscaped() : request.body;
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quillharbour"));
    if (request.sound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QStringLiteral("Quillharbour") << uint(0) << QString() << request.title << body
         << QStringList{QStringLiteral("default"), QStringLiteral("Open")} << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 5000), this);
    const QString identifier = request.identifier;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, identifier](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isValid())
            m_shown.insert(reply.value(), identifier);
        w->deleteLater();
    });
}

void FreedesktopNotificationCenter::onActionInvoked(uint id, const QString& action)
{
    const auto it = m_shown.constFind(id);
    if (it == m_shown.cend() || action != QLatin1String("default"))
        return;
    emit activated(*it);
}

void FreedesktopNotificationCenter::onNotificationClosed(uint id, uint)
{
    // The tap arrives before the close; after the close the id may be reused by the server.
    m_shown.remove(id);
}

void FreedesktopNotificationCenter::load()
{
    QFile file(m_file);
    if (!file.exists())
        return;
    const bool opened = file.open(QIODevice::ReadOnly);
    const QByteArray bytes = opened ? file.readAll() : QByteArray();
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!opened || file.error() != QFileDevice::NoError || !doc.isArray()) {
        // Never lose reminders silently: keep the unreadable file beside the new one, and when
        // no copy can be made, leave it alone and hold the requests in memory.
        const qint64 seconds = static_cast<qint64>(wholeSeconds(m_clock.now()));
        if (FileSafety::backUpUnreadable(m_file, seconds).isEmpty())
            m_fileUntouchable = true;
        return;
    }
    for (const QJsonValue& v : doc.array())
        if (const auto r = decodeRequest(v))
            m_pending.insert(r->identifier, *r);
}

void FreedesktopNotificationCenter::persistIfChanged()
{
    if (std::exchange(m_unwritten, false))
        persist();
}

void FreedesktopNotificationCenter::persist()
{
    if (m_file.isEmpty() || m_fileUntouchable)
        return;
    QJsonArray array;
    for (const NotificationRequest& r : std::as_const(m_pending))
        array.append(encodeRequest(r));
    writePendingFile(m_file, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

void FreedesktopNotificationCenter::writePendingFile(const QString& path, const QByteArray& bytes)
{
    FileSafety::writeAtomically(path, bytes);
}
