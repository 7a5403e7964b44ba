#include "RunningProgramIdle.h"

#include "DesktopSession.h"
#include "Figure.h"
#include "ProcessCounts.h"
#include "WaylandSession.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <functional>
#include <optional>

namespace {

QTextStream out(stdout);

// Serves this process's events (the site) while it waits.
bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() >= ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
    return true;
}

void pause(int ms)
{
    waitUntil([] { return false; }, ms);
}

QString firstLine(QProcess& p, int ms)
{
    QByteArray buffer;
    waitUntil(
        [&] {
            buffer += p.readAllStandardOutput();
            return buffer.contains('\n') || p.state() == QProcess::NotRunning;
        },
        ms);
    return QString::fromUtf8(buffer.left(buffer.indexOf('\n'))).trimmed();
}

// Until the browser started `running` ago has been running two minutes and nothing of `profile`
// that the program watches has changed for `quietMs` (at most four minutes in all): a browser
// that has just started rewrites its preferences and makes files in its folder for a minute or
// two, with pauses of more than 40 s between (seen: preferences at 70 s, a metrics file at 90 s),
// and each wakes the program, whichever way it is connected. At rest is after that.
void waitForQuietProfile(const QString& profile, const QElapsedTimer& running, int quietMs)
{
    constexpr qint64 startingMs = 120000;
    const QStringList watched{QStringLiteral("."), QStringLiteral("Local State"), QStringLiteral("Default/Preferences"),
                              QStringLiteral("Default/Secure Preferences")};
    const auto lastChange = [&] {
        QDateTime latest;
        for (const QString& name : watched)
            latest = std::max(latest, QFileInfo(QDir(profile).filePath(name)).lastModified());
        return latest;
    };
    QDateTime seen = lastChange();
    QElapsedTimer quiet;
    quiet.start();
    waitUntil(
        [&] {
            if (const QDateTime now = lastChange(); now != seen) {
                seen = now;
                quiet.restart();
            }
            return quiet.elapsed() >= quietMs && running.elapsed() >= startingMs;
        },
        240000);
}

// The program and the bare process over the same window.
std::pair<Idle, Idle> measure(qint64 program, qint64 bare, int seconds)
{
    const ThreadCounts before[2] = {threadCounts(program), threadCounts(bare)};
    QElapsedTimer window;
    window.start();
    pause(seconds * 1000);
    const double elapsed = static_cast<double>(window.elapsed()) / 1000.0;
    return {idleBetween(before[0], threadCounts(program), elapsed),
            idleBetween(before[1], threadCounts(bare), elapsed)};
}

void report(const char* what, const std::pair<Idle, Idle>& m)
{
    out << what << ": " << QString::number(m.first.wakeups, 'f', 2) << " wake-ups/s, CPU "
        << QString::number(m.first.cpu, 'f', 4) << "% (bare Qt timer " << QString::number(m.second.wakeups, 'f', 2)
        << " wake-ups/s, " << QString::number(m.second.cpu, 'f', 4) << "%)" << Qt::endl;
}

// The syncs the program has finished, as its log tells them.
qsizetype syncsIn(const QString& log)
{
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray all = f.readAll();
    return all.count("Sync completed") + all.count("Sync finished");
}

// As measure(), for the program that writes `log`, and reported as `what`. Its periodic sync
// comes every five minutes from its start, and so falls in one of these windows at a moment that
// depends on how long the browser took to settle. At rest the syncs' wake-ups are the only ones
// the program may have: a window that held one is reported as such and measured again, for the
// figure is of the others.
std::pair<Idle, Idle> measureBetweenSyncs(qint64 program, qint64 bare, int seconds, const QString& log,
                                          const QString& what)
{
    const qsizetype before = syncsIn(log);
    auto m = measure(program, bare, seconds);
    if (syncsIn(log) != before) {
        report(qPrintable(what + QStringLiteral(", a periodic sync in the window")), m);
        m = measure(program, bare, seconds);
    }
    report(qPrintable(what), m);
    return m;
}

