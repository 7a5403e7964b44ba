#include "AccessibleDesktop.h"
#include "GnomeShellSession.h"
#include "KWinSession.h"
#include "ProcessTag.h"
#include "SiteServer.h"
#include "TestEnvironment.h"
#include "WaylandSession.h"
#include "linux/BrowserDiscovery.h"
#include "linux/ExtensionBrowserRig.h"
#include "linux/NativeMessaging.h"
#include "linux/UserInstaller.h"
#include "model/BlockRule.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

using ExtensionBrowserRig::browserWindow;
using ExtensionBrowserRig::patience;
using ExtensionBrowserRig::typeUntil;
using ExtensionBrowserRig::windowTitle;

namespace {

const QString cantReach = QStringLiteral("The extension is installed but can't reach Quillharbour.");
const QString addExtensionText = QStringLiteral("Add the Quillharbour extension to Chromium to block sites there.");
// The program's block page, by Chromium's window title: its title ends with the program's name.
bool showsBlockPage(qint64 browser)
{
    return windowTitle(browser).endsWith(QLatin1String("Quillharbour - Chromium"));
}

// One person's fresh home, with the local site its browsers reach for every example address. What
// it starts carries a tag of its own and ends with it, the browsers before the program.
class Home {
public:
    // XDG_CONFIG_HOME pointed at a folder inside the home, or unset like every other XDG_ folder.
    Home(const QProcessEnvironment& session, bool configHomeInside)
    {
        env = session;
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                                 "XDG_CONFIG_DIRS", "QUILLHARBOUR_DATA_DIR"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("HOME"), m_folder.path());
        m_configHome = m_folder.filePath(configHomeInside ? QStringLiteral("settings") : QStringLiteral(".config"));
        if (configHomeInside)
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome);
    }
    ~Home()
    {
        // What the quiet ones said, for a test that failed: a browser's account of its policy
        // and its extensions is the only one there is.
        if (QTest::currentTestFailed())
            for (const Started& s : m_started)
                if (!s.log.isEmpty())
                    qWarning("%s said, last:\n%s", qPrintable(s.process->program()), lastLines(s.log).constData());
        for (auto it = m_started.rbegin(); it != m_started.rend(); ++it) {
            // One that ended before its time explains what the test saw.
            if (it->process->state() == QProcess::NotRunning && it->process->exitStatus() == QProcess::CrashExit)
                qWarning("%s crashed", qPrintable(it->process->program()));
            ProcessTag::stop(*it->process, it->tag);
        }
    }

    QString path(const QString& relative) const { return m_folder.filePath(relative); }
    const QString& configHome() const { return m_configHome; }
    QString extensionFolder() const
    {
        return path(QStringLiteral(".local/share/quillharbour/browser-extension/chromium"));
    }

    // The program's files, as they would be after a first run that blocked `rules`.
    bool seed(const std::vector<BlockRule>& rules) const
    {
        return TestEnvironment::writeFile(m_configHome + QStringLiteral("/quillharbour/defaults.json"),
                                          "{\"onboarding.completed.v1\": true}\n") &&
               TestEnvironment::writeFile(path(QStringLiteral(".local/share/Quillharbour/rules.json")),
                                          rulesFileText(rules));
    }

    // What is started with `quiet` keeps its output to a file of its own: a browser's would drown
    // the test's.
    QProcess& start(const QString& program, const QStringList& arguments, bool quiet = true,
                    const QProcessEnvironment& extra = {})
    {
        Started s{std::make_unique<QProcess>(), {}, {}};
        QProcessEnvironment e = env;
        for (const QString& key : extra.keys())
            e.insert(key, extra.value(key));
        s.tag = ProcessTag::apply(e);
        s.process->setProcessEnvironment(e);
        QStringList command = inside + QStringList{program} + arguments;
        if (quiet) {
            s.log = path(QStringLiteral("output-%1.log").arg(m_started.size()));
            s.process->setStandardOutputFile(s.log);
            s.process->setStandardErrorFile(s.log, QIODevice::Append);
        } else {
            // Both channels go to the test's own: a copy the program starts in its place inherits
            // them, and a pipe read by this QProcess would close under it when the first ends.
            s.process->setProcessChannelMode(QProcess::ForwardedChannels);
        }
        s.process->start(command.first(), command.mid(1));
        s.process->waitForStarted(patience);
        m_started.push_back(std::move(s));
        return *m_started.back().process;
    }
    QProcess& startProgram(const QString& executable = QStringLiteral(QUILLHARBOUR_BINARY))
    {
        program = &start(executable, {}, false);
        return *program;
    }
    // Chromium as a person's launcher starts it, with what every test browser needs besides: no
    // sandbox (the tests may run as root), no first-run questions, every example address led to
    // the local site. Its window, not its accessibility tree, is what the test looks at.
    // `installsForced`: its extension updater runs, which installs what a policy forces (the
    // updater is part of the background networking the tests otherwise turn off).
    QProcess& startChromium(const QStringList& command, const QString& address, bool installsForced = false)
    {
        QProcessEnvironment quiet;
        quiet.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        QStringList arguments = ExtensionBrowserRig::chromiumArguments(site.serverPort());
        if (installsForced)
            arguments.removeAll(QStringLiteral("--disable-background-networking"));
        arguments.append(QStringLiteral("--enable-logging=stderr"));
        // Its policy reloads and extension installs, for a test that failed to read.
        arguments.append(QStringLiteral("--vmodule=config_dir_policy_loader=1,extension_downloader=2"));
        return start(command.value(0), command.mid(1) + arguments + QStringList{address}, true, quiet);
    }

    QProcessEnvironment env;
    SiteServer site;
    QStringList inside;          // what every command is started through (a namespace's nsenter); empty: nothing
    QProcess* program = nullptr; // the last one started

