#include "StoreFixture.h"
#include "StoreTestSupport.h"
#include "TmpfsMount.h"
#include "model/Iso8601.h"
#include "model/LenientJson.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace StoreTest;

namespace {

QString unreadableMessage(const QString& parts)
{
    return QStringLiteral("Some saved %1 couldn't be read. A backup copy was kept next to your data.").arg(parts);
}

QString backupName(const QString& base, qint64 seconds, int suffix = 0)
{
    return suffix == 0 ? QStringLiteral("%1.unreadable-%2.json").arg(base).arg(seconds)
                       : QStringLiteral("%1.unreadable-%2-%3.json").arg(base).arg(seconds).arg(suffix);
}

QStringList backupsIn(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.unreadable-*")}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Three valid to-dos, the middle one without its required title.
QByteArray todosWithOneMalformed(QList<QUuid>* readable)
{
    const Date t = TestEnvironment::at(2026, 12, 6, 9);
    std::vector<TaskItem> list{todo(QStringLiteral("first"), t), todo(QStringLiteral("broken"), t),
                               todo(QStringLiteral("third"), t)};
    QJsonArray array = encodeList(list, encodeTaskItem);
    QJsonObject broken = array.at(1).toObject();
    broken.remove(QStringLiteral("title"));
    array.replace(1, broken);
    if (readable)
        *readable = {list[0].id, list[2].id};
    return QJsonDocument(array).toJson();
}

// The keys of every object, in the order the text lists them.
QList<QStringList> keyOrders(const QByteArray& text)
{
    QList<QStringList> done;
    QList<QStringList> open;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '{') {
            open.append(QStringList());
        } else if (c == '}') {
            done.append(open.takeLast());
        } else if (c == '"') {
            QByteArray s;
            for (++i; i < text.size() && text.at(i) != '"'; ++i) {
                if (text.at(i) == '\\')
                    ++i;
                s.append(text.at(i));
            }
            qsizetype j = i + 1;
            while (j < text.size() && (text.at(j) == ' ' || text.at(j) == '\n'))
                ++j;
            if (j < text.size() && text.at(j) == ':' && !open.isEmpty())
                open.last().append(QString::fromUtf8(s));
        }
    }
    return done;
}

// Takes every name a backup copy of "<base>.json" could get at the fixture's current second.
void occupyBackupNames(StoreFixture& f, const QString& base)
{
    const qint64 seconds = qint64(std::floor(f.clock.now()));
    for (int i = 0; i < 200; ++i)
        QVERIFY(writeBytes(f.file(backupName(base, seconds, i)), "taken"));
}

StorageEnvironment environmentOf(StoreFixture& f)
{
    StorageEnvironment env;
    env.clock = &f.clock;
    env.calendar = [&f] { return f.calendar; };
    env.defaults = &f.defaults;
    env.notifications = &f.notifications;
    return env;
}

} // namespace

class TestStoreCore : public QObject {
    Q_OBJECT
private slots:
    void firstStartOnEmptyFolder()
    {
        StoreFixture f;
        StorageService& store = f.make();
        QVERIFY(store.core().fatalError().isEmpty());
        QVERIFY(!store.core().lastError());
        QVERIFY(store.todos().todos().empty());
        QVERIFY(store.notes().notes().empty());
        QVERIFY(store.blocking().rules().empty());
        QCOMPARE(store.blocking().doomScrollConfig().isEnabled, false);
        QVERIFY(store.blocking().doomScrollConfig().domains.empty());
        QCOMPARE(store.blocking().doomScrollConfig().usageWindowMinutes, 20);
        QCOMPARE(store.blocking().doomScrollConfig().breakMinutes, 5);
        QCOMPARE(store.blocking().state().dayId, 20261207);
        QVERIFY(store.blocking().state().usageSecondsByRuleId.isEmpty());
        QVERIFY(!store.blocking().state().urgentBreak);
        QVERIFY(!store.blocking().state().blockingPausedUntil);
        QVERIFY(store.blocking().state().blockedNow.empty());

        const auto written =
            decodeSharedState(QJsonDocument::fromJson(readBytes(f.file(QStringLiteral("state.json")))).object());
        QVERIFY(written);
        QCOMPARE(written->dayId, 20261207);
        QVERIFY(backupsIn(f.dataPath()).isEmpty());
    }

    void damagedFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message"); // empty: none expected
        QTest::addColumn<int>("kept");        // records of a list file kept; -1 for the other files

