#include "TestEnvironment.h"
#include "fakes/RefusingSaveFile.h"
#include "files/Defaults.h"

#include <QDir>
#include <QJsonArray>
#include <QSaveFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <memory>

namespace {

// Save files on the test's terms: a write on the writing thread can be held until the test lets
// it go, and can be refused the way a full disk refuses it.
struct SaveFiles {
    std::atomic<bool> holding{false};
    std::atomic<bool> refusingInBackground{false};
    QSemaphore entered, proceed;
    QThread* const main = QThread::currentThread();

    FileSafety::SaveFileFactory factory()
    {
        return [this](const QString& path) -> std::unique_ptr<QSaveFile> {
            if (QThread::currentThread() == main)
                return std::make_unique<QSaveFile>(path);
            if (holding) {
                entered.release();
                proceed.acquire();
            }
            if (refusingInBackground)
                return std::make_unique<RefusingSaveFile>(path);
            return std::make_unique<QSaveFile>(path);
        };
    }
};

} // namespace

class TestDefaults : public QObject {
    Q_OBJECT
    QTemporaryDir folder;
    QString path() const { return folder.filePath(QStringLiteral("quillharbour/defaults.json")); }

private slots:
    void init()
    {
        QDir(path()).removeRecursively();
        QFile::remove(path());
    }

    void oneElementArrayIsStillAnArrayAfterRestart()
    {
        {
            Defaults d(path());
            QVERIFY(d.setStringArray(QStringLiteral("attemptedBrowserAutomationIDs"),
                                     {QStringLiteral("com.google.Chrome")}));
            QVERIFY(d.setStringArray(QStringLiteral("empty"), {}));
        }
        Defaults again(path());
        QCOMPARE(again.stringArray(QStringLiteral("attemptedBrowserAutomationIDs")),
                 std::optional(QStringList{QStringLiteral("com.google.Chrome")}));
        QCOMPARE(again.stringArray(QStringLiteral("empty")), std::optional(QStringList{}));
    }

    void valueOfAnotherTypeReadsAsAbsent()
    {
        Defaults d(path());
        d.set(QStringLiteral("rate"), 36.5);
        d.set(QStringLiteral("flag"), true);
        d.set(QStringLiteral("mixed"), QJsonArray{QStringLiteral("a"), 1});
        QCOMPARE(d.number(QStringLiteral("rate")), std::optional(36.5));
        QVERIFY(!d.string(QStringLiteral("rate")));
        QVERIFY(!d.integer(QStringLiteral("rate"))); // not whole
        QVERIFY(!d.boolean(QStringLiteral("rate")));
        QVERIFY(!d.number(QStringLiteral("flag")));
        QVERIFY(!d.stringArray(QStringLiteral("flag")));
        QVERIFY(!d.stringArray(QStringLiteral("mixed"))); // an array, but not of texts only
        QVERIFY(!d.string(QStringLiteral("missing")));
    }