private:
    struct Started {
        std::unique_ptr<QProcess> process;
        QByteArray tag;
        QString log; // where a quiet one's output goes
    };
    static QByteArray lastLines(const QString& path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return QByteArrayLiteral("(nothing)");
        const QList<QByteArray> lines = f.readAll().split('\n');
        return lines.mid(std::max<qsizetype>(0, lines.size() - 120)).join('\n');
    }
    QTemporaryDir m_folder;
    QString m_configHome;
    std::vector<Started> m_started;
};

BlockRule rule(const QString& domain, std::optional<int> dailyLimitMinutes = std::nullopt)
{
    BlockRule r;
    r.id = QUuid::createUuid();
    r.domain = domain;
    r.displayName = domain;
    r.createdAt = r.updatedAt = Date(QDateTime::currentSecsSinceEpoch() - 60);
    if (dailyLimitMinutes) {
        r.blockApplySchedule.isAllDay = false;
        r.blockApplySchedule.isAfterMaxDailyTime = true;
        r.dailyLimitMinutes = *dailyLimitMinutes;
    }
    return r;
}

// The command of a launcher's Exec= line as the desktop reads it (its field codes dropped).
QStringList execCommand(const QString& launcher)
{
    QFile file(launcher);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("Exec=")) {
            QString value = QString::fromUtf8(line.mid(5));
            value.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
            QStringList command = QProcess::splitCommand(value);
            command.removeIf([](const QString& a) { return a.size() == 2 && a.startsWith(u'%'); });
            return command;
        }
    return {};
}

// What the compositor shows, one window a line, for a failure's message.
QString described(const QList<DesktopWindow>& windows)
{
    QStringList lines;
    for (const DesktopWindow& w : windows)
        lines << QStringLiteral("\"%1\" [%2]%3 over \"%4\" at %5,%6 %7x%8")
                     .arg(w.title, w.appId, w.focused ? QStringLiteral(" focused") : QString(), w.parentTitle)
                     .arg(w.frame.x())
                     .arg(w.frame.y())
                     .arg(w.frame.width())
                     .arg(w.frame.height());
    return QStringLiteral("bottom to top:\n") + lines.join(u'\n');
}
// Asks no one: the administrator said yes. Like pkexec it wants an absolute program, and runs it
// with a clean environment (the tag kept, so the test can end what it starts).
const char standInPkexec[] = "#!/bin/sh\n"
                             "case \"$1\" in /*) ;; *) echo 'pkexec: not an absolute path' >&2; exit 127;; esac\n"
                             "exec env -i QH_TEST_PROCESS_TAG=\"$QH_TEST_PROCESS_TAG\" "
                             "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \"$@\"\n";

// A mount namespace of the test's own in which /etc and /usr take writes into memory: what an
// install for everyone writes there is seen by every process entered into it and by nothing else,
// and it vanishes with them.
class PrivateSystem {
public:
    ~PrivateSystem()
    {
        m_holder.closeWriteChannel();
        ProcessTag::stop(m_holder, m_tag);
    }

    // Empty once it stands, with a stand-in for pkexec in `folder`/bin; else what went wrong.
    QString start(const QString& folder)
    {
        m_bin = folder + QStringLiteral("/bin");
        if (!TestEnvironment::writeFile(m_bin + QStringLiteral("/pkexec"), standInPkexec) ||
            !QFile::setPermissions(m_bin + QStringLiteral("/pkexec"),
                                   QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
            !QDir(folder).mkdir(QStringLiteral("system")))
            return QStringLiteral("no stand-in for pkexec in ") + folder;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        m_tag = ProcessTag::apply(env);
        m_holder.setProcessEnvironment(env);
        m_holder.setProcessChannelMode(QProcess::MergedChannels);
        // Relative folders in the options: a TMPDIR with a comma or colon cannot break them.
        const QString script =
            QStringLiteral("set -e; mount -t tmpfs tmpfs \"$1\"; cd \"$1\"\n"
                           "for d in etc usr; do mkdir $d $d.work; "
                           "mount -t overlay overlay -o lowerdir=/$d,upperdir=$d,workdir=$d.work /$d; done\n"
                           "echo ready; exec cat");
        m_holder.start(QStringLiteral("unshare"),
                       {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                        QStringLiteral("/bin/sh"), QStringLiteral("-c"), script, QStringLiteral("sh"),
                        folder + QStringLiteral("/system")});
        if (!m_holder.waitForStarted(patience))
            return QStringLiteral("unshare could not be started");
        QByteArray said;
        while (!said.contains("ready\n") && m_holder.waitForReadyRead(patience))
            said += m_holder.readAll();
        return said.contains("ready\n") ? QString()
                                        : QStringLiteral("no private /etc and /usr: ") + QString::fromLocal8Bit(said);
    }
    // What `home` starts from now on runs inside, and finds the stand-in for pkexec first.
    void enter(Home& home) const
    {
        home.inside = {QStringLiteral("nsenter"), QStringLiteral("--mount=/proc/%1/ns/mnt").arg(m_holder.processId()),
                       QStringLiteral("--")};
        home.env.insert(QStringLiteral("PATH"), m_bin + u':' + home.env.value(QStringLiteral("PATH")));
    }
    // A system path as the processes inside see it.
    QString seen(const QString& path) const { return QStringLiteral("/proc/%1/root").arg(m_holder.processId()) + path; }
    // Whether process `pid` watches the folder `path` names, or the nearest of its parents that
    // exists, for changes: a Chromium reads its policies as it starts but watches their folder a
    // moment later (seconds on a loaded machine), and a policy written in between waits for the
    // reading a quarter of an hour on.
    bool watchesFolder(qint64 pid, QString path) const
    {
        struct stat info {};
        while (::stat(QFile::encodeName(seen(path)).constData(), &info) != 0 && path.count(u'/') > 1)
            path = QFileInfo(path).path();
        const QByteArray mark = " ino:" + QByteArray::number(qulonglong(info.st_ino), 16) + ' ';
        const QDir fds(QStringLiteral("/proc/%1/fdinfo").arg(pid));
        for (const QString& fd : fds.entryList(QDir::Files)) {
            QFile file(fds.filePath(fd));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& line : file.readAll().split('\n'))
                if (line.startsWith("inotify ") && line.contains(mark))
                    return true;
        }
        return false;
    }

private:
    QProcess m_holder;
    QByteArray m_tag;
    QString m_bin;
};

} // namespace

