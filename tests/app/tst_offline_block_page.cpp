#include "blocking/BlockPage.h"
#include "model/BlockRule.h"
#include "model/Json.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The program itself where every name lookup hangs (its only name server never answers), in
// namespaces of its own: the block page answers at once, sends a tab whose block has ended back
// to a public name it could not resolve, and keeps a tab away from a name the hosts file gives
// this computer.
class TestOfflineBlockPage : public QObject {
    Q_OBJECT

private slots:
    void answersWithoutWaitingForNames()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());

        // A rule for the site that blocks on every day but today: its block has ended.
        BlockRule rule;
        rule.id = QUuid::createUuid();
        rule.domain = rule.displayName = QStringLiteral("news.example");
        const int today = QDate::currentDate().dayOfWeek() % 7 + 1; // 1 is Sunday
        rule.activeWeekdays.clear();
        for (int day = 1; day <= 7; ++day)
            if (day != today)
                rule.activeWeekdays.insert(day);
        QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("data"))));
        QFile rules(folder.filePath(QStringLiteral("data/rules.json")));
        QVERIFY(rules.open(QIODevice::WriteOnly));
        rules.write(QJsonDocument(QJsonArray{encodeBlockRule(rule)}).toJson());
        rules.close();
        const QString ruleId = uuidText(rule.id);
        const QStringList from{QStringLiteral("https://news.example/story?id=7"), QStringLiteral("http://box.example/"),
                               QStringLiteral("https://news.example/story?id=7")};
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A user namespace of its own also lets a user who is not root replace the two files.
        run.start(QStringLiteral("unshare"),
                  QStringList{QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("--mount"),
                              QStringLiteral("--net"), QStringLiteral("/bin/sh"), QStringLiteral(QH_OFFLINE_SCRIPT),
                              QStringLiteral(QUILLHARBOUR_BINARY), folder.path(), ruleId} +
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
        QVERIFY2(lines.size() == 1 + 2 * from.size(), qPrintable(lines.join(u'\n').left(2000)));
        for (qsizetype i = 0; i < from.size(); ++i) {
            const QString answered = lines.at(1 + 2 * i);
            QVERIFY2(answered.startsWith(QLatin1String("answered ")), qPrintable(answered));
            const QString page = lines.at(2 + 2 * i);
            QVERIFY2(page.startsWith(QLatin1String("HTTP/1.1 200 OK")), qPrintable(page.left(200)));
            const bool leavesThisComputer = !from[i].contains(QLatin1String("box.example"));
            QCOMPARE(page.contains(BlockPage::targetExpression(from[i])), leavesThisComputer);
            // …by itself: the page takes the tab there without a click.
            QCOMPARE(page.contains(QLatin1String(" window.location.replace(target); </script>")), leavesThisComputer);
        }
        QCOMPARE(run.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestOfflineBlockPage)
#include "tst_offline_block_page.moc"
