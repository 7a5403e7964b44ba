// The program's start-up and memory on a real desktop, on the machine as it is (busy or quiet:
// the load average is a figure of its own): the time from exec to the main window mapped with no
// data, 10,000 to-dos (also on the day's first start, when the daily series make their new
// occurrences and schedule their reminders), 50,000 to-dos of the same 400 days of history and
// 20,000 open to-dos of today, beside a hello-world Qt Widgets window started the same way (bench_hello,
// built beside this program) in the same rounds; how long the block page's /health waits while
// the 20,000 load; the resident memory with the window open after a sync, with 10,000 to-dos and
// with none; and the resident memory with no data after six and a half minutes at rest (a sync at
// start and the one five minutes later), window open and tray only, beside a hello-world window
// left as long.
//
// Starts Xvfb with openbox and a session bus on private folders, gives every start of the
// program its own home, and stops each process by its id at the end. The bus has a notification
// service, as a desktop does, so reminders are allowed and scheduled as on a person's machine.
//
//   bench_startup <quillharbour binary> [starts per figure, 5 by default]
//                 [--starts-only | --memory-only | --health-only | --saves-only |
//                  --rest-only [seconds at rest, 390 by default]]
//   bench_startup --pair <binary> <other binary>... [rounds, 5 by default]
//
// --pair times the 10,000-to-do start of each binary in turn, its first start of a day and its
// 50,000-to-do start, round after round, beside hello world in the same round: two builds compared on a busy
// machine, where figures of runs made one after the other move more than the difference between
// them.
//
// --starts-only times the starts alone, as the full run does.
// --memory-only measures the memory alone, as many times as the starts asked for, and prints
// every run; --health-only measures the longest /health wait alone, as many times, and prints every
// run; --saves-only measures the longest /health answer while a to-do is added alone; --rest-only measures the memory
// at rest alone (a shorter rest for trying changes). QH_BENCH_SMAPS=<folder> keeps there, for each run, the program's
// standard error, its mappings (smaps) and, where gdb is installed, what its allocator holds (malloc_info).
#include "DesktopSession.h"
#include "Figure.h"
#include "LargeTodoList.h"
#include "ProcessCounts.h"
#include "SessionBus.h"
#include "model/Clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

QTextStream out(stdout);

// The hello-world window, a program built beside this one.
QString helloProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/bench_hello");
}

void waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QThread::msleep(20);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Watches the display for the first large top-level window to be mapped (the main window, or its
// window manager's frame around it), so a start is timed to the moment the window is on screen.
class MapWatcher {
public:
    explicit MapWatcher(const QString& display)
    {
        m_connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
    }
    ~MapWatcher() { xcb_disconnect(m_connection); }

    // Drops what was mapped before.
    void clear()
    {
        while (xcb_generic_event_t* e = xcb_poll_for_event(m_connection))
            free(e);
    }

    // The window mapped within `ms`, or nothing.
    std::optional<xcb_window_t> waitForLargeWindow(int ms)
    {
        QElapsedTimer t;
        t.start();
        const int fd = xcb_get_file_descriptor(m_connection);
        do {
            while (xcb_generic_event_t* e = xcb_poll_for_event(m_connection)) {
                const bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
                const xcb_window_t window = mapped ? reinterpret_cast<xcb_map_notify_event_t*>(e)->window : 0;
                free(e);
                if (mapped && width(window) >= 600)
                    return window;
            }
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, std::min(ms, 10));
        } while (t.elapsed() < ms);
        return std::nullopt;
    }

private:
    int width(xcb_window_t window)
    {
        xcb_get_geometry_reply_t* g =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        const int w = g ? g->width : 0;
        free(g);
        return w;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
};

qint64 residentKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// 20,000 to-dos of today, none done: the longest Today page.
QJsonArray openTodos(int count, Date now)
{
    QJsonArray todos;
    for (int i = 0; i < count; ++i) {
        TaskItem t;
        t.id = QUuid::createUuid();
        t.title = QStringLiteral("Open to-do number %1 with a realistic title").arg(i);
        t.time = i % 3 == 0 ? TaskItem::anytime
                            : QStringLiteral("%1:%2 PM").arg(1 + i % 12).arg(i % 60, 2, 10, QLatin1Char('0'));
        t.priority = TaskItem::Priority(i % 3);
        t.createdAt = t.updatedAt = now - i;
        todos.append(encodeTaskItem(t));
    }
    return todos;
}

// A home of its own for the program: data folder, settings (onboarding done) and record store.
struct Home {
    QTemporaryDir folder;
    // A session's runtime folder is in memory (tmpfs), not on the disk that holds the home.
    QTemporaryDir runtime{QDir(QStringLiteral("/dev/shm")).exists()
                              ? QStringLiteral("/dev/shm/quillharbour-bench-XXXXXX")
                              : QDir::tempPath() + QStringLiteral("/run-XXXXXX")};
    int todoCount = 0;
    QString path(const QString& name) const { return folder.filePath(name); }
    QString data() const { return path(QStringLiteral("data")); }
    QString defaultsFile() const { return path(QStringLiteral("config/quillharbour/defaults.json")); }
    QString program() const { return path(QStringLiteral("home/.local/bin/quillharbour")); }

    explicit Home(const QJsonArray& todos, const QString& binary) : todoCount(int(todos.size()))
    {
        // Where an installed copy lives: a copy run from the build folder offers to install itself.
        const QString installed = program();
        QDir().mkpath(QFileInfo(installed).absolutePath());
        if (::link(QFile::encodeName(binary).constData(), QFile::encodeName(installed).constData()) != 0)
            QFile::copy(binary, installed);
        writeFile(data() + QStringLiteral("/todos.json"), QJsonDocument(todos).toJson(QJsonDocument::Compact));
        writeFile(defaultsFile(),
                  QJsonDocument(QJsonObject{{QStringLiteral("onboarding.completed.v1"), true}}).toJson());
    }

    QProcessEnvironment environment(const QString& display, const QString& bus) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("share")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), data());
        QDir().mkpath(path(QStringLiteral("home")));
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return env;
    }

    // When the last sync run ended well, as the program wrote it.
    QJsonValue lastSync() const
    {
        QFile f(defaultsFile());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("sync.lastSuccessAt.v1"));
    }
};