        QTest::newRow("a malformed to-do among three") << QStringLiteral("todos.json") << todosWithOneMalformed(nullptr)
                                                       << unreadableMessage(QStringLiteral("to-dos")) << 2;
        QTest::newRow("to-dos that are not JSON") << QStringLiteral("todos.json") << QByteArray("this is not JSON")
                                                  << unreadableMessage(QStringLiteral("to-dos")) << 0;
        QTest::newRow("notes that are an object")
            << QStringLiteral("notes.json") << QByteArray(R"({"id":"not a list"})")
            << unreadableMessage(QStringLiteral("notes")) << 0;
        QTest::newRow("a rule without its fields") << QStringLiteral("rules.json") << QByteArray(R"([{"name":"x"}])")
                                                   << unreadableMessage(QStringLiteral("block rules")) << 0;
        // The parser refuses the whole text; each record is read on its own instead.
        QByteArray beyondDouble = todosWithOneMalformed(nullptr);
        beyondDouble.insert(beyondDouble.indexOf("\"isCompleted\""), "\"beyond\": 1e400, ");
        QTest::newRow("a number no double holds in the first to-do")
            << QStringLiteral("todos.json") << beyondDouble << unreadableMessage(QStringLiteral("to-dos")) << 1;
        const Date t = TestEnvironment::at(2026, 12, 6, 9);
        QTest::newRow("notes cut short in the second")
            << QStringLiteral("notes.json")
            << notesJson({note(QStringLiteral("one"), t), note(QStringLiteral("two"), t)}).chopped(40)
            << unreadableMessage(QStringLiteral("notes")) << 1;
        // Marks a tool left before the text, or a title of hundreds of megabytes, cost no record
        // but the oversized one; the file is kept aside whole.
        BlockRule feed;
        feed.domain = feed.displayName = QStringLiteral("feed.example");
        const QByteArray rules = QJsonDocument(QJsonArray{encodeBlockRule(feed), encodeBlockRule(feed)}).toJson();
        QTest::newRow("rules after two byte-order marks")
            << QStringLiteral("rules.json") << "\xEF\xBB\xBF\xEF\xBB\xBF" + rules
            << unreadableMessage(QStringLiteral("block rules")) << 2;
        const QString huge(LenientJson::maximumRecordBytes, u'x');
        QTest::newRow("a title over the record limit before a plain to-do")
            << QStringLiteral("todos.json") << todosJson({todo(huge, t), todo(QStringLiteral("plain"), t)})
            << unreadableMessage(QStringLiteral("to-dos")) << 1;
        QTest::newRow("doom-scroll settings lacking breakMinutes")
            << QStringLiteral("doomscroll.json")
            << QByteArray(R"({"isEnabled":true,"domains":[],"usageWindowMinutes":30})")
            << unreadableMessage(QStringLiteral("Doom Scroll settings")) << -1;
        QTest::newRow("state holding an empty object")
            << QStringLiteral("state.json") << QByteArray("{}") << QString() << -1;
    }

    void damagedFile()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QFETCH(int, kept);

        StoreFixture f;
        // 0.9 s past a whole second: the backup is still named after that second.
        const Date start = TestEnvironment::at(2026, 12, 7, 10, 0, 0) + 0.9;
        f.clock.set(start);
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(f.file(name), content));

        StorageService& store = f.make();
        QSignalSpy reports(&store.core(), &StoreCore::problemReported);

        const QString backup = f.file(backupName(QFileInfo(name).completeBaseName(), qint64(std::floor(start))));
        QCOMPARE(backupsIn(f.dataPath()), QStringList{QFileInfo(backup).fileName()});
        QCOMPARE(readBytes(backup), content);
        // Reported with both names, also for "state.json", once someone listens.
        QVERIFY(reports.wait(1000) && reports.size() == 1);
        QCOMPARE(reports.at(0).at(0).toString(), f.file(name));
        QVERIFY(reports.at(0).at(1).toString().contains(backup));
        if (message.isEmpty())
            QVERIFY(!store.core().lastError());
        else
            QCOMPARE(store.core().lastError(), std::optional<QString>(message));

        const std::map<QString, size_t> counts{{QStringLiteral("todos.json"), store.todos().todos().size()},
                                               {QStringLiteral("notes.json"), store.notes().notes().size()},
                                               {QStringLiteral("rules.json"), store.blocking().rules().size()}};
        if (kept >= 0)
            QCOMPARE(counts.at(name), size_t(kept));
        if (name == QLatin1String("doomscroll.json"))
            QCOMPARE(store.blocking().doomScrollConfig(), DoomScrollConfig::defaults());
        if (name == QLatin1String("state.json")) {
            QCOMPARE(store.blocking().state().dayId, 20261207);
            const auto written =
                decodeSharedState(QJsonDocument::fromJson(readBytes(f.file(QStringLiteral("state.json")))).object());
            QVERIFY(written);
            QCOMPARE(written->dayId, 20261207);
        } else {
            // The unreadable file stays as it was until the next save of that part.
            QCOMPARE(readBytes(f.file(name)), content);
        }
    }

    void malformedToDoKeepsTheReadableOnes()
    {
        StoreFixture f;
        QDir().mkpath(f.dataPath());
        QList<QUuid> readable;
        QVERIFY(writeBytes(f.file(QStringLiteral("todos.json")), todosWithOneMalformed(&readable)));

        StorageService& store = f.make();
        QCOMPARE(ids(store.todos().todos()), readable);

        store.todos().toggleTodo(readable.first());
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), readable);
        // The first successful save after loading takes the start-up notice with it.
        QVERIFY(!store.core().lastError());
    }

    void unreadablePartsAreNamedInReadingOrder_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("parts");
        QTest::newRow("to-dos and rules") << QStringList{QStringLiteral("rules.json"), QStringLiteral("todos.json")}
                                          << QStringLiteral("to-dos, block rules");
        QTest::newRow("all four") << QStringList{QStringLiteral("doomscroll.json"), QStringLiteral("rules.json"),
                                                 QStringLiteral("notes.json"), QStringLiteral("todos.json")}
                                  << QStringLiteral("to-dos, notes, block rules, Doom Scroll settings");
    }

    void unreadablePartsAreNamedInReadingOrder()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, parts);
        StoreFixture f;
        QDir().mkpath(f.dataPath());
        for (const QString& name : files)
            QVERIFY(writeBytes(f.file(name), "garbage"));
        StorageService& store = f.make();
        QCOMPARE(store.core().lastError(), std::optional<QString>(unreadableMessage(parts)));
        QCOMPARE(backupsIn(f.dataPath()).size(), files.size());
    }

    void existingBackupNameGetsTheNextFreeSuffix_data()
    {
        QTest::addColumn<int>("taken");
        QTest::newRow("plain name taken") << 1;
        QTest::newRow("plain and -1 taken") << 2;
    }

    void existingBackupNameGetsTheNextFreeSuffix()
    {
        QFETCH(int, taken);
        StoreFixture f;
        const qint64 seconds = qint64(f.clock.now());
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(f.file(QStringLiteral("todos.json")), "second damage"));
        for (int i = 0; i < taken; ++i)
            QVERIFY(writeBytes(f.file(backupName(QStringLiteral("todos"), seconds, i)), "earlier backup"));

        StorageService& store = f.make();
        for (int i = 0; i < taken; ++i)
            QCOMPARE(readBytes(f.file(backupName(QStringLiteral("todos"), seconds, i))), QByteArray("earlier backup"));
        QCOMPARE(readBytes(f.file(backupName(QStringLiteral("todos"), seconds, taken))), QByteArray("second damage"));
        QCOMPARE(store.core().lastError(), std::optional<QString>(unreadableMessage(QStringLiteral("to-dos"))));

        // With a copy kept, the damaged file may be replaced.
        store.todos().addTodo(todo(QStringLiteral("new"), f.clock.now()));
        QCOMPARE(todosInFile(f.file(QStringLiteral("todos.json"))).size(), size_t(1));
    }

    void unreadableFileWithoutBackupIsNeverOverwritten_data()
    {
        QTest::addColumn<bool>("refusingDisk");
        QTest::newRow("every backup name taken") << false;
        QTest::newRow("a disk that refuses every write at start-up") << true;
    }

    void unreadableFileWithoutBackupIsNeverOverwritten()
    {
        QFETCH(bool, refusingDisk);
        StoreFixture f;
        const QByteArray damaged = todosWithOneMalformed(nullptr);
        const QString todosPath = f.file(QStringLiteral("todos.json"));
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(todosPath, damaged));

        if (refusingDisk)
            f.failing = QStringList{QStringLiteral("*")};
        else
            occupyBackupNames(f, QStringLiteral("todos"));

        StorageService& store = f.make();
        f.failing.clear();
        QCOMPARE(store.todos().todos().size(), size_t(2));
        QVERIFY(store.core().lastError());
        QVERIFY(store.core().lastError()->contains(QLatin1String("to-dos")));

        FakeCloudSync& sync = f.attachSync();
        // No change can be kept while the file may not be replaced: each is refused and undone.
        QVERIFY(!store.todos().addTodo(todo(QStringLiteral("refused"), f.clock.now())));
        QVERIFY(!store.todos().toggleTodo(store.todos().todos().back().id));
        QVERIFY(!store.todos().deleteTodo(store.todos().todos().back()));
        QCOMPARE(store.todos().todos().size(), size_t(2));
        QVERIFY(!store.todos().todos().back().isCompleted);
        QVERIFY(!store.todos().saveTodos(true));
        QVERIFY(store.core().lastError());
        QVERIFY(store.core().lastError()->contains(QLatin1String("todos.json")));
        QCOMPARE(sync.pushes, 0);

        const FileWrite refused = store.todos().replaceTodosFromSync({});
        QVERIFY(!refused);
        QVERIFY(!refused.error.isEmpty());
        QCOMPARE(readBytes(todosPath), damaged);

        // Other files are written as usual.
        QVERIFY(store.notes().saveNotes(false));
        QVERIFY(QFile::exists(f.file(QStringLiteral("notes.json"))));

        // A later start-up that can keep a copy may replace the file again.
        if (!refusingDisk)
            f.clock.advance(1);
        StorageService& restarted = f.make();
        QCOMPARE(restarted.todos().todos().size(), size_t(2));
        QVERIFY(restarted.todos().saveTodos(false));
        QCOMPARE(todosInFile(todosPath).size(), size_t(2));
    }

    void failedWriteUndoesChangeAndShowsWhy_data()
    {
        QTest::addColumn<bool>("refusingDisk");
        QTest::newRow("a disk that refuses the write") << true;
        QTest::newRow("a folder in place of the file") << false;
    }

    void failedWriteUndoesChangeAndShowsWhy()
    {
        QFETCH(bool, refusingDisk);
        StoreFixture f;
        StorageService& store = f.make();
        FakeCloudSync& sync = f.attachSync();
        const QString notesPath = f.file(QStringLiteral("notes.json"));
        QVERIFY(writeBytes(notesPath, "[]\n"));

        if (refusingDisk)
            f.failing = QStringList{QStringLiteral("notes.json")};
        else
            QVERIFY(blockFile(notesPath));

        QSignalSpy reports(&store.core(), &StoreCore::problemReported);
        const Note n = note(QStringLiteral("draft"), f.clock.now());
        QVERIFY(!store.notes().upsertNote(n));
        QVERIFY(store.notes().notes().empty());
        QVERIFY(!store.notes().saveNotes(true));
        QVERIFY(reports.wait(1000) && reports.size() == 1); // a repeated failure is not news
        QCOMPARE(reports.at(0).at(0).toString(), notesPath);
        QVERIFY(store.core().lastError());
        QVERIFY(!store.core().lastError()->isEmpty());
        QCOMPARE(sync.pushes, 0);
        if (refusingDisk)
            QCOMPARE(readBytes(notesPath), QByteArray("[]\n")); // the old file is untouched

        if (refusingDisk)
            f.failing.clear();
        else
            QVERIFY(unblockFile(notesPath));
        QVERIFY(store.notes().upsertNote(n));
        QVERIFY(!store.core().lastError());
        QCOMPARE(sync.pushes, 1);
        QCOMPARE(ids(notesInFile(notesPath)), QList<QUuid>{n.id});
    }

    // On a really full disk every change fails and says why, every file keeps its bytes, nothing
    // goes to the sync, and the same changes are saved once there is space again.
    void fullDiskKeepsEveryFile()
    {
        QTemporaryDir root;
        TmpfsMount disk(root.filePath(QStringLiteral("disk")));
        if (!disk.error.isEmpty())
            QSKIP(qPrintable(QStringLiteral("a full disk needs a tmpfs, which could not be mounted: ") + disk.error));
        StoreFixture f;
        f.dataFolder = disk.path + QStringLiteral("/data");
        StorageService& store = f.make();
        Defaults preferences(disk.path + QStringLiteral("/defaults.json"));
        const TaskItem first = todo(QStringLiteral("first"), f.clock.now());
        Note kept = note(QStringLiteral("kept"), f.clock.now());
        BlockRule rule;
        rule.id = QUuid::createUuid();
        rule.domain = rule.displayName = QStringLiteral("feed.example");
        rule.blockApplySchedule.isAllDay = true;
        QVERIFY(store.todos().addTodo(first) && store.notes().upsertNote(kept) && store.blocking().addRule(rule));
        QVERIFY(store.blocking().updateDoomScrollConfig(
            {true, {{QUuid::createUuid(), QStringLiteral("feed.example")}}, 20, 5}));
        QVERIFY(preferences.set(QStringLiteral("onboarding.completed.v1"), true));
        store.core().waitForWrites();
        QHash<QString, QByteArray> before;
        for (const QString& name : QDir(disk.path).entryList(QDir::Files) + QDir(f.dataPath()).entryList(QDir::Files))
            before.insert(name, readBytes(QFileInfo::exists(f.file(name)) ? f.file(name) : preferences.path()));
        QCOMPARE(before.size(), 6);
        FakeCloudSync& sync = f.attachSync();
        QVERIFY(disk.fill());

        kept.body = QStringLiteral("edited");
        rule.blockApplySchedule.isAllDay = false;
        const auto changes = [&] {
            return QList<bool>{store.todos().addTodo(todo(QStringLiteral("second"), f.clock.now())),
                               store.todos().toggleTodo(first.id),
                               store.notes().upsertNote(kept),
                               store.blocking().updateRule(rule),
                               store.blocking().updateDoomScrollConfig({false, {}, 20, 5}),
                               preferences.set(QStringLiteral("opportunityCost.hourlyRate"), 40)};
        };
        // The to-dos are written on the writing thread: their refusal comes later, and takes them back.
        QCOMPARE(changes(), (QList<bool>{true, true, false, false, false, false}));
        store.core().waitForWrites();
        QCOMPARE(store.todos().todos().size(), size_t(1));
        QVERIFY(!store.todos().todos().front().isCompleted);
        store.blocking().recordDoomScrollUsage(60);
        QVERIFY(!store.blocking().saveState());
        QVERIFY(store.core().lastError()->contains(QLatin1String("No space left on device")));
        QVERIFY(preferences.lastError().contains(QLatin1String("No space left on device")));
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(readBytes(it.key() == QLatin1String("defaults.json") ? preferences.path() : f.file(it.key())) ==
                         it.value(),
                     qPrintable(it.key()));
        QCOMPARE(QDir(f.dataPath()).entryList(QDir::Files | QDir::Hidden).size(), 5); // no temporaries
        QCOMPARE(sync.pushes, 0);
        QCOMPARE(store.blocking().state().blockedNow.size(), size_t(1)); // the rule was not loosened

        disk.release();
        QCOMPARE(changes(), QList<bool>(6, true));
        store.core().waitForWrites();
        QVERIFY(store.blocking().saveState() && !store.core().lastError() && sync.pushes > 0);
        QCOMPARE(todosInFile(f.file(TodoStore::fileName)).size(), size_t(2));
        QCOMPARE(notesInFile(f.file(NoteStore::fileName)).front().body, QStringLiteral("edited"));
        QVERIFY(Defaults(preferences.path()).contains(QStringLiteral("opportunityCost.hourlyRate")));
    }

    void lastErrorShowsTheLatestOutstandingFailure()
    {
        // Two failures with different texts: "notes.json" is unreadable and cannot be backed up,
        // so every save of it is refused; "todos.json" fails because a folder stands in its place.
        StoreFixture f;
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(f.file(QStringLiteral("notes.json")), "garbage"));
        occupyBackupNames(f, QStringLiteral("notes"));
        StorageService& store = f.make();
        const QString todosPath = f.file(QStringLiteral("todos.json"));

        QVERIFY(!store.notes().saveNotes(false));
        const std::optional<QString> notesFailure = store.core().lastError();
        QVERIFY(notesFailure && notesFailure->contains(QLatin1String("notes.json")));

        QVERIFY(blockFile(todosPath));
        store.todos().addTodo(todo(QStringLiteral("a"), f.clock.now()));
        store.core().waitForWrites();
        const std::optional<QString> todoFailure = store.core().lastError();
        QVERIFY(todoFailure && *todoFailure != *notesFailure);

        // The notes fail again: theirs is now the latest failure.
        QVERIFY(!store.notes().saveNotes(false));
        QCOMPARE(store.core().lastError(), notesFailure);

        // A success clears only its own file's failure (and the start-up notice).
        QVERIFY(unblockFile(todosPath));
        QVERIFY(store.todos().saveTodos(false));
        QCOMPARE(store.core().lastError(), notesFailure);

        QVERIFY(blockFile(todosPath));
        QVERIFY(!store.todos().saveTodos(false));
        QCOMPARE(store.core().lastError(), todoFailure);
        QVERIFY(unblockFile(todosPath));
        QVERIFY(store.todos().saveTodos(false));
        QCOMPARE(store.core().lastError(), notesFailure);

        // Dismissed by the person, it comes back with the next failure.
        store.core().setLastError(std::nullopt);
        QVERIFY(!store.core().lastError());
        QVERIFY(store.todos().saveTodos(false));
        QVERIFY(!store.core().lastError());
        QVERIFY(!store.notes().saveNotes(false));
        QCOMPARE(store.core().lastError(), notesFailure);
    }

    void startUpNoticeGoesWithTheFirstSaveAfterLoading()
    {
        StoreFixture f;
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(f.file(QStringLiteral("notes.json")), "garbage"));
        StorageService& store = f.make();
        // Loading wrote "state.json" successfully; the notice survived it.
        QVERIFY(QFile::exists(f.file(QStringLiteral("state.json"))));
        QCOMPARE(store.core().lastError(), std::optional<QString>(unreadableMessage(QStringLiteral("notes"))));

        QVERIFY(blockFile(f.file(QStringLiteral("todos.json"))));
        QVERIFY(!store.todos().saveTodos(false));
        const std::optional<QString> todoFailure = store.core().lastError();
        QVERIFY(todoFailure && *todoFailure != unreadableMessage(QStringLiteral("notes")));

        QVERIFY(store.notes().saveNotes(false));
        QCOMPARE(store.core().lastError(), todoFailure);
    }

    // The folder is kept as a file URL: characters a URL gives meaning to must still name the
    // folder the person chose, not a neighbour or a decoded one.
    void dataFolderNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("a space and a hash") << QStringLiteral("My data #1");
        QTest::newRow("a percent sign that looks escaped") << QStringLiteral("100%20done");
        QTest::newRow("a question mark") << QStringLiteral("why?");
        QTest::newRow("letters beyond ASCII") << QStringLiteral("Données ü");
    }

    void dataFolderNames()
    {
        QFETCH(QString, name);
        StoreFixture f;
        f.dataFolder = f.folder.filePath(name);
        f.make().todos().addTodo(todo(QStringLiteral("kept where chosen"), f.clock.now()));
        QCOMPARE(f.store->core().fileStore().folderPath(), f.dataFolder);
        f.store.reset();
        QVERIFY(QFile::exists(f.dataFolder + QStringLiteral("/todos.json")));
        QCOMPARE(QDir(f.folder.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{name});
        QCOMPARE(f.make().todos().todos().size(), size_t(1));
    }

    void dataFolderFallback()
    {
        StoreFixture f;
        QTemporaryDir scratch;
        QVERIFY(writeBytes(scratch.filePath(QStringLiteral("a-file")), "x"));
        const QString unreachable = scratch.filePath(QStringLiteral("a-file/data"));
        QDir().mkpath(scratch.filePath(QStringLiteral("tmp")));
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("QUILLHARBOUR_DATA_DIR", unreachable.toLocal8Bit());
        qputenv("TMPDIR", scratch.filePath(QStringLiteral("tmp")).toLocal8Bit());
        const auto restore = qScopeGuard([&] {
            qunsetenv("QUILLHARBOUR_DATA_DIR");
            if (oldTmp.isNull())
                qunsetenv("TMPDIR");
            else
                qputenv("TMPDIR", oldTmp);
        });

        {
            StorageService store(std::nullopt, environmentOf(f));
            QVERIFY(store.core().fatalError().isEmpty());
            QVERIFY(store.core().fileStore().folderPath().startsWith(scratch.filePath(QStringLiteral("tmp")) +
                                                                     QLatin1Char('/')));
            QVERIFY(QFile::exists(store.core().fileStore().filePath(QStringLiteral("state.json"))));
            // The message names the folder that could not be made and outlives loading.
            QVERIFY(store.core().lastError());
            QVERIFY(store.core().lastError()->contains(unreachable));

            store.todos().addTodo(todo(QStringLiteral("kept in the fallback"), f.clock.now()));
            store.core().waitForWrites();
            QVERIFY(!store.core().lastError());
            QCOMPARE(todosInFile(store.core().fileStore().filePath(QStringLiteral("todos.json"))).size(), size_t(1));
        }

        // Nowhere at all to keep data.
        qputenv("TMPDIR", scratch.filePath(QStringLiteral("a-file/tmp")).toLocal8Bit());
        StorageService stranded(std::nullopt, environmentOf(f));
        QVERIFY(!stranded.core().fatalError().isEmpty());
        QVERIFY(!QFile::exists(QDir::current().filePath(QStringLiteral("Quillharbour-%1").arg(getuid()))));
    }

    // What an older version left readable by others is the user's alone from the next start;
    // what the owner had is kept.
    void olderFilesAreMadePrivate_data()
    {
        QTest::addColumn<QString>("name"); // "" is the folder itself
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("folder open to all") << "" << 0755 << 0700;
        QTest::newRow("rules readable by all") << "rules.json" << 0644 << 0600;
        QTest::newRow("to-dos readable by the group") << "todos.json" << 0640 << 0600;
        QTest::newRow("state writable by others") << "state.json" << 0666 << 0600;
        QTest::newRow("a backup readable by all") << "rules.unreadable-1700000000.json" << 0644 << 0600;
        QTest::newRow("private already") << "notes.json" << 0600 << 0600;
        QTest::newRow("read-only for its owner") << "notes.json" << 0400 << 0400;
        QTest::newRow("someone else's file beside them") << "photo.jpg" << 0644 << 0644;
    }
    void olderFilesAreMadePrivate()
    {
        QFETCH(QString, name);
        QFETCH(int, before);
        QFETCH(int, after);
        StoreFixture f;
        QDir().mkpath(f.dataPath());
        const QString path = name.isEmpty() ? f.dataPath() : f.file(name);
        if (!name.isEmpty())
            QVERIFY(writeBytes(path, name.endsWith(QLatin1String(".jpg")) ? "jpeg" : "[]"));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(before)) == 0);
        f.make();
        struct stat info {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0);
        QCOMPARE(int(info.st_mode & 0777), after);
        ::chmod(QFile::encodeName(path).constData(), 0600);
    }

    // A data folder that cannot be looked into is not an empty one: the store says so.
    void unreadableFolderIsSaid()
    {
        StoreFixture f;
        QTemporaryDir scratch;
        const QString loop = scratch.filePath(QStringLiteral("loop"));
        QVERIFY(QFile::link(loop, loop)); // even root cannot look into it
        f.dataFolder = loop;
        StorageService& store = f.make();
        QVERIFY(store.todos().todos().empty());
        QVERIFY(store.core().lastError());
        QVERIFY2(store.core().lastError()->contains(QLatin1String("can't be read")),
                 qPrintable(*store.core().lastError()));
        QVERIFY(store.core().lastError()->contains(loop));
    }

    void dataFolderModeIsSetOnlyOnCreation_data()
    {
        QTest::addColumn<int>("existingMode"); // 0: no folder yet
        QTest::addColumn<int>("expectedMode");
        QTest::newRow("created by the store") << 0 << 0700;
        QTest::newRow("read-only, made by the user") << 0500 << 0500;
    }

    void dataFolderModeIsSetOnlyOnCreation()
    {
        QFETCH(int, existingMode);
        QFETCH(int, expectedMode);
        StoreFixture f;
        QTemporaryDir scratch;
        const QByteArray data = QFile::encodeName(scratch.filePath(QStringLiteral("nested/data")));
        if (existingMode)
            QVERIFY(QDir().mkpath(QFile::decodeName(data)) && ::chmod(data, mode_t(existingMode)) == 0);
        qputenv("QUILLHARBOUR_DATA_DIR", data);
        const auto restore = qScopeGuard([&] {
            qunsetenv("QUILLHARBOUR_DATA_DIR");
            ::chmod(data, 0700);
        });
        StorageService store(std::nullopt, environmentOf(f));
        struct stat info {};
        QVERIFY(::stat(data, &info) == 0);
        QCOMPARE(int(info.st_mode & 0777), expectedMode);
    }

    void writtenFileForm()
    {
        StoreFixture f;
        StorageService& store = f.make();
        TaskItem t = todo(QStringLiteral("a/b"), TestEnvironment::at(2026, 12, 7, 10, 0, 0) + 0.5);
        t.notes = QStringLiteral("see https://example.org/x");
        t.dueDate = TestEnvironment::at(2026, 12, 8, 14, 30, 0) + 0.75;
        t.reminderDate = TestEnvironment::at(2026, 12, 8, 9, 0, 0);
        t.repeatOption = RepeatOption::weekly;
        t.subtasks.push_back({QUuid::createUuid(), QStringLiteral("step/one"), false});
        f.clock.advance(0.6);
        store.todos().addTodo(t);
        Note n = note(QStringLiteral("x/y"), TestEnvironment::at(2026, 12, 1, 8, 0, 0) + 0.25);
        store.notes().upsertNote(n);

        for (const QString& name : {QStringLiteral("todos.json"), QStringLiteral("notes.json")}) {
            const QByteArray text = readBytes(f.file(name));
            QVERIFY(!text.contains("\\/"));
            QVERIFY(text.contains("\n    "));
            QVERIFY(!QRegularExpression(QStringLiteral("\\d\\.\\d+Z")).match(QString::fromUtf8(text)).hasMatch());
            // Absent optionals are left out, never written as null.
            QVERIFY(!text.contains("null"));
            for (const QStringList& keys : keyOrders(text)) {
                QStringList sorted = keys;
                sorted.sort();
                QCOMPARE(keys, sorted);
            }
        }

        const QByteArray todos = readBytes(f.file(QStringLiteral("todos.json")));
        QVERIFY(todos.contains("\"title\": \"a/b\""));
        QVERIFY(todos.contains("https://example.org/x"));
        QVERIFY(todos.contains("\"createdAt\": \"2026-12-07T15:00:00Z\""));
        QVERIFY(todos.contains("\"updatedAt\": \"2026-12-07T15:00:00Z\""));
        QVERIFY(todos.contains("\"dueDate\": \"2026-12-08T19:30:00Z\""));
        QVERIFY(todos.contains("\"id\": \"" + uuidText(t.id).toUtf8() + "\""));
        QCOMPARE(keyOrders(todos).size(), 2); // the step and the to-do
        QVERIFY(keyOrders(todos).last().contains(QStringLiteral("recurringSeriesId")));

        const QByteArray notes = readBytes(f.file(QStringLiteral("notes.json")));
        QVERIFY(notes.contains("\"title\": \"x/y\""));
        QVERIFY(notes.contains("\"createdAt\": \"2026-12-01T13:00:00Z\""));
    }

    void textsSurviveTheRoundTrip()
    {
        StoreFixture f;
        const QString awkward =
            QStringLiteral("quote \" back\\slash\nline\ttab \u0001\u001f del\u007f é ✓ 😀 </script>");
        SharedState usage = SharedState::fresh(f.clock.now(), f.calendar);
        usage.usageSecondsByRuleId.insert(awkward, 42); // a key is any text a file held
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(f.file(QStringLiteral("state.json")), stateFileText(usage)));
        StorageService& store = f.make();
        TaskItem t = todo(awkward, TestEnvironment::at(2026, 12, 7, 9));
        t.notes = awkward;
        t.time = awkward;
        t.subtasks.push_back({QUuid::createUuid(), awkward, true});
        store.todos().addTodo(t);
        Note n = note(awkward, TestEnvironment::at(2026, 12, 7, 9));
        n.body = awkward;
        store.notes().upsertNote(n);

        QJsonParseError error{};
        QJsonDocument::fromJson(readBytes(f.file(QStringLiteral("todos.json"))), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const std::vector<TaskItem> todos = todosInFile(f.file(QStringLiteral("todos.json")));
        QCOMPARE(todos.size(), size_t(1));
        QVERIFY(todos.front() == store.todos().todos().front());
        const std::vector<Note> notes = notesInFile(f.file(QStringLiteral("notes.json")));
        QCOMPARE(notes.size(), size_t(1));
        QCOMPARE(notes.front(), store.notes().notes().front());
        QCOMPARE(f.make().blocking().state().usageSecondsByRuleId.value(awkward), 42);
    }

    void legacyGoalsFileIsRemoved()
    {
        StoreFixture f;
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(f.file(QStringLiteral("goals.json")), "[]"));
        StorageService& store = f.make();
        QVERIFY(!QFile::exists(f.file(QStringLiteral("goals.json"))));
        QVERIFY(!store.core().lastError());
    }

    void restartKeepsData()
    {
        StoreFixture f;
        StorageService& store = f.make();
        TaskItem t = todo(QStringLiteral("pack"), TestEnvironment::at(2026, 12, 7, 8));
        t.dueDate = TestEnvironment::at(2026, 12, 9, 14, 30);
        t.reminderDate = TestEnvironment::at(2026, 12, 9, 9);
        t.notes = QStringLiteral("bring the charger");
        t.priority = TaskItem::Priority::high;
        t.time = QStringLiteral("9:00 AM");
        t.subtasks.push_back({QUuid::createUuid(), QStringLiteral("socks"), true});
        t.repeatOption = RepeatOption::weekly;
        store.todos().addTodo(t);
        store.notes().upsertNote(note(QStringLiteral("ideas"), TestEnvironment::at(2026, 12, 1)));
        const std::vector<TaskItem> todos = store.todos().todos().toVector();
        const std::vector<Note> notes = store.notes().notes();

        f.clock.advance(3600);
        StorageService& restarted = f.make();
        QVERIFY(restarted.todos().todos() == todos);
        QVERIFY(restarted.notes().notes() == notes);
        QVERIFY(!restarted.core().lastError());
        QVERIFY(backupsIn(f.dataPath()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStoreCore)
#include "tst_store_core.moc"
