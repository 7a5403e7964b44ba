#include "TestEnvironment.h"
#include "platform/FileSafety.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool writePlain(const QString& path, const QByteArray& bytes, int ageSeconds)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() &&
           file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
}

} // namespace

// Temporaries of atomic saves that a killed save left behind.
class TestFileSafety : public QObject {
    Q_OBJECT

private slots:
    void staleTemporariesGo_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("removed");
        QTest::newRow("left by a killed save") << "state.json.aB3xY9" << 3600 << true;
        QTest::newRow("being written right now") << "state.json.aB3xY9" << 0 << false;
        QTest::newRow("of a file that is not ours") << "photo.json.aB3xY9" << 3600 << false;
        QTest::newRow("a kept-aside copy") << "state.unreadable-1765100000.json" << 3600 << false;
        QTest::newRow("digits only") << "state.json.123456" << 3600 << true;
        QTest::newRow("seven after the dot") << "state.json.aB3xY9Z" << 3600 << false;
        QTest::newRow("a sign among the six") << "state.json.aB3-Y9" << 3600 << false;
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
