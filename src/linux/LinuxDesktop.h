#pragma once

#include "linux/InstalledPrograms.h"
#include "platform/IdleTime.h"
#include "platform/ScreenState.h"
#include "platform/Workspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

struct xcb_connection_t;
class BrowserDiscovery;

// The X11 display, shared by the workspace and idle-time backends. Absent display: both answer
// "no frontmost application" and "active".
class X11Display {
public:
    // What opening the display takes: connecting, and asking the server for the names and the
    // extension the queries use. Round trips, which may run on another thread while the toolkit
    // starts; the display is then made from what they gave. Shared, so that one dropped unused
    // (by a start that ends early) still closes its connection.
    struct Opened;
    static std::shared_ptr<Opened> open();
    explicit X11Display(std::shared_ptr<Opened> opened);
    X11Display();
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    bool isOpen() const { return m_connection != nullptr; }

    // The class part of WM_CLASS and _NET_WM_PID of the active window, while a live EWMH window
    // manager names one. Read from the server only after it reported a change: asking costs no
    // round trip while the same window stays in front.
    struct ActiveWindow {
        QString windowClass;
        qint64 pid = 0;
        bool operator==(const ActiveWindow&) const = default;
    };
    std::optional<ActiveWindow> activeWindow() const;
    std::optional<double> secondsSinceLastInput() const;
    // Whether the server's reports of a change of the active window reach `handler` (see
    // Workspace::tellsFrontmostChanges()).
    bool tellsChanges() const;
    // Whether a live EWMH window manager names the active window, whether or not one is active
    // now: its reports then tell of every window that comes to the front.
    bool namesActiveWindows() const;
    // The processes whose windows the window manager lists, or none without a live one.
    std::optional<QSet<qint64>> windowOwners() const;
    void onChange(std::function<void()> handler) const;

private:
    // True when it forgot the answer it held.
    bool drain(bool read) const;
    // After round trips: what came in meanwhile waits in the connection's queue, where the
    // event loop never looks.
    void drainQueued() const;
    std::optional<ActiveWindow> readActiveWindow() const;

    std::shared_ptr<Opened> d;
    xcb_connection_t* m_connection = nullptr;
};

// Which application is in front, which browsers are installed and running, and opening links.
class LinuxWorkspace : public Workspace {
public:
    static inline const QString ownId = QStringLiteral("com.morrowfield.quillharbour");

    // With a discovery, running browsers are known from it instead of from the process table.
    explicit LinuxWorkspace(const X11Display& display, QString home = QString(), BrowserDiscovery* discovery = nullptr);
    ~LinuxWorkspace() override;

    std::optional<QString> frontmostApplicationId() const override;
    bool tellsFrontmostChanges() const override { return m_display.tellsChanges(); }
    // A browser window coming to the front is looked at even while nobody asks for the front
    // window, so a browser on a profile folder nobody watches is found at once.
    void onFrontmostChange(std::function<void()> handler) override;
    QString ownApplicationId() const override { return ownId; }
    bool isInstalled(const QString& browserId) const override;
    bool isRunning(const QString& browserId) const override;
    bool openURL(const QUrl& url) override;

    // The process id in "<profile>/SingletonLock" when that process is alive.
    static std::optional<qint64> singletonLockPid(const QString& profile);

private:
    const X11Display& m_display;
    QString m_home;
    BrowserDiscovery* m_discovery = nullptr;
    std::optional<QString> front(const X11Display::ActiveWindow& window) const;
    void tellDiscoveryOfFront() const;
    // Asked by the engine's listing, the status icon and the pages: looked up again only after
    // PATH or an application folder changed.
    mutable InstalledPrograms m_installed;
    mutable QElapsedTimer m_clock;
    // The window last in front and what it was found to be: asked on every check, it mostly stays.
    mutable std::optional<X11Display::ActiveWindow> m_lastWindow;
    mutable std::optional<QString> m_lastFront;
};

class X11IdleTime : public IdleTime {
public:
    explicit X11IdleTime(const X11Display& display) : m_display(display) {}
    std::optional<double> secondsSinceLastInput() const override { return m_display.secondsSinceLastInput(); }

private:
    const X11Display& m_display;
};

// Screens asleep and the session locked: logind's PrepareForSleep, and Lock and Unlock from our
// own session's object (logind sends them from the session's real path, never from the "auto"
// alias, so that path is asked for first), and the screen savers' ActiveChanged on the session
// bus (the freedesktop one and GNOME's). Without those services nothing is ever reported and the
// screen counts as active.
class LinuxScreenState : public ScreenState {
    Q_OBJECT
public:
    explicit LinuxScreenState(QObject* parent = nullptr);
    LinuxScreenState(QDBusConnection system, QDBusConnection session, QObject* parent = nullptr);

    // The session object whose Lock and Unlock are heard, once logind has named it.
    std::optional<QString> sessionPath() const { return m_sessionPath; }

private slots:
    void onPrepareForSleep(bool sleeping);
    void onScreenSaverActive(bool active);
    void onSessionLock();
    void onSessionUnlock();

private:
    void resolveSession(const QList<QDBusMessage>& attempts);
    void listenToSession(const QString& path);

    QDBusConnection m_system;
    std::optional<QString> m_sessionPath;
};