struct Desktop {
    DesktopSession session;
    SessionBus bus;
    std::unique_ptr<MapWatcher> watcher;
    Desktop()
    {
        if (!session.display().isEmpty())
            watcher = std::make_unique<MapWatcher>(session.display());
        // While it starts, the program only asks whether the service is there: the name is enough.
        if (!bus.address().isEmpty())
            bus.connect(QStringLiteral("notifications"))
                .registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    bool ready() const { return watcher && !bus.address().isEmpty(); }
};

struct Start {
    double mappedMs = -1;
    std::optional<xcb_window_t> window;
};

Start startAndWaitForWindow(Desktop& desktop, QProcess& process, const QString& program, const QStringList& arguments)
{
    desktop.watcher->clear();
    Start start;
    QElapsedTimer t;
    t.start();
    process.start(program, arguments);
    start.window = desktop.watcher->waitForLargeWindow(120000);
    if (start.window)
        start.mappedMs = double(t.nsecsElapsed()) / 1e6;
    return start;
}

// Median time to the window mapped over `runs` starts of the program on `home`'s data.
double programStart(Desktop& desktop, const Home& home, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess app;
        app.setProcessEnvironment(home.environment(desktop.session.display(), desktop.bus.address()));
        app.setStandardOutputFile(QProcess::nullDevice());
        app.setStandardErrorFile(QProcess::nullDevice());
        const Start s = startAndWaitForWindow(desktop, app, home.program(), {});
        if (s.mappedMs >= 0)
            times.push_back(s.mappedMs);
        stop(app);
    }
    return median(times);
}

// Median time to the window mapped over `runs` first starts of a day: each on a fresh copy of
// `todos`, so that every start makes the day's occurrences of the daily series, with their
// reminders.
double firstStartOfDay(Desktop& desktop, const QJsonArray& todos, const QString& binary, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const Home fresh{todos, binary};
        if (const double ms = programStart(desktop, fresh, 1); ms > 0)
            times.push_back(ms);
    }
    return median(times);
}

// The machine's load average over the last minute, from /proc/loadavg.
double loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readLine().split(' ').value(0).toDouble() : 0;
}

double processors()
{
    return double(std::max(1u, std::thread::hardware_concurrency()));
}