// A new user's way to blocking in Chromium through the program's own interface, on a private X
// desktop with a tray and assistive technology: the onboarding by keyboard, the browser rows' texts
// in a fresh home, the extension added from Settings and loaded from the folder the program shows,
// the launcher the program writes, and daily limits that count only the browser in front.
class TestFirstRunBrowser : public QObject {
    Q_OBJECT

    AccessibleDesktop m_session;

    QString xdotool(const QStringList& arguments) { return m_session.xdotool(arguments); }
    bool exists(const QString& name) { return m_session.exists(name); }
    QStringList shown(const QString& within) { return m_session.probe(QStringLiteral("names"), within); }

    // Waits for `condition`, looking again and again as a person would; after `timeoutMs` of real
    // time, says what the program showed and gives up.
    bool soon(const std::function<bool()>& condition, int timeoutMs = patience)
    {
        if (QTest::qWaitFor(condition, timeoutMs))
            return true;
        qWarning("%s", qPrintable(m_session.tree()));
        return false;
    }

    // Presses the button as assistive technology does, again if it was being laid out anew.
    bool press(const QString& name)
    {
        return soon([&] { return m_session.act(name, "press"); });
    }

    // Moves the keyboard focus with Tab to the control named `name`, as a person does; false when
    // a round of the window's controls did not reach it.
    bool tabTo(const QString& name)
    {
        for (int press = 0; press < 40; ++press) {
            if (m_session.focusedName() == name)
                return true;
            xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
        }
        return false;
    }

    // The program in `home`, past the offer to install it from the build folder, on its Settings
    // page.
    void openSettings(Home& home)
    {
        home.startProgram();
        QVERIFY(press(QStringLiteral("Not Now")));
        QVERIFY(soon([&] { return !exists(QStringLiteral("Not Now")); }));
        QProcess link;
        link.setProcessEnvironment(home.env);
        link.start(QStringLiteral(QUILLHARBOUR_BINARY), {QStringLiteral("quillharbour://settings")});
        QVERIFY(link.waitForFinished(patience));
        QVERIFY(soon([&] { return exists(QStringLiteral("Chromium")); }));
    }

    // "Add Extension" on Chromium's row: the copy the program made, and the dialog that shows it
    // with the steps a person takes in the browser.
    void addExtension(Home& home)
    {
        QVERIFY(press(QStringLiteral("Chromium>Add Extension")));
        const QString title = QStringLiteral("Add Quillharbour to Chromium");
        QVERIFY(soon([&] { return m_session.activeName() == title; }));
        QCOMPARE(m_session.activeRole(), QStringLiteral("dialog"));
        QVERIFY(QFile::exists(home.extensionFolder() + QStringLiteral("/manifest.json")));
        // The folder to choose, in a field that shows it and cannot be changed.
        QVERIFY(soon([&] {
            return m_session.probe(QStringLiteral("text"), QStringLiteral("Extension location")).value(0) ==
                       home.extensionFolder() &&
                   m_session.probe(QStringLiteral("find"), QStringLiteral("Extension location"))
                       .value(1)
                       .contains(QLatin1String("read only"));
        }));
        // The steps a person takes in the browser.
        QVERIFY(soon([&] {
            const QString steps = shown(title).join(QLatin1Char('\n'));
            return steps.contains(QLatin1String("Developer mode")) && steps.contains(QLatin1String("Load unpacked"));
        }));
        QVERIFY(press(QStringLiteral("Done")));
        QVERIFY(soon([&] { return m_session.activeName() != title; }));
    }

