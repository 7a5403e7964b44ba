#include "linux/BrowserDiscovery.h"
#include "linux/DevToolsClient.h"
#include "linux/DevToolsConnections.h"
#include "linux/DevToolsNavigationInterceptor.h"
#include "linux/FileWatches.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <new>
#include <optional>

namespace {

bool write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A process table of the test's own: per process its program, command line and control group.
struct FakeProc {
    QTemporaryDir dir;
    qint64 lastPid = 100;

    QString root() const { return dir.path(); }
    void setLastPid(qint64 pid)
    {
        lastPid = pid;
        write(dir.filePath(QStringLiteral("loadavg")), "0.00 0.01 0.05 1/234 " + QByteArray::number(pid) + "\n");
    }
    void add(qint64 pid, const QString& exe, const QStringList& arguments, const QString& cwd = QStringLiteral("/"),
             const QByteArray& cgroup = "0::/user.slice/session-2.scope\n", const QByteArray& environment = {})
    {
        const QString folder = dir.filePath(QString::number(pid));
        QDir().mkpath(folder);
        QFile::link(exe, folder + QStringLiteral("/exe"));
        QFile::link(cwd, folder + QStringLiteral("/cwd"));
        write(folder + QStringLiteral("/cmdline"), arguments.join(QChar(0)).toLocal8Bit() + '\0');
        write(folder + QStringLiteral("/cgroup"), cgroup);
        write(folder + QStringLiteral("/environ"), environment);
        setLastPid(pid);
    }
    void remove(qint64 pid) { QDir(dir.filePath(QString::number(pid))).removeRecursively(); }
};

// Accepts a WebSocket upgrade only after `delayMs`, as a browser does while it asks the person
// "Allow remote debugging?"; counts the connections it was offered.
class SlowUpgradeServer : public QTcpServer {
public:
    int delayMs = 0;
    int connections = 0;
    explicit SlowUpgradeServer(int delay) : delayMs(delay)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                ++connections;
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    const QByteArray request = s->readAll();
                    const qsizetype at = request.indexOf("Sec-WebSocket-Key: ");
                    if (at < 0)
                        return;
                    const QByteArray key = request.mid(at + 19, request.indexOf("\r\n", at) - at - 19);
                    const QByteArray accept =
                        QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1)
                            .toBase64();
                    QTimer::singleShot(delayMs, s, [s, accept] {
                        s->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Accept: " +
                                 accept + "\r\n\r\n");
                    });
                });
            }
        });
    }
};

const QString chrome = QStringLiteral("chrome");

// An interceptor whose storage is overwritten once it is destroyed, so that whatever still reaches
// into it afterwards fails at once instead of now and then.
struct ScribbledInterceptor {
    alignas(DevToolsNavigationInterceptor) std::byte storage[sizeof(DevToolsNavigationInterceptor)];
    DevToolsNavigationInterceptor* object = nullptr;

    template <typename Over>
    explicit ScribbledInterceptor(Over&& over) : object(new (storage) DevToolsNavigationInterceptor(over))
    {
    }
    ScribbledInterceptor(const ScribbledInterceptor&) = delete;
    ScribbledInterceptor& operator=(const ScribbledInterceptor&) = delete;
    ~ScribbledInterceptor() { destroy(); }
    void destroy()
    {
        if (!object)
            return;
        object->~DevToolsNavigationInterceptor();
        object = nullptr;
        std::memset(storage, 0xa5, sizeof storage);
    }
};

} // namespace

class TestBrowserDiscovery : public QObject {
    Q_OBJECT

private slots:
    // The fake process tables here are the whole machine, browsers of unknown home included, and
    // the program has no desktop of its own unless a case gives it one.
    void initTestCase()
    {
        for (const char* name : {BrowserDiscovery::startedUnderVariable, "DISPLAY", "WAYLAND_DISPLAY"})
            qunsetenv(name);
    }

