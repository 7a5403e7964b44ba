#include "ProcessTag.h"
#include "TestEnvironment.h"

#include <QTemporaryDir>
#include <QtTest>

// A program is stopped with all it started, down to a helper that left its process group for
// init: waited for while it ends by itself, killed once the patience is spent. Processes of
// other tags are left alone.
class TestProcessTag : public QObject {
    Q_OBJECT

    static QByteArray start(QProcess& process, const QString& script, const QString& late = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LATE"), late);
        const QByteArray tag = ProcessTag::apply(env);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
        return tag;
    }

private slots:
    void stopsAllItStarted_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("running"); // at least, of the tag, once the script is under way
        QTest::addColumn<int>("patienceMs");
        QTest::addColumn<bool>("wroteLate");
        // It writes into the folder after its program has ended, as Chromium's zygote does.
        QTest::newRow("a helper outlives the program")
            << QStringLiteral("(setsid sh -c 'sleep 1; mkdir \"$LATE\"' &); exit 0") << 1 << 30000 << true;
        QTest::newRow("a helper that does not end")
            << QStringLiteral("(setsid sleep 601 &); exec sleep 600") << 2 << 500 << false;
    }
    void stopsAllItStarted()
    {
        QFETCH(QString, script);
        QFETCH(int, running);
        QFETCH(int, patienceMs);
        QFETCH(bool, wroteLate);
        QTemporaryDir folder;
        const QString late = folder.filePath(QStringLiteral("late"));
        QProcess other, program;
        const QByteArray otherTag = start(other, QStringLiteral("exec sleep 599"));
        const QByteArray tag = start(program, script, late);
        QVERIFY(other.waitForStarted(30000));
        QTRY_COMPARE_WITH_TIMEOUT(ProcessTag::carrying(otherTag).size(), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTag::carrying(tag).size() >= running, 30000);
        QVERIFY(ProcessTag::stop(program, tag, patienceMs));
        QVERIFY(ProcessTag::carrying(tag).isEmpty());
        QCOMPARE(QFileInfo::exists(late), wroteLate);
        QCOMPARE(other.state(), QProcess::Running);
        QVERIFY(ProcessTag::stop(other, otherTag, 30000));
    }
};

QTEST_GUILESS_MAIN(TestProcessTag)
#include "tst_process_tag.moc"