double helloStart(Desktop& desktop, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess hello;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), desktop.session.display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), desktop.bus.address());
        hello.setProcessEnvironment(env);
        const Start s = startAndWaitForWindow(desktop, hello, helloProgram(), {});
        if (s.mappedMs >= 0)
            times.push_back(s.mappedMs);
        stop(hello);
    }
    return median(times);
}

// The port of the block page, from the line the program prints once it runs.
std::optional<quint16> blockPagePort(QProcess& app, int ms)
{
    QByteArray text;
    QElapsedTimer t;
    t.start();
    app.waitForStarted(ms);
    while (t.elapsed() < ms && app.state() == QProcess::Running) {
        app.waitForReadyRead(20);
        text += app.readAllStandardOutput();
        const qsizetype at = text.indexOf("http://127.0.0.1:");
        if (at >= 0) {
            const QByteArray rest = text.mid(at + 17);
            const qsizetype slash = rest.indexOf('/');
            if (slash > 0)
                return quint16(rest.left(slash).toUInt());
        }
    }
    return std::nullopt;
}

// How long one GET /health takes to be answered, in milliseconds.
double healthWait(quint16 port)
{
    QTcpSocket socket;
    QElapsedTimer t;
    t.start();
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(30000))
        return -1;
    socket.write("GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    while (!socket.readAll().contains("HTTP/1.1") && socket.state() == QAbstractSocket::ConnectedState)
        socket.waitForReadyRead(30000);
    return double(t.nsecsElapsed()) / 1e6;
}

QString errorFile(const Home& home);

// The 20,000 started once more: from the moment the block page answers, /health asked every
// 10 ms until two seconds after the window mapped. The longest wait is what a person's click
// would wait for.
double longestHealthWait(Desktop& desktop, const Home& home)
{
    QProcess app;
    app.setProcessEnvironment(home.environment(desktop.session.display(), desktop.bus.address()));
    app.setStandardErrorFile(errorFile(home));
    desktop.watcher->clear();
    app.start(home.program(), {});
    double longest = -1;
    const std::optional<quint16> port = blockPagePort(app, 120000);
    if (port) {
        std::optional<xcb_window_t> mapped;
        QElapsedTimer sinceMapped;
        while (!mapped || sinceMapped.elapsed() < 2000) {
            longest = std::max(longest, healthWait(*port));
            if (!mapped && (mapped = desktop.watcher->waitForLargeWindow(0)))
                sinceMapped.start();
            QThread::msleep(10);
        }
    }
    stop(app);
    return longest;
}

// Asks the window manager to activate the first window of process `pid` whose title matches
// `title` (xdotool), as a click on it would.
bool activate(const QString& display, qint64 pid, const QString& title)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    QProcess search;
    search.setProcessEnvironment(env);
    search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--pid"),
                                             QString::number(pid), QStringLiteral("--name"), title});
    search.waitForFinished(10000);
    stop(search);
    const QString window = QString::fromLatin1(search.readAllStandardOutput()).split(u'\n').value(0).trimmed();
    if (window.isEmpty())
        return false;
    QProcess activate;
    activate.setProcessEnvironment(env);
    activate.start(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), window});
    const bool done = activate.waitForFinished(10000) && activate.exitCode() == 0;
    stop(activate);
    QThread::msleep(1000);
    return done;
}

// For finding where a high figure comes from, when QH_BENCH_SMAPS names a folder.
QString diagnosticsFolder()
{
    return qEnvironmentVariable("QH_BENCH_SMAPS");
}

