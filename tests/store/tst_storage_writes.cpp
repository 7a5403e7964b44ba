#include "StoreFixture.h"
#include "StoreTestSupport.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <atomic>

using namespace StoreTest;

namespace {

// Holds the writing thread as it opens a data file, until the test lets it go on. Writes made on
// the test's own thread pass.
struct Hold {
    QSemaphore entered, proceed;
    std::atomic<bool> holding{true};
    QThread* const main = QThread::currentThread();

    void install(StoreFixture& f)
    {
        f.opening = [this](const QString&) {
            if (QThread::currentThread() == main || !holding)
                return;
            entered.release();
            proceed.acquire();
        };
    }
};

enum class List { todos, notes };

} // namespace

Q_DECLARE_METATYPE(List)

// What a sync run brings in is written on the writing thread: the store holds it at once and
// the window is not held for the disk.
class TestStorageWrites : public QObject {
    Q_OBJECT

    static bool replace(StorageService& store, List list, const QString& title, Date at)
    {
        return list == List::todos ? store.replaceTodosFromSync({todo(title, at)})
                                   : store.replaceNotesFromSync({note(title, at)});
    }
    static QStringList titlesInMemory(const StorageService& store, List list)
    {
        QStringList titles;
        if (list == List::todos)
            for (const TaskItem& t : store.todos())
                titles.append(t.title);
        else
            for (const Note& n : store.notes())
                titles.append(n.title);
        titles.sort();
        return titles;
    }
    static QStringList titlesOnDisk(const StoreFixture& f, List list)
    {
        QStringList titles;
        if (list == List::todos)
            for (const TaskItem& t : todosInFile(f.file(StorageService::todosFile)))
                titles.append(t.title);
        else
            for (const Note& n : notesInFile(f.file(StorageService::notesFile)))
                titles.append(n.title);
        titles.sort();
        return titles;
    }
    static QString fileOf(List list)
    {
        return list == List::todos ? StorageService::todosFile : StorageService::notesFile;
    }

private slots:
    // A write the disk refuses keeps the list in memory, says which file and why, and is made
    // again by the next try; one that lands clears the file's message.
    void refusedWriteIsReportedAndRetried_data()
    {
        QTest::addColumn<List>("list");
        QTest::addColumn<bool>("refused");
        QTest::newRow("to-dos written") << List::todos << false;
        QTest::newRow("to-dos refused") << List::todos << true;
        QTest::newRow("notes written") << List::notes << false;
        QTest::newRow("notes refused") << List::notes << true;
    }
    void refusedWriteIsReportedAndRetried()
    {
        QFETCH(List, list);
        QFETCH(bool, refused);
        StoreFixture f;
        StorageService& store = f.make();
        QSignalSpy failed(&store, &StorageService::backgroundWriteFailed);
        if (refused)
            f.failing = QStringList{fileOf(list)};
        QVERIFY(replace(store, list, QStringLiteral("from elsewhere"), f.clock.now()));
        QCOMPARE(titlesInMemory(store, list), QStringList{QStringLiteral("from elsewhere")});
        store.waitForWrites();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(failed.size(), refused ? 1 : 0);
        QCOMPARE(bool(store.lastError()), refused);
        if (refused) {
            QVERIFY(store.lastError()->contains(fileOf(list)));
            QVERIFY(store.lastError()->contains(QLatin1String("No space left on device")));
        }
        QCOMPARE(titlesOnDisk(f, list), refused ? QStringList{} : QStringList{QStringLiteral("from elsewhere")});
        QCOMPARE(titlesInMemory(store, list), QStringList{QStringLiteral("from elsewhere")});

        f.failing.clear();
        store.retryUnwrittenFiles();
        store.waitForWrites();
        QCoreApplication::sendPostedEvents();
        QVERIFY(!store.lastError());
        QCOMPARE(titlesOnDisk(f, list), QStringList{QStringLiteral("from elsewhere")});
        QCOMPARE(failed.size(), refused ? 1 : 0);
    }

    // A person's change made while the sync's write of the same file is on its way is written
    // after it and is what the file keeps; its success clears the older write's failure.
    void editAfterPendingSyncWriteLandsLast_data()
    {
        QTest::addColumn<List>("list");
        QTest::addColumn<bool>("syncWriteRefused");
        QTest::newRow("to-dos") << List::todos << false;
        QTest::newRow("to-dos, sync's write refused") << List::todos << true;
        QTest::newRow("notes") << List::notes << false;
        QTest::newRow("notes, sync's write refused") << List::notes << true;
    }
    void editAfterPendingSyncWriteLandsLast()
    {
        QFETCH(List, list);
        QFETCH(bool, syncWriteRefused);
        StoreFixture f;
        Hold hold;
        hold.install(f);
        StorageService& store = f.make();
        QSignalSpy failed(&store, &StorageService::backgroundWriteFailed);
        if (syncWriteRefused)
            f.failing = QStringList{fileOf(list)};
        QVERIFY(replace(store, list, QStringLiteral("from elsewhere"), f.clock.now()));
        QVERIFY(hold.entered.tryAcquire(1, 30000));
        hold.holding = false;
        hold.proceed.release();
        // The writing thread may still be at the refusing device: the person's own write waits
        // for it, and only then may the disk take writes again.
        store.waitForWrites();
        f.failing.clear();
        const bool added = list == List::todos ? store.addTodo(todo(QStringLiteral("typed here"), f.clock.now()))
                                               : store.upsertNote(note(QStringLiteral("typed here"), f.clock.now()));
        QVERIFY(added);
        QCoreApplication::sendPostedEvents();
        const QStringList both{QStringLiteral("from elsewhere"), QStringLiteral("typed here")};
        QCOMPARE(titlesOnDisk(f, list), both);
        QCOMPARE(titlesInMemory(store, list), both);
        QCOMPARE(failed.size(), syncWriteRefused ? 1 : 0);
        QVERIFY(!store.lastError());
    }

    // A synchronous save does not wait for the test: the sync's write still queued lands first.
    void editWaitsForQueuedSyncWrite()
    {
        StoreFixture f;
        Hold hold;
        hold.install(f);
        StorageService& store = f.make();
        QVERIFY(replace(store, List::todos, QStringLiteral("first"), f.clock.now()));
        QVERIFY(hold.entered.tryAcquire(1, 30000));
        QVERIFY(replace(store, List::todos, QStringLiteral("second"), f.clock.now()));
        hold.holding = false;
        hold.proceed.release();
        QVERIFY(store.addTodo(todo(QStringLiteral("typed here"), f.clock.now())));
        QCOMPARE(titlesOnDisk(f, List::todos), (QStringList{QStringLiteral("second"), QStringLiteral("typed here")}));
    }

    // Going away finishes the writes on their way.
    void quitFinishesPendingWrites()
    {
        StoreFixture f;
        Hold hold;
        hold.install(f);
        StorageService& store = f.make();
        QVERIFY(replace(store, List::todos, QStringLiteral("to-do from elsewhere"), f.clock.now()));
        QVERIFY(hold.entered.tryAcquire(1, 30000));
        QVERIFY(replace(store, List::notes, QStringLiteral("note from elsewhere"), f.clock.now()));
        hold.holding = false;
        hold.proceed.release();
        f.store.reset();
        QCOMPARE(titlesOnDisk(f, List::todos), QStringList{QStringLiteral("to-do from elsewhere")});
        QCOMPARE(titlesOnDisk(f, List::notes), QStringList{QStringLiteral("note from elsewhere")});
    }
};

QTEST_GUILESS_MAIN(TestStorageWrites)
#include "tst_storage_writes.moc"
