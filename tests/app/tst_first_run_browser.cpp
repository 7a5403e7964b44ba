#include "AccessibleDesktop.h"
#include "ProcessTag.h"
#include "SiteServer.h"
#include "TestEnvironment.h"
#include "linux/ExtensionBrowserRig.h"
#include "model/BlockRule.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

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

    // What is started with `quiet` keeps its output to itself: a browser's would drown the test's.
    QProcess& start(const QString& program, const QStringList& arguments, bool quiet = true,
                    const QProcessEnvironment& extra = {})
    {
        Started s{std::make_unique<QProcess>(), {}};
        QProcessEnvironment e = env;
        for (const QString& key : extra.keys())
            e.insert(key, extra.value(key));
        s.tag = ProcessTag::apply(e);
        s.process->setProcessEnvironment(e);
        if (quiet) {
            s.process->setStandardOutputFile(QProcess::nullDevice());
            s.process->setStandardErrorFile(QProcess::nullDevice());
        } else {
            s.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        s.process->start(program, arguments);
        s.process->waitForStarted(patience);
        m_started.push_back(std::move(s));
        return *m_started.back().process;
    }
    QProcess& startProgram() { return start(QStringLiteral(QUILLHARBOUR_BINARY), {}, false); }
    // Chromium as a person's launcher starts it, with what every test browser needs besides: no
    // sandbox (the tests may run as root), no first-run questions, every example address led to
    // the local site. Its window, not its accessibility tree, is what the test looks at.
    QProcess& startChromium(const QStringList& command, const QString& address)
    {
        QProcessEnvironment quiet;
        quiet.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        return start(command.value(0),
                     command.mid(1) + ExtensionBrowserRig::chromiumArguments(site.serverPort()) + QStringList{address},
                     true, quiet);
    }

    QProcessEnvironment env;
    SiteServer site;

private:
    struct Started {
        std::unique_ptr<QProcess> process;
        QByteArray tag;
    };
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
            {QStringLiteral("Add Quillharbour to Chromium"), {}, {}, QStringLiteral("Escape")},
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

    // Typed into a browser through the program's own ways in, a blocked address shows the block
    // page and never reaches the site.
    void typedBlockedAddressIsBlocked_data()
    {
        QTest::addColumn<QString>("button");  // pressed on Chromium's row in Settings
        QTest::addColumn<bool>("configHome"); // XDG_CONFIG_HOME set inside the home
        QTest::addColumn<bool>("ownProfile"); // started on a profile folder of the person's own
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
            // Found as soon as its window comes to the front: blocked within 2 s of that.
            QProcess& chromium = home.startChromium(command, QStringLiteral("http://www.example.com/"));
            QVERIFY(soon([&] { return !browserWindow(chromium.processId()).isEmpty(); }));
            xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), browserWindow(chromium.processId())});
            QElapsedTimer sinceFront;
            sinceFront.start();
            while (!showsBlockPage(chromium.processId()) && sinceFront.elapsed() < 2000)
                QTest::qWait(20);
            if (!showsBlockPage(chromium.processId())) {
                // Says how late it came, if it came at all.
                const QString shown = windowTitle(chromium.processId());
                const bool later = QTest::qWaitFor([&] { return showsBlockPage(chromium.processId()); }, patience);
                QFAIL(qPrintable(QStringLiteral("\"%1\" shown 2 s after its window came to the front; %2")
                                     .arg(shown, later ? QStringLiteral("blocked after %1 ms").arg(sinceFront.elapsed())
                                                       : QStringLiteral("never blocked"))));
            }
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