// The program's mappings and its allocator's heaps (asked through gdb), named by the figure.
void keepSmaps(qint64 pid, int todoCount, double mib)
{
    const QString folder = diagnosticsFolder();
    if (folder.isEmpty())
        return;
    static int run = 0;
    const QString name = QStringLiteral("%1/%2-todos-run%3-%4MiB")
                             .arg(folder)
                             .arg(todoCount)
                             .arg(++run)
                             .arg(QString::number(mib, 'f', 1));
    QProcess gdb;
    gdb.start(QStringLiteral("gdb"),
              {QStringLiteral("-p"), QString::number(pid), QStringLiteral("-batch"), QStringLiteral("-ex"),
               QStringLiteral("set $f = (void*)fopen(\"%1.malloc\", \"w\")").arg(name), QStringLiteral("-ex"),
               QStringLiteral("call (int)malloc_info(0, $f)"), QStringLiteral("-ex"),
               QStringLiteral("call (int)fclose($f)")});
    gdb.waitForFinished(60000);
    stop(gdb);
    for (const char* file : {"smaps", "smaps_rollup", "status"}) {
        QFile in(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
        if (in.open(QIODevice::ReadOnly))
            writeFile(name + u'.' + QLatin1String(file), in.readAll());
    }
}

// Where a start's standard error goes: kept beside the mappings, else dropped.
QString errorFile(const Home& home)
{
    static int launches = 0;
    const QString folder = diagnosticsFolder();
    if (folder.isEmpty())
        return QProcess::nullDevice();
    QDir().mkpath(folder);
    return QStringLiteral("%1/stderr-%2-%3.log").arg(folder).arg(home.todoCount).arg(++launches);
}

// Resident memory with the window open after one sync run that the program was asked for: the
// window loses the keyboard focus and gets it back (an activation syncs, at most every 30 s).
double residentAfterSync(Desktop& desktop, const Home& home, QString* how)
{
    const auto launch = [&](QProcess& app) {
        app.setProcessEnvironment(home.environment(desktop.session.display(), desktop.bus.address()));
        app.setStandardOutputFile(QProcess::nullDevice());
        app.setStandardErrorFile(errorFile(home));
        return startAndWaitForWindow(desktop, app, home.program(), {});
    };
    // A first run uploads everything; the figure is for a person who has synced before.
    {
        QProcess first;
        launch(first);
        waitFor([&] { return !home.lastSync().isUndefined(); }, 120000);
        stop(first);
    }
    QProcess app;
    const Start s = launch(app);
    const QJsonValue before = home.lastSync();
    waitFor([&] { return home.lastSync() != before; }, 60000); // the sync every start runs
    const QJsonValue synced = home.lastSync();
    *how = QStringLiteral("after the start's sync");
    // Another window in front, then the program's again: it syncs on activation, at most
    // every 30 s.
    QThread::msleep(31000);
    QProcess other;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), desktop.session.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // Without the private bus, the window would start a bus of its own that outlives the run.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), desktop.bus.address());
    other.setProcessEnvironment(env);
    startAndWaitForWindow(desktop, other, helloProgram(), {});
    if (s.window && activate(desktop.session.display(), other.processId(), QStringLiteral("^Hello$")) &&
        activate(desktop.session.display(), app.processId(), QStringLiteral(". Quillharbour$"))) {
        waitFor([&] { return home.lastSync() != synced; }, 60000);
        if (home.lastSync() != synced)
            *how = QStringLiteral("after the start's sync and one on activation");
    }
    stop(other);
    QThread::msleep(3000); // what the run freed is given back
    const double mib = double(residentKiB(app.processId())) / 1024.0;
    keepSmaps(app.processId(), home.todoCount, mib);
    stop(app);
    return mib;
}

// Megabytes, as the goals are written (45 MB is 42.9 MiB), from mebibytes.
double megabytes(double mib)
{
    return mib * 1.048576;
}

// The median of `runs` measures beside its limit, with every run and the range when there are several.
void residentFigures(Desktop& desktop, const Home& home, const char* what, double limitMB, int runs)
{
    QString how;
    std::vector<double> values;
    for (int i = 0; i < runs; ++i) {
        values.push_back(megabytes(residentAfterSync(desktop, home, &how)));
        if (runs > 1)
            out << what << ", run " << i + 1 << ": " << QString::number(values.back(), 'f', 1) << " MB (" << how
                << ")\n";
        out.flush();
    }
    if (runs == 1)
        out << "resident memory measured " << how << "\n";
    else
        out << what << ": range " << QString::number(*std::min_element(values.begin(), values.end()), 'f', 1) << "–"
            << QString::number(*std::max_element(values.begin(), values.end()), 'f', 1) << " MB\n";
    benchLimit(what, median(values), "MB", limitMB);
}

