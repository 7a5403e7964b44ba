#include "ProcessTag.h"
#include "TestEnvironment.h"

#include <QTemporaryDir>
#include <QtTest>

class TestProcessTag : public QObject {
    Q_OBJECT

    static QByteArray start(QProcess& process, const QString& script)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QByteArray tag = ProcessTag::apply(env);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
        return tag;
    }

private slots:
    // A program is stopped with all it started, down to helpers that left its process group for
    // init: one that writes into the folder after the program ended (as Chromium's zygote does) is
    // waited for, one that does not end is killed once the patience is spent. Another tag's
    // process is left alone.
    void stopsAllItStarted()
    {
        QTemporaryDir folder;
        const QString late = folder.filePath(QStringLiteral("late"));
        QProcess other, program;
        const QByteArray otherTag = start(other, QStringLiteral("exec sleep 599"));
        const QByteArray tag = start(
            program,
            QStringLiteral("(setsid sh -c 'sleep 1; mkdir %1' &); (setsid sleep 601 &); exec sleep 600").arg(late));
        QVERIFY(other.waitForStarted(30000));
        QTRY_COMPARE_WITH_TIMEOUT(ProcessTag::carrying(otherTag).size(), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(ProcessTag::carrying(tag).size() >= 3, 30000);
        QVERIFY(ProcessTag::stop(program, tag, 5000));
        QVERIFY(QFileInfo::exists(late));
        QCOMPARE(other.state(), QProcess::Running);
        QVERIFY(ProcessTag::stop(other, otherTag, 30000));
    }
};

QTEST_GUILESS_MAIN(TestProcessTag)
#include "tst_process_tag.moc"
