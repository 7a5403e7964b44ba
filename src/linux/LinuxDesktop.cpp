#include "linux/LinuxDesktop.h"

#include "linux/BrowserDiscovery.h"

#include "linux/LinuxBrowsers.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdlib>
#include <signal.h>
#include <unistd.h>
#include <vector>

struct X11Display::Opened {
    xcb_connection_t* connection = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    xcb_window_t root = 0;
    bool screensaver = false;
    // The last answer, kept until the server says something it rests on changed: the root's
    // properties, the window manager's check window, or the active window's own properties.
    bool cached = false;
    std::optional<ActiveWindow> active;
    xcb_window_t watchedCheck = 0;
    xcb_window_t watchedActive = 0;
    // Tells when the server has sent something, so that asking for the active window reads the
    // connection only then and not on every check.
    std::unique_ptr<QSocketNotifier> notifier;
    std::function<void()> onChange;
    ~Opened();
};

std::shared_ptr<X11Display::Opened> X11Display::open()
{
    auto d = std::make_shared<Opened>();
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return d;
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return d;
    }
    d->connection = c;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    d->root = it.data ? it.data->root : 0;
    d->ewmhReady = xcb_ewmh_init_atoms_replies(&d->ewmh, xcb_ewmh_init_atoms(c, &d->ewmh), nullptr) != 0;
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_screensaver_id);
    d->screensaver = ext && ext->present;
    if (d->root) {
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c, d->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c);
    }
    return d;
}

X11Display::X11Display() : X11Display(open()) {}

X11Display::X11Display(std::shared_ptr<Opened> opened) : d(std::move(opened))
{
    m_connection = d->connection;
    if (!m_connection)
        return;
    xcb_connection_t* c = m_connection;
    if (QCoreApplication::instance()) {
        d->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
        QObject::connect(d->notifier.get(), &QSocketNotifier::activated, d->notifier.get(), [this] {
            const bool forgot = drain(true);
            // A broken connection stays readable: it would wake the loop for ever.
            const bool broken = xcb_connection_has_error(m_connection);
            if (broken)
                d->notifier->setEnabled(false);
            if ((forgot || broken) && d->onChange)
                d->onChange();
        });
    }
}

namespace {

// Asks to hear of a window's property changes (and, for the check window, of its end).
void watchWindow(xcb_connection_t* c, xcb_window_t window, uint32_t mask)
{
    if (window)
        xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
}

} // namespace

bool X11Display::drain(bool read) const
{
    const bool held = d->cached;
    // Without waiting: what the server has already sent (read), or only what came in with the
    // answers to our own questions and waits in the connection's queue.
    while (xcb_generic_event_t* event =
               read ? xcb_poll_for_event(m_connection) : xcb_poll_for_queued_event(m_connection)) {
        switch (event->response_type & ~0x80) {
        case XCB_PROPERTY_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (e->window != d->root || e->atom == d->ewmh._NET_ACTIVE_WINDOW ||
                e->atom == d->ewmh._NET_SUPPORTING_WM_CHECK)
                d->cached = false;
            break;
        }
        default:
            // A destroyed window, or an error about one that went away meanwhile.
            d->cached = false;
            break;
        }
        free(event);
    }
    if (xcb_connection_has_error(m_connection))
        d->cached = false;
    return held && !d->cached;
}

void X11Display::drainQueued() const
{
    // Told from the loop: the one asking now has its answer, the others hear of it afterwards.
    if (drain(false) && d->onChange && d->notifier)
        QMetaObject::invokeMethod(d->notifier.get(), d->onChange, Qt::QueuedConnection);
}

bool X11Display::tellsChanges() const
{
    // Without a display, or without the names the answer is read by, it is "none" for good:
    // nothing is left untold. A connection that broke told so, and answers "none" from then on.
    return !m_connection || !d->ewmhReady || !d->root || d->notifier;
}

