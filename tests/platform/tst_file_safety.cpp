#include "StoreFixture.h"
#include "TestEnvironment.h"
#include "TmpfsMount.h"
#include "platform/FileSafety.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

bool writePlain(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

// Atomic saves: a save that did not put every byte on the disk is a failure, and the file it was
// to replace keeps its old bytes.
class TestFileSafety : public QObject {
    Q_OBJECT

private slots:
    void failedSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("device");
        QTest::newRow("write refused") << "refusing";
        QTest::newRow("bytes lost on the way to the disk") << "losing";
    }
    void failedSaveKeepsTheOldFile()
    {
        QFETCH(QString, device);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("rules.json"));
        QVERIFY(writePlain(path, "[old]"));
        const FileSafety::SaveFileFactory factory = [&device](const QString& p) -> std::unique_ptr<QSaveFile> {
            if (device == QLatin1String("refusing"))
                return std::make_unique<RefusingSaveFile>(p);
            return std::make_unique<LosingSaveFile>(p);
        };
        QString error;
        QVERIFY(!FileSafety::writeAtomically(path, "[new, longer]", &error, factory));
        QVERIFY(!error.isEmpty());
        QVERIFY2(error != QLatin1String("Unknown error"), qPrintable(error));
        QCOMPARE(readAll(path), QByteArray("[old]"));
        QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("rules.json")}); // no temporary left

        QVERIFY(FileSafety::writeAtomically(path, "[new, longer]", &error));
        QCOMPARE(readAll(path), QByteArray("[new, longer]"));
    }

    // QSaveFile buffers small writes and forgets a failure of the buffer's flush inside
    // commit(); large ones go straight to the disk. Both must fail on a full disk.
    void fullDiskKeepsTheOldFile_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("small enough for the write buffer") << 600;
        QTest::newRow("larger than the write buffer") << 100000;
    }
    void fullDiskKeepsTheOldFile()
    {
        QFETCH(int, size);
        QTemporaryDir folder;
        TmpfsMount disk(folder.filePath(QStringLiteral("disk")), 512 * 1024);
        if (!disk.isMounted())
            QSKIP(qPrintable(QStringLiteral("a full disk needs a small tmpfs, which could not be mounted here: ") +
                             disk.error()));
        const QString path = QDir(disk.path()).filePath(QStringLiteral("state.json"));
        QVERIFY(FileSafety::writeAtomically(path, "{\"dayId\":20261207}"));
        QVERIFY(disk.fill());

        const QByteArray bytes(size, 'n');
        QString error;
        QVERIFY(!FileSafety::writeAtomically(path, bytes, &error));
        QVERIFY2(error.contains(QLatin1String("No space left on device")), qPrintable(error));
        QCOMPARE(readAll(path), QByteArray("{\"dayId\":20261207}"));
        QCOMPARE(entries(disk.path()), (QStringList{QStringLiteral(".filler"), QStringLiteral("state.json")}));

        disk.release();
        QVERIFY2(FileSafety::writeAtomically(path, bytes, &error), qPrintable(error));
        QCOMPARE(readAll(path), bytes);
    }

    void staleTemporariesGo_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("removed");
        QTest::newRow("left by a killed save") << "state.json.aB3xY9" << 3600 << true;
        QTest::newRow("being written right now") << "state.json.aB3xY9" << 0 << false;
        QTest::newRow("of a file that is not ours") << "photo.json.aB3xY9" << 3600 << false;
        QTest::newRow("not a temporary's name") << "state.json.backup1" << 3600 << false;
        QTest::newRow("the file itself") << "state.json" << 3600 << false;
        QTest::newRow("a kept-aside copy") << "state.unreadable-1765100000.json" << 3600 << false;
    }
    void staleTemporariesGo()
    {
        QFETCH(QString, name);
        QFETCH(int, ageSeconds);
        QFETCH(bool, removed);
        QTemporaryDir folder;
        const QString path = folder.filePath(name);
        QVERIFY(writePlain(path, "{}"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(
            file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-ageSeconds), QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(FileSafety::removeStaleTemporaries(folder.path(), {QStringLiteral("state.json")}), removed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(path), !removed);
    }
};

QTEST_GUILESS_MAIN(TestFileSafety)
#include "tst_file_safety.moc"
