#include "DesktopSession.h"
#include "SessionBus.h"
#include "linux/BrowserDiscovery.h"
#include "linux/LinuxBrowsers.h"
#include "linux/LinuxDesktop.h"
#include "model/SupportedBrowser.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <future>

#include <unistd.h>

namespace {

// The browsers the engine recognises but cannot protect; the warning about them needs to know
// their windows.
const QStringList unprotectedBrowsers{
    QStringLiteral("chrome-beta"),
    QStringLiteral("chrome-canary"),
};

QStringList knownBrowsers()
{
    QStringList ids;
    for (const SupportedBrowser& b : SupportedBrowser::all())
        ids << b.id;
    return ids + unprotectedBrowsers;
}

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QString>& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value)
            qputenv(name, value->toLocal8Bit());
        else
            qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

bool writeFile(const QString& path, const QByteArray& content, bool executable)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    QFile::Permissions p = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (executable)
        p |= QFileDevice::ExeOwner;
    return file.setPermissions(p);
}

} // namespace

// The Linux desktop as the blocking engine sees it: which browser a window or program belongs to,
// which are installed and running, the window in front and the time since the last input.
class TestLinuxDesktop : public QObject {
    Q_OBJECT

    // How long a condition may take on a busy machine; a condition met early ends the wait.
    static constexpr int patience = 30000;

    std::unique_ptr<SessionBus> bus;

    // Runs an X client to completion on the given display; its standard output, trimmed.
    static QString x11Tool(const QString& display, const QString& program, const QStringList& arguments)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        p.setProcessEnvironment(env);
        p.start(program, arguments);
        if (!p.waitForFinished(5000)) {
            stop(p);
            return {};
        }
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }

    static void startOnDisplay(QProcess& p, const QString& display, const QString& program,
                               const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(program, arguments);
    }

    static QString front(const LinuxWorkspace& workspace)
    {
        return workspace.frontmostApplicationId().value_or(QStringLiteral("(none)"));
    }