    // Chromium's row in Settings says it is connected, within the patience of a person.
    bool connected()
    {
        return soon([&] { return exists(QStringLiteral("Chromium>Connected")); });
    }

private slots:
    void initTestCase()
    {
        const QString failed = m_session.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        // The browser helpers type on this desktop.
        for (const char* name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"})
            qputenv(name, m_session.environment().value(QLatin1String(name)).toLocal8Bit());
    }
    void cleanupTestCase() { m_session.stop(); }

    // In a fresh home the onboarding is done with the keyboard alone and leads to the main window;
    // no browser row there, in Settings or on the Block page says the extension is installed before
    // it ever was, and Chromium's offers to add it.
    void firstRunByKeyboard()
    {
        Home home(m_session.environment(), false);
        home.startProgram();
        struct Step {
            QString shows;   // what the active window shows once the step is up
            QString control; // reached with Tab; empty: the step's own button, which has the focus
            QString typed;   // typed there
            QString key;     // then pressed; empty: the browser step's rows are read
        };
        const Step steps[] = {
            {QStringLiteral("Install Quillharbour"), QStringLiteral("Not now"), {}, QStringLiteral("space")},
            {QStringLiteral("The feed never ends."), {}, {}, QStringLiteral("Return")},
            {QStringLiteral("Your daily scroll"), QStringLiteral("About 2 hours"), {}, QStringLiteral("space")},
            // Return presses the focused button: the answer chosen, then "Continue" once reached.
            {QStringLiteral("Your daily scroll"), QStringLiteral("Continue"), {}, QStringLiteral("Return")},
            {QStringLiteral("How it works"), {}, {}, QStringLiteral("Return")},
            {QStringLiteral("Which sites do you scroll?"), {}, {}, QStringLiteral("Return")},
            {QStringLiteral("Connect your browser"), {}, {}, {}},
            // Chromium's row comes first; its action shows the same steps as Settings does.
            {QStringLiteral("Connect your browser"), QStringLiteral("Add Extension"), {}, QStringLiteral("space")},
            // Chromium opens no chrome:// address from its command line, and its extension is not
            // there yet: the address goes on the clipboard, with where to paste it.
            {QStringLiteral("Add Quillharbour to Chromium"),
             QStringLiteral("Open Extensions"),
             {},
             QStringLiteral("space")},
            {QStringLiteral("Copied chrome://extensions. Chromium opens it only from its address bar: in the "
                            "Chromium window that opened, paste it there (Ctrl+L, then Ctrl+V) and press Enter."),
             {},
             {},
             QStringLiteral("Escape")},
            {QStringLiteral("Connect your browser"), QStringLiteral("Continue"), {}, QStringLiteral("Return")},
            {QStringLiteral("What matters today?"), QStringLiteral("Today's priority"), QStringLiteral("Call the bank"),
             QStringLiteral("Return")},
            {QStringLiteral("Better on every computer"), {}, {}, QStringLiteral("Return")},
            {QStringLiteral("You're all set."), {}, {}, QStringLiteral("Return")},
        };
        for (const Step& step : steps) {
            // Keys go to the active window: the step must show there.
            QVERIFY2(soon([&] { return shown(m_session.activeName()).contains(step.shows); }), qPrintable(step.shows));
            QCOMPARE(m_session.activeRole(), QStringLiteral("dialog"));
            if (&step == steps) {
                // The window manager keeps the sheet over the main window: it belongs to it.
                const QString sheet = xdotool({QStringLiteral("getactivewindow")});
                const QString owner = m_session
                                          .run(QStringLiteral("xprop"),
                                               {QStringLiteral("-id"), sheet, QStringLiteral("WM_TRANSIENT_FOR")})
                                          .section(u'#', 1)
                                          .trimmed();
                QCOMPARE(xdotool({QStringLiteral("getwindowname"), owner}),
                         QStringLiteral("Today \u2014 Quillharbour"));
            }
            if (step.key.isEmpty()) {
                // A home where nothing was ever installed.
                QVERIFY(soon([&] { return exists(QStringLiteral("Chromium>Add Extension")); }));
                QVERIFY(exists(QStringLiteral("Chromium>") + addExtensionText));
                QVERIFY(!shown(m_session.activeName()).contains(cantReach));
                continue;
            }
            if (!step.control.isEmpty())
                QVERIFY2(tabTo(step.control), qPrintable(step.control));
            if (!step.typed.isEmpty())
                xdotool({QStringLiteral("type"), step.typed});
            xdotool({QStringLiteral("key"), step.key});
        }
        QVERIFY(soon([&] { return m_session.activeRole() == QLatin1String("frame"); }));
        QVERIFY(soon([&] { return exists(QStringLiteral("Call the bank")); }));

        // The same truth after the onboarding, wherever the browsers are listed.
        const struct {
            QString key; // the page's shortcut
            QString row; // what Chromium's row shows there
        } pages[] = {
            {QStringLiteral("ctrl+2"), QStringLiteral("Add Extension")},
            {QStringLiteral("ctrl+comma"), QStringLiteral("Add Extension")},
            {QStringLiteral("ctrl+comma"), addExtensionText},
        };
        for (const auto& page : pages) {
            xdotool({QStringLiteral("key"), page.key});
            QVERIFY2(soon([&] { return exists(QStringLiteral("Chromium>") + page.row); }), qPrintable(page.key));
            QVERIFY2(!shown(m_session.activeName()).contains(cantReach), qPrintable(page.key));
        }
    }

    // On the Wayland desktops people use, the first start shows the welcome sheet over the main
    // window with the keyboard: a sheet behind its window, or one without the keyboard, leaves the
    // person in front of a window that takes no input.
    void firstStartOnWayland_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::newRow("sway") << "sway";
        QTest::newRow("GNOME Shell") << "GNOME Shell";
        QTest::newRow("KDE Plasma") << "KDE Plasma";
    }
    void firstStartOnWayland()
    {
        QFETCH(QString, desktop);
        const bool gnome = desktop == QLatin1String("GNOME Shell");
        const bool plasma = desktop == QLatin1String("KDE Plasma");
        std::unique_ptr<WaylandSession> sway;
        std::unique_ptr<GnomeShellSession> shell;
        std::unique_ptr<KWinSession> kwin;
        QProcessEnvironment desktopEnv;
        if (gnome) {
            shell = std::make_unique<GnomeShellSession>();
            QVERIFY2(!shell->display().isEmpty(), qPrintable(QStringLiteral("no GNOME Shell: ") + shell->failure()));
            desktopEnv = shell->clientEnvironment();
        } else if (plasma) {
            kwin = std::make_unique<KWinSession>();
            QVERIFY2(!kwin->display().isEmpty(), qPrintable(QStringLiteral("no headless KWin: ") + kwin->failure()));
            desktopEnv = kwin->clientEnvironment();
            desktopEnv.insert(QStringLiteral("WAYLAND_DISPLAY"),
                              QDir(desktopEnv.value(QStringLiteral("XDG_RUNTIME_DIR"))).filePath(kwin->display()));
        } else {
            sway = std::make_unique<WaylandSession>(TestEnvironment::homePath());
            QVERIFY2(!sway->display().isEmpty(), qPrintable(QStringLiteral("no headless sway: ") + sway->failure()));
            desktopEnv = sway->clientEnvironment();
            desktopEnv.insert(QStringLiteral("WAYLAND_DISPLAY"),
                              QDir(desktopEnv.value(QStringLiteral("XDG_RUNTIME_DIR"))).filePath(sway->display()));
        }
        const auto windows = [&] { return gnome ? shell->windows() : plasma ? kwin->windows() : sway->windows(); };

        Home home(m_session.environment(), false);
        home.env.remove(QStringLiteral("DISPLAY"));
        home.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        for (const char* name :
             {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "DBUS_SESSION_BUS_ADDRESS"})
            if (desktopEnv.contains(QLatin1String(name)))
                home.env.insert(QLatin1String(name), desktopEnv.value(QLatin1String(name)));
        home.startProgram();

        const QString welcome = QStringLiteral("Welcome to Quillharbour");
        const QString program = QStringLiteral("quillharbour");
        const auto right = [&](const QList<DesktopWindow>& all) {
            const DesktopWindow* top = topWindowOf(all, program);
            const auto main = std::find_if(all.begin(), all.end(), [&](const DesktopWindow& w) {
                return w.appId == program && w.title != welcome;
            });
            // sway does not say which window a window belongs to; GNOME Shell does.
            return top && main != all.end() && top->title == welcome && top->focused && !main->focused &&
                   (!gnome || top->parentTitle == main->title) && main->frame.contains(top->frame.center()) &&
                   std::abs(top->frame.center().x() - main->frame.center().x()) <= 2;
        };
        QList<DesktopWindow> seen;
        QVERIFY2(QTest::qWaitFor([&] { return right(seen = windows()); }, patience), qPrintable(described(seen)));

        // The desktop finds the program's name and icon in the entry its windows name.
        const QString entry = home.path(QStringLiteral(".local/share/applications/quillharbour.desktop"));
        QVERIFY(soon([&] {
            const QString icon = UserInstaller::entryIcon(TestEnvironment::readFile(entry));
            return !icon.isEmpty() && TestEnvironment::readFile(icon).startsWith("\x89PNG\r\n\x1a\n");
        }));
        if (!plasma)
            return;

        // Plasma's tray, in a panel along the bottom, asks for the popup just above the icon: the
        // popover opens there, not where the compositor would put a new window.
        const QPoint tray(1180, 684);
        QVERIFY(soon([&] { return kwin->activateTrayItem(tray); }));
        const auto byTray = [&](const QList<DesktopWindow>& all) {
            const DesktopWindow* top = topWindowOf(all, program);
            return top && top->title == QLatin1String("Quillharbour") && top->frame.width() == 372 &&
                   top->frame.bottom() < tray.y() && tray.y() - top->frame.bottom() <= 12 &&
                   top->frame.left() <= tray.x() && top->frame.right() >= tray.x();
        };
        QVERIFY2(QTest::qWaitFor([&] { return byTray(seen = windows()); }, patience), qPrintable(described(seen)));
        // A second click closes it; a third opens it there again, on the new surface it shows on.
        QVERIFY(kwin->activateTrayItem(tray));
        QVERIFY(QTest::qWaitFor(
            [&] {
                const DesktopWindow* top = topWindowOf(seen = windows(), program);
                return top && top->title != QLatin1String("Quillharbour");
            },
            patience));
        QVERIFY(kwin->activateTrayItem(tray));
        QVERIFY2(QTest::qWaitFor([&] { return byTray(seen = windows()); }, patience), qPrintable(described(seen)));
    }

