#include "ProcessTag.h"
#include "TestEnvironment.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <vector>

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
    // process is left alone. Processes that show no environment at all (as other users' and other
    // namespaces' may) do not stall the search.
    void stopsAllItStarted_data()
    {
        QTest::addColumn<int>("withoutEnvironment");
        QTest::newRow("a quiet machine") << 0;
        QTest::newRow("many processes show no environment") << 100;
    }
    void stopsAllItStarted()
    {
        QFETCH(int, withoutEnvironment);
        std::vector<std::unique_ptr<QProcess>> blank;
        for (int i = 0; i < withoutEnvironment; ++i) {
            blank.push_back(std::make_unique<QProcess>());
            blank.back()->start(QStringLiteral("env"),
                                {QStringLiteral("-i"), QStringLiteral("sleep"), QStringLiteral("600")});
        }
        for (const auto& p : blank)
            QVERIFY(p->waitForStarted(30000));
        QTemporaryDir folder;
        const QString late = folder.filePath(QStringLiteral("late"));
        QProcess other, program;
        const QByteArray otherTag = start(other, QStringLiteral("exec sleep 599"));
        // Both helpers leave the program's process group and say so in a file once they run; the
        // late one writes once the program (its shell's number, kept across exec) has ended.
        const QString waiting = folder.filePath(QStringLiteral("waiting"));
        const QString lasting = folder.filePath(QStringLiteral("lasting"));
        const QByteArray tag = start(
            program,
            QStringLiteral("(setsid sh -c \"touch %2; while kill -0 $$ 2>/dev/null; do sleep 0.1; done; mkdir %1\" &); "
                           "(setsid sh -c 'touch %3; exec sleep 601' &); exec sleep 600")
                .arg(late, waiting, lasting));
        // Whatever fails below, nothing of either is left running.
        const auto cleanup = qScopeGuard([&] {
            ProcessTag::stop(program, tag, 1000);
            ProcessTag::stop(other, otherTag, 1000);
        });
        QVERIFY(other.waitForStarted(30000));
        QTRY_COMPARE_WITH_TIMEOUT(ProcessTag::carrying(otherTag).size(), 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(waiting) && QFileInfo::exists(lasting), 30000);
        QVERIFY(ProcessTag::carrying(tag).size() >= 3);
        QVERIFY(ProcessTag::stop(program, tag, 5000));
        QVERIFY(QFileInfo::exists(late));
        QCOMPARE(other.state(), QProcess::Running);
        QVERIFY(ProcessTag::stop(other, otherTag, 30000));
    }

    // A test program that dies (here as QtTest's watchdog ends one, by an abort) takes with it what
    // it started: a plain child, and a helper that left its process group and its parent. The
    // program's failure is passed on as it was.
    void whatADeadTestStartedEndsWithIt()
    {
        QTemporaryDir folder;
        const QString started = folder.filePath(QStringLiteral("started"));
        QProcess test;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QH_TEST_DIE_AFTER_STARTING"), started);
        const QByteArray tag = ProcessTag::apply(env);
        test.setProcessEnvironment(env);
        test.start(QCoreApplication::applicationFilePath(), {QStringLiteral("dieAfterStarting")});
        const auto cleanup = qScopeGuard([&] { ProcessTag::stop(test, tag, 1000); });
        QVERIFY(test.waitForFinished(30000));
        QVERIFY(QFileInfo::exists(started));
        QCOMPARE(test.exitStatus(), QProcess::CrashExit);
        QVERIFY2(ProcessTag::carrying(tag).isEmpty(), "processes of the dead test live on");
    }
    // The program of the case above, run only by it.
    void dieAfterStarting()
    {
        const QString started = qEnvironmentVariable("QH_TEST_DIE_AFTER_STARTING");
        if (started.isEmpty())
            return;
        auto* child = new QProcess;
        child->start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(child->waitForStarted(30000));
        QVERIFY(QProcess::execute(
                    QStringLiteral("sh"),
                    {QStringLiteral("-c"), QStringLiteral("(setsid sleep 601 &); touch '%1'").arg(started)}) == 0);
        std::abort();
    }
};

QTEST_GUILESS_MAIN(TestProcessTag)
#include "tst_process_tag.moc"