// Resident memory with no data after `seconds` left alone: the program with its window open,
// and (where a tray host is installed) another copy in the tray alone, as at login, beside a
// hello-world window started with them. Each copy has a home of its own.
void residentAtRest(Desktop& desktop, const QString& binary, int seconds)
{
    const Home windowHome{QJsonArray(), binary};
    const Home trayHome{QJsonArray(), binary};
    QProcess tray, hello, window, trayOnly;
    QProcessEnvironment helloEnv = QProcessEnvironment::systemEnvironment();
    helloEnv.insert(QStringLiteral("DISPLAY"), desktop.session.display());
    helloEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    helloEnv.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), desktop.bus.address());
    const bool hasTrayHost = !QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty();
    if (hasTrayHost) {
        tray.setProcessEnvironment(helloEnv);
        tray.setStandardErrorFile(QProcess::nullDevice());
        tray.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--widthtype"),
                    QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24")});
        QThread::msleep(1000);
    }
    hello.setProcessEnvironment(helloEnv);
    const Start helloStarted = startAndWaitForWindow(desktop, hello, helloProgram(), {});
    for (QProcess* p : {&window, &trayOnly}) {
        const Home& home = p == &window ? windowHome : trayHome;
        p->setProcessEnvironment(home.environment(desktop.session.display(), desktop.bus.address()));
        p->setStandardOutputFile(QProcess::nullDevice());
        p->setStandardErrorFile(errorFile(home));
    }
    const Start windowStarted = startAndWaitForWindow(desktop, window, windowHome.program(), {});
    if (hasTrayHost)
        trayOnly.start(trayHome.program(), {QStringLiteral("--login-item")});
    out << "resident memory at rest: " << seconds << " s with no data..." << Qt::endl;
    QThread::sleep(seconds);
    const double helloMB = megabytes(double(residentKiB(hello.processId())) / 1024.0);
    const double windowMB = megabytes(double(residentKiB(window.processId())) / 1024.0);
    const double trayMB = megabytes(double(residentKiB(trayOnly.processId())) / 1024.0);
    keepSmaps(window.processId(), 0, windowMB / 1.048576);
    for (QProcess* p : {&trayOnly, &window, &hello, &tray})
        stop(*p);
    if (!helloStarted.window || !windowStarted.window) {
        out << "resident memory at rest: a window did not appear\n";
        return;
    }
    const QByteArray what = QStringLiteral("RSS with no data after %1 min, window open")
                                .arg(QString::number(seconds / 60.0, 'f', 1))
                                .toUtf8();
    benchFigure(what.constData(), windowMB, "MB", "hello-world Qt window, as long", helloMB, 0);
    benchLimit(what.constData(), windowMB, "MB", 45);
    if (hasTrayHost) {
        const QByteArray trayWhat = QStringLiteral("RSS with no data after %1 min, tray only")
                                        .arg(QString::number(seconds / 60.0, 'f', 1))
                                        .toUtf8();
        benchFigure(trayWhat.constData(), trayMB, "MB", "hello-world Qt window, as long", helloMB, 0);
    }
}

// Runs xdotool with `arguments` on the desktop without waiting for it.
void xdotool(QProcess& process, const QString& display, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("xdotool"), arguments);
}

