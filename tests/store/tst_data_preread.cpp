#include "StoreFixture.h"
#include "StoreTestSupport.h"
#include "files/Defaults.h"
#include "files/FileSafety.h"
#include "model/LenientJson.h"
#include "store/DataPreread.h"

#include <QScopeGuard>
#include <QtTest>
#include <future>

using namespace StoreTest;

// The to-dos and notes read on another thread at the start: the store takes them only while they
// are still what is on disk, and loads from them what it would have loaded itself.
class TestDataPreread : public QObject {
    Q_OBJECT

private slots:
    void takenOnlyWhileUnchanged_data()
    {
        QTest::addColumn<bool>("before");   // todos.json exists when the reading runs
        QTest::addColumn<QString>("after"); // then: "", "replaced", "removed", "created", "rewritten in place"
        QTest::addColumn<bool>("taken");
        QTest::newRow("untouched") << true << "" << true;
        QTest::newRow("absent then and now") << false << "" << true;
        QTest::newRow("replaced since") << true << "replaced" << false;
        QTest::newRow("removed since") << true << "removed" << false;
        QTest::newRow("created since") << false << "created" << false;
        QTest::newRow("rewritten in place, longer") << true << "rewritten in place" << false;
    }
    void takenOnlyWhileUnchanged()
    {
        QFETCH(bool, before);
        QFETCH(QString, after);
        QFETCH(bool, taken);
        StoreFixture f;
        QDir().mkpath(f.dataPath());
        const Date t = TestEnvironment::at(2026, 12, 7, 9);
        const std::vector<TaskItem> first{todo(QStringLiteral("first"), t), todo(QStringLiteral("second"), t)};
        const std::vector<TaskItem> second{todo(QStringLiteral("third"), t)};
        const std::vector<Note> notes{note(QStringLiteral("kept note"), t)};
        QVERIFY(writeBytes(f.file(QStringLiteral("notes.json")), notesJson(notes)));
        if (before)
            QVERIFY(writeBytes(f.file(QStringLiteral("todos.json")), todosJson(first)));

        DataPreread preread(f.dataPath());
        preread.wait();
        if (after == QLatin1String("replaced") || after == QLatin1String("created"))
            QVERIFY(FileSafety::writeAtomically(f.file(QStringLiteral("todos.json")), todosJson(second)));
        else if (after == QLatin1String("removed"))
            QVERIFY(QFile::remove(f.file(QStringLiteral("todos.json"))));
        else if (after == QLatin1String("rewritten in place"))
            QVERIFY(writeBytes(f.file(QStringLiteral("todos.json")), todosJson(second) + "\n\n"));

        const std::optional<PrereadTodos> todos = preread.takeTodos(f.file(QStringLiteral("todos.json")));
        QCOMPARE(todos.has_value(), taken);
        if (todos) {
            QCOMPARE(todos->exists, before);
            QCOMPARE(ids(todos->decoded.value_or(std::vector<TaskItem>{})), before ? ids(first) : QList<QUuid>{});
        }
        // Once only.
        QVERIFY(!preread.takeTodos(f.file(QStringLiteral("todos.json"))));
        const std::optional<PrereadFile<Note>> readNotes = preread.takeNotes(f.file(QStringLiteral("notes.json")));
        QVERIFY(readNotes && readNotes->decoded);
        QCOMPARE(ids(*readNotes->decoded), ids(notes));
    }