// One request to the browser's debugging endpoint; the body of the answer.
QByteArray ask(quint16 port, const QByteArray& method, const QByteArray& path)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(5000))
        return {};
    s.write(method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    // The browser keeps the connection open whatever it is asked: the body ends at its length.
    QByteArray all;
    while (s.waitForReadyRead(5000)) {
        all += s.readAll();
        const qsizetype end = all.indexOf("\r\n\r\n");
        if (end < 0)
            continue;
        const qsizetype at = all.toLower().indexOf("content-length:");
        const qsizetype length =
            at < 0 || at > end ? -1 : all.mid(at + 15, all.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
        if (length >= 0 && all.size() >= end + 4 + length)
            return all.mid(end + 4, length);
    }
    return all.mid(all.indexOf("\r\n\r\n") + 4);
}

quint16 debuggingPort(const QString& profile)
{
    QFile f(QDir(profile).filePath(QStringLiteral("DevToolsActivePort")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readLine()).trimmed().toUShort() : 0;
}

// A relay the browser started for the extension: the program in its host mode.
bool extensionRelayRuns(const QString& program)
{
    const QString target = QFileInfo(program).canonicalFilePath();
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() != target)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("chrome-extension://"))
            return true;
    }
    return false;
}

// The session's folders and the data folder, each private, under `root`. TMPDIR too: a stopped
// chromium leaves its singleton's folder in the temporary folder.
void privateFolders(QProcessEnvironment& env, const QString& root)
{
    for (const char* x : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const QString dir = QDir(root).filePath(QString::fromLatin1(x));
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(QString::fromLatin1(x), dir);
    }
    env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), QDir(root).filePath(QStringLiteral("data")));
}

} // namespace

