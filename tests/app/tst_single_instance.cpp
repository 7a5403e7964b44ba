#include "linux/SingleInstance.h"
#include "router/AppRouter.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// A later start of the real program with the same data folder hands its links to the running
// copy and ends without touching anything of that copy's.
class TestSingleInstance : public QObject {
    Q_OBJECT

    static QProcessEnvironment environment(const QString& data, const QString& runtime)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), data);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        return env;
    }

    static QStringList listing(const QString& folder)
    {
        QStringList entries;
        for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            entries.append(info.fileName() + QLatin1Char(' ') + QString::number(info.size()) + QLatin1Char(' ') +
                           QString::number(info.lastModified().toMSecsSinceEpoch()));
        return entries;
    }

private slots:
    void laterStartForwards_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("forwarded");
        QTest::addColumn<AppRouter::Destination>("destination");
        QTest::newRow("link") << QStringList{"quillharbour://settings"} << QStringList{"quillharbour://settings"}
                              << AppRouter::Destination::settings;
        QTest::newRow("plain start means reopen") << QStringList() << QStringList() << AppRouter::Destination::todos;
        QTest::newRow("other arguments are not passed on")
            << QStringList{"--login-item", "https://example.com"} << QStringList() << AppRouter::Destination::todos;
    }
    void laterStartForwards()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, forwarded);
        QFETCH(AppRouter::Destination, destination);
        QTemporaryDir folder;
        const QString data = folder.filePath(QStringLiteral("data"));
        const QString runtime = folder.filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(data) && QDir().mkpath(runtime));
        QFile state(QDir(data).filePath(QStringLiteral("state.json")));
        QVERIFY(state.open(QIODevice::WriteOnly) && state.write("{\"dayId\":20261207}") > 0);
        state.close();
        const QStringList before = listing(data);

        // This test is the running copy.
        SingleInstance running(data, runtime);
        QCOMPARE(running.claim({}, QStringLiteral("/running/quillharbour")).role, SingleInstance::Role::primary);
        AppRouter router;
        QSignalSpy received(&running, &SingleInstance::messageReceived);
        connect(&running, &SingleInstance::messageReceived, &router, [&router](const QStringList& links) {
            for (const QString& link : links)
                router.handle(link);
        });

        QProcess later;
        later.setProcessEnvironment(environment(data, runtime));
        later.start(QStringLiteral(QUILLHARBOUR_BINARY), arguments);
        // The running copy answers from its event loop, so keep it turning while the later one ends.
        QTRY_VERIFY_WITH_TIMEOUT(later.state() == QProcess::NotRunning, 10000);
        QCOMPARE(received.size(), 1);
        QCOMPARE(later.exitStatus(), QProcess::NormalExit);
        QCOMPARE(later.exitCode(), 0);
        QCOMPARE(received.first().first().toStringList(), forwarded);
        QCOMPARE(router.destination(), destination);
        QVERIFY(!later.readAllStandardOutput().contains("block page"));
        QCOMPARE(listing(data), before);
    }

    // Two copies of the program itself: the second ends at once and the first keeps running.
    void secondProgramEndsFirstRuns()
    {
        QTemporaryDir folder;
        const QString data = folder.filePath(QStringLiteral("data"));
        const QString runtime = folder.filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(runtime));
        QProcess first;
        first.setProcessEnvironment(environment(data, runtime));
        first.start(QStringLiteral(QUILLHARBOUR_BINARY));
        QVERIFY(first.waitForReadyRead(10000));
        QVERIFY(first.readAllStandardOutput().contains("block page"));
        QProcess second;
        second.setProcessEnvironment(environment(data, runtime));
        second.start(QStringLiteral(QUILLHARBOUR_BINARY), {QStringLiteral("quillharbour://open")});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(QFileInfo::exists(QDir(data).filePath(QStringLiteral("state.json"))));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
