#include "StoreFixture.h"
#include "StoreTestSupport.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

using namespace StoreTest;

// What a sync run brings in is written on the writing thread; a person's change made while that
// write is on its way lands after it, and its success clears the older write's failure.
class TestStorageWrites : public QObject {
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
        QThread* const main = QThread::currentThread();
        f.opening = [&](const QString&) {
            if (QThread::currentThread() != main) {
                entered.release();
                proceed.acquire();
            }
        };
        StorageService& store = f.make();
        QSignalSpy failed(&store, &StorageService::backgroundWriteFailed);
        if (syncWriteRefused)
            f.failing = QStringList{StorageService::todosFile};
        QVERIFY(store.replaceTodosFromSync({todo(QStringLiteral("from elsewhere"), f.clock.now())}));
        QVERIFY(entered.tryAcquire(1, 30000));
        proceed.release();
        if (syncWriteRefused) {
            // The disk takes writes again only once the writing thread is past the refusing device.
            store.waitForWrites();
            f.failing.clear();
            QCOMPARE(failed.size(), 1);
        }
        QVERIFY(store.addTodo(todo(QStringLiteral("typed here"), f.clock.now())));

        QStringList onDisk;
        for (const TaskItem& t : todosInFile(f.file(StorageService::todosFile)))
            onDisk.append(t.title);
        onDisk.sort();
        QCOMPARE(onDisk, (QStringList{QStringLiteral("from elsewhere"), QStringLiteral("typed here")}));
        QCOMPARE(store.todos().size(), size_t(2));
        QVERIFY(!store.lastError());
    }
};

QTEST_GUILESS_MAIN(TestStorageWrites)
#include "tst_storage_writes.moc"
