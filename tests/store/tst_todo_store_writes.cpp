#include "StoreFixture.h"
#include "StoreTestSupport.h"
#include "model/TodosFileReading.h"
#include "model/TodosFileWriter.h"

#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <cstdio>
#include <functional>

using namespace StoreTest;

namespace {

// A change of a list in the ways a sync run or a person makes them.
using Change = std::function<void(std::vector<TaskItem>&, Date)>;

TaskItem numbered(int i, Date at)
{
    TaskItem t = todo(QStringLiteral("To-do %1").arg(i), at + i);
    t.updatedAt = at + i;
    return t;
}

} // namespace

// What a sync run brings in is encoded and written on the writing thread; a person's change made
// while that write is on its way lands after it, and its success clears the older write's failure.
// The text written there is the text the store would have written itself, and a list made from
// to-dos that changed since is never taken in over them.
class TestTodoStoreWrites : public QObject {
    Q_OBJECT

private slots:
    void editAfterPendingSyncWriteLandsLast_data()
    {
        QTest::addColumn<bool>("syncWriteRefused");
        QTest::newRow("sync's write lands") << false;
        QTest::newRow("sync's write refused") << true;
    }
    void editAfterPendingSyncWriteLandsLast()
    {
        QFETCH(bool, syncWriteRefused);
        StoreFixture f;
        QSemaphore entered, proceed;
        std::atomic<bool> holding = true; // only the sync's write is held
        QThread* const main = QThread::currentThread();
        f.opening = [&](const QString&) {
            if (QThread::currentThread() != main && holding) {
                entered.release();
                proceed.acquire();
            }
        };
        TodoStore& todos = f.makeTodos();
        QSignalSpy failed(f.core.get(), &StoreCore::backgroundWriteFailed);
        if (syncWriteRefused)
            f.failing = QStringList{TodoStore::fileName};
        QVERIFY(todos.replaceTodosFromSync({todo(QStringLiteral("from elsewhere"), f.clock.now())}));
        QVERIFY(entered.tryAcquire(1, 30000));
        holding = false;
        proceed.release();
        if (syncWriteRefused) {
            // The disk takes writes again only once the writing thread is past the refusing device.
            f.core->waitForWrites();
            f.failing.clear();
            QCOMPARE(failed.size(), 1);
        }
        QVERIFY(todos.addTodo(todo(QStringLiteral("typed here"), f.clock.now())));

        QStringList onDisk;
        for (const TaskItem& t : todosInFile(f.file(TodoStore::fileName)))
            onDisk.append(t.title);
        onDisk.sort();
        QCOMPARE(onDisk, (QStringList{QStringLiteral("from elsewhere"), QStringLiteral("typed here")}));
        QCOMPARE(todos.todos().size(), size_t(2));
        QVERIFY(!f.core->lastError());
    }

