#include "AccessibleDesktop.h"
#include "TestEnvironment.h"
#include "files/Defaults.h"
#include "model/BlockRule.h"
#include "model/Json.h"
#include "model/SharedState.h"
#include "model/TaskItem.h"
#include "store/StorageService.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sqlite3.h>

namespace {

// Runs one statement on a SQLite file as another tool would; the first column of its first row,
// or -1 when it fails.
qint64 sqliteValue(const QString& path, const char* statement)
{
    sqlite3* db = nullptr;
    qint64 value = -1;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt* query = nullptr;
        if (sqlite3_prepare_v2(db, statement, -1, &query, nullptr) == SQLITE_OK) {
            const int step = sqlite3_step(query);
            if (step == SQLITE_ROW)
                value = sqlite3_column_int64(query, 0);
            else if (step == SQLITE_DONE)
                value = sqlite3_changes(db);
        }
        sqlite3_finalize(query);
    }
    sqlite3_close(db);
    return value;
}

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

const auto words = AccessibleDesktop::words;

} // namespace

// The program on a real X desktop with a tray host and assistive technology: every action keeps
// the person's place (the popover stays open, the first-run sheet keeps the keyboard), text and
// toggles made through AT-SPI reach the data, and SIGHUP ends the run as SIGTERM does.
class TestKeepsPlaceDesktop : public QObject {
    Q_OBJECT

    AccessibleDesktop m_session;
    QTemporaryDir m_folder;
    QProcessEnvironment m_env;

    QString xdotool(const QStringList& arguments) { return m_session.xdotool(arguments); }
    QStringList probe(const QStringList& arguments) { return m_session.probe(arguments); }
    QStringList probe(const QString& command, const QString& name, const QString& argument = {})
    {
        return m_session.probe(command, name, argument);
    }
    bool exists(const QString& name) { return m_session.exists(name); }
    bool act(const QString& name, const char* action) { return m_session.act(name, action); }
    bool click(const QString& name) { return m_session.click(name); }
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
    QString focusedName() { return m_session.focusedName(); }
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
    QString activeRole() { return m_session.activeRole(); }

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
            QVERIFY(store.blocking().addRule(rule));
            const Date startOfDay = Calendar::current().startOfDay(clock.now());
            const QStringList all = todos + done;
            for (int i = 0; i < all.size(); ++i) {
                TaskItem t;
                t.id = QUuid::createUuid();
                t.title = all[i];
                t.time = TaskItem::anytime;
                t.createdAt = t.updatedAt = startOfDay + 60 * (i + 1);
                t.isCompleted = i >= todos.size();
                store.todos().addTodo(t);
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
        const QString failed = m_session.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        m_env = m_session.environment();
    }
    void cleanupTestCase() { m_session.stop(); }

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