    void fileIsPlainJsonOwnedByTheUser()
    {
        Defaults d(path());
        d.set(QStringLiteral("onboarding.completed.v1"), true);
        d.set(QStringLiteral("sync.lastSuccessAt.v1"), QStringLiteral("2026-12-07T10:15:00Z"));
        QFile file(path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(o.value(QStringLiteral("onboarding.completed.v1")).toBool(), true);
        QCOMPARE(o.value(QStringLiteral("sync.lastSuccessAt.v1")).toString(), QStringLiteral("2026-12-07T10:15:00Z"));
        QCOMPARE(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
    }

    void removingAndNullValues()
    {
        Defaults d(path());
        QSignalSpy changed(&d, &Defaults::valueChanged);
        d.set(QStringLiteral("k"), 1);
        d.set(QStringLiteral("k"), 1); // unchanged: no write, no signal
        QCOMPARE(changed.size(), 1);
        d.set(QStringLiteral("k"), QJsonValue::Null);
        QVERIFY(!d.contains(QStringLiteral("k")));
        QCOMPARE(changed.size(), 2);
        QVERIFY(!Defaults(path()).contains(QStringLiteral("k")));
    }

    void unreadableFileIsKeptAsideBeforeTheFirstWrite()
    {
        QDir().mkpath(QFileInfo(path()).path());
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{ \"broken\": ");
        file.close();

        Defaults d(path());
        QVERIFY(!d.contains(QStringLiteral("broken")));
        QVERIFY(!d.lastError().isEmpty());
        QVERIFY(d.set(QStringLiteral("fresh"), 1));
        const QStringList backups =
            QDir(QFileInfo(path()).path()).entryList({QStringLiteral("defaults.unreadable-*.json")});
        QCOMPARE(backups.size(), 1);
        QFile backup(QFileInfo(path()).dir().filePath(backups.first()));
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QCOMPARE(backup.readAll(), QByteArray("{ \"broken\": "));
        QVERIFY(d.lastError().isEmpty());
        QCOMPARE(Defaults(path()).integer(QStringLiteral("fresh")), std::optional<qint64>(1));
    }

    // A batch of changes is written once, when it ends; a write the disk refuses undoes the whole
    // batch and says so, like a single refused change.
    void batchIsWrittenOnceOrUndone_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("written") << false;
        QTest::newRow("refused") << true;
    }
    void batchIsWrittenOnceOrUndone()
    {
        QFETCH(bool, refused);
        Defaults d(path());
        QVERIFY(d.set(QStringLiteral("kept"), 1));
        QVERIFY(d.set(QStringLiteral("gone"), 1));
        QSignalSpy changed(&d, &Defaults::valueChanged);
        {
            const Defaults::Batch batch(d);
            QVERIFY(d.set(QStringLiteral("kept"), 2));
            QVERIFY(d.remove(QStringLiteral("gone")));
            QVERIFY(d.set(QStringLiteral("new"), 3));
            QCOMPARE(Defaults(path()).integer(QStringLiteral("kept")), std::optional<qint64>(1));
            if (refused) {
                QVERIFY(QFile::remove(path()));
                QVERIFY(QDir().mkpath(path()));
            }
        }
        const qint64 expected = refused ? 1 : 2;
        QCOMPARE(d.integer(QStringLiteral("kept")), std::optional(expected));
        QCOMPARE(d.contains(QStringLiteral("gone")), refused);
        QCOMPARE(d.contains(QStringLiteral("new")), !refused);
        QCOMPARE(d.lastError().isEmpty(), !refused);
        QCOMPARE(changed.size(), refused ? 6 : 3);
        if (!refused)
            QCOMPARE(Defaults(path()).integer(QStringLiteral("new")), std::optional<qint64>(3));
    }

    // A background batch keeps its changes whatever the disk does: a refused write is reported
    // (and shows in lastError) and the next write, even one with no change of its own, retries.
    void backgroundBatchKeepsItsChangesAndRetries_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("written") << false;
        QTest::newRow("refused") << true;
    }
    void backgroundBatchKeepsItsChangesAndRetries()
    {
        QFETCH(bool, refused);
        SaveFiles files;
        files.refusingInBackground = refused;
        Defaults d(path());
        d.setSaveFiles(files.factory());
        QVERIFY(d.set(QStringLiteral("kept"), 1));
        QSignalSpy failed(&d, &Defaults::writeFailed);
        {
            const Defaults::Batch batch(d, Defaults::Writing::inBackground);
            QVERIFY(d.set(QStringLiteral("kept"), 2));
            QVERIFY(d.set(QStringLiteral("new"), 3));
        }
        d.waitForWrites();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(d.integer(QStringLiteral("kept")), std::optional<qint64>(2));
        QCOMPARE(d.integer(QStringLiteral("new")), std::optional<qint64>(3));
        QCOMPARE(failed.size(), refused ? 1 : 0);
        QCOMPARE(d.lastError().isEmpty(), !refused);
        QCOMPARE(Defaults(path()).integer(QStringLiteral("kept")), std::optional<qint64>(refused ? 1 : 2));

        files.refusingInBackground = false;
        {
            const Defaults::Batch retry(d, Defaults::Writing::inBackground);
        }
        d.waitForWrites();
        QCoreApplication::sendPostedEvents();
        QVERIFY(d.lastError().isEmpty());
        const Defaults reread(path());
        QCOMPARE(reread.integer(QStringLiteral("kept")), std::optional<qint64>(2));
        QCOMPARE(reread.integer(QStringLiteral("new")), std::optional<qint64>(3));
    }

    // A change written at once while a background write of the file is still on its way lands
    // after it, never under it; the older write's outcome no longer counts.
    void laterChangeIsNeverOvertaken_data()
    {
        QTest::addColumn<bool>("backgroundRefused");
        QTest::newRow("background write lands") << false;
        QTest::newRow("background write refused") << true;
    }
    void laterChangeIsNeverOvertaken()
    {
        QFETCH(bool, backgroundRefused);
        SaveFiles files;
        files.holding = true;
        files.refusingInBackground = backgroundRefused;
        Defaults d(path());
        d.setSaveFiles(files.factory());
        QSignalSpy failed(&d, &Defaults::writeFailed);
        {
            const Defaults::Batch batch(d, Defaults::Writing::inBackground);
            QVERIFY(d.set(QStringLiteral("synced"), 1));
        }
        QVERIFY(files.entered.tryAcquire(1, 30000));
        files.holding = false;
        files.proceed.release();
        QVERIFY(d.set(QStringLiteral("edited"), 2));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(failed.size(), 0);
        QVERIFY(d.lastError().isEmpty());
        const Defaults reread(path());
        QCOMPARE(reread.integer(QStringLiteral("synced")), std::optional<qint64>(1));
        QCOMPARE(reread.integer(QStringLiteral("edited")), std::optional<qint64>(2));
    }
};

QTEST_GUILESS_MAIN(TestDefaults)
#include "tst_defaults.moc"
