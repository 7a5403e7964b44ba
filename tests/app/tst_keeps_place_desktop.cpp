#include "DesktopSession.h"
#include "SessionBus.h"
#include "TestEnvironment.h"
#include "model/BlockRule.h"
#include "model/Json.h"
#include "model/SharedState.h"
#include "model/TaskItem.h"
#include "platform/Defaults.h"
#include "store/StorageService.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// The processes the accessibility bus started for us (its registry) carry our runtime folder.
QList<qint64> processesWith(const QByteArray& marker)
{
    QList<qint64> pids;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == QCoreApplication::applicationPid())
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().contains(marker))
            pids.append(pid);
    }
    return pids;
}

// Gone, or a zombie waiting for a parent that is not us.
bool ended(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && text.mid(close + 2, 1) == "Z";
}

// An argument list written as one line.
QStringList words(const QString& line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

// The program on a real X desktop with a tray host and assistive technology: every action keeps
// the person's place (the popover stays open, the first-run sheet keeps the keyboard), text and
// toggles made through AT-SPI reach the data, and SIGHUP ends the run as SIGTERM does.
class TestKeepsPlaceDesktop : public QObject {
    Q_OBJECT

    std::unique_ptr<DesktopSession> m_desktop;
    std::unique_ptr<SessionBus> m_bus;
    QTemporaryDir m_folder;
    QProcess m_accessibilityBus;
    QProcess m_tray;
    QProcessEnvironment m_env;

    QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(program, arguments);
        p.waitForFinished(15000);
        if (exitCode)
            *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    QString xdotool(const QStringList& arguments) { return run(QStringLiteral("xdotool"), arguments); }
    // What AT-SPI says; empty when the object is not there.
    QStringList probe(const QStringList& arguments)
    {
        int code = 0;
        const QString out =
            run(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral(QH_ATSPI_PROBE)} + arguments, &code);
        return code == 0 ? out.split(QLatin1Char('\n')) : QStringList();
    }
    QStringList probe(const QString& command, const QString& name, const QString& argument = {})
    {
        return probe(QStringList{command, name} + (argument.isEmpty() ? QStringList() : QStringList{argument}));
    }
    bool exists(const QString& name) { return !probe(QStringLiteral("find"), name).isEmpty(); }
    bool act(const QString& name, const char* action)
    {
        return !probe(QStringLiteral("action"), name, QLatin1String(action)).isEmpty();
    }
    // A real click in the middle of the object's rectangle on the screen.
    bool click(const QString& name)
    {
        const QStringList found = probe(QStringLiteral("find"), name);
        if (found.size() < 3)
            return false;
        const QStringList r = found[2].split(QLatin1Char(' '));
        const int x = r[0].toInt() + r[2].toInt() / 2;
        const int y = r[1].toInt() + r[3].toInt() / 2;
        xdotool(words(QStringLiteral("mousemove %1 %2 click 1").arg(x).arg(y)));
        return true;
    }
    QStringList ourWindows()
    {
        return xdotool(words(QStringLiteral("search --onlyvisible --class quillharbour")))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    bool popoverMapped()
    {
        for (const QString& window : ourWindows()) {
            const auto match = QRegularExpression(QStringLiteral("Geometry: (\\d+)x(\\d+)"))
                                   .match(xdotool({QStringLiteral("getwindowgeometry"), window}));
            if (match.hasMatch() && match.captured(1).toInt() == 372 && match.captured(2).toInt() > 100)
                return true;
        }
        return false;
    }
    // The one focused object's name; a mark when none or several are focused.
    QString focusedName()
    {
        QStringList focused = probe({QStringLiteral("focused")});
        // A list with the keyboard says which of its items is current by focusing it as well, and
        // Qt's text fields pass the focused state to their viewport, a nameless filler inside.
        if (focused.size() == 2 && focused[0].startsWith(QLatin1String("list\t")) &&
            focused[1].startsWith(QLatin1String("list item\t")))
            focused.removeFirst();
        if (focused.size() == 2 && focused[1].trimmed() == QLatin1String("filler"))
            focused.removeLast();
        if (focused.size() != 1)
            return QStringLiteral("<%1 focused: %2>").arg(focused.size()).arg(focused.join(QLatin1String(", ")));
        return focused.front().section(QLatin1Char('\t'), 1);
    }
    // Tab, then wait until the focus moved on from `from`.
    QString tabFrom(const QString& from)
    {
        xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
        QString now;
        for (int look = 0; look < 100 && (now = focusedName()) == from; ++look)
            QTest::qWait(50);
        return now;
    }
    // The screen's top edge of the named object, or -1.
    int topOf(const QString& name)
    {
        const QStringList found = probe(QStringLiteral("find"), name);
        return found.size() < 3 ? -1 : found[2].section(QLatin1Char(' '), 1, 1).toInt();
    }
    QString activeRole()
    {
        const QStringList active = probe({QStringLiteral("active")});
        return active.isEmpty() ? QString() : active.first();
    }

    // A data folder, its preferences and a program started on it.
    struct Run {
        Run() = default;
        Run(Run&&) = default;
        ~Run()
        {
            if (process)
                stop(*process);
        }
        QString root;
        QString data() const { return root + QStringLiteral("/data"); }
        QProcessEnvironment env;
        std::unique_ptr<QProcess> process;
    };
    Run prepare(const QString& name, bool firstRunDone)
    {
        Run r;
        r.root = m_folder.filePath(name);
        QDir().mkpath(r.data());
        QDir().mkpath(r.root + QStringLiteral("/config/quillharbour"));
        if (firstRunDone) {
            QFile defaults(r.root + QStringLiteral("/config/quillharbour/defaults.json"));
            if (defaults.open(QIODevice::WriteOnly))
                defaults.write("{\"onboarding.completed.v1\": true}\n");
        }
        r.env = m_env;
        r.env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), r.data());
        r.env.insert(QStringLiteral("HOME"), r.root);
        r.env.insert(QStringLiteral("XDG_CONFIG_HOME"), r.root + QStringLiteral("/config"));
        r.env.insert(QStringLiteral("XDG_DATA_HOME"), r.root + QStringLiteral("/share"));
        return r;
    }
    void start(Run& r, const QStringList& arguments)
    {
        r.process = std::make_unique<QProcess>();
        r.process->setProcessEnvironment(r.env);
        r.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        r.process->start(QStringLiteral(QUILLHARBOUR_BINARY), arguments);
        QVERIFY(r.process->waitForStarted(5000));
    }
    // Starts the program on seeded data, past the offer to install itself.
    void startPastInstallOffer(Run& r)
    {
        start(r, {});
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Not Now")), 30000);
        QVERIFY(act(QStringLiteral("Not Now"), "press"));
        QTRY_VERIFY_WITH_TIMEOUT(!exists(QStringLiteral("Not Now")), 30000);
    }
    // Writes the store's files through a store of our own, on the real clock.
    // `done`: to-dos of today already done.
    void seed(Run& r, const QStringList& todos, std::optional<double> pauseFor = std::nullopt,
              const QStringList& done = {})
    {
        const Clock& clock = SystemClock::instance();
        Defaults defaults(r.root + QStringLiteral("/config/quillharbour/defaults.json"));
        StorageEnvironment env;
        env.clock = &clock;
        env.calendar = [] { return Calendar::current(); };
        env.defaults = &defaults;
        {
            StorageService store(FileStore{r.data()}, env);
            BlockRule rule;
            rule.id = QUuid::createUuid();
            rule.domain = QStringLiteral("example.com");
            rule.displayName = QStringLiteral("Example");
            QVERIFY(store.addRule(rule));
            const Date startOfDay = Calendar::current().startOfDay(clock.now());
            const QStringList all = todos + done;
            for (int i = 0; i < all.size(); ++i) {
                TaskItem t;
                t.id = QUuid::createUuid();
                t.title = all[i];
                t.time = TaskItem::anytime;
                t.createdAt = t.updatedAt = startOfDay + 60 * (i + 1);
                t.isCompleted = i >= todos.size();
                store.addTodo(t);
            }
        }
        if (pauseFor) {
            SharedState state;
            state.dayId = SharedState::dayIdFor(clock.now(), Calendar::current());
            state.blockingPausedUntil = clock.now() + *pauseFor;
            QFile file(r.data() + QStringLiteral("/state.json"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QJsonDocument(encodeSharedState(state)).toJson());
        }
    }

private slots:
    void initTestCase()
    {
        m_desktop = std::make_unique<DesktopSession>();
        m_bus = std::make_unique<SessionBus>();
        if (m_desktop->display().isEmpty() || m_bus->address().isEmpty())
            QSKIP("Xvfb, openbox or dbus-daemon is missing");
        if (!QFile::exists(QStringLiteral("/usr/libexec/at-spi-bus-launcher")) ||
            !QFile::exists(QStringLiteral("/usr/bin/trayer")))
            QSKIP("at-spi2-core or trayer is missing");
        const QString runtime = m_folder.filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.remove(QStringLiteral("NO_AT_BRIDGE"));
        m_env.insert(QStringLiteral("DISPLAY"), m_desktop->display());
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));

        m_accessibilityBus.setProcessEnvironment(m_env);
        m_accessibilityBus.setStandardErrorFile(QProcess::nullDevice());
        m_accessibilityBus.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
                                 {QStringLiteral("--launch-immediately")});
        QVERIFY(m_accessibilityBus.waitForStarted(5000));
        // Its socket ("bus", or "bus_<display>") appears once the bus is up.
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(runtime + QStringLiteral("/at-spi")).entryList(QDir::System).isEmpty(), 30000);

        m_tray.setProcessEnvironment(m_env);
        m_tray.start(QStringLiteral("trayer"),
                     words(QStringLiteral("--edge top --align right --widthtype request --height 24 "
                                          "--transparent false --tint 0xdddddd")));
        QVERIFY(m_tray.waitForStarted(5000));
    }
    void cleanupTestCase()
    {
        stop(m_tray);
        stop(m_accessibilityBus);
        // The registry the accessibility bus started ends with that bus; wait for it by pid.
        const QByteArray marker = m_folder.filePath(QStringLiteral("run")).toUtf8();
        for (qint64 pid : processesWith(marker)) {
            ::kill(pid_t(pid), SIGTERM);
            QTRY_VERIFY_WITH_TIMEOUT(ended(pid), 30000);
        }
        m_bus.reset();
        m_desktop.reset();
    }

    void popoverStaysOpen_data()
    {
        QTest::addColumn<QStringList>("clicks"); // objects clicked in turn, or "key:…" pressed
        QTest::addColumn<QString>("appears");    // what shows once the action took effect
        QTest::addColumn<QString>("goes");       // …or what is gone then
        QTest::addColumn<bool>("paused");
        QTest::newRow("Add") << QStringList{"Add"} << "New priority"
                             << "" << false;
        QTest::newRow("Next") << QStringList{"Next"} << "Mark First done"
                              << "" << false;
        QTest::newRow("check circle") << QStringList{"Mark Second done"} << ""
                                      << "Mark Second done" << false;
        QTest::newRow("Return in quick add") << QStringList{"Add", "type:Tea", "key:Return"} << "Tea"
                                             << "New priority" << false;
        QTest::newRow("Escape in quick add") << QStringList{"Add", "key:Escape"} << "Add"
                                             << "New priority" << false;
        QTest::newRow("a pause ends") << QStringList{} << ""
                                      << "Resume now" << true;
    }
    void popoverStaysOpen()
    {
        QFETCH(QStringList, clicks);
        QFETCH(QString, appears);
        QFETCH(QString, goes);
        QFETCH(bool, paused);
        Run r = prepare(QStringLiteral("popover-%1").arg(QTest::currentDataTag()), true);
        seed(r, {QStringLiteral("First"), QStringLiteral("Second"), QStringLiteral("Third")},
             paused ? std::optional<double>(20) : std::nullopt);
        // No browser installed as far as it can see, so the banner speaks of the pause.
        r.env.insert(QStringLiteral("PATH"), r.root);
        r.env.insert(QStringLiteral("XDG_DATA_DIRS"), r.root + QStringLiteral("/share"));
        start(r, {QStringLiteral("--login-item")});
        QTRY_VERIFY_WITH_TIMEOUT(ourWindows().size() == 1, 30000);
        const QString icon = ourWindows().constFirst();
        xdotool(words(QStringLiteral("mousemove --window %1 8 8 click 1").arg(icon)));
        QTRY_VERIFY_WITH_TIMEOUT(popoverMapped(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Open Quillharbour")), 30000);
        if (paused)
            QVERIFY(exists(QStringLiteral("Resume now")));
        for (const QString& step : clicks) {
            if (step.startsWith(QLatin1String("key:"))) {
                xdotool({QStringLiteral("key"), step.mid(4)});
            } else if (step.startsWith(QLatin1String("type:"))) {
                QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("New priority")), 30000);
                xdotool({QStringLiteral("type"), step.mid(5)});
            } else {
                QTRY_VERIFY2_WITH_TIMEOUT(exists(step), qPrintable(probe({QStringLiteral("tree")}).join('\n')), 30000);
                QVERIFY(click(step));
            }
        }
        if (!appears.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(exists(appears), 30000);
        if (!goes.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(!exists(goes), 30000);
        QVERIFY(popoverMapped());
        QVERIFY(exists(QStringLiteral("Open Quillharbour")));
    }

    void firstRunSheetKeepsTheKeyboard()
    {
        Run r = prepare(QStringLiteral("first-run"), false);
        start(r, {});
        QTRY_COMPARE_WITH_TIMEOUT(activeRole(), QStringLiteral("dialog"), 30000);
        // …and keeps it: nothing takes it back while the start settles.
        for (int look = 0; look < 10; ++look)
            QCOMPARE(activeRole(), QStringLiteral("dialog"));

        xdotool(words(QStringLiteral("getactivewindow windowminimize")));
        QTRY_COMPARE_WITH_TIMEOUT(activeRole(), QStringLiteral("dialog"), 30000);

        // Another start of the program brings the sheet forward, not the window it blocks.
        xdotool(words(QStringLiteral("getactivewindow windowminimize")));
        QProcess again;
        again.setProcessEnvironment(r.env);
        again.start(QStringLiteral(QUILLHARBOUR_BINARY), QStringList());
        QVERIFY(again.waitForFinished(15000));
        QCOMPARE(again.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(activeRole(), QStringLiteral("dialog"), 30000);
    }

    void assistiveTechnologyReachesTheData()
    {
        Run r = prepare(QStringLiteral("atspi"), true);
        seed(r, {});
        start(r, {});
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Add a priority")), 30000);
        QCOMPARE(probe(QStringLiteral("find"), QStringLiteral("Pages")).value(0), QStringLiteral("page tab list"));
        QCOMPARE(probe(QStringLiteral("find"), QStringLiteral("Notes")).value(0), QStringLiteral("page tab"));
        QVERIFY(
            !probe({QStringLiteral("action"), QStringLiteral("Add a priority"), QStringLiteral("press")}).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Title")), 30000);
        const auto saveEnabled = [&] {
            return probe(QStringLiteral("find"), QStringLiteral("Add")).value(1).contains(QLatin1String("enabled"));
        };
        QVERIFY(!saveEnabled());
        QVERIFY(!probe(QStringLiteral("settext"), QStringLiteral("Title"), QStringLiteral("Pay rent")).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(saveEnabled(), 30000);
        QVERIFY(
            !probe({QStringLiteral("action"), QStringLiteral("High priority"), QStringLiteral("toggle")}).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(
            probe(QStringLiteral("find"), QStringLiteral("High priority")).value(1).contains(QLatin1String("checked")),
            30000);
        QVERIFY(act(QStringLiteral("Add"), "press"));
        const auto saved = [&]() -> QJsonObject {
            QFile file(r.data() + QStringLiteral("/todos.json"));
            if (!file.open(QIODevice::ReadOnly))
                return {};
            for (const QJsonValue& v : QJsonDocument::fromJson(file.readAll()).array())
                if (v.toObject().value(QStringLiteral("title")) == QStringLiteral("Pay rent"))
                    return v.toObject();
            return {};
        };
        QTRY_VERIFY_WITH_TIMEOUT(!saved().isEmpty(), 30000);
        QCOMPARE(saved().value(QStringLiteral("priority")).toString(), QStringLiteral("high"));
    }

    void keyboardWalkFollowsTheRows()
    {
        // Tab goes down Today as it is read: each row's check circle, then its title, the open
        // rows before the ones done.
        const QStringList open{QStringLiteral("First"), QStringLiteral("Second"), QStringLiteral("Third")};
        const QStringList done{QStringLiteral("Done one"), QStringLiteral("Done two")};
        Run r = prepare(QStringLiteral("walk"), true);
        seed(r, open, std::nullopt, done);
        startPastInstallOffer(r);
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Mark Done two not done")), 30000);
        QMap<int, QStringList> rows; // by their top on screen
        for (const QString& title : open + done) {
            const QString check = QStringLiteral("Mark %1 %2").arg(title, done.contains(title) ? "not done" : "done");
            if (const int top = topOf(check); top >= 0)
                rows.insert(top, {check, title});
        }
        QCOMPARE(rows.size(), 4); // one of the open ones is the focus card
        QString at = focusedName();
        for (int press = 0; press < 40 && at != QLatin1String("Add"); ++press)
            at = tabFrom(at);
        QCOMPARE(at, QStringLiteral("Add"));
        QStringList walked, expected;
        for (const QStringList& row : std::as_const(rows))
            expected += row;
        while (walked.size() < expected.size())
            walked.append(at = tabFrom(at));
        QCOMPARE(walked, expected);
    }

    void chipsStepperNamesAndTheDiscardQuestion()
    {
        Run r = prepare(QStringLiteral("chips"), true);
        seed(r, {});
        startPastInstallOffer(r);
        QVERIFY(act(QStringLiteral("Block"), "toggle"));
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Set up")), 30000);
        QVERIFY(act(QStringLiteral("Set up"), "press"));
        // Break after (five chips), then break length (five): one checked in each, the stored one.
        const auto checked = [&] {
            QStringList chosen;
            const QStringList radios = probe({QStringLiteral("radios")});
            for (int i = 0; i < radios.size(); ++i)
                if (radios[i].endsWith(QLatin1String("\tchecked")))
                    chosen.append(QStringLiteral("%1:%2").arg(i / 5).arg(radios[i].section(QLatin1Char('\t'), 0, 0)));
            return chosen;
        };
        QTRY_COMPARE_WITH_TIMEOUT(checked(), (QStringList{"0:20 min", "1:5 min"}), 30000);
        QVERIFY(act(QStringLiteral("10 min"), "toggle"));
        QTRY_COMPARE_WITH_TIMEOUT(checked(), (QStringList{"0:20 min", "1:10 min"}), 30000);
        // Escape asks; "Keep Editing" has the keyboard and keeps the change.
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_COMPARE_WITH_TIMEOUT(focusedName(), QStringLiteral("Keep Editing"), 30000);
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QTRY_VERIFY_WITH_TIMEOUT(!exists(QStringLiteral("Keep Editing")), 30000);
        QCOMPARE(checked(), (QStringList{"0:20 min", "1:10 min"}));
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Discard Changes")), 30000);
        QVERIFY(act(QStringLiteral("Discard Changes"), "press"));
        QTRY_VERIFY_WITH_TIMEOUT(!exists(QStringLiteral("Break length")), 30000);

        QVERIFY(act(QStringLiteral("Settings"), "toggle"));
        for (const char* name :
             {"Decrease hourly rate", "Increase hourly rate", "Decrease time lost a day", "Increase time lost a day"})
            QTRY_VERIFY_WITH_TIMEOUT(exists(QLatin1String(name)), 30000);
        QVERIFY(!exists(QStringLiteral("Increase")));
    }

    void notesFocusOneAtATime()
    {
        Run r = prepare(QStringLiteral("notes-focus"), true);
        seed(r, {});
        startPastInstallOffer(r);
        QVERIFY(act(QStringLiteral("Notes"), "toggle"));
        for (const QString& text : {QStringLiteral("groceries"), QStringLiteral("ideas")}) {
            QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("New note")), 30000);
            QVERIFY(act(QStringLiteral("New note"), "press"));
            QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Note")), 30000);
            QVERIFY(click(QStringLiteral("Note")));
            xdotool({QStringLiteral("type"), text});
            QTRY_COMPARE_WITH_TIMEOUT(probe(QStringLiteral("text"), QStringLiteral("Note")).value(0), text, 30000);
        }
        // Round the page twice: one focused object at every stop, the list's rows included.
        QString at = focusedName();
        bool listVisited = false;
        for (int press = 0; press < 24; ++press) {
            at = tabFrom(at);
            QVERIFY2(!at.startsWith(QLatin1Char('<')), qPrintable(at));
            listVisited =
                listVisited || probe({QStringLiteral("focused")}).join(u'\n').contains(QLatin1String("list item"));
        }
        QVERIFY(listVisited);
    }

    void hangUpSavesTheLastWords()
    {
        Run r = prepare(QStringLiteral("hangup"), true);
        seed(r, {QStringLiteral("First")});
        start(r, {});
        // Started from the build folder, it offers to install itself first; the keyboard waits on that.
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Not Now")), 30000);
        QVERIFY(act(QStringLiteral("Not Now"), "press"));
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Notes")), 30000);
        QVERIFY(act(QStringLiteral("Notes"), "toggle"));
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("New note")), 30000);
        QVERIFY(act(QStringLiteral("New note"), "press"));
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Note")), 30000);
        QVERIFY(click(QStringLiteral("Note")));
        xdotool({QStringLiteral("type"), QStringLiteral("buy more lamp oil")});
        QTRY_COMPARE_WITH_TIMEOUT(probe(QStringLiteral("text"), QStringLiteral("Note")).value(0),
                                  QStringLiteral("buy more lamp oil"), 30000);
        const QString state = r.data() + QStringLiteral("/state.json");
        QFile::remove(state);
        ::kill(pid_t(r.process->processId()), SIGHUP);
        QVERIFY(r.process->waitForFinished(30000));
        QCOMPARE(r.process->exitStatus(), QProcess::NormalExit);
        QFile notes(r.data() + QStringLiteral("/notes.json"));
        QVERIFY(notes.open(QIODevice::ReadOnly));
        QVERIFY(notes.readAll().contains("buy more lamp oil"));
        QVERIFY(QFile::exists(state));
    }
};

QTEST_GUILESS_MAIN(TestKeepsPlaceDesktop)
#include "tst_keeps_place_desktop.moc"