    // Typed into a browser through the program's own ways in, a blocked address shows the block
    // page and never reaches the site.
    void typedBlockedAddressIsBlocked_data()
    {
        QTest::addColumn<QString>("button");  // pressed on Chromium's row in Settings
        QTest::addColumn<bool>("configHome"); // XDG_CONFIG_HOME set inside the home
        QTest::addColumn<bool>("ownProfile"); // started on a profile folder of the person's own
        // No button: the browser, with the extension, runs on a profile folder of its own before
        // the program starts.
        QTest::newRow("extension, its browser on its own profile folder, started first") << "" << false << true;
        QTest::newRow("extension") << "Add Extension" << false << false;
        QTest::newRow("extension, XDG_CONFIG_HOME set") << "Add Extension" << true << false;
        QTest::newRow("launcher") << "Create Launcher" << false << false;
        QTest::newRow("launcher's browser on its own profile folder") << "Create Launcher" << false << true;
    }
    void typedBlockedAddressIsBlocked()
    {
        QFETCH(QString, button);
        QFETCH(bool, configHome);
        QFETCH(bool, ownProfile);
        Home home(m_session.environment(), configHome);
        QVERIFY(home.seed({rule(QStringLiteral("example.com"))}));
        if (button.isEmpty()) {
            const QString own = home.path(QStringLiteral("my profile"));
            QProcess& chromium =
                home.startChromium({QStringLiteral("chromium"), QStringLiteral("--user-data-dir=") + own,
                                    QStringLiteral("--load-extension=" QH_EXTENSION "/chromium")},
                                   QStringLiteral("about:blank"));
            QVERIFY(soon([&] { return !browserWindow(chromium.processId()).isEmpty(); }));
            openSettings(home);
            if (QTest::currentTestFailed())
                return;
            // The link file goes where this browser reads it, and its extension connects.
            QVERIFY(connected());
            QVERIFY(QFile::exists(own + QStringLiteral("/NativeMessagingHosts/") + NativeMessaging::hostName +
                                  QStringLiteral(".json")));
            const bool blocked = typeUntil(chromium.processId(), QStringLiteral("http://www.example.com/feed"),
                                           [&] { return showsBlockPage(chromium.processId()); });
            QVERIFY2(blocked && home.site.requests.isEmpty(),
                     qPrintable(QString::fromLatin1(home.site.requests.join(QByteArrayLiteral(", ")))));
            return;
        }
        openSettings(home);
        if (QTest::currentTestFailed())
            return;

        QStringList command;
        if (button == QLatin1String("Add Extension")) {
            addExtension(home);
            if (QTest::currentTestFailed())
                return;
            QVERIFY(QFile::exists(home.configHome() + QStringLiteral("/chromium/NativeMessagingHosts/") +
                                  NativeMessaging::hostName + QStringLiteral(".json")));
            // "Load unpacked" of exactly the folder the program showed.
            command = QStringList{QStringLiteral("chromium"),
                                  QStringLiteral("--user-data-dir=") + home.configHome() + QStringLiteral("/chromium"),
                                  QStringLiteral("--load-extension=") + home.extensionFolder()};
        } else {
            QVERIFY(press(QStringLiteral("Chromium>Create Launcher")));
            const QString launcher = home.path(QStringLiteral(".local/share/applications/chromium.desktop"));
            QVERIFY(soon([&] { return QFile::exists(launcher); }));
            command = execCommand(launcher);
            QVERIFY2(command.value(0).endsWith(QLatin1String("/chromium")), qPrintable(command.join(u' ')));
            if (ownProfile)
                command = QStringList{command.value(0), QStringLiteral("--remote-debugging-port=0"),
                                      QStringLiteral("--user-data-dir=") + home.path(QStringLiteral("my profile"))};
        }

        if (ownProfile) {
            // Found because its window came to the front: the reading by the clock that would also
            // find it comes minutes later, past this wait.
            static_assert(patience < BrowserDiscovery::slowRescanWithFrontMs);
            QProcess& chromium = home.startChromium(command, QStringLiteral("http://www.example.com/"));
            QVERIFY(soon([&] { return !browserWindow(chromium.processId()).isEmpty(); }));
            xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), browserWindow(chromium.processId())});
            QVERIFY2(soon([&] { return showsBlockPage(chromium.processId()); }),
                     qPrintable(QStringLiteral("\"%1\" shown after its window came to the front")
                                    .arg(windowTitle(chromium.processId()))));
            return;
        }

        QProcess& chromium = home.startChromium(command, QStringLiteral("about:blank"));
        QVERIFY(connected());
        const bool blocked = typeUntil(chromium.processId(), QStringLiteral("http://www.example.com/feed"),
                                       [&] { return showsBlockPage(chromium.processId()); });
        QVERIFY2(blocked && home.site.requests.isEmpty(),
                 qPrintable(QStringLiteral("\"%1\" shown, the site asked for %2")
                                .arg(windowTitle(chromium.processId()),
                                     QString::fromLatin1(home.site.requests.join(QByteArrayLiteral(", "))))));
        const qint64 pid = chromium.processId();
        if (button == QLatin1String("Add Extension")) {
            // Incognito windows are left out: the row's button and its sheet's lead to the
            // extension's own page in Chromium, which opens it only for the extension.
            QVERIFY(press(QStringLiteral("Chromium>Open Extension Page")));
            QVERIFY(press(QStringLiteral("Open the Extension's Page")));
            QVERIFY2(soon([&] { return windowTitle(pid).startsWith(QLatin1String("Extensions")); }),
                     qPrintable(windowTitle(pid)));
            QVERIFY(soon([&] { return exists(QStringLiteral("Opened in Chromium.")); }));
            QVERIFY(press(QStringLiteral("Done")));
            xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), browserWindow(pid)});
            xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+1")});
            QVERIFY(soon([&] { return showsBlockPage(pid); }));
        }

        // The program ends while a tab shows the block page: the tab goes back to its site,
        // whichever route held it.
        home.program->terminate();
        QVERIFY(soon([&] { return windowTitle(pid) == QLatin1String("site - Chromium"); }));
        QVERIFY(home.site.received("www.example.com/feed"));
    }

    // From a copy installed in the home folder, "Install for Everyone…" on Chromium's row protects
    // the browser already open, on a fresh profile, and one started later on a second profile, with
    // no step in either browser. pkexec is a stand-in, and /etc and /usr are private to the test.
    void installForEveryoneProtectsEveryProfile()
    {
        PrivateSystem system;
        QTemporaryDir folder;
        const QString failed = system.start(folder.path());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        const QString policy = QStringLiteral("/etc/chromium/policies/managed/quillharbour.json");
        const bool policyOutside = QFile::exists(policy);

        Home home(m_session.environment(), false);
        system.enter(home);
        QVERIFY(home.seed({rule(QStringLiteral("example.com"))}));
        // The copy the onboarding's "Install" makes.
        UserInstaller::Places places{home.env.value(QStringLiteral("HOME")),
                                     home.path(QStringLiteral(".local/bin")),
                                     home.path(QStringLiteral(".local/share")),
                                     {},
                                     home.configHome()};
        QString error;
        const std::optional<QString> installed =
            UserInstaller::installCopy(QStringLiteral(QUILLHARBOUR_BINARY), places, &error);
        QVERIFY2(installed, qPrintable(error));
        home.startProgram(*installed);
        QProcess& first =
            home.startChromium({QStringLiteral("chromium"),
                                QStringLiteral("--user-data-dir=") + home.configHome() + QStringLiteral("/chromium")},
                               QStringLiteral("about:blank"), true);
        QVERIFY(soon([&] { return !browserWindow(first.processId()).isEmpty(); }));
        QVERIFY(soon([&] { return system.watchesFolder(first.processId(), QFileInfo(policy).path()); }));
        QProcess link;
        link.setProcessEnvironment(home.env);
        link.start(*installed, {QStringLiteral("quillharbour://settings")});
        QVERIFY(link.waitForFinished(patience));
        QVERIFY(soon([&] { return exists(QStringLiteral("Chromium")); }));

        QVERIFY(press(QStringLiteral("Chromium>Add Extension")));
        const QString title = QStringLiteral("Add Quillharbour to Chromium");
        QVERIFY(soon([&] { return m_session.activeName() == title; }));
        QVERIFY(press(QStringLiteral("Install for Everyone…")));
        QVERIFY(soon([&] {
            return shown(title).join(u'\n').contains(
                QLatin1String("Quillharbour is installed for everyone on this computer."));
        }));
        QVERIFY(QFile::exists(system.seen(policy)));
        QVERIFY(QFile::exists(system.seen(QStringLiteral("/usr/local/bin/quillharbour"))));
        QCOMPARE(QFile::exists(policy), policyOutside);
        QVERIFY(press(QStringLiteral("Done")));

        // The browser that was open takes the policy by itself: it reloads it a few seconds after
        // the change, then fetches, installs and starts the extension, which a loaded machine slows
        // to minutes (two and more seen while a build ran beside it).
        QVERIFY(soon([&] { return exists(QStringLiteral("Chromium>Connected")); }, 8 * patience));
        QVERIFY2(typeUntil(first.processId(), QStringLiteral("http://www.example.com/feed"),
                           [&] { return showsBlockPage(first.processId()); }),
                 qPrintable(windowTitle(first.processId())));
        QVERIFY2(home.site.requests.isEmpty(), home.site.requests.join(QByteArrayLiteral(", ")).constData());
        // A new profile gets the extension a moment after it opens: an address typed before that
        // may still load once, and is sent to the block page as soon as the extension is there.
        QProcess& second =
            home.startChromium({QStringLiteral("chromium"),
                                QStringLiteral("--user-data-dir=") + home.path(QStringLiteral("second profile"))},
                               QStringLiteral("about:blank"), true);
        QVERIFY(soon([&] { return !browserWindow(second.processId()).isEmpty(); }));
        QVERIFY2(typeUntil(second.processId(), QStringLiteral("http://www.example.com/feed"),
                           [&] { return showsBlockPage(second.processId()); }),
                 qPrintable(windowTitle(second.processId())));
    }

    // From the first screen of a fresh home: one press of "Install for Everyone…" (and the
    // administrator's password) installs the program for everyone and opens it again from there,
    // and a Chromium started afterwards is connected before the onboarding reaches the browsers.
    void installForEveryoneFromTheFirstScreen()
    {
        PrivateSystem system;
        QTemporaryDir folder;
        const QString failed = system.start(folder.path());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        Home home(m_session.environment(), false);
        system.enter(home);
        home.startProgram();
        QVERIFY(soon([&] { return shown(m_session.activeName()).contains(QStringLiteral("Install Quillharbour")); }));
        QVERIFY(press(QStringLiteral("Install for Everyone…")));
        // The copy for everyone opens on the welcome step, and its link files name it.
        QVERIFY(soon([&] { return shown(m_session.activeName()).contains(QStringLiteral("The feed never ends.")); }));
        const QString link = home.path(QStringLiteral(".config/chromium/NativeMessagingHosts/")) +
                             NativeMessaging::hostName + QStringLiteral(".json");
        QVERIFY(soon([&] { return TestEnvironment::readFile(link).contains("\"/usr/local/bin/quillharbour\""); }));
        QVERIFY(QFile::exists(system.seen(QStringLiteral("/etc/chromium/policies/managed/quillharbour.json"))));

        QProcess& chromium =
            home.startChromium({QStringLiteral("chromium"),
                                QStringLiteral("--user-data-dir=") + home.configHome() + QStringLiteral("/chromium")},
                               QStringLiteral("about:blank"), true);
        QVERIFY(soon([&] { return !browserWindow(chromium.processId()).isEmpty(); }));
        // Back to the onboarding, which the browser's window went in front of.
        const auto sheet = [&] {
            return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                            QStringLiteral("^Welcome to Quillharbour$")})
                .section(u'\n', 0, 0);
        };
        QVERIFY(soon([&] { return !sheet().isEmpty(); }));
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), sheet()});
        const struct {
            QString shows;
            QString control;
            QString key;
        } steps[] = {
            {QStringLiteral("The feed never ends."), {}, QStringLiteral("Return")},
            {QStringLiteral("Your daily scroll"), QStringLiteral("About 2 hours"), QStringLiteral("space")},
            {QStringLiteral("Your daily scroll"), QStringLiteral("Continue"), QStringLiteral("Return")},
            {QStringLiteral("How it works"), {}, QStringLiteral("Return")},
            {QStringLiteral("Which sites do you scroll?"), {}, QStringLiteral("Return")},
        };
        for (const auto& step : steps) {
            QVERIFY2(soon([&] { return shown(m_session.activeName()).contains(step.shows); }), qPrintable(step.shows));
            if (!step.control.isEmpty())
                QVERIFY2(tabTo(step.control), qPrintable(step.control));
            xdotool({QStringLiteral("key"), step.key});
        }
        QVERIFY(soon([&] { return shown(m_session.activeName()).contains(QStringLiteral("Connect your browser")); }));
        QVERIFY(soon([&] { return exists(QStringLiteral("Chromium>Connected")); }));
    }

    // The extension added in one profile protects that profile only: the row names the profile
    // left out, by the name the browser's profile picker shows, and says "Connected" only once the
    // extension is there too.
    void secondProfileWithoutTheExtension()
    {
        Home home(m_session.environment(), false);
        QVERIFY(home.seed({rule(QStringLiteral("example.com"))}));
        const QString data = home.configHome() + QStringLiteral("/chromium");
        const QStringList second{QStringLiteral("chromium"), QStringLiteral("--user-data-dir=") + data,
                                 QStringLiteral("--profile-directory=Profile 2")};
        // A second profile, used once without the extension.
        QProcess& once = home.startChromium(second, QStringLiteral("about:blank"));
        QVERIFY(soon([&] { return !browserWindow(once.processId()).isEmpty(); }));
        ExtensionBrowserRig::stop(once);
        const QString name =
            QJsonDocument::fromJson(TestEnvironment::readFile(data + QStringLiteral("/Local State")))[QLatin1String(
                "profile")][QLatin1String("info_cache")][QLatin1String("Profile 2")][QLatin1String("name")]
                .toString();
        QVERIFY2(!name.isEmpty() && QFile::exists(data + QStringLiteral("/Profile 2/Preferences")), qPrintable(name));

        openSettings(home);
        if (QTest::currentTestFailed())
            return;
        addExtension(home);
        if (QTest::currentTestFailed())
            return;
        QProcess& chromium = home.startChromium({QStringLiteral("chromium"), QStringLiteral("--user-data-dir=") + data,
                                                 QStringLiteral("--profile-directory=Default"),
                                                 QStringLiteral("--load-extension=") + home.extensionFolder()},
                                                QStringLiteral("about:blank"));
        QVERIFY(soon([&] { return !browserWindow(chromium.processId()).isEmpty(); }));
        const QString named = QStringLiteral("Chromium>Not protected in the profile “%1”. Open that profile in "
                                             "Chromium and add the extension there.")
                                  .arg(name);
        // The browser writes what a profile holds a few seconds after the change.
        QVERIFY(soon([&] { return exists(named); }, 2 * patience));
        QVERIFY(!exists(QStringLiteral("Chromium>Connected")));
        QVERIFY(exists(QStringLiteral("Chromium>Add Extension")));

        // That profile opened in the running browser gets the extension too: every profile is protected.
        home.startChromium(second, QStringLiteral("about:blank"));
        QVERIFY(soon([&] { return exists(QStringLiteral("Chromium>Connected")); }, 2 * patience));
        QVERIFY(!exists(named));
    }

    // A one-minute daily limit counts only the minutes the browser is in front: with another
    // program in front for the first half minute, the page is still open well past a minute of
    // wall time, and blocked once the browser has been in front for one. Nothing is injected, so
    // this case takes a minute and a half of real use.
    void dailyLimitCountsOnlyTheBrowserInFront()
    {
        Home home(m_session.environment(), false);
        QVERIFY(home.seed({rule(QStringLiteral("example.org"), 1)}));
        openSettings(home);
        if (QTest::currentTestFailed())
            return;
        addExtension(home);
        if (QTest::currentTestFailed())
            return;
        QProcess& chromium =
            home.startChromium({QStringLiteral("chromium"),
                                QStringLiteral("--user-data-dir=") + home.configHome() + QStringLiteral("/chromium"),
                                QStringLiteral("--load-extension=") + home.extensionFolder()},
                               QStringLiteral("about:blank"));
        QVERIFY(connected());
        const qint64 pid = chromium.processId();
        QVERIFY(typeUntil(pid, QStringLiteral("http://www.example.org/reading"),
                          [&] { return windowTitle(pid) == QLatin1String("site - Chromium"); }));
        QElapsedTimer opened;
        opened.start();

        home.start(QStringLiteral("xmessage"),
                   {QStringLiteral("-geometry"), QStringLiteral("400x200+300+300"), QStringLiteral("another program")});
        const auto other = [&] {
            return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                            QStringLiteral("xmessage")});
        };
        QVERIFY(soon([&] { return !other().isEmpty(); }));
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), other()});
        // The page stays open while it is behind, and as long as the browser has been in front for
        // clearly less than the limit (its checks count in steps of a few seconds).
        const auto openUntil = [&](qint64 ms) {
            for (; opened.elapsed() < ms; QTest::qWait(500))
                if (showsBlockPage(pid))
                    return false;
            return true;
        };
        QVERIFY2(openUntil(30000), qPrintable(QStringLiteral("blocked after %1 ms").arg(opened.elapsed())));
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), browserWindow(pid)});
        QVERIFY2(openUntil(80000), qPrintable(QStringLiteral("blocked after %1 ms, half of them behind another "
                                                             "program")
                                                  .arg(opened.elapsed())));
        QVERIFY(soon([&] { return showsBlockPage(pid); }, 2 * patience));
    }
};

QTEST_GUILESS_MAIN(TestFirstRunBrowser)
#include "tst_first_run_browser.moc"
