#include "StoreFixture.h"
#include "TestEnvironment.h"
#include "platform/FileSafety.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

bool writePlain(const QString& path, const QByteArray& bytes, int ageSeconds = 0)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() &&
           file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
}

} // namespace

// A save that did not put every byte on the disk fails, and the file keeps its old bytes.
class TestFileSafety : public QObject {
    Q_OBJECT

private slots:
    void failedSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<bool>("losing");
        QTest::newRow("write refused") << false;
        QTest::newRow("bytes lost on the way to the disk") << true; // what QSaveFile's commit() misses
    }
    void failedSaveKeepsTheOldFile()
    {
        QFETCH(bool, losing);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("rules.json"));
        QVERIFY(writePlain(path, "[old]"));
        QString error;
        QVERIFY(!FileSafety::writeAtomically(path, "[new]", &error, [losing](const QString& p) {
            return losing ? std::unique_ptr<QSaveFile>(new LosingSaveFile(p)) : std::make_unique<RefusingSaveFile>(p);
        }));
        QVERIFY(!error.isEmpty() && error != QLatin1String("Unknown error"));
        QCOMPARE(readAll(path), QByteArray("[old]"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("rules.json")});
    }

    void staleTemporariesGo_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("removed");
        QTest::newRow("left by a killed save") << "state.json.aB3xY9" << 3600 << true;
        QTest::newRow("being written right now") << "state.json.aB3xY9" << 0 << false;
        QTest::newRow("of a file that is not ours") << "photo.json.aB3xY9" << 3600 << false;
        QTest::newRow("a kept-aside copy") << "state.unreadable-1765100000.json" << 3600 << false;
    }
    void staleTemporariesGo()
    {
        QFETCH(QString, name);
        QFETCH(int, ageSeconds);
        QFETCH(bool, removed);
        QTemporaryDir folder;
        QVERIFY(writePlain(folder.filePath(name), "{}", ageSeconds));
        QCOMPARE(FileSafety::removeStaleTemporaries(folder.path(), {QStringLiteral("state.json")}), int(removed));
        QCOMPARE(QFileInfo::exists(folder.filePath(name)), !removed);
    }
};

QTEST_GUILESS_MAIN(TestFileSafety)
#include "tst_file_safety.moc"
