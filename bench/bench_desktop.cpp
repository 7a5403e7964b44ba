// The running core on a real desktop: how long a navigation to a blocked site takes to end on
// the block page (from a random point of the check cycle, to an instant site and to one that takes
// 300 ms to answer), and its wake-ups and CPU while idle with a browser connected and without one,
// side by side with a bare Qt process running the same 0.65 s timer. First, the application
// itself (the first argument) idle in the tray, with and without a connected browser.
//
// Starts Xvfb, openbox, a session bus, Debian's chromium and the
// running core (this program again with --core: the store, the block-page server and the engine
// on the Linux backends, as the application builds them, without its windows), all on private
// folders, and stops each by its process at the end.
#include "DesktopSession.h"
#include "Figure.h"
#include "NullNotifications.h"
#include "ProcessCounts.h"
#include "RunningProgramIdle.h"
#include "blocking/BlockingCore.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "files/Defaults.h"
#include "linux/BrowserDiscovery.h"
#include "linux/DesktopIdleTime.h"
#include "linux/DevToolsClient.h"
#include "linux/DevToolsConnections.h"
#include "linux/DevToolsNavigationInterceptor.h"
#include "linux/DevToolsScriptRunner.h"
#include "linux/LinuxDesktop.h"
#include "linux/WaylandIdleTime.h"
#include "store/StorageService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <memory>
#include <unistd.h>