    void profileFromCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        const QString fallback = QStringLiteral("/home/ada/.config/google-chrome");
        QTest::newRow("none named: the default") << QStringList{"chrome", "--no-first-run"} << fallback;
        QTest::newRow("joined with =") << QStringList{"chrome", "--user-data-dir=/srv/work"} << "/srv/work";
        QTest::newRow("as the next argument") << QStringList{"chrome", "--user-data-dir", "/srv/work/"} << "/srv/work";
        QTest::newRow("relative: to the program's folder")
            << QStringList{"chrome", "--user-data-dir=profiles/a"} << "/home/ada/run/profiles/a";
        QTest::newRow("the last one wins") << QStringList{"chrome", "--user-data-dir=/a", "--user-data-dir=/b"} << "/b";
        QTest::newRow("an address after the options is not an option")
            << QStringList{"chrome", "--", "--user-data-dir=/x"} << fallback;
        QTest::newRow("a dangling option") << QStringList{"chrome", "--user-data-dir"} << fallback;
    }

    void profileFromCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QCOMPARE(BrowserDiscovery::profileFromCommandLine(arguments, QStringLiteral("/home/ada/run"),
                                                          QStringLiteral("/home/ada/.config/google-chrome")),
                 expected);
    }

    // A process that replaced its command line with one text of space-joined words.
    void profileFromRewrittenCommandLine_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        const QString fallback = QStringLiteral("/home/ada/.config/chromium");
        QTest::newRow("options after the address, as Debian's wrapper orders them")
            << "/usr/lib/chromium/chromium --load-extension about:blank --user-data-dir=@/p --remote-debugging-port=0"
            << "@/p";
        QTest::newRow("last option, then an address") << "chromium --no-first-run --user-data-dir=@/p about:blank"
                                                      << "@/p";
        QTest::newRow("a folder with spaces") << "chromium --user-data-dir=@/my profile --no-first-run"
                                              << "@/my profile";
        QTest::newRow("as the next word") << "chromium --user-data-dir @/p --no-first-run"
                                          << "@/p";
        QTest::newRow("relative: to the program's folder") << "chromium --user-data-dir=p --x"
                                                           << "@/p";
        QTest::newRow("a folder that is not there: its first word") << "chromium --user-data-dir=@/gone away --x"
                                                                    << "@/gone";
        QTest::newRow("the last one wins") << "chromium --user-data-dir=@/x --user-data-dir=@/p --x"
                                           << "@/p";
        QTest::newRow("after the end of the options") << "chromium --x -- --user-data-dir=@/p" << fallback;
        QTest::newRow("a longer option is another one") << "chromium --user-data-directory=@/p --x" << fallback;
        QTest::newRow("a dangling option") << "chromium --x --user-data-dir" << fallback;
        QTest::newRow("none named") << "chromium --no-first-run about:blank" << fallback;
    }

    void profileFromRewrittenCommandLine()
    {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("p")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("my profile")));
        title.replace(u'@', root.path());
        expected.replace(u'@', root.path());
        QCOMPARE(BrowserDiscovery::profileFromCommandLine({title}, root.path(),
                                                          QStringLiteral("/home/ada/.config/chromium")),
                 expected);

        // Read from a process table, where the text ends in one NUL.
        FakeProc proc;
        proc.add(20, QStringLiteral("/opt/brave.com/brave/brave"), {title.replace(u"chromium"_qs, u"brave"_qs)},
                 root.path());
        QTemporaryDir home;
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        const QString brave = QStringLiteral("brave");
        QCOMPARE(discovery.processes(brave).size(), 1);
        if (!expected.startsWith(u"/home/ada"_qs))
            QCOMPARE(discovery.processes(brave).first().profile, expected);
    }

    // Whose browser it is: by its HOME, or, where the browser overwrote its environment, by
    // whether its profile folder is another home's usual one.
    void otherHomes_data()
    {
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("ours");
        const QByteArray other = "PATH=/bin|HOME=/home/bob|";
        QTest::newRow("another home, its usual folder") << other << "/home/bob/.config/chromium" << false;
        QTest::newRow("another home, a folder of its own") << other << "/srv/p" << false;
        QTest::newRow("our home, a folder of its own") << QByteArray("HOME=@|") << "/srv/p" << true;
        QTest::newRow("unknown home, another's usual folder")
            << QByteArray("PATH=/bin|") << "/home/bob/.config/chromium" << false;
        QTest::newRow("unknown home, a Flatpak's usual folder elsewhere")
            << QByteArray() << "/home/bob/.var/app/org.chromium.Chromium/config/chromium" << false;
        QTest::newRow("unknown home, our usual folder") << QByteArray() << "@/.config/chromium" << true;
        QTest::newRow("unknown home, a folder of its own") << QByteArray() << "/srv/p" << true;
    }

    void otherHomes()
    {
        QFETCH(QByteArray, environment);
        QFETCH(QString, profile);
        QFETCH(bool, ours);
        QTemporaryDir home;
        environment.replace('@', home.path().toUtf8()).replace('|', QByteArray(1, '\0'));
        profile.replace(u'@', home.path());
        FakeProc proc;
        proc.add(30, QStringLiteral("/usr/lib/chromium/chromium"),
                 {QStringLiteral("/usr/lib/chromium/chromium --user-data-dir=") + profile + QStringLiteral(" --x")},
                 QStringLiteral("/"), "0::/user.slice/session-2.scope\n", environment);
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        const QString chromium = QStringLiteral("chromium");
        QCOMPARE(discovery.isRunning(chromium), ours);
        if (ours)
            QCOMPARE(discovery.processes(chromium).first().profile, profile);
    }

    // A browser of this home counts only where the program shows its own windows: the same
    // person's browser in another session, or a test's on a display of its own, is not one they
    // can look at here, and counted it would keep the checks running for nothing.
    void otherDesktops_data()
    {
        QTest::addColumn<QByteArray>("ours");   // the program's environment
        QTest::addColumn<QByteArray>("theirs"); // the browser's, beside HOME
        QTest::addColumn<QString>("exe");
        QTest::addColumn<bool>("counted");
        const QString chromium = QStringLiteral("/usr/lib/chromium/chromium");
        QTest::newRow("the same X11 display")
            << QByteArray("DISPLAY=:1") << QByteArray("DISPLAY=:1") << chromium << true;
        QTest::newRow("the same display, another way of writing it")
            << QByteArray("DISPLAY=:1") << QByteArray("DISPLAY=unix:1.0") << chromium << true;
        QTest::newRow("another X11 display")
            << QByteArray("DISPLAY=:1") << QByteArray("DISPLAY=:2") << chromium << false;
        QTest::newRow("a forwarded display of the same number")
            << QByteArray("DISPLAY=:10") << QByteArray("DISPLAY=localhost:10.0") << chromium << false;
        QTest::newRow("no display at all: a headless browser")
            << QByteArray("DISPLAY=:1") << QByteArray("PATH=/bin") << chromium << false;
        QTest::newRow("the same Wayland socket, by name and by path")
            << QByteArray("WAYLAND_DISPLAY=wayland-0|XDG_RUNTIME_DIR=/run/user/7")
            << QByteArray("WAYLAND_DISPLAY=/run/user/7/wayland-0") << chromium << true;
        QTest::newRow("another Wayland socket")
            << QByteArray("WAYLAND_DISPLAY=wayland-0|XDG_RUNTIME_DIR=/run/user/7")
            << QByteArray("WAYLAND_DISPLAY=wayland-1|XDG_RUNTIME_DIR=/run/user/7") << chromium << false;
        QTest::newRow("under XWayland beside our Wayland")
            << QByteArray("DISPLAY=:0|WAYLAND_DISPLAY=wayland-0|XDG_RUNTIME_DIR=/run/user/7")
            << QByteArray("DISPLAY=:0") << chromium << true;
        QTest::newRow("a program without a desktop counts them all")
            << QByteArray() << QByteArray("DISPLAY=:2") << chromium << true;
        QTest::newRow("a Flatpak, whose display has a name of its own")
            << QByteArray("DISPLAY=:1") << QByteArray("DISPLAY=:99.0") << QStringLiteral("/app/chromium/chromium")
            << true;
    }

    void otherDesktops()
    {
        QFETCH(QByteArray, ours);
        QFETCH(QByteArray, theirs);
        QFETCH(QString, exe);
        QFETCH(bool, counted);
        QTemporaryDir home;
        for (const QByteArray& entry : ours.split('|'))
            if (const qsizetype eq = entry.indexOf('='); eq > 0)
                qputenv(entry.left(eq).constData(), entry.mid(eq + 1));
        const auto restore = qScopeGuard([] {
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
                qunsetenv(name);
        });
        FakeProc proc;
        proc.add(30, exe, {QStringLiteral("chromium")}, QStringLiteral("/"),
                 exe.startsWith(u"/app/"_qs) ? "0::/user.slice/app-flatpak-org.chromium.Chromium-1.scope\n"
                                             : "0::/user.slice/session-2.scope\n",
                 "HOME=" + home.path().toUtf8() + '\0' + theirs.replace('|', '\0') + '\0');
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        QCOMPARE(discovery.isRunning(QStringLiteral("chromium")), counted);
    }

    // Chromium overwrites its environment a few seconds after it starts: one found later shows
    // where it runs by its windows, where the desktop lists them; without a window here it is
    // looked at again by the next full reading, so one that opens a window then counts.
    void overwrittenEnvironmentByWindows_data()
    {
        QTest::addColumn<QByteArray>("owners"); // "-": the desktop cannot tell
        QTest::addColumn<bool>("counted");
        QTest::newRow("a window on this desktop") << QByteArray("30 41") << true;
        QTest::newRow("no window on this desktop") << QByteArray("41") << false;
        QTest::newRow("a desktop that lists no windows") << QByteArray("-") << true;
    }

    void overwrittenEnvironmentByWindows()
    {
        QFETCH(QByteArray, owners);
        QFETCH(bool, counted);
        QTemporaryDir home;
        qputenv("DISPLAY", ":1");
        const auto restore = qScopeGuard([] { qunsetenv("DISPLAY"); });
        FakeProc proc;
        proc.add(30, QStringLiteral("/usr/lib/chromium/chromium"),
                 {QStringLiteral("/usr/lib/chromium/chromium --user-data-dir=/srv/p --x")}, QStringLiteral("/"),
                 "0::/user.slice/session-2.scope\n", QByteArray(64, '\0'));
        BrowserDiscovery discovery(home.path(), proc.root());
        std::optional<QSet<qint64>> listed;
        if (owners != "-") {
            listed.emplace();
            for (const QByteArray& pid : owners.split(' '))
                listed->insert(pid.toLongLong());
        }
        int asked = 0;
        discovery.setWindowOwners([&] {
            ++asked;
            return listed;
        });
        discovery.start();
        const QString chromium = QStringLiteral("chromium");
        QCOMPARE(discovery.isRunning(chromium), counted);
        QCOMPARE(asked, 1);
        if (!counted) {
            // Its window opens: the reading a window brings counts it.
            listed->insert(30);
            discovery.rescan();
            QVERIFY(discovery.isRunning(chromium));
        }
    }

    // Whether the desktop names the window in front decides the slow reading's pace, whichever
    // window that is (our own, say); a browser's window coming forward says so too.
    void slowReadingWhereTheFrontIsNamed()
    {
        QTemporaryDir home;
        FakeProc proc;
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        discovery.setFrontWindowsNamed(true);
        QCOMPARE(discovery.slowRescanInterval(), BrowserDiscovery::slowRescanWithFrontMs);
        // The window manager went: only the reading finds a browser started behind the others.
        discovery.setFrontWindowsNamed(false);
        QCOMPARE(discovery.slowRescanInterval(), BrowserDiscovery::slowRescanMs);
    }

    // Told to count only browsers started under one process (as a test's engines are), a browser
    // counts by its parents alone: not by its home, and not when its parents cannot be told.
    void startedUnder_data()
    {
        QTest::addColumn<QByteArray>("parents"); // "pid:parent" of the browser and above
        QTest::addColumn<bool>("ours");
        QTest::newRow("started by it") << QByteArray("30:7") << true;
        QTest::newRow("started through a launcher") << QByteArray("30:20 20:7") << true;
        QTest::newRow("a person's, whose home is ours") << QByteArray("30:20 20:1") << false;
        QTest::newRow("a parent gone while read") << QByteArray("30:20") << false;
        QTest::newRow("parents in a loop") << QByteArray("30:20 20:30") << false;
    }
    void startedUnder()
    {
        QFETCH(QByteArray, parents);
        QFETCH(bool, ours);
        QTemporaryDir home;
        FakeProc proc;
        proc.add(30, QStringLiteral("/usr/lib/chromium/chromium"), {QStringLiteral("chromium")}, QStringLiteral("/"),
                 "0::/user.slice/session-2.scope\n", "HOME=" + home.path().toUtf8() + '\0');
        for (const QByteArray& pair : parents.split(' '))
            QVERIFY(write(proc.dir.filePath(QString::fromLatin1(pair.split(':').first()) + QStringLiteral("/status")),
                          "Name:\tx\nPPid:\t" + pair.split(':').last() + "\nUid:\t0\n"));
        qputenv(BrowserDiscovery::startedUnderVariable, "7");
        const auto restore = qScopeGuard([] { qunsetenv(BrowserDiscovery::startedUnderVariable); });
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        QCOMPARE(discovery.isRunning(QStringLiteral("chromium")), ours);
    }

    // Which processes are browsers, and where their profiles are: programs, helpers and sandboxes.
    void processTable()
    {
        QTemporaryDir home;
        FakeProc proc;
        proc.add(10, QStringLiteral("/opt/google/chrome/chrome"),
                 {"/opt/google/chrome/chrome", "--user-data-dir=/w/p"});
        proc.add(11, QStringLiteral("/opt/google/chrome/chrome"),
                 {"chrome", "--type=renderer", "--user-data-dir=/w/p"});
        proc.add(12, QStringLiteral("/usr/lib/chromium/chromium"), {"chromium"});
        proc.add(13, QStringLiteral("/app/chromium/chromium"), {"chromium"}, QStringLiteral("/"),
                 "0::/user.slice/app-flatpak-org.chromium.Chromium-4242.scope\n");
        proc.add(14, QStringLiteral("/usr/bin/vim"), {"vim", "--user-data-dir=/w/p"});
        proc.add(15, QStringLiteral("/usr/lib/firefox-esr/firefox-esr"), {"firefox-esr"});
        BrowserDiscovery discovery(home.path(), proc.root());
        // The table is read once the program has started, not as it is built.
        QVERIFY(!discovery.isRunning(chrome));
        QCOMPARE(discovery.scans(), 0);
        discovery.start();

        QCOMPARE(discovery.processes(chrome), (QList<BrowserDiscovery::Process>{{10, QStringLiteral("/w/p")}}));
        const QString chromium = QStringLiteral("chromium");
        QCOMPARE(discovery.processes(chromium),
                 (QList<BrowserDiscovery::Process>{
                     {12, home.filePath(QStringLiteral(".config/chromium"))},
                     {13, home.filePath(QStringLiteral(".var/app/org.chromium.Chromium/config/chromium"))}}));
        QVERIFY(discovery.isRunning(QStringLiteral("firefox")));
        QVERIFY(!discovery.isRunning(QStringLiteral("brave")));
        // The running copy's own folder first, then the default ones.
        QCOMPARE(discovery.profileFolders(chrome).mid(0, 2),
                 (QStringList{QStringLiteral("/w/p"), home.filePath(QStringLiteral(".config/google-chrome"))}));

        // A browser that quit is not running although nothing read the table again.
        proc.remove(10);
        QVERIFY(!discovery.isRunning(chrome));
        QCOMPARE(discovery.profileFolders(chrome).first(), home.filePath(QStringLiteral(".config/google-chrome")));
    }

    // A process that ends while its files are read leaves them empty or gone: no browser, and
    // nothing remembered of it should its id run a browser by the next reading.
    void processEndsWhileRead_data()
    {
        QTest::addColumn<bool>("filesLeft");
        QTest::newRow("its files gone") << false;
        QTest::newRow("its files empty") << true;
    }

    void processEndsWhileRead()
    {
        QFETCH(bool, filesLeft);
        QTemporaryDir home;
        FakeProc proc;
        proc.add(40, QStringLiteral("/opt/google/chrome/chrome"), {"chrome"});
        for (const char* name : {"cmdline", "environ", "cgroup"}) {
            const QString file = proc.dir.filePath(QStringLiteral("40/") + QLatin1String(name));
            QVERIFY(filesLeft ? write(file, {}) : QFile::remove(file));
        }
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        QCOMPARE(discovery.processes(chrome), QList<BrowserDiscovery::Process>());

        proc.remove(40);
        proc.add(40, QStringLiteral("/opt/google/chrome/chrome"), {"chrome", "--user-data-dir=/w/p"});
        discovery.rescan();
        QCOMPARE(discovery.processes(chrome), (QList<BrowserDiscovery::Process>{{40, QStringLiteral("/w/p")}}));
    }

    // The table is read when something changed, never on a question.
    void readsTheTableOnChangesOnly()
    {
        QTemporaryDir home;
        FakeProc proc;
        proc.setLastPid(100);
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral(".config/google-chrome"))));
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        const int start = discovery.scans();
        for (int i = 0; i < 50; ++i)
            discovery.isRunning(chrome);
        discovery.profileFolders(chrome);
        QCOMPARE(discovery.scans(), start);

        // Chrome starts on its default folder: its lock appears there, and it is found.
        QSignalSpy changed(&discovery, &BrowserDiscovery::changed);
        proc.add(20, QStringLiteral("/opt/google/chrome/chrome"), {"chrome"});
        QVERIFY(
            write(home.filePath(QStringLiteral(".config/google-chrome/DevToolsActivePort")), "1\n/devtools/browser/x"));
        QTRY_VERIFY_WITH_TIMEOUT(discovery.isRunning(chrome), 30000);
        QVERIFY(discovery.scans() > start);

        // A window of a browser process not yet known brings one reading, once.
        proc.add(21, QStringLiteral("/usr/bin/brave-browser"), {"brave-browser", "--user-data-dir=/elsewhere"});
        const int before = discovery.scans();
        discovery.noticeProcess(21);
        discovery.noticeProcess(21);
        QCOMPARE(discovery.scans(), before + 1);
        QVERIFY(discovery.isRunning(QStringLiteral("brave")));
        discovery.noticeProcess(21);
        QCOMPARE(discovery.scans(), before + 1);
    }

    // A running browser rewrites its settings in its profile folder every few seconds; only its
    // lock, its port file or a folder appearing is news of browsers starting or quitting.
    void folderChangesThatTell_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("tells");
        QTest::newRow("settings rewritten") << "Local State" << false;
        QTest::newRow("a file in a subfolder") << "Default/Cache/data_0" << false;
        QTest::newRow("port file written") << "DevToolsActivePort" << true;
        QTest::newRow("lock dropped") << "SingletonLock" << true;
        QTest::newRow("a profile folder made") << "Profile 1/" << true;
    }

    void folderChangesThatTell()
    {
        QFETCH(QString, file);
        QFETCH(bool, tells);
        QTemporaryDir home;
        const QDir profile(home.filePath(QStringLiteral("google-chrome")));
        for (const char* name : {"DevToolsActivePort", "Default/Cache/data_0", "Local State"})
            QVERIFY(write(profile.filePath(QString::fromLatin1(name)), "1\n/devtools/browser/x"));
        QVERIFY(QFile::link(QStringLiteral("host-20"), profile.filePath(QStringLiteral("SingletonLock"))));
        const QByteArray before = BrowserDiscovery::folderMark(profile.path());
        if (file == QLatin1String("SingletonLock"))
            QVERIFY(QFile::remove(profile.filePath(file)));
        else if (file.endsWith(u'/'))
            QVERIFY(profile.mkpath(file));
        else
            QVERIFY(write(profile.filePath(file), "23456\n/devtools/browser/y"));
        QCOMPARE(BrowserDiscovery::folderMark(profile.path()) != before, tells);
    }

    // A reading looks closely only at processes it has not seen run their present program.
    void readsOnlyNewPrograms_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("read");
        QTest::addColumn<bool>("chromeRunning");
        QTest::newRow("nothing changed") << "none" << 0 << true;
        QTest::newRow("a process started") << "start" << 1 << true;
        QTest::newRow("a process ran another program") << "exec" << 1 << true;
        QTest::newRow("a process ran the browser") << "exec-browser" << 1 << true;
        QTest::newRow("a process ended") << "end" << 0 << true;
        QTest::newRow("the browser ended and its id came back as a helper") << "reuse" << 1 << false;
    }

    void readsOnlyNewPrograms()
    {
        QFETCH(QString, change);
        QFETCH(int, read);
        QFETCH(bool, chromeRunning);
        QTemporaryDir home;
        FakeProc proc;
        proc.add(10, QStringLiteral("/opt/google/chrome/chrome"), {"chrome"});
        proc.add(11, QStringLiteral("/opt/google/chrome/chrome"), {"chrome", "--type=renderer"});
        proc.add(12, QStringLiteral("/usr/bin/bash"), {"bash"});
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        QVERIFY(discovery.isRunning(chrome));
        const int before = discovery.processesRead();
        if (change == QLatin1String("start")) {
            proc.add(13, QStringLiteral("/usr/bin/cat"), {"cat"});
        } else if (change == QLatin1String("exec")) {
            proc.remove(12);
            proc.add(12, QStringLiteral("/usr/bin/python3"), {"python3"});
        } else if (change == QLatin1String("exec-browser")) {
            proc.remove(10);
            proc.remove(12);
            proc.add(12, QStringLiteral("/opt/google/chrome/chrome"), {"chrome"});
        } else if (change == QLatin1String("end")) {
            proc.remove(12);
        } else if (change == QLatin1String("reuse")) {
            // Between two readings: nothing tells the two apart, and a reading in between is sure.
            proc.remove(10);
            discovery.rescan();
            proc.add(10, QStringLiteral("/opt/google/chrome/chrome"), {"chrome", "--type=gpu-process"});
        }
        discovery.rescan();
        QCOMPARE(discovery.processesRead() - before, read);
        QCOMPARE(discovery.isRunning(chrome), chromeRunning);
    }

    // The half-minute reading reads only when a process was started, and looks at the profile
    // folders again only when the browsers it found changed.
    void halfMinuteReading_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("scans");
        QTest::addColumn<int>("folderPasses");
        QTest::addColumn<bool>("changed");
        QTest::newRow("no process started") << "none" << 0 << 0 << false;
        QTest::newRow("a process started") << "start" << 1 << 0 << false;
        QTest::newRow("a browser started") << "browser" << 1 << 1 << true;
        QTest::newRow("a browser's helper started") << "helper" << 1 << 0 << false;
        QTest::newRow("the browser ended and a process started") << "end" << 1 << 1 << true;
    }

    void halfMinuteReading()
    {
        QFETCH(QString, change);
        QFETCH(int, scans);
        QFETCH(int, folderPasses);
        QFETCH(bool, changed);
        QTemporaryDir home;
        FakeProc proc;
        proc.add(10, QStringLiteral("/opt/google/chrome/chrome"), {"chrome"});
        proc.add(12, QStringLiteral("/usr/bin/bash"), {"bash"});
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        QVERIFY(discovery.isRunning(chrome));
        const int scansBefore = discovery.scans();
        const int passesBefore = discovery.folderPasses();
        QSignalSpy spy(&discovery, &BrowserDiscovery::changed);
        if (change == QLatin1String("start")) {
            proc.add(13, QStringLiteral("/usr/bin/cat"), {"cat"});
        } else if (change == QLatin1String("browser")) {
            proc.add(13, QStringLiteral("/usr/bin/brave-browser"), {"brave-browser", "--user-data-dir=/elsewhere"});
        } else if (change == QLatin1String("helper")) {
            proc.add(13, QStringLiteral("/opt/google/chrome/chrome"), {"chrome", "--type=renderer"});
        } else if (change == QLatin1String("end")) {
            proc.remove(10);
            proc.add(13, QStringLiteral("/usr/bin/cat"), {"cat"});
        }
        discovery.readNewProcesses();
        QCOMPARE(discovery.scans() - scansBefore, scans);
        QCOMPARE(discovery.folderPasses() - passesBefore, folderPasses);
        QCOMPARE(!spy.isEmpty(), changed);
    }

    // Where the desktop names the browser window in front, that browser is looked up as it comes
    // forward, and the reading for browsers started behind others comes less often.
    void slowReadingFollowsTheFront_data()
    {
        QTest::addColumn<qint64>("noticed"); // the front window's process, 0 for none
        QTest::addColumn<int>("interval");
        QTest::newRow("no window named") << qint64(0) << BrowserDiscovery::slowRescanMs;
        QTest::newRow("a browser's window") << qint64(10) << BrowserDiscovery::slowRescanWithFrontMs;
    }

    void slowReadingFollowsTheFront()
    {
        QFETCH(qint64, noticed);
        QFETCH(int, interval);
        QTemporaryDir home;
        FakeProc proc;
        proc.add(10, QStringLiteral("/opt/google/chrome/chrome"), {"chrome"});
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        discovery.noticeProcess(noticed);
        QCOMPARE(discovery.slowRescanInterval(), interval);
    }

    // A browser started on a folder nobody watches is heard of as its program runs, with no timer
    // reading the table; only where no watch can be had does the timer read it.
    void browserStartedOnAnUnwatchedFolder_data()
    {
        QTest::addColumn<bool>("watchable");
        QTest::newRow("program files watched") << true;
        QTest::newRow("no inotify instance") << false;
    }

    void browserStartedOnAnUnwatchedFolder()
    {
        QFETCH(bool, watchable);
        QTemporaryDir home, bin;
        const QString program = bin.filePath(QStringLiteral("brave-browser"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/true"), program));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
        const auto restore = qScopeGuard([&path] { qputenv("PATH", path); });
        FakeProc proc;
        // Another copy (another session's), whose readings are no run of the program.
        FileWatches otherWatches(watchable);
        BrowserDiscovery other(home.path(), proc.root(), nullptr, &otherWatches);
        other.start();
        FileWatches watches(watchable);
        BrowserDiscovery discovery(home.path(), proc.root(), nullptr, &watches);
        discovery.start();
        QCOMPARE(discovery.watchedPrograms().contains(program), watchable);
        QCOMPARE(discovery.readsByTimer(), !watchable);
        other.rescan();
        QCoreApplication::processEvents();
        QCOMPARE(discovery.watchedPrograms().contains(program), watchable);
        // One installed since is watched from the next reading.
        const QString installed = bin.filePath(QStringLiteral("vivaldi"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/true"), installed));
        discovery.rescan();
        QCOMPARE(discovery.watchedPrograms().contains(installed), watchable);

        // A run that brings no browser of ours (another person's copy) spaces the next readings
        // out; the one that finds a browser brings them back.
        if (watchable) {
            const int scans = discovery.scans();
            QCOMPARE(QProcess::execute(program, {}), 0);
            QTRY_VERIFY_WITH_TIMEOUT(discovery.scans() > scans, 30000);
            QCOMPARE(discovery.programReadingGap(), 2 * BrowserDiscovery::programReadingGapMs);
        }
        proc.add(21, program, {"brave-browser", "--user-data-dir=/elsewhere"});
        QCOMPARE(QProcess::execute(program, {}), 0);
        if (!watchable)
            discovery.readNewProcesses();
        QTRY_VERIFY_WITH_TIMEOUT(discovery.isRunning(QStringLiteral("brave")), 30000);
        QCOMPARE(discovery.programReadingGap(), BrowserDiscovery::programReadingGapMs);
    }

    // A browser that starts on its folder is held without anyone asking for it: the interceptor
    // hears the port file appear.
    void interceptorHearsOfABrowserThatStarts()
    {
        QTemporaryDir home;
        FakeProc proc;
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral(".config"))));
        BrowserDiscovery discovery(home.path(), proc.root());
        discovery.start();
        DevToolsConnections connections(&discovery);
        DevToolsNavigationInterceptor interceptor(&connections);
        interceptor.watch(chrome, {QStringLiteral("example.com")});
        QCOMPARE(connections.attempts(chrome), 0);

        // Its first start: the folder itself is new.
        SlowUpgradeServer browser(0);
        QVERIFY(browser.isListening());
        proc.add(30, QStringLiteral("/opt/google/chrome/chrome"), {"chrome"});
        QVERIFY(write(home.filePath(QStringLiteral(".config/google-chrome/DevToolsActivePort")),
                      QByteArray::number(browser.serverPort()) + "\n/devtools/browser/1\n"));
        QTRY_COMPARE_WITH_TIMEOUT(connections.attempts(chrome), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(browser.connections == 1, 30000);
    }

    // The connection is shared, so the interceptor may go before it or after it. Commands still
    // unanswered end as their client goes, and must then leave a destroyed interceptor alone.
    void endsWithCommandsUnanswered_data()
    {
        QTest::addColumn<QString>("first");
        QTest::newRow("the interceptor goes first, as the program ends") << "interceptor";
        QTest::newRow("the connections go first") << "connections";
        QTest::newRow("the connections are the interceptor's own") << "both";
    }

    void endsWithCommandsUnanswered()
    {
        QFETCH(QString, first);
        QTemporaryDir home;
        SlowUpgradeServer browser(0); // lets the connection open, then answers nothing
        QVERIFY(browser.isListening());
        QVERIFY(write(home.filePath(QStringLiteral(".config/google-chrome/DevToolsActivePort")),
                      QByteArray::number(browser.serverPort()) + "\n/devtools/browser/1\n"));
        std::optional<DevToolsConnections> shared;
        if (first != QLatin1String("both"))
            shared.emplace(home.path());
        ScribbledInterceptor interceptor = shared ? ScribbledInterceptor(&*shared) : ScribbledInterceptor(home.path());
        interceptor.object->watch(chrome, {QStringLiteral("example.com")});
        const QObject* owner = shared ? static_cast<QObject*>(&*shared) : interceptor.object;
        // The targets asked for, then every page to be held: both unanswered.
        QTRY_VERIFY_WITH_TIMEOUT(
            [owner] {
                const DevToolsClient* client = owner->findChild<DevToolsClient*>();
                return client && client->isOpen() && client->commandsSent() == 2;
            }(),
            30000);
        QVERIFY(!interceptor.object->isIntercepting(chrome));

        if (first == QLatin1String("connections")) {
            shared.reset();
            // Without its connections it holds nothing and reaches for nothing.
            QVERIFY(!interceptor.object->isIntercepting(chrome));
            interceptor.object->watch(chrome, {QStringLiteral("example.org")});
            QCOMPARE(browser.connections, 1);
        }
        interceptor.destroy();
        shared.reset();
    }

    // A browser that asks the person before it accepts a connection: one attempt at a time, the
    // row told to click Allow while it waits, and the connection kept once allowed.
    void consentRoute()
    {
        QTemporaryDir home;
        SlowUpgradeServer browser(DevToolsConnections::consentAfterMs + 2500);
        QVERIFY(browser.isListening());
        QVERIFY(write(home.filePath(QStringLiteral(".config/google-chrome/DevToolsActivePort")),
                      QByteArray::number(browser.serverPort()) + "\n/devtools/browser/0b0e9c1a\n"));
        DevToolsConnections connections(home.path());
        QSignalSpy states(&connections, &DevToolsConnections::stateChanged);

        QCOMPARE(connections.client(chrome), nullptr);
        QCOMPARE(connections.state(chrome), DevToolsConnections::State::opening);
        // Asked again and again while the person reads the question: no second connection.
        QTRY_COMPARE_WITH_TIMEOUT(connections.state(chrome), DevToolsConnections::State::awaitingConsent, 30000);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(connections.client(chrome), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(connections.state(chrome), DevToolsConnections::State::open, 30000);
        DevToolsClient* open = connections.client(chrome);
        QVERIFY(open && open->isOpen());
        QCOMPARE(connections.attempts(chrome), 1);
        QCOMPARE(browser.connections, 1);
        // Kept and reused: the person is asked once per browser run.
        QCOMPARE(connections.client(chrome), open);
        QCOMPARE(browser.connections, 1);
    }

    // Whoever hears that a connection is being opened may ask for other browsers' connections at
    // once; the attempt under way still waits for the person's answer, once.
    void othersAskedForAsOneOpens_data()
    {
        QTest::addColumn<int>("others");
        QTest::newRow("none") << 0;
        QTest::newRow("more than the table holds yet") << 200;
    }

    void othersAskedForAsOneOpens()
    {
        QFETCH(int, others);
        QTemporaryDir home;
        SlowUpgradeServer browser(DevToolsConnections::consentAfterMs + 30000);
        QVERIFY(browser.isListening());
        QVERIFY(write(home.filePath(QStringLiteral(".config/google-chrome/DevToolsActivePort")),
                      QByteArray::number(browser.serverPort()) + "\n/devtools/browser/2\n"));
        DevToolsConnections connections(home.path());
        QObject::connect(&connections, &DevToolsConnections::stateChanged, &connections,
                         [&connections, others](const QString& browserId) {
                             if (browserId == chrome &&
                                 connections.state(chrome) == DevToolsConnections::State::opening)
                                 for (int i = 0; i < others; ++i)
                                     connections.client(QStringLiteral("org.example.browser%1").arg(i));
                         });
        QCOMPARE(connections.client(chrome), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(connections.state(chrome), DevToolsConnections::State::awaitingConsent, 30000);
        QCOMPARE(connections.client(chrome), nullptr);
        QCOMPARE(connections.attempts(chrome), 1);
        QCOMPARE(browser.connections, 1);
    }

    // A port file left by a browser that has gone: refused once, not tried again on every check.
    void refusedEndpointIsNotFlooded()
    {
        QTemporaryDir home;
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        QVERIFY(write(home.filePath(QStringLiteral(".config/google-chrome/DevToolsActivePort")),
                      QByteArray::number(port) + "\n/devtools/browser/gone\n"));
        DevToolsConnections connections(home.path());
        connections.client(chrome);
        QTRY_COMPARE_WITH_TIMEOUT(connections.state(chrome), DevToolsConnections::State::refused, 30000);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(connections.client(chrome), nullptr);
        QCOMPARE(connections.attempts(chrome), 1);
        // An explicit attempt is one more.
        connections.retry(chrome);
        connections.client(chrome);
        QCOMPARE(connections.attempts(chrome), 2);
    }
};

QTEST_GUILESS_MAIN(TestBrowserDiscovery)
#include "tst_browser_discovery.moc"