    // Each step takes a list in the way a sync run does, or saves one the way a person does; the
    // file after each is byte for byte what one writer given the same lists here would write,
    // from the file's text as it was loaded, whatever its form.
    void syncWritesMatchTheWriterHere_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QStringList>("steps"); // "sync:<change>" or "here:<change>"
        const QStringList mixed = {"sync:retitle", "here:toggle",  "sync:add", "sync:remove", "here:add",
                                   "here:toggle",  "sync:reverse", "here:add", "here:delete", "sync:same"};
        QTest::newRow("as the store writes it, sync only")
            << "store" << QStringList{"sync:retitle", "sync:add", "sync:remove", "sync:reverse", "sync:same"};
        QTest::newRow("as the store writes it, mixed with saves here") << "store" << mixed;
        QTest::newRow("indented by another program") << "indented" << mixed;
        QTest::newRow("with a key the store does not know") << "unknown key" << mixed;
    }
    void syncWritesMatchTheWriterHere()
    {
        QFETCH(QString, form);
        QFETCH(QStringList, steps);
        StoreFixture f;
        const Date at = f.clock.now() - 3600;
        std::vector<TaskItem> list;
        for (int i = 0; i < 6; ++i)
            list.push_back(numbered(i, at));
        QByteArray text = todosJson(list);
        if (form == QLatin1String("indented"))
            text = QJsonDocument::fromJson(text).toJson(QJsonDocument::Indented);
        if (form == QLatin1String("unknown key"))
            text.replace("\"createdAt\":", "\"later\": [1, {\"a\": \"}\"}], \"createdAt\":");
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(f.file(TodoStore::fileName), text));
        TodoStore& todos = f.makeTodos();
        QVERIFY(todos.todos() == list);
        std::vector<TextSpan> spans;
        const std::optional<std::vector<TaskItem>> loaded = decodeTodosFileText(text, &spans);
        QVERIFY(loaded);
        TodosFileWriter here;
        here.adopt(*loaded, text, spans);

        const QHash<QString, Change> changes = {
            {"retitle", [](std::vector<TaskItem>& l, Date) { l[2].title = QStringLiteral("changed elsewhere"); }},
            {"add", [](std::vector<TaskItem>& l, Date now) { l.push_back(numbered(40, now)); }},
            {"remove", [](std::vector<TaskItem>& l, Date) { l.erase(l.begin() + 1); }},
            {"reverse", [](std::vector<TaskItem>& l, Date) { std::reverse(l.begin(), l.end()); }},
            {"same", [](std::vector<TaskItem>&, Date) {}},
        };
        for (const QString& step : steps) {
            const QString change = step.section(u':', 1);
            if (step.startsWith(QLatin1String("sync:"))) {
                std::vector<TaskItem> next = todos.todos().toVector();
                changes.value(change)(next, at);
                QVERIFY2(todos.replaceTodosFromSync(next), qPrintable(step));
            } else if (change == QLatin1String("add")) {
                QVERIFY2(todos.addTodo(numbered(50 + int(todos.todos().size()), at)), qPrintable(step));
            } else if (change == QLatin1String("delete")) {
                const TaskItem third = todos.todos()[2];
                QVERIFY2(todos.deleteTodo(third), qPrintable(step));
            } else {
                QVERIFY2(todos.toggleTodo(todos.todos().front().id), qPrintable(step));
            }
            f.core->waitForWrites();
            QVERIFY2(readBytes(f.file(TodoStore::fileName)) == here.text(todos.todos().toVector()), qPrintable(step));
        }
        QVERIFY(!f.core->lastError());
    }

    // A list made elsewhere from the to-dos as they were is refused once they changed here, in
    // whatever way, and nothing of it shows: not in the store, not in the file, not as an error.
    void staleSyncedListIsRefused_data()
    {
        QTest::addColumn<QString>("localChange");
        QTest::newRow("a to-do added") << "add";
        QTest::newRow("a to-do toggled") << "toggle";
        QTest::newRow("a to-do edited") << "edit";
        QTest::newRow("a to-do deleted") << "delete";
        QTest::newRow("a change that failed and was undone") << "failed";
    }
    void staleSyncedListIsRefused()
    {
        QFETCH(QString, localChange);
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        const Date at = f.clock.now();
        QVERIFY(todos.replaceTodosFromSync({numbered(0, at), numbered(1, at)}));
        f.core->waitForWrites();

        std::vector<TaskItem> merged = todos.todos().toVector();
        merged[1].title = QStringLiteral("changed elsewhere");
        TodoStore::SyncedTodos synced = TodoStore::SyncedTodos::between(todos.todos(), todos.revision(), merged);
        const std::vector<TaskItem> held = todos.todos().toVector();
        const quint64 revision = todos.revision();

        if (localChange == QLatin1String("add")) {
            QVERIFY(todos.addTodo(todo(QStringLiteral("typed here"), at)));
        } else if (localChange == QLatin1String("toggle")) {
            QVERIFY(todos.toggleTodo(todos.todos()[1].id));
        } else if (localChange == QLatin1String("edit")) {
            TaskItem t = todos.todos()[1];
            t.title = QStringLiteral("edited here");
            QVERIFY(todos.upsertTodo(t));
        } else if (localChange == QLatin1String("delete")) {
            QVERIFY(todos.deleteTodo(todos.todos()[0]));
        } else {
            f.failing = QStringList{TodoStore::fileName};
            QVERIFY(todos.toggleTodo(todos.todos()[1].id));
            f.core->waitForWrites(); // refused there, taken back here
            f.failing.clear();
            f.core->setLastError(std::nullopt);
        }
        const std::vector<TaskItem> local = todos.todos().toVector();
        // The store tells which to-do the change touched, so that a sync sends just that one.
        QSet<QUuid> touched;
        for (const auto* list : {&held, &local})
            for (const TaskItem& t : *list)
                if (std::find(held.begin(), held.end(), t) == held.end() ||
                    std::find(local.begin(), local.end(), t) == local.end())
                    touched.insert(t.id);
        const std::optional<QSet<QUuid>> told = todos.changedSince(revision);
        QVERIFY(told && told->contains(touched) && told->size() == 1);
        const FileWrite refused = todos.takeTodosFromSync(synced);
        QVERIFY(!refused);
        QVERIFY(!refused.error.isEmpty());
        QVERIFY(todos.todos() == local);
        f.core->waitForWrites();
        QVERIFY(todosInFile(f.file(TodoStore::fileName)) == local);
        QVERIFY(!f.core->lastError());

        // Made again from what the store holds now, it goes in.
        TodoStore::SyncedTodos again = TodoStore::SyncedTodos::between(todos.todos(), todos.revision(), merged);
        QVERIFY(todos.takeTodosFromSync(again));
        QVERIFY(!todos.changedSince(revision)); // a list taken in whole is read whole
        QVERIFY(again.list == local);           // the list the store held, handed back
        f.core->waitForWrites();
        QVERIFY(todosInFile(f.file(TodoStore::fileName)) == merged);
    }

    // A person's save while the sync's list is being written: it waits for that write, lands
    // after it, and the older write's outcome (even a failure) no longer counts.
    void saveHereAfterSyncEncodeInFlight_data()
    {
        QTest::addColumn<bool>("syncWriteRefused");
        QTest::addColumn<int>("syncWrites");
        QTest::newRow("one sync write lands") << false << 1;
        QTest::newRow("two sync writes, the second replacing the first") << false << 2;
        QTest::newRow("the sync write is refused") << true << 1;
    }
    void saveHereAfterSyncEncodeInFlight()
    {
        QFETCH(bool, syncWriteRefused);
        QFETCH(int, syncWrites);
        StoreFixture f;
        QSemaphore entered, proceed;
        std::atomic<bool> holding = true; // the writing thread reads the hook: it is not changed
        QThread* const main = QThread::currentThread();
        f.opening = [&](const QString&) {
            if (QThread::currentThread() != main && holding) {
                entered.release();
                proceed.acquire();
            }
        };
        TodoStore& todos = f.makeTodos();
        const Date at = f.clock.now();
        QVERIFY(todos.replaceTodosFromSync({numbered(0, at)}));
        QVERIFY(entered.tryAcquire(1, 30000));
        // Held on its way to the disk; further lists of the same file wait their turn.
        if (syncWriteRefused)
            f.failing = QStringList{TodoStore::fileName};
        for (int i = 1; i < syncWrites + 1; ++i) {
            std::vector<TaskItem> next = todos.todos().toVector();
            next.push_back(numbered(i, at));
            QVERIFY(todos.replaceTodosFromSync(next));
        }
        holding = false;
        proceed.release(8);
        if (syncWriteRefused) {
            f.core->waitForWrites();
            f.failing.clear();
        }
        QVERIFY(todos.toggleTodo(todos.todos().front().id));
        f.core->waitForWrites();
        QVERIFY(todosInFile(f.file(TodoStore::fileName)) == todos.todos());
        QCOMPARE(todos.todos().size(), size_t(syncWrites + 1));
        QVERIFY(todos.todos().front().isCompleted);
        QVERIFY(!f.core->lastError());
    }

    // A save made on the writing thread is whole when the process dies at any moment of it: the
    // file holds the to-dos of one save, old or new, and every save before it. Saves that are on
    // their way when the store goes are finished first.
    void killedWhileSavingLeavesAWholeFile()
    {
        QTemporaryDir folder;
        size_t left = 0; // what the last round left in the file
        for (int round = 0; round < 6; ++round) {
            QProcess child;
            // The killed child's home, and what it leaves there, go with this test's folder.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QUILLHARBOUR_TEST_HOME"), folder.filePath(QStringLiteral("home")));
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--keep-saving"), folder.path()});
            QVERIFY(child.waitForStarted(30000));
            const int after = QRandomGenerator::global()->bounded(1, 40);
            QByteArray said;
            while (!said.contains(QByteArray("saving ") + QByteArray::number(after) + '\n') &&
                   child.state() == QProcess::Running)
                if (child.waitForReadyRead(30000))
                    said += child.readAllStandardOutput();
            child.kill();
            QVERIFY(child.waitForFinished(30000));
            const std::vector<TaskItem> kept = todosInFile(folder.filePath(TodoStore::fileName));
            // What earlier rounds left is kept; the child adds to it as fast as it can until the kill
            // lands, which on a busy machine may be hundreds of saves after the one awaited.
            QVERIFY2(kept.size() >= left, qPrintable(QString::number(kept.size())));
            for (size_t i = 0; i < kept.size(); ++i)
                QCOMPARE(kept[i].title, QStringLiteral("To-do %1").arg(kept.size() - 1 - i));
            // The next round starts from a file of exactly 200 more to-dos than the kill left.
            StoreFixture f;
            f.dataFolder = folder.path();
            TodoStore& todos = f.makeTodos();
            left = kept.size() + 200;
            while (todos.todos().size() < left)
                todos.addTodo(todo(QStringLiteral("To-do %1").arg(todos.todos().size()), f.clock.now()));
            f.close();
            QCOMPARE(todosInFile(folder.filePath(TodoStore::fileName)).size(), left);
        }
    }
};

// The child of killedWhileSavingLeavesAWholeFile: adds numbered to-dos to the folder's file, each
// after saying so, until it is killed.
int keepSaving(const QString& folder)
{
    StoreFixture f;
    f.dataFolder = folder;
    TodoStore& todos = f.makeTodos();
    for (int i = 0;; ++i) {
        std::printf("saving %d\n", i);
        std::fflush(stdout);
        todos.addTodo(todo(QStringLiteral("To-do %1").arg(todos.todos().size()), f.clock.now()));
        QCoreApplication::processEvents();
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--keep-saving") == 0)
        return keepSaving(QString::fromLocal8Bit(argv[2]));
    TestTodoStoreWrites test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_todo_store_writes.moc"