namespace {

QTextStream out(stdout);

void waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

// Time on a processor of all the process's threads, to the nanosecond (the scheduler's own
// account: clock ticks are too coarse for a process that mostly sleeps).
double cpuSeconds(qint64 pid)
{
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (f.open(QIODevice::ReadOnly))
            total += f.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}

// Every time one of the process's threads went to sleep and was woken again, by thread name.
QHash<QString, qint64> wakeupsByThread(qint64 pid)
{
    QHash<QString, qint64> total;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        QFile f(tasks.filePath(task + QStringLiteral("/status")));
        if (!f.open(QIODevice::ReadOnly) || !comm.open(QIODevice::ReadOnly))
            continue;
        const QString name = QString::fromUtf8(comm.readAll()).trimmed();
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                total[name] += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return total;
}

qint64 wakeups(qint64 pid)
{
    qint64 sum = 0;
    for (qint64 n : wakeupsByThread(pid))
        sum += n;
    return sum;
}

// Wake-ups per second and CPU percent of each process over the same window.
std::vector<Idle> measureIdle(const std::vector<qint64>& pids, int seconds)
{
    std::vector<qint64> w;
    std::vector<double> c;
    const QHash<QString, qint64> threadsBefore = wakeupsByThread(pids.front());
    for (qint64 pid : pids) {
        w.push_back(wakeups(pid));
        c.push_back(cpuSeconds(pid));
    }
    QElapsedTimer window;
    window.start();
    waitFor([] { return false; }, seconds * 1000);
    const double elapsed = static_cast<double>(window.elapsed()) / 1000.0;
    const QHash<QString, qint64> threadsAfter = wakeupsByThread(pids.front());
    out << "  by thread:";
    for (auto it = threadsAfter.cbegin(); it != threadsAfter.cend(); ++it)
        if (const qint64 n = it.value() - threadsBefore.value(it.key()); n > 0)
            out << " " << it.key() << " " << QString::number(static_cast<double>(n) / elapsed, 'f', 1);
    out << "\n";
    std::vector<Idle> result;
    for (size_t i = 0; i < pids.size(); ++i)
        result.push_back(
            {static_cast<double>(wakeups(pids[i]) - w[i]) / elapsed, (cpuSeconds(pids[i]) - c[i]) / elapsed * 100.0});
    return result;
}

QString rss(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return QString::fromLatin1(line.mid(6)).trimmed();
    return {};
}

struct Session {
    QProcess xvfb, wm, bus, chrome, app, bare;
    ~Session()
    {
        for (QProcess* p : {&bare, &app, &chrome, &wm, &xvfb, &bus})
            stop(*p);
    }
};

QJsonObject call(DevToolsClient& client, const QString& method, const QJsonObject& params, const QString& session = {})
{
    std::optional<QJsonObject> answer;
    client.send(
        method, params, 5000, [&](const QJsonObject& r, const QString&) { answer = r; }, session);
    waitFor([&] { return answer.has_value(); }, 6000);
    return answer.value_or(QJsonObject());
}

QString targetUrl(DevToolsClient& client, const QString& target)
{
    for (const QJsonValue& t :
         call(client, QStringLiteral("Target.getTargets"), {}).value(QStringLiteral("targetInfos")).toArray())
        if (t.toObject().value(QStringLiteral("targetId")).toString() == target)
            return t.toObject().value(QStringLiteral("url")).toString();
    return {};
}

int runCore(QCoreApplication& app)
{
    const Clock& clock = SystemClock::instance();
    const auto calendar = [] { return Calendar::current(); };
    Defaults defaults(Defaults::defaultPath());
    NullNotifications notifications;
    StorageEnvironment environment;
    environment.clock = &clock;
    environment.calendar = calendar;
    environment.defaults = &defaults;
    environment.notifications = &notifications;
    StorageService storage(std::nullopt, environment);
    LocalBlockPageServer server(&storage);
    X11Display display;
    BrowserDiscovery discovery;
    discovery.start();
    LinuxWorkspace workspace(display, QString(), &discovery);
    // Idle time and the browsers' connections as the application has them: a browser is found by
    // its process and its profile folder by its command line.
    WaylandIdleTime compositorIdle(WaylandIdleTime::sessionDisplay(), SystemMonotonicClock::instance());
    DesktopIdleTime idle([&display] { return display.secondsSinceLastInput(); }, &compositorIdle,
                         QDBusConnection::sessionBus());
    LinuxScreenState screen;
    DevToolsConnections devTools(&discovery);
    BrowserScriptExecutor executor(std::make_unique<DevToolsScriptRunner>(
                                       [&workspace](const QString& id) { return workspace.isRunning(id); }, &devTools),
                                   3000, nullptr, BrowserScriptExecutor::Placement::callingThread);
    DevToolsNavigationInterceptor interceptor(&devTools);
    BlockingCore core(storage, defaults, {clock, calendar, nullptr}, {workspace, idle, screen}, server, executor,
                      {&interceptor, nullptr, nullptr, {}});
    BrowserAutomationService& engine = core.engine;
    QObject::connect(&discovery, &BrowserDiscovery::changed, &engine, &BrowserAutomationService::browsersChanged);
    // Said once, so that a measurement can wait until the browser is reached.
    QObject::connect(&engine, &BrowserAutomationService::accessChanged, &engine, [&engine] {
        static bool said = false;
        if (!said && engine.accessByBrowserID().value(QStringLiteral("chromium")).isProtected()) {
            said = true;
            out << "browser connected" << Qt::endl;
        }
    });
    engine.start();
    out << "core running; block page on http://127.0.0.1:" << server.port().value_or(0) << Qt::endl;
    return app.exec();
}

// Checks where the desktop names no front window cost no more than where X11 does: a second core,
// started without DISPLAY on its own copy of the data, asks the connected browser itself which
// tab has the focus; both are measured over the same window.
void compareWithoutX11(const QProcessEnvironment& env, const QString& home, qint64 x11Core, int seconds)
{
    QProcessEnvironment withoutX11 = env;
    withoutX11.remove(QStringLiteral("DISPLAY"));
    withoutX11.remove(QStringLiteral("WAYLAND_DISPLAY"));
    const QDir dir(home);
    const auto copyFolder = [](const QString& from, const QString& to) {
        QDir().mkpath(to);
        for (const QString& file : QDir(from).entryList(QDir::Files))
            QFile::copy(QDir(from).filePath(file), QDir(to).filePath(file));
    };
    copyFolder(dir.filePath(QStringLiteral("data")), dir.filePath(QStringLiteral("data-no-x11")));
    copyFolder(dir.filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour")),
               dir.filePath(QStringLiteral("config-no-x11/quillharbour")));
    withoutX11.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), dir.filePath(QStringLiteral("data-no-x11")));
    withoutX11.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config-no-x11")));

    QProcess core;
    core.setProcessEnvironment(withoutX11);
    core.setProgram(QCoreApplication::applicationFilePath());
    core.setArguments({QStringLiteral("--core")});
    core.start();
    if (!readLine(core, 10000).startsWith(QLatin1String("core running"))) {
        out << "the core without X11 did not start\n";
        stop(core);
        return;
    }
    // Its first checks connect to the browser; then both sit on the same ordinary page.
    if (!readLine(core, 20000).contains(QLatin1String("browser connected"))) {
        out << "the core without X11 did not reach the browser: " << core.readAllStandardError().right(2000) << "\n";
        stop(core);
        return;
    }
    // Two ways a person leaves the browser: reading its page (the page has the focus), and with
    // the address bar focused or the window in the background (no page has it), where the
    // browser is asked about every tab it shows.
    const auto xdotool = [&env](const QStringList& arguments) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), arguments);
        p.waitForFinished(5000);
    };
    const struct {
        QStringList focus;
        const char* wakeups;
        const char* cpu;
    } cases[] = {
        {{QStringLiteral("mousemove"), QStringLiteral("640"), QStringLiteral("400"), QStringLiteral("click"),
          QStringLiteral("1")},
         "connected idle wake-ups, no X11, page focused",
         "connected idle CPU, no X11, page focused"},
        {{QStringLiteral("key"), QStringLiteral("ctrl+l")},
         "connected idle wake-ups, no X11, no page focused",
         "connected idle CPU, no X11, no page focused"},
    };
    for (const auto& c : cases) {
        xdotool(c.focus);
        waitFor([] { return false; }, 2000);
        const ThreadCounts before[2] = {threadCounts(core.processId()), threadCounts(x11Core)};
        QElapsedTimer window;
        window.start();
        waitFor([] { return false; }, seconds * 1000);
        const double elapsed = static_cast<double>(window.elapsed()) / 1000.0;
        const Idle noX11 = idleBetween(before[0], threadCounts(core.processId()), elapsed);
        const Idle withX11 = idleBetween(before[1], threadCounts(x11Core), elapsed);
        benchFigure(c.wakeups, noX11.wakeups, "/s", "with X11's front window", withX11.wakeups, 1.2);
        benchFigure(c.cpu, noX11.cpu, "%", "with X11's front window", withX11.cpu, 1.2);
    }
    stop(core);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--core")
        return runCore(app);
    if (argc > 1 && QByteArray(argv[1]) == "--bare-timer") {
        // The yardstick: a Qt process that does nothing but wake for the same timer.
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [] {});
        timer.start(650);
        return app.exec();
    }
    // The first argument (the application's path) is accepted for the make target's sake; the
    // core is measured without the application's windows, whose own costs are not the engine's.
    const int cpuWindow = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 60;
    // The application itself idle, on a desktop of its own, before the core's measurements.
    if (argc > 1)
        measureRunningProgramIdle(QString::fromLocal8Bit(argv[1]), QCoreApplication::applicationFilePath(), cpuWindow);
    if (argc > 3 && QByteArray(argv[3]) == "--idle-only")
        return 0;
    QTemporaryDir home;
    Session s;

    // A site for every mapped host: example.com answers at once, example.net after 300 ms.
    const auto serve = [](QTcpServer& site, int delayMs) {
        site.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&site, &QTcpServer::newConnection, [&site, delayMs] {
            while (QTcpSocket* c = site.nextPendingConnection()) {
                QObject::connect(c, &QTcpSocket::readyRead, c, [c, delayMs] {
                    if (!c->readAll().contains("\r\n\r\n"))
                        return;
                    QTimer::singleShot(delayMs, c, [c] {
                        c->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
                                 "Content-Length: 24\r\n\r\n<title>site</title>hello");
                        c->disconnectFromHost();
                    });
                });
                QObject::connect(c, &QTcpSocket::disconnected, c, &QObject::deleteLater);
            }
        });
    };
    QTcpServer site, slowSite;
    serve(site, 0);
    serve(slowSite, 300);

    s.xvfb.setProgram(QStringLiteral("Xvfb"));
    s.xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                         QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp")});
    s.xvfb.start();
    const QString display = QLatin1Char(':') + readLine(s.xvfb, 10000);
    s.bus.setProgram(QStringLiteral("dbus-daemon"));
    s.bus.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                        QStringLiteral("--print-address=1")});
    s.bus.start();
    const QString busAddress = readLine(s.bus, 5000);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    // TMPDIR too: a stopped chromium leaves its singleton's folder in the temporary folder.
    for (const char* x : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const QString dir = home.filePath(QString::fromLatin1(x));
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(QString::fromLatin1(x), dir);
    }
    const QString bin = home.filePath(QStringLiteral("bin"));
    QDir().mkpath(bin);
    env.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), home.filePath(QStringLiteral("data")));

    s.wm.setProcessEnvironment(env);
    s.wm.setProgram(QStringLiteral("openbox"));
    s.wm.setArguments({QStringLiteral("--sm-disable")});
    s.wm.setStandardErrorFile(QProcess::nullDevice());
    s.wm.start();
    DesktopSession::waitForWindowManager(display, s.wm);

    QFile wrapper(QDir(bin).filePath(QStringLiteral("google-chrome")));
    wrapper.open(QIODevice::WriteOnly);
    wrapper.write(
        QStringLiteral(
            "#!/bin/sh\nexec chromium --user-data-dir=\"$HOME/.config/google-chrome\" "
            "--remote-debugging-port=0 --host-resolver-rules=\"MAP example.com 127.0.0.1:%1, MAP *.example.com "
            "127.0.0.1:%1, MAP example.org 127.0.0.1:%1, MAP example.net 127.0.0.1:%2, MAP *.example.net "
            "127.0.0.1:%2\" "
            "--disable-features=HttpsUpgrades --no-sandbox --disable-gpu --disable-quic "
            "--no-first-run --disable-background-networking --disable-component-update --disable-sync \"$@\"\n")
            .arg(site.serverPort())
            .arg(slowSite.serverPort())
            .toUtf8());
    wrapper.close();
    wrapper.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // Two all-day rules, and the browser already connected: Debian's chromium, which the engine finds
    // by its process and its profile folder by its command line.
    QDir().mkpath(home.filePath(QStringLiteral("data")));
    QFile rules(home.filePath(QStringLiteral("data/rules.json")));
    rules.open(QIODevice::WriteOnly);
    const QString rule =
        QStringLiteral("{\"activeWeekdays\":[],\"allowOneBreak\":false,\"blockApplySchedule\":{},\"createdAt\":"
                       "\"2026-01-01T00:00:00Z\",\"displayName\":\"%1\",\"domain\":\"%1\",\"id\":\"%2\","
                       "\"updatedAt\":\"2026-01-01T00:00:00Z\"}");
    const auto id = [] { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); };
    rules.write((QStringLiteral("[") + rule.arg(QStringLiteral("example.com"), id()) + QStringLiteral(",") +
                 rule.arg(QStringLiteral("example.net"), id()) + QStringLiteral("]"))
                    .toUtf8());
    rules.close();
    QDir().mkpath(home.filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour")));
    QFile defaults(home.filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour/defaults.json")));
    defaults.open(QIODevice::WriteOnly);
    defaults.write("{\"attemptedBrowserAutomationIDs\":[\"chromium\"]}");
    defaults.close();

    s.chrome.setProcessEnvironment(env);
    s.chrome.setProgram(QDir(bin).filePath(QStringLiteral("google-chrome")));
    s.chrome.setArguments({QStringLiteral("about:blank")});
    s.chrome.setStandardErrorFile(home.filePath(QStringLiteral("chrome.log")));
    s.chrome.setStandardOutputFile(QProcess::nullDevice());
    s.chrome.start();
    std::optional<QUrl> endpoint;
    waitFor(
        [&] {
            return (endpoint = DevToolsClient::browserEndpoint(
                        home.filePath(QStringLiteral(".config/google-chrome/DevToolsActivePort"))))
                .has_value();
        },
        20000);
    if (!endpoint) {
        QFile log(home.filePath(QStringLiteral("chrome.log")));
        log.open(QIODevice::ReadOnly);
        out << "chromium did not start: " << log.readAll().right(2000) << "\n";
        return 1;
    }

    s.app.setProcessEnvironment(env);
    s.app.setProgram(QCoreApplication::applicationFilePath());
    s.app.setArguments({QStringLiteral("--core")});
    s.app.start();
    const QString started = readLine(s.app, 10000);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)")).match(started);
    if (!m.hasMatch()) {
        out << "the core did not start: " << started << "\n";
        return 1;
    }
    const QString blockPage = QStringLiteral("http://127.0.0.1:%1/blocked").arg(m.captured(1));

    DevToolsClient driver;
    QString error = QStringLiteral("pending");
    driver.open(*endpoint, 5000, [&error](const QString& e) { error = e; });
    waitFor([&] { return error != QLatin1String("pending"); }, 6000);
    QString target;
    for (const QJsonValue& t :
         call(driver, QStringLiteral("Target.getTargets"), {}).value(QStringLiteral("targetInfos")).toArray())
        if (t.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
            target = t.toObject().value(QStringLiteral("targetId")).toString();
    const QString session = call(driver, QStringLiteral("Target.attachToTarget"),
                                 {{QStringLiteral("targetId"), target}, {QStringLiteral("flatten"), true}})
                                .value(QStringLiteral("sessionId"))
                                .toString();

    // From a random point of the check cycle, so that no run rides on a check about to happen.
    const auto navigationTimes = [&](const QString& host, const QString& label) {
        std::vector<double> latencies;
        for (int i = 0; i < 20; ++i) {
            call(driver, QStringLiteral("Page.navigate"),
                 {{QStringLiteral("url"), QStringLiteral("http://example.org/")}}, session);
            waitFor([] { return false; }, 800 + QRandomGenerator::global()->bounded(650));
            QElapsedTimer took;
            took.start();
            call(driver, QStringLiteral("Page.navigate"),
                 {{QStringLiteral("url"), QStringLiteral("http://www.%1/feed?%2").arg(host).arg(i)}}, session);
            waitFor([&] { return targetUrl(driver, target).startsWith(blockPage); }, 5000);
            latencies.push_back(static_cast<double>(took.elapsed()));
        }
        std::sort(latencies.begin(), latencies.end());
        out << "navigation to block page, " << label << " (ms, 20 runs): median " << latencies[latencies.size() / 2]
            << ", p95 " << latencies[static_cast<size_t>(latencies.size() * 0.95) - 1] << ", max " << latencies.back()
            << "\n";
    };
    navigationTimes(QStringLiteral("example.com"), QStringLiteral("instant site"));
    navigationTimes(QStringLiteral("example.net"), QStringLiteral("site answering in 300 ms"));

    s.bare.setProgram(QCoreApplication::applicationFilePath());
    s.bare.setArguments({QStringLiteral("--bare-timer")});
    s.bare.start();
    s.bare.waitForStarted(5000);

    // Idle on an ordinary page with the engine checking every 0.65 s.
    call(driver, QStringLiteral("Page.navigate"), {{QStringLiteral("url"), QStringLiteral("http://example.org/")}},
         session);
    waitFor([] { return false; }, 2000);
    const qint64 pid = s.app.processId();
    const std::vector<Idle> connected = measureIdle({pid, s.bare.processId()}, cpuWindow);
    const auto report = [](const char* what, const Idle& app, const Idle& bare) {
        out << what << ": " << QString::number(app.wakeups, 'f', 1) << " wake-ups/s (bare Qt timer "
            << QString::number(bare.wakeups, 'f', 1) << ", ratio "
            << QString::number(app.wakeups / bare.wakeups, 'f', 2) << "), CPU " << QString::number(app.cpu, 'f', 3)
            << "% of one core (bare " << QString::number(bare.cpu, 'f', 3) << "%, ratio "
            << QString::number(bare.cpu > 0 ? app.cpu / bare.cpu : 0, 'f', 2) << ")\n";
    };
    report("connected idle", connected[0], connected[1]);
    out << "resident memory: " << rss(pid) << "\n";
    compareWithoutX11(env, home.path(), pid, cpuWindow);

    driver.close();
    stop(s.chrome);
    waitFor([] { return false; }, 2000);
    const std::vector<Idle> alone = measureIdle({pid, s.bare.processId()}, cpuWindow);
    report("without a browser", alone[0], alone[1]);
    return 0;
}
