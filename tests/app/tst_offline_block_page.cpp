#include "blocking/BlockPage.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The program itself where every name lookup hangs (its only name server never answers), in
// namespaces of its own: the block page answers at once, sends a tab back to a public name it
// could not resolve, and keeps a tab away from a name the hosts file gives this computer.
class TestOfflineBlockPage : public QObject {
    Q_OBJECT

private slots:
    void answersWithoutWaitingForNames()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QStringList from{QStringLiteral("https://news.example/story?id=7"), QStringLiteral("http://box.example/"),
                               QStringLiteral("https://news.example/story?id=7")};
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A user namespace of its own also lets a user who is not root replace the two files.
        run.start(QStringLiteral("unshare"),
                  QStringList{QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("--mount"),
                              QStringLiteral("--net"), QStringLiteral("/bin/sh"), QStringLiteral(QH_OFFLINE_SCRIPT),
                              QStringLiteral(QUILLHARBOUR_BINARY), folder.path()} +
                      from);
        QVERIFY2(run.waitForStarted(5000), "unshare could not be started");
        if (!run.waitForFinished(100000)) {
            run.kill();
            run.waitForFinished(5000);
            QFAIL("the run did not end");
        }
        const QStringList lines = QString::fromUtf8(run.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        // Each page must come within the 20 s the client waits; a lookup would take the name
        // server's 30 s.
        QVERIFY2(lines.value(0) == QLatin1String("silent"), qPrintable(lines.join(u'\n')));
        QCOMPARE(lines.size(), 1 + 2 * from.size());
        for (qsizetype i = 0; i < from.size(); ++i) {
            const QString answered = lines.at(1 + 2 * i);
            QVERIFY2(answered.startsWith(QLatin1String("answered ")), qPrintable(answered));
            const QString page = lines.at(2 + 2 * i);
            QVERIFY2(page.startsWith(QLatin1String("HTTP/1.1 200 OK")), qPrintable(page.left(200)));
            const bool leavesThisComputer = !from[i].contains(QLatin1String("box.example"));
            QCOMPARE(page.contains(BlockPage::targetExpression(from[i])), leavesThisComputer);
        }
        QCOMPARE(run.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestOfflineBlockPage)
#include "tst_offline_block_page.moc"
