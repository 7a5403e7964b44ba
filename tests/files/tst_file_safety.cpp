#include "TestEnvironment.h"
#include "files/FileSafety.h"

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

// Temporaries of atomic saves that a killed save left behind, and the data files an older
// version left readable by everyone.
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

    void ownFilesMadePrivate_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("tightened");
        QTest::newRow("a data file") << "todos.json" << true;
        QTest::newRow("the other data file") << "state.json" << true;
        QTest::newRow("its backup") << "todos.unreadable-1765100000.json" << true;
        QTest::newRow("named in capitals") << "TODOS.JSON" << true;
        QTest::newRow("a file that is not ours") << "photo.json" << false;
        QTest::newRow("ours in its name only") << "my-todos.json" << false;
        QTest::newRow("a backup of another file") << "photo.unreadable-1765100000.json" << false;
        QTest::newRow("a temporary of a save") << "todos.json.aB3xY9" << false;
    }
    void ownFilesMadePrivate()
    {
        QFETCH(QString, name);
        QFETCH(bool, tightened);
        QTemporaryDir folder;
        using P = QFileDevice;
        const P::Permissions others = P::ReadGroup | P::ReadOther;
        const auto othersMay = [](const QString& path) {
            return QFileInfo(path).permissions() &
                   (P::ReadGroup | P::WriteGroup | P::ExeGroup | P::ReadOther | P::WriteOther | P::ExeOther);
        };
        QVERIFY(writePlain(folder.filePath(name), "{}", 0));
        QVERIFY(QFile::setPermissions(folder.filePath(name), P::ReadOwner | P::WriteOwner | others));
        QVERIFY(QFile::setPermissions(folder.path(),
                                      P::ReadOwner | P::WriteOwner | P::ExeOwner | others | P::ExeGroup | P::ExeOther));
        FileSafety::keepPrivate(folder.path(), {QStringLiteral("todos.json"), QStringLiteral("state.json")});
        QCOMPARE(othersMay(folder.filePath(name)), tightened ? P::Permissions() : others);
        QVERIFY(QFileInfo(folder.filePath(name)).isWritable());
        // The folder goes private whatever it holds.
        QCOMPARE(othersMay(folder.path()), P::Permissions());
    }
};

QTEST_GUILESS_MAIN(TestFileSafety)
#include "tst_file_safety.moc"