bool X11Display::namesActiveWindows() const
{
    if (!m_connection || !d->ewmhReady || !d->root || !d->notifier || !d->notifier->isEnabled())
        return false;
    // The same test as the active window's: the window the root names must name itself.
    xcb_window_t check = 0;
    xcb_window_t self = 0;
    const bool live = xcb_ewmh_get_supporting_wm_check_reply(
                          &d->ewmh, xcb_ewmh_get_supporting_wm_check(&d->ewmh, d->root), &check, nullptr) &&
                      check &&
                      xcb_ewmh_get_supporting_wm_check_reply(
                          &d->ewmh, xcb_ewmh_get_supporting_wm_check(&d->ewmh, check), &self, nullptr) &&
                      self == check;
    drainQueued();
    return live;
}

std::optional<QSet<qint64>> X11Display::windowOwners() const
{
    if (!namesActiveWindows())
        return std::nullopt;
    xcb_ewmh_get_windows_reply_t clients{};
    if (!xcb_ewmh_get_client_list_reply(&d->ewmh, xcb_ewmh_get_client_list(&d->ewmh, 0), &clients, nullptr))
        return std::nullopt;
    // All the questions first, then the answers: one round trip, not one a window.
    std::vector<xcb_get_property_cookie_t> asked;
    asked.reserve(clients.windows_len);
    for (uint32_t i = 0; i < clients.windows_len; ++i)
        asked.push_back(xcb_ewmh_get_wm_pid(&d->ewmh, clients.windows[i]));
    xcb_ewmh_get_windows_reply_wipe(&clients);
    QSet<qint64> owners;
    for (const xcb_get_property_cookie_t& cookie : asked)
        if (uint32_t pid = 0; xcb_ewmh_get_wm_pid_reply(&d->ewmh, cookie, &pid, nullptr))
            owners.insert(pid);
    drainQueued();
    return owners;
}

void X11Display::onChange(std::function<void()> handler) const
{
    if (m_connection)
        d->onChange = std::move(handler);
}

X11Display::~X11Display() = default;

X11Display::Opened::~Opened()
{
    notifier.reset();
    if (ewmhReady)
        xcb_ewmh_connection_wipe(&ewmh);
    if (connection)
        xcb_disconnect(connection);
}

std::optional<X11Display::ActiveWindow> X11Display::activeWindow() const
{
    if (!m_connection || !d->ewmhReady || !d->root)
        return std::nullopt;
    // What the server sends is read as it arrives where the event loop tells of it.
    if (d->notifier && d->notifier->isEnabled())
        drainQueued();
    else
        drain(true);
    if (d->cached)
        return d->active;
    d->active = readActiveWindow();
    d->cached = true;
    const std::optional<ActiveWindow> read = d->active;
    drainQueued();
    return read;
}

std::optional<X11Display::ActiveWindow> X11Display::readActiveWindow() const
{
    // The root properties outlive a window manager that exits: trust them only while the window
    // it names still exists and names itself.
    xcb_window_t check = 0;
    if (!xcb_ewmh_get_supporting_wm_check_reply(&d->ewmh, xcb_ewmh_get_supporting_wm_check(&d->ewmh, d->root), &check,
                                                nullptr) ||
        !check)
        return std::nullopt;
    xcb_window_t self = 0;
    if (check != d->watchedCheck) {
        watchWindow(m_connection, check, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
        d->watchedCheck = check;
    }
    if (!xcb_ewmh_get_supporting_wm_check_reply(&d->ewmh, xcb_ewmh_get_supporting_wm_check(&d->ewmh, check), &self,
                                                nullptr) ||
        self != check)
        return std::nullopt;
    xcb_window_t active = 0;
    if (!xcb_ewmh_get_active_window_reply(&d->ewmh, xcb_ewmh_get_active_window(&d->ewmh, 0), &active, nullptr) ||
        !active)
        return std::nullopt;
    if (active != d->watchedActive) {
        // Asked before its class and process are read, so that a change after the read is heard.
        watchWindow(m_connection, active, XCB_EVENT_MASK_PROPERTY_CHANGE);
        d->watchedActive = active;
    }

    ActiveWindow window;
    xcb_get_property_reply_t* cls = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, active, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr);
    if (cls) {
        // WM_CLASS is "instance\0class\0".
        const auto* bytes = static_cast<const char*>(xcb_get_property_value(cls));
        const int length = xcb_get_property_value_length(cls);
        const QByteArray value(bytes, length);
        const QList<QByteArray> parts = value.split('\0');
        if (parts.size() >= 2)
            window.windowClass = QString::fromLocal8Bit(parts.at(1));
        free(cls);
    }
    uint32_t pid = 0;
    if (xcb_ewmh_get_wm_pid_reply(&d->ewmh, xcb_ewmh_get_wm_pid(&d->ewmh, active), &pid, nullptr))
        window.pid = pid;
    return window;
}