        // Minimised, the sheet comes back over its window, or the window manager takes the window
        // down with the sheet that belongs to it (openbox does): never a window left on screen that
        // takes no input without its sheet.
        xdotool(words(QStringLiteral("getactivewindow windowminimize")));
        QTRY_VERIFY_WITH_TIMEOUT(activeRole() == QLatin1String("dialog") ||
                                     xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                              QStringLiteral("--name"), QStringLiteral("\u2014 Quillharbour$")})
                                         .isEmpty(),
                                 30000);

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

    // Discarding a draft closes the question and the editor at once; the window gets the keyboard
    // back every time, so the next Ctrl+N works without a click. Return presses the focused
    // "Discard Changes", not the question's default.
    void windowKeepsTheKeyboardAfterASheet()
    {
        Run r = prepare(QStringLiteral("sheet-keyboard"), true);
        seed(r, {QStringLiteral("First")});
        startPastInstallOffer(r);
        // The main window is active: one of the program's windows, not a sheet or question.
        const auto windowActive = [&] {
            const QString role = activeRole();
            return !role.isEmpty() && role != QLatin1String("dialog");
        };
        QTRY_VERIFY_WITH_TIMEOUT(windowActive(), 30000);
        for (int round = 0; round < 20; ++round) {
            const QByteArray where = "round " + QByteArray::number(round);
            xdotool({QStringLiteral("key"), QStringLiteral("ctrl+n")});
            QTRY_COMPARE_WITH_TIMEOUT(focusedName(), QStringLiteral("Title"), 30000);
            xdotool({QStringLiteral("type"), QStringLiteral("Tea")});
            QTRY_COMPARE_WITH_TIMEOUT(probe(QStringLiteral("text"), QStringLiteral("Title")).value(0),
                                      QStringLiteral("Tea"), 30000);
            xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
            QTRY_COMPARE_WITH_TIMEOUT(focusedName(), QStringLiteral("Keep Editing"), 30000);
            xdotool({QStringLiteral("key"), QStringLiteral("shift+Tab")});
            QTRY_COMPARE_WITH_TIMEOUT(focusedName(), QStringLiteral("Discard Changes"), 30000);
            xdotool({QStringLiteral("key"), QStringLiteral("Return")});
            QTRY_VERIFY2_WITH_TIMEOUT(!exists(QStringLiteral("Title")), where.constData(), 30000);
            QTRY_VERIFY2_WITH_TIMEOUT(windowActive(), where.constData(), 30000);
        }
        QVERIFY(!exists(QStringLiteral("Tea")));

        // A saved to-do leaves the sheet blank for the next one: the title typed then is all it holds.
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+n")});
        QTRY_COMPARE_WITH_TIMEOUT(focusedName(), QStringLiteral("Title"), 30000);
        xdotool({QStringLiteral("type"), QStringLiteral("Call the plumber")});
        QTRY_COMPARE_WITH_TIMEOUT(probe(QStringLiteral("text"), QStringLiteral("Title")).value(0),
                                  QStringLiteral("Call the plumber"), 30000);
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+Return")});
        QTRY_VERIFY_WITH_TIMEOUT(!exists(QStringLiteral("Title")) && windowActive(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Call the plumber")), 30000);
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+n")});
        QTRY_COMPARE_WITH_TIMEOUT(focusedName(), QStringLiteral("Title"), 30000);
        xdotool({QStringLiteral("type"), QStringLiteral("Tea")});
        QTRY_COMPARE_WITH_TIMEOUT(probe(QStringLiteral("text"), QStringLiteral("Title")).value(0),
                                  QStringLiteral("Tea"), 30000);
    }

    // A screen reader reads the program while it changes: every field after every step, and
    // children by counts read before the page changed. Notes, a new note, its title typed, Today,
    // Ctrl+N, the title field looked up; then a random mix of to-do and note edits. The program
    // must be there at the end, and quit cleanly.
    void screenReaderReadsWhileEditing()
    {
        Run r = prepare(QStringLiteral("screen-reader"), true);
        seed(r, {QStringLiteral("First"), QStringLiteral("Second"), QStringLiteral("Third")});
        start(r, {});
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Not Now")), 30000);
        QVERIFY(act(QStringLiteral("Not Now"), "press"));
        QTRY_VERIFY_WITH_TIMEOUT(exists(QStringLiteral("Notes")), 30000);
        const quint32 seed = QRandomGenerator::global()->generate();
        QProcess edits;
        edits.setProcessEnvironment(m_env);
        edits.setProcessChannelMode(QProcess::MergedChannels);
        edits.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(QH_ATSPI_EDITS), QString::number(seed), QStringLiteral("30")});
        QVERIFY(edits.waitForStarted(5000));
        const bool ended = edits.waitForFinished(600000);
        if (!ended)
            stop(edits);
        const QByteArray said = edits.readAll();
        const QByteArray why = "seed " + QByteArray::number(seed) + ":\n" + said.right(2000);
        // Still running: it has not ended (nor crashed) by the time it is asked to quit.
        QVERIFY2(!r.process->waitForFinished(1000),
                 (why + "\nthe program ended, status " + QByteArray::number(r.process->exitStatus()) + " code " +
                  QByteArray::number(r.process->exitCode()))
                     .constData());
        QVERIFY2(ended && edits.exitCode() == 0, why.constData());
        stop(*r.process);
        QCOMPARE(r.process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(r.process->exitCode(), 0);
    }

    // A to-do that a newer copy rewrote in a form this one cannot read: Settings says so in words
    // (not "Synced" alone), and the to-do here keeps what it had.
    void syncSaysWhatItCannotRead()
    {
        Run r = prepare(QStringLiteral("unreadable"), true);
        seed(r, {QStringLiteral("Pay rent")});
        const QString records = r.root + QStringLiteral("/records.sqlite");
        r.env.insert(QStringLiteral("QUILLHARBOUR_RECORD_STORE"), records);
        startPastInstallOffer(r);
        QTRY_COMPARE_WITH_TIMEOUT(sqliteValue(records, "SELECT count(*) FROM records WHERE type = 'QHTask'"), 1, 60000);
        stop(*r.process);

        QCOMPARE(sqliteValue(records, "UPDATE records SET fields = json_set(fields, '$.title', json('[\"w\", 1]')) "
                                      "WHERE type = 'QHTask'"),
                 1);
        startPastInstallOffer(r);
        QProcess link;
        link.setProcessEnvironment(r.env);
        link.start(QStringLiteral(QUILLHARBOUR_BINARY), {QStringLiteral("quillharbour://settings")});
        QVERIFY(link.waitForFinished(30000));
        QTRY_VERIFY_WITH_TIMEOUT(
            exists(QStringLiteral("A to-do or note in the sync database couldn't be read by this version, so it was "
                                  "left as it is and changes to it here aren't sent. A newer version of Quillharbour "
                                  "may read it.")),
            60000);
        QFile todos(r.data() + QStringLiteral("/todos.json"));
        QVERIFY(todos.open(QIODevice::ReadOnly));
        const QJsonArray kept = QJsonDocument::fromJson(todos.readAll()).array();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.at(0).toObject().value(QStringLiteral("title")).toString(), QStringLiteral("Pay rent"));
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
