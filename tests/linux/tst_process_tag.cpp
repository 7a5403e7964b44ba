#include "ProcessTag.h"
#include "TestEnvironment.h"

#include <QTemporaryDir>
#include <QtTest>

// A program is stopped with all it started, down to a helper that left its process group and
// was handed to init, and that helper is waited for before anything goes on.
class TestProcessTag : public QObject {
    Q_OBJECT

    // Starts `script` with a tag; the script itself ends at once or runs on.
    static QByteArray start(QProcess& process, const QString& script)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QByteArray tag = ProcessTag::apply(env);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
        return tag;
    }

private slots:
    // The helper writes into the folder after its program has ended, as Chromium's zygote does.
    void waitsForWhatOutlivesTheProgram()
    {
        QTemporaryDir folder;
        const QString late = folder.filePath(QStringLiteral("late"));
        QProcess program;
        const QByteArray tag =
            start(program, QStringLiteral("(setsid sh -c 'sleep 1; mkdir \"%1\"' &); exit 0").arg(late));
        QVERIFY(program.waitForFinished(30000));
        QVERIFY(!ProcessTag::carrying(tag).isEmpty());
        QVERIFY(ProcessTag::stop(program, tag, 30000));
        QVERIFY(QFileInfo::exists(late));
        QVERIFY(ProcessTag::carrying(tag).isEmpty());
    }

    // A helper that does not end when asked is killed once the patience is spent.
    void killsWhatDoesNotEnd()
    {
        QProcess program;
        const QByteArray tag = start(program, QStringLiteral("(setsid sleep 600 &); exec sleep 600"));
        QVERIFY(program.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTag::carrying(tag).size() == 2, 30000);
        QVERIFY(ProcessTag::stop(program, tag, 500));
        QVERIFY(ProcessTag::carrying(tag).isEmpty());
    }

    // Processes of other tags, this test's own among them, are left alone.
    void othersAreLeftAlone()
    {
        QProcess mine, other;
        const QByteArray tag = start(mine, QStringLiteral("exit 0"));
        const QByteArray otherTag = start(other, QStringLiteral("exec sleep 600"));
        QVERIFY(other.waitForStarted(30000));
        QTRY_COMPARE_WITH_TIMEOUT(ProcessTag::carrying(otherTag).size(), 1, 30000);
        QVERIFY(ProcessTag::stop(mine, tag, 500));
        QCOMPARE(other.state(), QProcess::Running);
        QVERIFY(ProcessTag::stop(other, otherTag, 30000));
        QCOMPARE(other.exitStatus(), QProcess::CrashExit);
    }
};

QTEST_GUILESS_MAIN(TestProcessTag)
#include "tst_process_tag.moc"