std::optional<double> X11Display::secondsSinceLastInput() const
{
    if (!m_connection || !d->screensaver || !d->root)
        return std::nullopt;
    xcb_screensaver_query_info_reply_t* info =
        xcb_screensaver_query_info_reply(m_connection, xcb_screensaver_query_info(m_connection, d->root), nullptr);
    if (!info)
        return std::nullopt;
    const double seconds = info->ms_since_user_input / 1000.0;
    free(info);
    drainQueued();
    return seconds;
}

// ---------------------------------------------------------------- workspace

LinuxWorkspace::LinuxWorkspace(const X11Display& display, QString home, BrowserDiscovery* discovery)
    : m_display(display), m_home(home.isEmpty() ? QDir::homePath() : std::move(home)), m_discovery(discovery)
{
    if (m_discovery)
        m_discovery->setWindowOwners([this] { return m_display.windowOwners(); });
}

LinuxWorkspace::~LinuxWorkspace()
{
    m_display.onChange(nullptr);
    if (m_discovery)
        m_discovery->setWindowOwners(nullptr);
}

void LinuxWorkspace::onFrontmostChange(std::function<void()> handler)
{
    if (!handler && !m_discovery) {
        m_display.onChange(nullptr);
        return;
    }
    m_display.onChange([this, handler = std::move(handler)] {
        if (m_discovery) {
            frontmostApplicationId(); // tells the discovery of a browser process it does not know
            tellDiscoveryOfFront();
        }
        if (handler)
            handler();
    });
    tellDiscoveryOfFront();
}

void LinuxWorkspace::tellDiscoveryOfFront() const
{
    // A window manager that came or went changes whether a browser's window coming forward is
    // heard of; with a window in front it is known to name them without asking.
    if (m_discovery)
        m_discovery->setFrontWindowsNamed(m_display.activeWindow().has_value() || m_display.namesActiveWindows());
}

std::optional<QString> LinuxWorkspace::frontmostApplicationId() const
{
    const std::optional<X11Display::ActiveWindow> window = m_display.activeWindow();
    if (!window)
        return std::nullopt;
    if (window == m_lastWindow)
        return m_lastFront;
    m_lastWindow = window;
    m_lastFront = front(*window);
    return m_lastFront;
}

std::optional<QString> LinuxWorkspace::front(const X11Display::ActiveWindow& window) const
{
    // Asked on every check: the process's own id does not change, the system call need not be made.
    static const qint64 ownPid = QCoreApplication::applicationPid();
    if (window.pid == ownPid)
        return ownId;
    if (const LinuxBrowserIdentity* identity = LinuxBrowsers::forWindowClass(window.windowClass)) {
        if (m_discovery)
            m_discovery->noticeProcess(window.pid);
        return identity->browserId;
    }
    // Some other application: named by its class so that it is never mistaken for a browser.
    if (window.windowClass.isEmpty())
        return std::nullopt;
    return QStringLiteral("x11.class.") + window.windowClass;
}

bool LinuxWorkspace::isInstalled(const QString& browserId) const
{
    const LinuxBrowserIdentity* identity = LinuxBrowsers::forId(browserId);
    if (!identity)
        return false;
    if (!m_clock.isValid())
        m_clock.start();
    return m_installed.anyInstalled(identity->executables, m_clock.elapsed());
}