// The identity of the file at `path` (a replaced file is a new one), or 0 when there is none.
ino_t fileIdentity(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

// A to-do added by keyboard (Ctrl+N, its title, Ctrl+Return) in the program started on `home`,
// once its start and the start's sync are over: the longest /health answer from the first key to
// 300 ms after "todos.json" was replaced, what a click in the window would wait for meanwhile.
// `saveMs` takes the longest from Ctrl+Return on alone. -1 when the to-do never reached the file.
double longestHealthWhileAdding(Desktop& desktop, const Home& home, double* saveMs)
{
    *saveMs = -1;
    const QString display = desktop.session.display();
    const QString file = home.data() + QStringLiteral("/todos.json");
    QProcess app;
    app.setProcessEnvironment(home.environment(display, desktop.bus.address()));
    app.setStandardErrorFile(errorFile(home));
    desktop.watcher->clear();
    const QJsonValue synced = home.lastSync();
    app.start(home.program(), {});
    const std::optional<quint16> port = blockPagePort(app, 120000);
    if (!port || !desktop.watcher->waitForLargeWindow(120000)) {
        stop(app);
        return -1;
    }
    // In front from the start, so that the sync an activation runs is the start's own, not one
    // that runs beside the save.
    const bool inFront = activate(display, app.processId(), QStringLiteral(". Quillharbour$"));
    waitFor([&] { return home.lastSync() != synced; }, 300000);
    // Quiet first: twenty answers in a row within 5 ms, or half a minute.
    QElapsedTimer quiet;
    quiet.start();
    for (int fast = 0; fast < 20 && quiet.elapsed() < 30000; QThread::msleep(10))
        fast = healthWait(*port) < 5 ? fast + 1 : 0;
    double longest = -1;
    if (inFront) {
        const ino_t before = fileIdentity(file);
        const auto keys = [&](const QStringList& arguments, double* worst) {
            QProcess typing;
            xdotool(typing, display, arguments);
            typing.waitForStarted(10000);
            while (typing.state() != QProcess::NotRunning) {
                *worst = std::max(*worst, healthWait(*port));
                typing.waitForFinished(5);
            }
        };
        keys({QStringLiteral("key"), QStringLiteral("ctrl+n")}, &longest);
        keys({QStringLiteral("sleep"), QStringLiteral("1"), QStringLiteral("type"),
              QStringLiteral("Added while measuring")},
             &longest);
        double save = -1;
        keys({QStringLiteral("key"), QStringLiteral("ctrl+Return")}, &save);
        QElapsedTimer t;
        t.start();
        std::optional<qint64> replacedAt;
        while (t.elapsed() < 60000 && (!replacedAt || t.elapsed() < *replacedAt + 300)) {
            save = std::max(save, healthWait(*port));
            if (!replacedAt && fileIdentity(file) != before)
                replacedAt = t.elapsed();
            QThread::msleep(5);
        }
        if (replacedAt) {
            *saveMs = save;
            longest = std::max(longest, save);
        } else {
            longest = -1;
        }
    }
    stop(app);
    return longest;
}

// The longest /health answer while a to-do is added by keyboard, at 10,000, 50,000 and 100,000
// to-dos, each the median of `runs` runs on a fresh home, beside the limit of one frame.
void healthWhileAdding(Desktop& desktop, const QString& binary, int runs)
{
    const Date now = SystemClock::instance().now();
    // The first key xdotool sends on a new display comes from the server's test keyboard, a device
    // no key came from before: each client that follows the keyboard reads its map again, ours in the
    // middle of the measured Ctrl+N (about 15 ms). A person's keys all come from one keyboard.
    QProcess firstKey;
    xdotool(firstKey, desktop.session.display(), {QStringLiteral("key"), QStringLiteral("shift")});
    firstKey.waitForFinished(10000);
    for (const int count : {10000, 50000, 100000}) {
        std::vector<double> whole, saves;
        const QJsonArray todos = largeTodoList(now, 40, count);
        for (int i = 0; i < runs; ++i) {
            const Home home{todos, binary};
            double save = -1;
            const double ms = longestHealthWhileAdding(desktop, home, &save);
            if (ms < 0)
                continue;
            whole.push_back(ms);
            saves.push_back(save);
            out << "longest /health answer adding a to-do, " << count << " to-dos, run " << i + 1 << ": "
                << QString::number(ms, 'f', 1) << " ms (from Ctrl+Return on: " << QString::number(save, 'f', 1)
                << " ms)\n";
            out.flush();
        }
        const QByteArray what = QStringLiteral("longest /health answer adding a to-do, %L1 to-dos").arg(count).toUtf8();
        benchLimit(what.constData(), whole.empty() ? -1 : median(whole), "ms", 16);
    }
}

// The medians of `rounds` rounds, each starting every binary once on its own copy of one data set.
int pairedStarts(Desktop& desktop, const QStringList& binaries, int rounds)
{
    const Date now = SystemClock::instance().now();
    const QJsonArray todos = largeTodoList(now, 40);
    const QJsonArray fiftyThousandTodos = largeTodoList(now, 40, 50000);
    std::vector<std::unique_ptr<Home>> homes;
    std::vector<std::unique_ptr<Home>> largeHomes;
    for (const QString& binary : binaries) {
        homes.push_back(std::make_unique<Home>(todos, binary));
        largeHomes.push_back(std::make_unique<Home>(fiftyThousandTodos, binary));
    }
    helloStart(desktop, 1);
    for (size_t i = 0; i < homes.size(); ++i) {
        programStart(desktop, *homes[i], 1);
        programStart(desktop, *largeHomes[i], 1);
    }
    std::vector<double> hello;
    std::vector<std::vector<double>> times(homes.size());
    std::vector<std::vector<double>> firstOfDay(homes.size());
    std::vector<std::vector<double>> large(homes.size());
    const double loadBefore = loadAverage();
    for (int round = 0; round < rounds; ++round) {
        hello.push_back(helloStart(desktop, 1));
        for (size_t i = 0; i < homes.size(); ++i)
            times[i].push_back(programStart(desktop, *homes[i], 1));
        for (size_t i = 0; i < homes.size(); ++i)
            firstOfDay[i].push_back(firstStartOfDay(desktop, todos, binaries[int(i)], 1));
        for (size_t i = 0; i < homes.size(); ++i)
            large[i].push_back(programStart(desktop, *largeHomes[i], 1));
    }
    const double helloMs = median(hello);
    out << "load average " << QString::number((loadBefore + loadAverage()) / 2, 'f', 1) << " on " << processors()
        << " processors\n";
    out << "hello-world Qt window: " << QString::number(helloMs, 'f', 1) << " ms\n";
    const auto print = [&](const QString& what, const std::vector<double>& ms) {
        const double m = median(ms);
        out << what << ": " << QString::number(m, 'f', 1) << " ms (" << QString::number(m / helloMs, 'f', 2)
            << "×, range " << QString::number(*std::min_element(ms.begin(), ms.end()), 'f', 1) << "–"
            << QString::number(*std::max_element(ms.begin(), ms.end()), 'f', 1) << ")\n";
    };
    for (size_t i = 0; i < homes.size(); ++i) {
        print(binaries[int(i)], times[i]);
        print(binaries[int(i)] + QStringLiteral(", first start of a day"), firstOfDay[i]);
        print(binaries[int(i)] + QStringLiteral(", 50,000 to-dos"), large[i]);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // For a profiler: `--seed <folder> <10000|20000|50000>` writes the data and settings a start
    // reads (QUILLHARBOUR_DATA_DIR=<folder>/data, XDG_CONFIG_HOME=<folder>/config) and ends:
    // 20,000 open to-dos of today, or 10,000 or 50,000 of 400 days.
    if (argc == 4 && QByteArray(argv[1]) == "--seed") {
        const Date now = SystemClock::instance().now();
        const QString folder = QString::fromLocal8Bit(argv[2]);
        const QByteArray count = argv[3];
        const QJsonArray todos = count == "20000"   ? openTodos(20000, now)
                                 : count == "50000" ? largeTodoList(now, 40, 50000)
                                                    : largeTodoList(now, 40);
        const bool written =
            writeFile(folder + QStringLiteral("/data/todos.json"),
                      QJsonDocument(todos).toJson(QJsonDocument::Compact)) &&
            writeFile(folder + QStringLiteral("/config/quillharbour/defaults.json"),
                      QJsonDocument(QJsonObject{{QStringLiteral("onboarding.completed.v1"), true}}).toJson());
        return written ? 0 : 1;
    }
    const bool paired = argc > 3 && QByteArray(argv[1]) == "--pair";
    if (argc < 2 || (argc > 1 && QByteArray(argv[1]) == "--pair" && !paired)) {
        QTextStream(stderr)
            << "usage: bench_startup <quillharbour binary> [starts per figure] [--memory-only | --health-only]\n"
               "       bench_startup --pair <binary> <other binary>... [rounds]\n";
        return 2;
    }
    if (paired) {
        QStringList binaries;
        int rounds = 5;
        for (int i = 2; i < argc; ++i) {
            const QString arg = QString::fromLocal8Bit(argv[i]);
            bool number = false;
            const int n = arg.toInt(&number);
            if (number)
                rounds = std::max(1, n);
            else
                binaries << arg;
        }
        Desktop desktop;
        if (!desktop.ready()) {
            QTextStream(stderr) << "bench_startup: Xvfb, openbox or dbus-daemon could not be started\n";
            return 1;
        }
        return pairedStarts(desktop, binaries, rounds);
    }
    const QString binary = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    const bool memoryOnly = argc > 3 && QByteArray(argv[3]) == "--memory-only";
    const bool healthOnly = argc > 3 && QByteArray(argv[3]) == "--health-only";
    const bool restOnly = argc > 3 && QByteArray(argv[3]) == "--rest-only";
    const bool startsOnly = argc > 3 && QByteArray(argv[3]) == "--starts-only";
    const bool savesOnly = argc > 3 && QByteArray(argv[3]) == "--saves-only";
    const int restSeconds = argc > 4 ? std::max(1, atoi(argv[4])) : 390;
    Desktop desktop;
    if (!desktop.ready()) {
        QTextStream(stderr) << "bench_startup: Xvfb, openbox or dbus-daemon could not be started\n";
        return 1;
    }
    const Date now = SystemClock::instance().now();
    const Home empty{QJsonArray(), binary};
    const QJsonArray tenThousandTodos = largeTodoList(now, 40);
    const Home tenThousand{tenThousandTodos, binary};
    if (memoryOnly) {
        residentFigures(desktop, tenThousand, "resident memory, 10,000 to-dos, window open", 80, runs);
        residentFigures(desktop, empty, "resident memory, no data, window open", 45, runs);
        return 0;
    }
    if (restOnly) {
        residentAtRest(desktop, binary, restSeconds);
        return 0;
    }
    if (savesOnly) {
        healthWhileAdding(desktop, binary, runs);
        return 0;
    }
    if (healthOnly) {
        // As in the full run: each time a home of 20,000 started and stopped before, so the
        // start measured is the one whose sync first runs to its end; every run printed.
        std::vector<double> waits;
        for (int i = 0; i < runs; ++i) {
            const Home fresh{openTodos(20000, now), binary};
            programStart(desktop, fresh, 2);
            waits.push_back(longestHealthWait(desktop, fresh));
            out << "longest /health wait, run " << i + 1 << ": " << QString::number(waits.back(), 'f', 1) << " ms\n";
            out.flush();
        }
        out << "longest /health wait: range " << QString::number(*std::min_element(waits.begin(), waits.end()), 'f', 1)
            << "–" << QString::number(*std::max_element(waits.begin(), waits.end()), 'f', 1) << " ms\n";
        benchLimit("longest /health wait, 20,000 open to-dos starting", median(waits), "ms", 16);
        return 0;
    }
    const Home twentyThousand{openTodos(20000, now), binary};
    const Home fiftyThousand{largeTodoList(now, 40, 50000), binary};

    // Once each before timing: the font cache and the program's pages are warm for every figure.
    helloStart(desktop, 1);
    programStart(desktop, empty, 1);

    // Round after round, hello world first and each start after it: a machine that grows busier
    // or quieter during the run moves the program's starts and their baseline alike.
    std::vector<double> hello, emptyStarts, tenStarts, newDayStarts, twentyStarts, fiftyStarts;
    const double loadBefore = loadAverage();
    for (int round = 0; round < runs; ++round) {
        hello.push_back(helloStart(desktop, 1));
        emptyStarts.push_back(programStart(desktop, empty, 1));
        tenStarts.push_back(programStart(desktop, tenThousand, 1));
        newDayStarts.push_back(firstStartOfDay(desktop, tenThousandTodos, binary, 1));
        twentyStarts.push_back(programStart(desktop, twentyThousand, 1));
        fiftyStarts.push_back(programStart(desktop, fiftyThousand, 1));
    }
    const double load = (loadBefore + loadAverage()) / 2;
    const double helloMs = median(hello);
    const double tenMs = median(tenStarts);
    // What the machine was doing: above 1 per processor, other work waited for a processor too.
    benchFigure("load average while the starts were timed", load, "", "processors", processors(), 0);
    benchFigure("start-up to window mapped, no data", median(emptyStarts), "ms", "hello-world Qt window", helloMs, 0);
    benchFigure("start-up to window mapped, 10,000 to-dos", tenMs, "ms", "hello-world Qt window", helloMs, 1.3);
    // No goal of its own: it shows what the day's upkeep adds to the start.
    benchFigure("start-up to window mapped, 10,000, day's first", median(newDayStarts), "ms", "hello-world Qt window",
                helloMs, 0);
    benchFigure("start-up to window mapped, 50,000 to-dos", median(fiftyStarts), "ms", "hello-world Qt window", helloMs,
                2.0);
    benchFigure("start-up to window mapped, 20,000 open to-dos", median(twentyStarts), "ms", "10,000 to-dos", tenMs,
                3.0);
    if (startsOnly)
        return 0;
    benchLimit("longest /health wait, 20,000 open to-dos starting", longestHealthWait(desktop, twentyThousand), "ms",
               16);

    healthWhileAdding(desktop, binary, 3);

    residentFigures(desktop, tenThousand, "resident memory, 10,000 to-dos, window open", 80, 1);
    residentFigures(desktop, empty, "resident memory, no data, window open", 45, 1);
    residentAtRest(desktop, binary, restSeconds);
    return 0;
}