void measureRunningProgramIdle(const QString& program, const QString& bareProgram, int seconds)
{
    if (!QFileInfo(program).isExecutable() || QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty()) {
        out << "running program idle: needs the built program and Debian's chromium" << Qt::endl;
        return;
    }
    const QString extension = QFileInfo(program).dir().filePath(QStringLiteral("browser-extension/chromium"));
    QTemporaryDir home;

    // An ordinary site, to sit on while idle.
    QTcpServer site;
    site.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&site, &QTcpServer::newConnection, [&site] {
        while (QTcpSocket* c = site.nextPendingConnection()) {
            QObject::connect(c, &QTcpSocket::readyRead, c, [c] {
                if (!c->readAll().contains("\r\n\r\n"))
                    return;
                c->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
                         "Content-Length: 24\r\n\r\n<title>site</title>hello");
                c->disconnectFromHost();
            });
            QObject::connect(c, &QTcpSocket::disconnected, c, &QObject::deleteLater);
        }
    });

    QProcess xvfb, bus, wm, tray, app, bare, chromium;
    const auto stopAll = [&] {
        for (QProcess* p : {&chromium, &app, &bare, &tray, &wm, &xvfb, &bus})
            stop(*p);
    };
    xvfb.setProgram(QStringLiteral("Xvfb"));
    xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")});
    xvfb.start();
    const QString display = QLatin1Char(':') + firstLine(xvfb, 10000);
    bus.setProgram(QStringLiteral("dbus-daemon"));
    bus.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                      QStringLiteral("--print-address=1")});
    bus.start();
    const QString busAddress = firstLine(bus, 5000);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    privateFolders(env, home.path());

    wm.setProcessEnvironment(env);
    wm.setProgram(QStringLiteral("openbox"));
    wm.setArguments({QStringLiteral("--sm-disable")});
    wm.setStandardErrorFile(QProcess::nullDevice());
    wm.start();
    DesktopSession::waitForWindowManager(display, wm);
    // The program lives in the tray, as at login.
    const bool hasTrayHost = !QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty();
    if (hasTrayHost) {
        tray.setProcessEnvironment(env);
        tray.setProgram(QStringLiteral("trayer"));
        tray.setArguments({QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                           QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                           QStringLiteral("--height"), QStringLiteral("24"), QStringLiteral("--transparent"),
                           QStringLiteral("false"), QStringLiteral("--tint"), QStringLiteral("0xdddddd")});
        tray.setStandardErrorFile(QProcess::nullDevice());
        tray.start();
    }
    pause(500);

    // One all-day rule; Chromium chosen; the first-run sheet done.
    QDir().mkpath(home.filePath(QStringLiteral("data")));
    QFile rules(home.filePath(QStringLiteral("data/rules.json")));
    rules.open(QIODevice::WriteOnly);
    rules.write(QStringLiteral("[{\"activeWeekdays\":[],\"allowOneBreak\":false,\"blockApplySchedule\":{},"
                               "\"createdAt\":\"2026-01-01T00:00:00Z\",\"displayName\":\"example.com\",\"domain\":"
                               "\"example.com\",\"id\":\"%1\",\"updatedAt\":\"2026-01-01T00:00:00Z\"}]")
                    .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
                    .toUtf8());
    rules.close();
    QDir().mkpath(home.filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour")));
    QFile defaults(home.filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour/defaults.json")));
    defaults.open(QIODevice::WriteOnly);
    defaults.write("{\"attemptedBrowserAutomationIDs\":[\"chromium\"],\"onboarding.completed.v1\":true}");
    defaults.close();

    bare.setProgram(bareProgram);
    bare.setArguments({QStringLiteral("--bare-timer")});
    bare.start();
    // First with every inotify instance of the user taken, as on a desktop whose browsers, editors
    // and file managers took them all: in a user namespace of its own whose limit is none.
    std::optional<std::pair<Idle, Idle>> noInstance;
    if (!QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()) {
        QProcess limited;
        limited.setProcessEnvironment(env);
        limited.setProgram(QStringLiteral("unshare"));
        limited.setArguments({QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("sh"),
                              QStringLiteral("-c"),
                              QStringLiteral("echo 0 > /proc/sys/user/max_inotify_instances && exec \"$0\" "
                                             "--login-item"),
                              program});
        limited.setStandardErrorFile(home.filePath(QStringLiteral("program-no-inotify.log")));
        limited.start();
        if (firstLine(limited, 20000).startsWith(QLatin1String("Quillharbour is running"))) {
            pause(12000);
            noInstance = measure(limited.processId(), bare.processId(), seconds);
            report("running program idle, every inotify instance taken", *noInstance);
        } else {
            out << "running program idle: the program did not start without inotify instances" << Qt::endl;
        }
        stop(limited);
    }

    app.setProcessEnvironment(env);
    app.setProgram(program);
    app.setArguments({QStringLiteral("--login-item")});
    const QString appLog = home.filePath(QStringLiteral("program.log"));
    app.setStandardErrorFile(appLog);
    app.start();
    if (!firstLine(app, 20000).startsWith(QLatin1String("Quillharbour is running")) || !bare.waitForStarted(5000)) {
        out << "running program idle: the program did not start" << Qt::endl;
        stopAll();
        return;
    }
    // Beside it, a copy with its window open at rest on its first page: a home of its own (data,
    // settings, runtime folder, the program where an installed copy lives, so no install is
    // offered), started as from the menu, and measured over the same window.
    const QString windowHome = home.filePath(QStringLiteral("window-home"));
    QProcessEnvironment windowEnv = env;
    windowEnv.insert(QStringLiteral("HOME"), windowHome);
    privateFolders(windowEnv, windowHome);
    QDir().mkpath(QDir(windowHome).filePath(QStringLiteral("data")));
    QFile::copy(home.filePath(QStringLiteral("data/rules.json")),
                QDir(windowHome).filePath(QStringLiteral("data/rules.json")));
    QDir().mkpath(QDir(windowHome).filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour")));
    QFile::copy(home.filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour/defaults.json")),
                QDir(windowHome).filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour/defaults.json")));
    const QString installed = QDir(windowHome).filePath(QStringLiteral(".local/bin/quillharbour"));
    QDir().mkpath(QFileInfo(installed).absolutePath());
    if (!QFile::link(QFileInfo(program).absoluteFilePath(), installed))
        QFile::copy(program, installed);
    QProcess windowOpen;
    windowOpen.setProcessEnvironment(windowEnv);
    windowOpen.setProgram(installed);
    windowOpen.setStandardOutputFile(QProcess::nullDevice());
    windowOpen.setStandardErrorFile(QDir(windowHome).filePath(QStringLiteral("program.log")));
    windowOpen.start();

    // And a copy under a headless Wayland compositor, the default session of the big desktops:
    // a home of its own again, its window open for want of a tray there, measured over the same
    // window as the one in the X11 tray.
    WaylandSession wayland;
    const QString waylandHome = home.filePath(QStringLiteral("wayland-home"));
    QProcessEnvironment waylandEnv = env;
    waylandEnv.remove(QStringLiteral("DISPLAY"));
    waylandEnv.insert(QStringLiteral("HOME"), waylandHome);
    waylandEnv.insert(QStringLiteral("WAYLAND_DISPLAY"),
                      wayland.clientEnvironment().value(QStringLiteral("XDG_RUNTIME_DIR")) + u'/' + wayland.display());
    waylandEnv.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    waylandEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    privateFolders(waylandEnv, waylandHome);
    for (const char* file : {"data/rules.json", "XDG_CONFIG_HOME/quillharbour/defaults.json"}) {
        QDir().mkpath(QFileInfo(QDir(waylandHome).filePath(QString::fromLatin1(file))).path());
        QFile::copy(home.filePath(QString::fromLatin1(file)), QDir(waylandHome).filePath(QString::fromLatin1(file)));
    }
    QProcess underWayland;
    underWayland.setProcessEnvironment(waylandEnv);
    underWayland.setProgram(program);
    underWayland.setArguments({QStringLiteral("--login-item")});
    underWayland.setStandardOutputFile(QProcess::nullDevice());
    underWayland.setStandardErrorFile(QDir(waylandHome).filePath(QStringLiteral("program.log")));
    if (!wayland.display().isEmpty())
        underWayland.start();
    else
        out << "running program idle: no headless Wayland compositor (" << wayland.failure() << ")" << Qt::endl;

    // Its start-up (the tray's decision, the first sync) is over before the first window.
    pause(12000);
    const ThreadCounts windowBefore = threadCounts(windowOpen.processId());
    const ThreadCounts waylandBefore = threadCounts(underWayland.processId());
    QElapsedTimer windowWatch;
    windowWatch.start();
    const auto none = measure(app.processId(), bare.processId(), seconds);
    const double watched = static_cast<double>(windowWatch.elapsed()) / 1000.0;
    const Idle window = idleBetween(windowBefore, threadCounts(windowOpen.processId()), watched);
    const std::optional<Idle> waylandIdle =
        underWayland.state() == QProcess::Running
            ? std::optional(idleBetween(waylandBefore, threadCounts(underWayland.processId()), watched))
            : std::nullopt;
    report("running program idle, no browser ever started", none);
    report("running program idle, window open, no browser", {window, none.second});
    if (waylandIdle)
        report("running program idle under Wayland, no browser", {*waylandIdle, none.second});
    stop(windowOpen);
    stop(underWayland);

    // Where the program looks for Chromium's profile, its link files and its debugging port.
    const QString profile = home.filePath(QStringLiteral("XDG_CONFIG_HOME/chromium"));
    const QStringList browserOptions{
        QStringLiteral("--no-sandbox"),
        QStringLiteral("--disable-gpu"),
        QStringLiteral("--no-first-run"),
        QStringLiteral("--disable-background-networking"),
        QStringLiteral("--disable-component-update"),
        QStringLiteral("--disable-sync"),
        QStringLiteral("--disable-quic"),
        QStringLiteral("--disable-features=HttpsUpgrades"),
        QStringLiteral("--user-data-dir=") + profile,
        QStringLiteral("--host-resolver-rules=MAP example.com 127.0.0.1:%1, MAP *.example.com 127.0.0.1:%1, "
                       "MAP example.org 127.0.0.1:%1")
            .arg(site.serverPort())};
    chromium.setProcessEnvironment(env);
    chromium.setProgram(QStringLiteral("chromium"));
    chromium.setStandardOutputFile(QProcess::nullDevice());
    chromium.setStandardErrorFile(QProcess::nullDevice());

    // Over the debugging protocol: connected once a blocked address opened in a new tab ends on
    // the block page.
    chromium.setArguments(browserOptions + QStringList{QStringLiteral("--remote-debugging-port=0"),
                                                       QStringLiteral("http://example.org/")});
    QElapsedTimer running;
    chromium.start();
    running.start();
    quint16 port = 0;
    waitUntil([&] { return (port = debuggingPort(profile)) != 0; }, 30000);
    const auto pages = [&port] {
        QList<QJsonObject> list;
        for (const QJsonValue& v : QJsonDocument::fromJson(ask(port, "GET", "/json/list")).array())
            if (v.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                list.append(v.toObject());
        return list;
    };
    bool blocked = false;
    for (int attempt = 0; port && attempt < 10 && !blocked; ++attempt) {
        const QJsonObject tab = QJsonDocument::fromJson(ask(port, "PUT", "/json/new?http://www.example.com/")).object();
        blocked = waitUntil(
            [&] {
                for (const QJsonObject& p : pages())
                    if (p.value(QStringLiteral("url")).toString().contains(QLatin1String("/blocked?")))
                        return true;
                return false;
            },
            3000);
        ask(port, "GET", "/json/close/" + tab.value(QStringLiteral("id")).toString().toUtf8());
    }
    if (!blocked) {
        out << "running program idle: the program did not reach chromium over its debugging port" << Qt::endl;
        stopAll();
        return;
    }
    waitForQuietProfile(profile, running, 40000);
    const auto devTools = measureBetweenSyncs(app.processId(), bare.processId(), seconds, appLog,
                                              QStringLiteral("running program idle, connected over DevTools"));

    stop(chromium);
    QFile::remove(QDir(profile).filePath(QStringLiteral("DevToolsActivePort")));
    pause(3000);
    const auto quit = measureBetweenSyncs(app.processId(), bare.processId(), seconds, appLog,
                                          QStringLiteral("running program idle, after the connected browser quit"));

    // Through the companion extension, with no debugging port: its relay is the program itself,
    // started by the browser from the host manifest the program wrote at start.
    chromium.setArguments(browserOptions + QStringList{QStringLiteral("--load-extension=") + extension,
                                                       QStringLiteral("http://example.org/")});
    chromium.start();
    running.start();
    if (!waitUntil([&] { return extensionRelayRuns(program); }, 30000)) {
        out << "running program idle: the extension did not connect (" << extension << ")" << Qt::endl;
        stopAll();
        return;
    }
    waitForQuietProfile(profile, running, 40000);
    const auto viaExtension =
        measureBetweenSyncs(app.processId(), bare.processId(), seconds, appLog,
                            QStringLiteral("running program idle, connected through the extension"));
    stopAll();

    const char* bareName = "bare Qt process, same timer";
    benchFigure("idle CPU, no browser ever started", none.first.cpu, "%", bareName, none.second.cpu, 2.0);
    benchFigure("idle wake-ups, no browser ever started", none.first.wakeups, "/s", bareName, none.second.wakeups, 0);
    benchFigure("idle CPU, window open, no browser", window.cpu, "%", bareName, none.second.cpu, 2.0);
    benchFigure("idle wake-ups, window open, no browser", window.wakeups, "/s", "tray only, no browser",
                none.first.wakeups, 1.0);
    if (waylandIdle) {
        benchFigure("idle CPU under Wayland, no browser", waylandIdle->cpu, "%", "X11, same window", window.cpu, 1.2);
        benchFigure("idle wake-ups under Wayland, no browser", waylandIdle->wakeups, "/s", "X11, same window",
                    window.wakeups, 1.2);
    }
    if (noInstance)
        benchFigure("idle CPU, every inotify instance taken", noInstance->first.cpu, "%", bareName,
                    noInstance->second.cpu, 2.0);
    benchFigure("idle CPU, after the connected browser quit", quit.first.cpu, "%", bareName, quit.second.cpu, 2.0);
    benchFigure("idle CPU, connected over DevTools", devTools.first.cpu, "%", bareName, devTools.second.cpu, 3.0);
    benchFigure("idle CPU, connected through the extension", viaExtension.first.cpu, "%", bareName,
                viaExtension.second.cpu, 3.0);
    benchFigure("idle wake-ups, connected through the extension", viaExtension.first.wakeups, "/s",
                "connected over DevTools", devTools.first.wakeups, 1.0);
}