std::optional<qint64> LinuxWorkspace::singletonLockPid(const QString& profile)
{
    // Chromium keeps "SingletonLock" as a symbolic link to "<hostname>-<pid>" while it runs.
    const QString target = QFileInfo(QDir(profile).filePath(QStringLiteral("SingletonLock"))).symLinkTarget();
    if (target.isEmpty())
        return std::nullopt;
    const QString name = QFileInfo(target).fileName();
    bool ok = false;
    const qint64 pid = name.mid(name.lastIndexOf(u'-') + 1).toLongLong(&ok);
    if (!ok || pid <= 0 || kill(static_cast<pid_t>(pid), 0) != 0)
        return std::nullopt;
    return pid;
}

bool LinuxWorkspace::isRunning(const QString& browserId) const
{
    const LinuxBrowserIdentity* identity = LinuxBrowsers::forId(browserId);
    if (!identity || identity->executables.isEmpty())
        return false;
    if (m_discovery)
        return m_discovery->isRunning(browserId);
    const QString profile = LinuxBrowsers::profilePath(*identity, m_home);
    if (!profile.isEmpty() && singletonLockPid(profile))
        return true;
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : processes) {
        if (pid.isEmpty() || !pid.at(0).isDigit())
            continue;
        const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        if (!exe.isEmpty() &&
            (identity->executables.contains(QFileInfo(exe).fileName()) || identity->programPaths.contains(exe)))
            return true;
    }
    return false;
}

bool LinuxWorkspace::openURL(const QUrl& url)
{
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}

// ---------------------------------------------------------------- screen state

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

LinuxScreenState::LinuxScreenState(QObject* parent)
    : LinuxScreenState(QDBusConnection::systemBus(), QDBusConnection::sessionBus(), parent)
{
}

LinuxScreenState::LinuxScreenState(QDBusConnection system, QDBusConnection session, QObject* parent)
    : ScreenState(parent), m_system(std::move(system))
{
    if (m_system.isConnected()) {
        m_system.connect(login1, login1Path, login1Manager, QStringLiteral("PrepareForSleep"), this,
                         SLOT(onPrepareForSleep(bool)));
        // The session this process belongs to; else the one logind takes for "auto" (a process
        // started outside any session, by the user's service manager, say).
        QDBusMessage byPid =
            QDBusMessage::createMethodCall(login1, login1Path, login1Manager, QStringLiteral("GetSessionByPID"));
        byPid << uint(QCoreApplication::applicationPid());
        QDBusMessage automatic =
            QDBusMessage::createMethodCall(login1, login1Path, login1Manager, QStringLiteral("GetSession"));
        automatic << QStringLiteral("auto");
        resolveSession({byPid, automatic});
    }
    if (session.isConnected()) {
        session.connect(QString(), QStringLiteral("/org/freedesktop/ScreenSaver"),
                        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("ActiveChanged"), this,
                        SLOT(onScreenSaverActive(bool)));
        session.connect(QString(), QStringLiteral("/org/gnome/ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver"),
                        QStringLiteral("ActiveChanged"), this, SLOT(onScreenSaverActive(bool)));
    }
}

void LinuxScreenState::resolveSession(const QList<QDBusMessage>& attempts)
{
    if (attempts.isEmpty())
        return;
    auto* watcher = new QDBusPendingCallWatcher(m_system.asyncCall(attempts.first(), 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, attempts](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isValid() && !reply.value().path().isEmpty())
            listenToSession(reply.value().path());
        else
            resolveSession(attempts.mid(1));
    });
}

void LinuxScreenState::listenToSession(const QString& path)
{
    const QString interface = QStringLiteral("org.freedesktop.login1.Session");
    m_system.connect(login1, path, interface, QStringLiteral("Lock"), this, SLOT(onSessionLock()));
    m_system.connect(login1, path, interface, QStringLiteral("Unlock"), this, SLOT(onSessionUnlock()));
    m_sessionPath = path;
}

void LinuxScreenState::onPrepareForSleep(bool sleeping)
{
    if (sleeping)
        emit screensDidSleep();
    else
        emit screensDidWake();
}

void LinuxScreenState::onScreenSaverActive(bool active)
{
    if (active)
        emit screenLocked();
    else
        emit screenUnlocked();
}

void LinuxScreenState::onSessionLock()
{
    emit screenLocked();
}

void LinuxScreenState::onSessionUnlock()
{
    emit screenUnlocked();
}