    // The preferences are handed over only whole and unchanged; otherwise they read themselves,
    // damage and all, as before. So is a second preferences file, read after the rest.
    void preferencesTakenOnlyWhenWholeAndUnchanged_data()
    {
        QTest::addColumn<QByteArray>("text"); // empty: no file
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<bool>("second");
        const QByteArray whole = R"({"onboarding.completed.v1": true, "sync.ids": ["a", "b"]})";
        for (const bool second : {false, true}) {
            const auto row = [second](const char* name) -> QTestData& {
                return QTest::newRow(
                    qPrintable(QString::fromLatin1(name) + (second ? QStringLiteral(", second file") : QString())));
            };
            row("whole") << whole << false << true << second;
            row("whole, replaced since") << whole << true << false << second;
            row("no file") << QByteArray() << false << false << second;
            row("damaged") << QByteArray(R"({"onboarding.completed.v1": tr)") << false << false << second;
            row("not an object") << QByteArray("[1, 2]") << false << false << second;
        }
    }
    void preferencesTakenOnlyWhenWholeAndUnchanged()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, replaced);
        QFETCH(bool, taken);
        QFETCH(bool, second);
        QTemporaryDir folder;
        const QString first = folder.filePath(QStringLiteral("defaults.json"));
        const QString path = second ? folder.filePath(QStringLiteral("sync-known-ids.json")) : first;
        if (second)
            QVERIFY(writeBytes(first, R"({"onboarding.completed.v1": true})"));
        if (!text.isEmpty())
            QVERIFY(writeBytes(path, text));
        DataPreread preread(folder.filePath(QStringLiteral("data")),
                            second ? QStringList{first, path} : QStringList{path});
        if (second)
            QVERIFY(preread.takeDefaults(first).has_value());
        preread.wait();
        if (replaced)
            QVERIFY(FileSafety::writeAtomically(path, R"({"onboarding.completed.v1": false})"));
        std::optional<QJsonObject> read = preread.takeDefaults(path);
        QCOMPARE(read.has_value(), taken);
        QVERIFY(!preread.takeDefaults(path));
        // Either way the preferences hold what the file says now, and keep a damaged file aside.
        const Defaults early(path, std::move(read));
        const Defaults alone(path);
        QCOMPARE(early.boolean(QStringLiteral("onboarding.completed.v1")),
                 alone.boolean(QStringLiteral("onboarding.completed.v1")));
        QCOMPARE(early.value(QStringLiteral("sync.ids")), alone.value(QStringLiteral("sync.ids")));
        QCOMPARE(early.lastError(), alone.lastError());
    }

    // A store given the preread loads what a store reading the files itself loads, saves the same
    // bytes after a change, and keeps a damaged file aside just the same.
    void storeLoadsTheSameWithOrWithout_data()
    {
        QTest::addColumn<QByteArray>("todosText");
        QTest::addColumn<bool>("damaged");
        const Date t = TestEnvironment::at(2026, 12, 7, 9);
        QTest::newRow("to-dos") << todosJson({todo(QStringLiteral("a"), t), todo(QStringLiteral("b"), t),
                                              todo(QStringLiteral("c"), t)})
                                << false;
        QTest::newRow("no to-dos") << QByteArray("[]") << false;
        // Long enough to be read in parts, which the store's thread shares with the reader's.
        std::vector<TaskItem> many;
        for (int i = 0; i < 3000; ++i)
            many.push_back(todo(QStringLiteral("To-do number %1 with a title of some length").arg(i), t + i));
        const QByteArray manyText = todosJson(many);
        QVERIFY(manyText.size() > 2 * 256 * 1024);
        QTest::newRow("many to-dos") << manyText << false;
        // Read by several threads at once, each copying its to-dos for the writer: the first save
        // after the load keeps the others' texts as read.
        std::vector<TaskItem> stepped = many;
        for (size_t i = 0; i < stepped.size(); ++i) {
            stepped[i].time = i % 3 ? QStringLiteral("%1:30 PM").arg(i % 12 + 1) : TaskItem::anytime;
            for (int k = 0; k < int(i % 4); ++k)
                stepped[i].subtasks.push_back({QUuid::createUuid(), QStringLiteral("Step %1").arg(k), k % 2 == 0});
        }
        QTest::newRow("many to-dos with steps, as the store writes them") << todosFileText(stepped) << false;
        QByteArray lateNull = manyText;
        lateNull.replace(lateNull.lastIndexOf("\"title\""), 7, "\"title\":null,\"x\"");
        QTest::newRow("many to-dos, the last one unreadable") << lateNull << true;
        QTest::newRow("not JSON") << QByteArray("[{\"id\": broken") << true;
        QTest::newRow("a title over the record limit")
            << todosJson({todo(QString(LenientJson::maximumRecordBytes, u'x'), t), todo(QStringLiteral("plain"), t)})
            << true;
    }
    void storeLoadsTheSameWithOrWithout()
    {
        QFETCH(QByteArray, todosText);
        QFETCH(bool, damaged);
        struct Outcome {
            QList<QUuid> loaded;
            QList<QUuid> notes;
            QByteArray saved;
            QStringList backups;
            std::optional<QString> lastError;
            bool keptWhileRead = true; // an edit before the to-dos came in left the file as it was
        };
        const TaskItem added = todo(QStringLiteral("new"), TestEnvironment::at(2026, 12, 7, 9));
        const QByteArray notesText = notesJson({note(QStringLiteral("one"), TestEnvironment::at(2026, 12, 7, 9)),
                                                note(QStringLiteral("two"), TestEnvironment::at(2026, 12, 7, 10))});
        // The reader may be anywhere when the store wants the files; held just after reading the
        // to-dos' text, it leaves all the decoding, the putting together and the notes to the store;
        // waited for, it has done all of it before the store comes. Taken in later, as a start
        // does, the to-dos are refused an edit until they are in, and a quit before that leaves
        // their file as it was.
        enum class Preread { none, free, held, finished, later, quitWhileRead };
        const auto run = [&](Preread mode) {
            StoreFixture f;
            QDir().mkpath(f.dataPath());
            const QString path = f.file(QStringLiteral("todos.json"));
            writeBytes(path, todosText);
            writeBytes(f.file(QStringLiteral("notes.json")), notesText);
            std::promise<void> release;
            const std::shared_future<void> released = release.get_future().share();
            std::optional<DataPreread> preread;
            const bool later = mode == Preread::later || mode == Preread::quitWhileRead;
            if (mode == Preread::free || mode == Preread::finished)
                preread.emplace(f.dataPath());
            if (mode == Preread::finished)
                preread->wait();
            else if (mode == Preread::held || later)
                preread.emplace(f.dataPath(), QStringList(), [released] { released.wait(); });
            bool freed = false;
            const auto releaseOnce = [&] {
                if (!std::exchange(freed, true))
                    release.set_value();
            };
            const auto releaseOnExit = qScopeGuard(releaseOnce);
            StorageEnvironment env;
            env.clock = &f.clock;
            env.calendar = [&f] { return f.calendar; };
            env.defaults = &f.defaults;
            env.notifications = &f.notifications;
            env.monotonic = &f.bootClock;
            env.preread = preread ? &*preread : nullptr;
            env.todosLater = later;
            std::optional<StorageService> quitting;
            StorageService& store = quitting.emplace(FileStore{f.dataPath()}, env);
            Outcome out;
            if (later) {
                out.keptWhileRead = !store.todosLoaded() && !store.todos().addTodo(added) &&
                                    store.todos().todos().empty() && readBytes(path) == todosText;
                releaseOnce();
                if (mode == Preread::quitWhileRead) {
                    quitting.reset();
                    preread->wait();
                    out.saved = readBytes(path);
                    return out;
                }
                store.loadTodos();
            }
            out.loaded = ids(store.todos().todos());
            for (const Note& n : store.notes().notes())
                out.notes.append(n.id);
            out.lastError = store.core().lastError();
            out.backups = QDir(f.dataPath()).entryList({QStringLiteral("todos.unreadable-*")});
            if (!store.todos().todos().empty())
                store.todos().toggleTodo(store.todos().todos().front().id);
            else
                store.todos().addTodo(added);
            out.saved = readBytes(path);
            return out;
        };
        const Outcome alone = run(Preread::none);
        const Outcome quit = run(Preread::quitWhileRead);
        QVERIFY(quit.keptWhileRead);
        QCOMPARE(quit.saved, todosText);
        for (const Preread mode : {Preread::free, Preread::held, Preread::finished, Preread::later}) {
            const Outcome early = run(mode);
            QVERIFY(early.keptWhileRead);
            QCOMPARE(early.loaded, alone.loaded);
            QCOMPARE(early.notes, alone.notes);
            QCOMPARE(early.notes.size(), 2);
            QCOMPARE(early.saved, alone.saved);
            QCOMPARE(early.backups.size(), damaged ? 1 : 0);
            QCOMPARE(early.backups.size(), alone.backups.size());
            QCOMPARE(early.lastError, alone.lastError);
            QCOMPARE(early.lastError.has_value(), damaged);
        }
    }
};

QTEST_MAIN(TestDataPreread)
#include "tst_data_preread.moc"