private slots:
    void initTestCase()
    {
        // Without a bus address, GTK programs started here would launch a bus that outlives us.
        bus = std::make_unique<SessionBus>();
        QVERIFY2(!bus->address().isEmpty(), "dbus-daemon could not be started");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toLocal8Bit());
    }

    void cleanupTestCase() { bus.reset(); }

    // ------------------------------------------------------------ identities

    void everyKnownBrowserHasARow()
    {
        for (const QString& id : knownBrowsers()) {
            const LinuxBrowserIdentity* row = LinuxBrowsers::forId(id);
            QVERIFY2(row, qPrintable(id));
            QCOMPARE(row->browserId, id);
        }
        QCOMPARE(LinuxBrowsers::forId(QStringLiteral("com.google.chrome")), nullptr);
        QCOMPARE(LinuxBrowsers::forId(QString()), nullptr);

        // Every browser the debugging protocol serves is reached through its profile folder.
        for (const SupportedBrowser& b : SupportedBrowser::all()) {
            const LinuxBrowserIdentity* row = LinuxBrowsers::forId(b.id);
            QVERIFY2(!row->executables.isEmpty(), qPrintable(b.id));
            QVERIFY2(!row->windowClasses.isEmpty(), qPrintable(b.id));
            QCOMPARE(row->profileFolder.isEmpty(), !b.servedBy(SupportedBrowser::devToolsRoute));
        }
        QCOMPARE(
            LinuxBrowsers::profilePath(*LinuxBrowsers::forId(QStringLiteral("chrome")), QStringLiteral("/home/ada")),
            QStringLiteral("/home/ada/.config/google-chrome"));
        QCOMPARE(
            LinuxBrowsers::profilePath(*LinuxBrowsers::forId(QStringLiteral("firefox")), QStringLiteral("/home/ada")),
            QString());

        // A class or program claimed by two rows would make one browser pass for another.
        QSet<QString> classes;
        QSet<QString> programs;
        for (const LinuxBrowserIdentity& row : LinuxBrowsers::table()) {
            for (const QString& c : row.windowClasses) {
                QVERIFY2(!classes.contains(c.toLower()), qPrintable(c));
                classes.insert(c.toLower());
            }
            for (const QString& p : row.executables) {
                QVERIFY2(!programs.contains(p), qPrintable(p));
                programs.insert(p);
            }
        }
    }

    void windowClass_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("browserId");

        QTest::newRow("Google-chrome") << "Google-chrome"
                                       << "chrome";
        QTest::newRow("google-chrome") << "google-chrome"
                                       << "chrome";
        QTest::newRow("GOOGLE-CHROME") << "GOOGLE-CHROME"
                                       << "chrome";
        QTest::newRow("Brave-browser") << "Brave-browser"
                                       << "brave";
        QTest::newRow("microsoft-edge") << "microsoft-edge"
                                        << "edge";
        QTest::newRow("firefox") << "firefox"
                                 << "firefox";
        QTest::newRow("Firefox-esr") << "Firefox-esr"
                                     << "firefox";
        QTest::newRow("Opera") << "opera"
                               << "opera";
        QTest::newRow("Vivaldi-stable") << "Vivaldi-stable"
                                        << "vivaldi";
        QTest::newRow("Chrome Beta") << "Google-chrome-beta"
                                     << "chrome-beta";
        QTest::newRow("Chrome Canary") << "google-chrome-unstable"
                                       << "chrome-canary";
        QTest::newRow("Chromium") << "Chromium"
                                  << "chromium";
        QTest::newRow("chromium-browser") << "chromium-browser"
                                          << "chromium";
        QTest::newRow("no class") << ""
                                  << "";
        QTest::newRow("other program") << "Xmessage"
                                       << "";
        QTest::newRow("prefix only") << "Google"
                                     << "";
        QTest::newRow("program name, not class") << "chrome"
                                                 << "";
        QTest::newRow("trailing space") << "Google-chrome "
                                        << "";
    }

    void windowClass()
    {
        QFETCH(QString, windowClass);
        QFETCH(QString, browserId);
        const LinuxBrowserIdentity* row = LinuxBrowsers::forWindowClass(windowClass);
        QCOMPARE(row ? row->browserId : QString(), browserId);
    }

    // ------------------------------------------------------------ installed

    void isInstalled_data()
    {
        QTest::addColumn<QStringList>("executables"); // created in a folder that is all of PATH
        QTest::addColumn<QStringList>("otherFiles");  // relative to the test folder, not executable
        QTest::addColumn<QStringList>("installed");

        QTest::newRow("nothing") << QStringList() << QStringList() << QStringList();
        QTest::newRow("program on PATH") << QStringList{"google-chrome"} << QStringList() << QStringList{"chrome"};
        QTest::newRow("second program name") << QStringList{"brave"} << QStringList() << QStringList{"brave"};
        QTest::newRow("unprotected browser") << QStringList{"firefox-esr"} << QStringList() << QStringList{"firefox"};
        QTest::newRow("not executable") << QStringList() << QStringList{"bin/google-chrome"} << QStringList();
        QTest::newRow("folder of that name") << QStringList() << QStringList{"bin/google-chrome/x"} << QStringList();
        QTest::newRow("desktop file in data home")
            << QStringList() << QStringList{"data/applications/microsoft-edge.desktop"} << QStringList{"edge"};
        QTest::newRow("desktop file in data dirs")
            << QStringList() << QStringList{"dirs/applications/google-chrome-stable.desktop"} << QStringList{"chrome"};
        QTest::newRow("desktop file elsewhere")
            << QStringList() << QStringList{"data/google-chrome.desktop"} << QStringList();
        QTest::newRow("desktop file of another name")
            << QStringList() << QStringList{"data/applications/com.google.Chrome.beta.desktop"} << QStringList();
        QTest::newRow("several") << QStringList{"vivaldi", "chromium"}
                                 << QStringList{"data/applications/brave-browser.desktop"}
                                 << QStringList{"vivaldi", "chromium", "brave"};
        QTest::newRow("names from nowhere") << QStringList{"safari", "arc", "orion"} << QStringList() << QStringList();
    }

    void isInstalled()
    {
        QFETCH(QStringList, executables);
        QFETCH(QStringList, otherFiles);
        QFETCH(QStringList, installed);

        QTemporaryDir root;
        QVERIFY(root.isValid());
        QDir().mkpath(root.filePath(QStringLiteral("bin")));
        for (const QString& name : executables)
            QVERIFY(writeFile(root.filePath(QStringLiteral("bin/") + name), "#!/bin/sh\n", true));
        for (const QString& path : otherFiles)
            QVERIFY(writeFile(root.filePath(path), "[Desktop Entry]\n", false));
        // Only what this test made: the machine has a chromium of its own.
        const ScopedEnv path("PATH", root.filePath(QStringLiteral("bin")));
        const ScopedEnv dataHome("XDG_DATA_HOME", root.filePath(QStringLiteral("data")));
        const ScopedEnv dataDirs("XDG_DATA_DIRS", root.filePath(QStringLiteral("dirs")));

        const X11Display display;
        const LinuxWorkspace workspace(display, root.path());
        for (const QString& id : knownBrowsers())
            QVERIFY2(workspace.isInstalled(id) == installed.contains(id), qPrintable(id));
        QVERIFY(!workspace.isInstalled(QStringLiteral("com.example.unknown")));
    }

    // An answer is kept for the listing's interval: the icon and the pages that ask in between
    // do not look through PATH again.
    void installedAnswerIsKept()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QDir().mkpath(root.filePath(QStringLiteral("bin")));
        const ScopedEnv path("PATH", root.filePath(QStringLiteral("bin")));
        const ScopedEnv dataHome("XDG_DATA_HOME", root.filePath(QStringLiteral("data")));
        const ScopedEnv dataDirs("XDG_DATA_DIRS", root.filePath(QStringLiteral("dirs")));
        const X11Display display;
        const LinuxWorkspace workspace(display, root.path());
        const QString chromium = QStringLiteral("chromium");
        QVERIFY(!workspace.isInstalled(chromium));
        QVERIFY(writeFile(root.filePath(QStringLiteral("bin/chromium")), "#!/bin/sh\n", true));
        QVERIFY(!workspace.isInstalled(chromium));
        // A new workspace looks afresh.
        QVERIFY(LinuxWorkspace(display, root.path()).isInstalled(chromium));
    }

    // ------------------------------------------------------------ running

    void singletonLockPid_data()
    {
        QTest::addColumn<QString>("target"); // "<pid>" and "<dead>" are filled in
        QTest::addColumn<bool>("link");
        QTest::addColumn<bool>("live");

        QTest::newRow("our own process") << "host-<pid>" << true << true;
        QTest::newRow("host name with hyphens") << "my-desk-top-<pid>" << true << true;
        QTest::newRow("absolute target") << "/tmp/host-<pid>" << true << true;
        QTest::newRow("dead process") << "host-<dead>" << true << false;
        QTest::newRow("pid 0") << "host-0" << true << false;
        QTest::newRow("not a number") << "host-abc" << true << false;
        QTest::newRow("number with text") << "host-<pid>x" << true << false;
        QTest::newRow("no number") << "host-" << true << false;
        QTest::newRow("plain file") << "host-<pid>" << false << false;
    }

    void singletonLockPid()
    {
        QFETCH(QString, target);
        QFETCH(bool, link);
        QFETCH(bool, live);

        QProcess finished;
        finished.start(QStringLiteral("true"), QStringList());
        QVERIFY(finished.waitForStarted(5000));
        const qint64 dead = finished.processId();
        QVERIFY(finished.waitForFinished(5000)); // reaped: the pid names nobody now

        const qint64 pid = QCoreApplication::applicationPid();
        target.replace(QLatin1String("<pid>"), QString::number(pid))
            .replace(QLatin1String("<dead>"), QString::number(dead));
        QTemporaryDir profile;
        const QString lock = profile.filePath(QStringLiteral("SingletonLock"));
        if (link)
            QCOMPARE(symlink(target.toLocal8Bit().constData(), lock.toLocal8Bit().constData()), 0);
        else
            QVERIFY(writeFile(lock, target.toUtf8(), false));
        QCOMPARE(LinuxWorkspace::singletonLockPid(profile.path()), live ? std::optional<qint64>(pid) : std::nullopt);
    }

    void singletonLockMissing()
    {
        QTemporaryDir profile;
        QCOMPARE(LinuxWorkspace::singletonLockPid(profile.path()), std::nullopt);
        QCOMPARE(LinuxWorkspace::singletonLockPid(profile.filePath(QStringLiteral("absent"))), std::nullopt);
    }

    void isRunning()
    {
        QTemporaryDir home;
        const X11Display display;
        const LinuxWorkspace workspace(display, home.path());
        const QString chrome = QStringLiteral("chrome");
        QVERIFY(!workspace.isRunning(chrome));

        // A live lock in the profile folder: running, whatever the program is called.
        const QString profile = home.filePath(QStringLiteral(".config/google-chrome"));
        QVERIFY(QDir().mkpath(profile));
        const QString lock = QDir(profile).filePath(QStringLiteral("SingletonLock"));
        QCOMPARE(symlink(QByteArray("desk-" + QByteArray::number(QCoreApplication::applicationPid())).constData(),
                         lock.toLocal8Bit().constData()),
                 0);
        QVERIFY(workspace.isRunning(chrome));
        QVERIFY(!workspace.isRunning(QStringLiteral("edge")));
        // A lock left behind by a crash names a process that is gone.
        QVERIFY(QFile::remove(lock));
        QCOMPARE(symlink("desk-0", lock.toLocal8Bit().constData()), 0);
        QVERIFY(!workspace.isRunning(chrome));

        // Without a lock, a process whose program has the browser's name.
        const QString brave = QStringLiteral("brave");
        QVERIFY(!workspace.isRunning(brave));
        const QString program = home.filePath(QStringLiteral("brave-browser"));
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), program));
        QVERIFY(QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QProcess process;
        process.start(program, {QStringLiteral("30")});
        QVERIFY(process.waitForStarted(5000));
        QVERIFY(workspace.isRunning(brave));
        stop(process);
        QVERIFY(!workspace.isRunning(brave));

        QVERIFY(!workspace.isRunning(QStringLiteral("com.example.unknown")));
    }

    // ------------------------------------------------------------ the display

    void noDisplay_data()
    {
        QTest::addColumn<std::optional<QString>>("display");
        QTest::newRow("unset") << std::optional<QString>();
        QTest::newRow("empty") << std::optional<QString>(QString());
        // A display number with no server behind it.
        int n = 4000;
        while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
            ++n;
        QTest::newRow("no server") << std::optional<QString>(QStringLiteral(":%1").arg(n));
    }

    void noDisplay()
    {
        QFETCH(std::optional<QString>, display);
        const ScopedEnv env("DISPLAY", display);
        const X11Display x11;
        QVERIFY(!x11.isOpen());
        const LinuxWorkspace workspace(x11);
        QCOMPARE(workspace.frontmostApplicationId(), std::nullopt);
        QVERIFY(workspace.tellsFrontmostChanges()); // it never changes
        QCOMPARE(X11IdleTime(x11).secondsSinceLastInput(), std::nullopt);
    }

    void frontWindow()
    {
        DesktopSession desktop;
        QVERIFY2(!desktop.display().isEmpty(), "Xvfb or openbox could not be started");
        const QString d = desktop.display();
        const ScopedEnv env("DISPLAY", d);
        const X11Display display;
        QVERIFY(display.isOpen());
        LinuxWorkspace workspace(display);
        // Each change is told without anyone asking, so that the checks may rest meanwhile.
        int told = 0;
        workspace.onFrontmostChange([&told] { ++told; });
        QVERIFY(workspace.tellsFrontmostChanges());

        // A window manager, but no window.
        QCOMPARE(workspace.frontmostApplicationId(), std::nullopt);

        QProcess message;
        startOnDisplay(message, d, QStringLiteral("xmessage"),
                       {QStringLiteral("-title"), QStringLiteral("qh-probe"), QStringLiteral("probe")});
        QVERIFY(message.waitForStarted(5000));
        // Some other program: named by its class, never taken for a browser or for us.
        QTRY_COMPARE_WITH_TIMEOUT(front(workspace), QStringLiteral("x11.class.Xmessage"), patience);
        const QString window = x11Tool(d, QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")});
        QVERIFY(!window.isEmpty());

        // The class decides, in any letter case. The change is heard as the event loop turns.
        told = 0;
        x11Tool(d, QStringLiteral("xdotool"),
                {QStringLiteral("set_window"), QStringLiteral("--class"), QStringLiteral("google-CHROME"), window});
        QTRY_VERIFY_WITH_TIMEOUT(told > 0, patience);
        QCOMPARE(front(workspace), QStringLiteral("chrome"));
        // A change read from the connection along with the answer to another question leaves
        // nothing for the event loop to be told of; the next question must still see it, and
        // the change is still told.
        told = 0;
        x11Tool(d, QStringLiteral("xdotool"),
                {QStringLiteral("set_window"), QStringLiteral("--class"), QStringLiteral("firefox"), window});
        QVERIFY(x11Tool(d, QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("WM_CLASS")})
                    .contains(QLatin1String("\"firefox\"")));
        QVERIFY(X11IdleTime(display).secondsSinceLastInput());
        QCOMPARE(front(workspace), QStringLiteral("firefox"));
        QTRY_VERIFY_WITH_TIMEOUT(told > 0, patience);

        // A window of our own process is ours, whatever its class says.
        x11Tool(d, QStringLiteral("xprop"),
                {QStringLiteral("-id"), window, QStringLiteral("-f"), QStringLiteral("_NET_WM_PID"),
                 QStringLiteral("32c"), QStringLiteral("-set"), QStringLiteral("_NET_WM_PID"),
                 QString::number(QCoreApplication::applicationPid())});
        QTRY_COMPARE_WITH_TIMEOUT(front(workspace), LinuxWorkspace::ownId, patience);

        // Debian's chromium dressed as Google Chrome, as the wrapper scripts start it.
        if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
            QFAIL("chromium is not installed (scripts/install-deps installs it)");
        QTemporaryDir chromeHome;
        QProcess chrome;
        QProcessEnvironment chromeEnv = QProcessEnvironment::systemEnvironment();
        chromeEnv.insert(QStringLiteral("DISPLAY"), d);
        chromeEnv.insert(QStringLiteral("HOME"), chromeHome.path());
        chrome.setProcessEnvironment(chromeEnv);
        chrome.setStandardOutputFile(QProcess::nullDevice());
        chrome.setStandardErrorFile(QProcess::nullDevice());
        chrome.start(QStringLiteral("chromium"),
                     {QStringLiteral("--class=Google-chrome"),
                      QStringLiteral("--user-data-dir=") + chromeHome.filePath(QStringLiteral("profile")),
                      QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                      QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
                      QStringLiteral("--disable-sync"), QStringLiteral("--window-size=800,600"),
                      QStringLiteral("about:blank")});
        QVERIFY(chrome.waitForStarted(5000));
        QTRY_COMPARE_WITH_TIMEOUT(front(workspace), QStringLiteral("chrome"), patience);
        stop(chrome);
        // Focus goes back to the other window, which is ours.
        QTRY_COMPARE_WITH_TIMEOUT(front(workspace), LinuxWorkspace::ownId, patience);

        // The window manager leaves: its root properties stay behind, naming a window that still
        // exists, but nobody keeps them true any more.
        x11Tool(d, QStringLiteral("openbox"), {QStringLiteral("--exit")});
        QTRY_COMPARE_WITH_TIMEOUT(workspace.frontmostApplicationId(), std::nullopt, patience);
        QVERIFY(x11Tool(d, QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")})
                    .contains(QStringLiteral("window id")));
        QVERIFY(x11Tool(d, QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), window}) ==
                QLatin1String("qh-probe"));
        stop(message);
    }

    // A window opened as soon as the desktop is there is given the focus, however long its
    // window manager takes to start: one mapped while the manager still starts up, after it has
    // named itself on the root, is adopted without ever being activated. The program opens its
    // display on another thread while the toolkit starts: a display made from that hears the
    // server's changes through this thread's event loop all the same.
    void windowOpenedAtOnce_data()
    {
        QTest::addColumn<QString>("windowManager"); // run by sh
        QTest::addColumn<bool>("openedElsewhere");
        QTest::newRow("ready at once") << "exec openbox --sm-disable" << false;
        QTest::newRow("slow to start") << "sleep 1; exec openbox --sm-disable" << false;
        QTest::newRow("slow to start, opened on another thread") << "sleep 1; exec openbox --sm-disable" << true;
    }

    void windowOpenedAtOnce()
    {
        QFETCH(QString, windowManager);
        QFETCH(bool, openedElsewhere);
        DesktopSession desktop(QSize(800, 600), {QStringLiteral("sh"), QStringLiteral("-c"), windowManager});
        QVERIFY2(!desktop.display().isEmpty(), "Xvfb or openbox could not be started");
        QProcess message;
        startOnDisplay(message, desktop.display(), QStringLiteral("xmessage"), {QStringLiteral("probe")});
        QVERIFY(message.waitForStarted(5000));
        const ScopedEnv env("DISPLAY", desktop.display());
        const X11Display display(openedElsewhere ? std::async(std::launch::async, &X11Display::open).get()
                                                 : X11Display::open());
        const LinuxWorkspace workspace(display);
        QTRY_COMPARE_WITH_TIMEOUT(front(workspace), QStringLiteral("x11.class.Xmessage"), patience);
        const QString window =
            x11Tool(desktop.display(), QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")});
        x11Tool(desktop.display(), QStringLiteral("xdotool"),
                {QStringLiteral("set_window"), QStringLiteral("--class"), QStringLiteral("firefox"), window});
        QTRY_COMPARE_WITH_TIMEOUT(front(workspace), QStringLiteral("firefox"), patience);
        stop(message);
    }

    // With a window manager the browsers' reading is the slow one from the start, though no
    // window is in front yet: a browser's window coming forward is heard of. Without a display
    // nothing would be heard, and the reading keeps its quick pace.
    void discoveryKnowsTheFrontIsNamed()
    {
        DesktopSession desktop;
        QVERIFY2(!desktop.display().isEmpty(), "Xvfb or openbox could not be started");
        QTemporaryDir proc;
        for (const std::optional<QString>& d : {std::optional<QString>(desktop.display()), std::optional<QString>()}) {
            const ScopedEnv env("DISPLAY", d);
            const X11Display display;
            BrowserDiscovery discovery(QString(), proc.path());
            LinuxWorkspace workspace(display, QString(), &discovery);
            workspace.onFrontmostChange([] {});
            QCOMPARE(workspace.frontmostApplicationId(), std::nullopt);
            QCOMPARE(discovery.slowRescanInterval(),
                     d ? BrowserDiscovery::slowRescanWithFrontMs : BrowserDiscovery::slowRescanMs);
            // Whose windows are here: what tells where a browser shows once it has overwritten
            // its environment.
            if (!d) {
                QCOMPARE(display.windowOwners(), std::nullopt);
                continue;
            }
            QProcess message;
            startOnDisplay(message, *d, QStringLiteral("xmessage"), {QStringLiteral("probe")});
            QVERIFY(message.waitForStarted(5000));
            // xmessage names no process of its own: it is given one, as a toolkit's window has.
            QString window;
            QTRY_VERIFY_WITH_TIMEOUT(
                !(window = x11Tool(*d, QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")})).isEmpty(),
                patience);
            x11Tool(*d, QStringLiteral("xprop"),
                    {QStringLiteral("-id"), window, QStringLiteral("-f"), QStringLiteral("_NET_WM_PID"),
                     QStringLiteral("32c"), QStringLiteral("-set"), QStringLiteral("_NET_WM_PID"),
                     QStringLiteral("4242")});
            QTRY_VERIFY_WITH_TIMEOUT(display.windowOwners().value_or(QSet<qint64>()).contains(4242), patience);
            stop(message);
        }
    }

    void idleTime()
    {
        DesktopSession desktop;
        QVERIFY2(!desktop.display().isEmpty(), "Xvfb or openbox could not be started");
        const QString d = desktop.display();
        const ScopedEnv env("DISPLAY", d);
        const X11Display display;
        const X11IdleTime idle(display);

        x11Tool(d, QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QStringLiteral("10"), QStringLiteral("10")});
        // Idle time grows while nothing happens and starts again at the next input; how fast the
        // tools run on a busy machine decides nothing here.
        const double start = idle.secondsSinceLastInput().value_or(-1);
        QTest::qWait(1200);
        const double later = idle.secondsSinceLastInput().value_or(-1);
        QVERIFY2(later >= start + 1.0, qPrintable(QStringLiteral("%1 then %2").arg(start).arg(later)));

        x11Tool(d, QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("200")});
        const double after = idle.secondsSinceLastInput().value_or(-1);
        QVERIFY2(after < later, qPrintable(QStringLiteral("%1 then %2").arg(later).arg(after)));
    }
};

QTEST_GUILESS_MAIN(TestLinuxDesktop)
#include "tst_linux_desktop.moc"
