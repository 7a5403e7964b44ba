#include "linux/SingleInstance.h"
#include "router/AppRouter.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

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

    // A runtime folder as the session makes it: the user's own, closed to others.
    static bool makePrivate(const QString& path)
    {
        return QDir().mkpath(path) &&
               QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
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
        QTest::addColumn<bool>("leftBehind");
        QTest::addColumn<QString>("runtimeName");
        QTest::newRow("link") << QStringList{"quillharbour://settings"} << QStringList{"quillharbour://settings"}
                              << AppRouter::Destination::settings << false << "run";
        // The socket's path is past the 107 bytes an address holds.
        QTest::newRow("runtime folder with a long path")
            << QStringList{"quillharbour://settings"} << QStringList{"quillharbour://settings"}
            << AppRouter::Destination::settings << false << QString(110, u'r');
        QTest::newRow("plain start means reopen")
            << QStringList() << QStringList() << AppRouter::Destination::todos << false << "run";
        QTest::newRow("other arguments are not passed on")
            << QStringList{"--login-item", "https://example.com"} << QStringList() << AppRouter::Destination::todos
            << false << "run";
        // Together over the message limit: what fits goes, the rest is named on the error output.
        const QString longLink = QStringLiteral("quillharbour://settings?pad=") + QString(7000, u'x');
        QTest::newRow("links over the limit")
            << QStringList{longLink, longLink, longLink} << QStringList{longLink, longLink}
            << AppRouter::Destination::settings << true << "run";
    }
    void laterStartForwards()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, forwarded);
        QFETCH(AppRouter::Destination, destination);
        QFETCH(bool, leftBehind);
        QFETCH(QString, runtimeName);
        QTemporaryDir folder;
        const QString data = folder.filePath(QStringLiteral("data"));
        const QString runtime = folder.filePath(runtimeName);
        QVERIFY(QDir().mkpath(data) && makePrivate(runtime));
        QFile state(QDir(data).filePath(QStringLiteral("state.json")));
        QVERIFY(state.open(QIODevice::WriteOnly) && state.write("{\"dayId\":20261207}") > 0);
        state.close();
        const QStringList before = listing(data);

        // This test is the running copy.
        SingleInstance running(data, runtime);
        const SingleInstance::Claim claim = running.claim({}, QStringLiteral("/running/quillharbour"));
        QCOMPARE(claim.role, SingleInstance::Role::primary);
        QCOMPARE(claim.error, QString());
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
        // Links left behind are named on the error output.
        QCOMPARE(!later.readAllStandardError().isEmpty(), leftBehind);
        QCOMPARE(router.destination(), destination);
        QVERIFY(!later.readAllStandardOutput().contains("block page"));
        QCOMPARE(listing(data), before);
    }

    // Without a runtime folder of the user's own, lock and socket go to a folder made private in
    // the user's cache folder; one that is not private is refused, never used.
    void privateFolder_data()
    {
        QTest::addColumn<QString>("runtimeMode"); // "", "0700" or "0755"
        QTest::addColumn<QString>("existing");    // what already stands where the fallback goes
        QTest::addColumn<QString>("expected");    // "runtime", "fallback" or "" (refused)
        QTest::newRow("runtime folder private") << "0700"
                                                << ""
                                                << "runtime";
        QTest::newRow("runtime folder open to others") << "0755"
                                                       << ""
                                                       << "fallback";
        QTest::newRow("no runtime folder") << ""
                                           << ""
                                           << "fallback";
        QTest::newRow("fallback already private") << ""
                                                  << "0700"
                                                  << "fallback";
        QTest::newRow("fallback open to others") << ""
                                                 << "0755"
                                                 << "";
        QTest::newRow("fallback a link to a private folder") << ""
                                                             << "link"
                                                             << "";
        QTest::newRow("fallback owned by another user") << ""
                                                        << "other"
                                                        << "";
    }
    void privateFolder()
    {
        QFETCH(QString, runtimeMode);
        QFETCH(QString, existing);
        QFETCH(QString, expected);
        if (existing == QLatin1String("other") && ::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        QTemporaryDir folder;
        const QString runtime = folder.filePath(QStringLiteral("run"));
        const QString cache = folder.filePath(QStringLiteral("cache"));
        const QString fallback = cache + QStringLiteral("/quillharbour-run");
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_RUNTIME_DIR", savedRuntime);
            qputenv("XDG_CACHE_HOME", savedCache);
        });
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        if (runtimeMode.isEmpty()) {
            qunsetenv("XDG_RUNTIME_DIR");
        } else {
            QVERIFY(QDir().mkpath(runtime));
            QVERIFY(::chmod(QFile::encodeName(runtime).constData(), runtimeMode.toUInt(nullptr, 8)) == 0);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        }
        QVERIFY(QDir().mkpath(cache));
        if (existing == QLatin1String("link")) {
            QVERIFY(makePrivate(folder.filePath(QStringLiteral("elsewhere"))));
            QVERIFY(QFile::link(folder.filePath(QStringLiteral("elsewhere")), fallback));
        } else if (!existing.isEmpty()) {
            QVERIFY(QDir().mkpath(fallback));
            QVERIFY(::chmod(QFile::encodeName(fallback).constData(),
                            existing == QLatin1String("other") ? 0700 : existing.toUInt(nullptr, 8)) == 0);
            if (existing == QLatin1String("other"))
                QVERIFY(::chown(QFile::encodeName(fallback).constData(), 65534, 65534) == 0);
        }

        QString error;
        const std::optional<QString> chosen = SingleInstance::privateFolder(&error);
        if (expected.isEmpty()) {
            QVERIFY(!chosen);
            QVERIFY2(error.contains(fallback), qPrintable(error));
            return;
        }
        QCOMPARE(chosen, std::optional(expected == QLatin1String("runtime") ? runtime : fallback));
        QVERIFY(SingleInstance::isPrivateFolder(*chosen));
    }

    // A lock and a socket another local user planted in the shared temporary folder, under the
    // names an earlier version used there, neither stop the program nor receive its links.
    void plantedLockAndSocketAreIgnored()
    {
        QTemporaryDir folder;
        const QString data = folder.filePath(QStringLiteral("data"));
        const QString shared = folder.filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(shared));
        SingleInstance planted(data, shared);
        QCOMPARE(planted.claim({}, QStringLiteral("/planted/quillharbour")).role, SingleInstance::Role::primary);
        QSignalSpy heard(&planted, &SingleInstance::messageReceived);

        QProcessEnvironment env = environment(data, QString());
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), shared);
        env.insert(QStringLiteral("XDG_CACHE_HOME"), folder.filePath(QStringLiteral("cache")));
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(QUILLHARBOUR_BINARY), {QStringLiteral("quillharbour://settings")});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += app.readAllStandardOutput()).contains("block page") || app.state() == QProcess::NotRunning, 30000);
        QVERIFY2(app.state() == QProcess::Running, app.readAllStandardError().constData());
        QCOMPARE(heard.size(), 0);
        QVERIFY(SingleInstance::isPrivateFolder(folder.filePath(QStringLiteral("cache/quillharbour-run"))));
        app.terminate();
        QVERIFY(app.waitForFinished(30000));
    }

    // The lock is the running copy's for as long as it runs, and no longer: neither a copy that
    // was killed nor a lock file that merely names a live process keeps a new start from running.
    void lockGoesWithItsHolder_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("no copy ran before") << QString();
        QTest::newRow("a copy killed without tidying up") << QStringLiteral("killed");
        QTest::newRow("a lock file naming a live process") << QStringLiteral("named");
        QTest::newRow("a copy that is still running") << QStringLiteral("running");
    }
    void lockGoesWithItsHolder()
    {
        QFETCH(QString, before);
        QTemporaryDir folder;
        const QString data = folder.filePath(QStringLiteral("data"));
        const QString runtime = folder.filePath(QStringLiteral("run"));
        QVERIFY(makePrivate(runtime));
        QProcess first;
        if (before == QLatin1String("killed") || before == QLatin1String("running")) {
            first.setProcessEnvironment(environment(data, runtime));
            first.start(QStringLiteral(QUILLHARBOUR_BINARY));
            QByteArray out;
            QTRY_VERIFY_WITH_TIMEOUT((out += first.readAllStandardOutput()).contains("block page"), 30000);
            if (before == QLatin1String("killed")) {
                first.kill();
                QVERIFY(first.waitForFinished(30000));
            }
        } else if (before == QLatin1String("named")) {
            // What an owner-naming lock file holds: this very process's id, name and machine.
            QFile lock(SingleInstance(data, runtime).socketPath() + QStringLiteral(".lock"));
            QVERIFY(lock.open(QIODevice::WriteOnly) &&
                    lock.write(QByteArray::number(QCoreApplication::applicationPid()) + "\ntst_single_instance\n") > 0);
        }
        SingleInstance later(data, runtime);
        const SingleInstance::Claim claim = later.claim({}, QStringLiteral("/later/quillharbour"), 30000);
        QCOMPARE(claim.role,
                 before == QLatin1String("running") ? SingleInstance::Role::forwarded : SingleInstance::Role::primary);
        if (first.state() != QProcess::NotRunning) {
            first.terminate();
            QVERIFY(first.waitForFinished(30000));
        }
    }

    // Two copies of the program itself: the second ends at once and the first keeps running.
    void secondProgramEndsFirstRuns()
    {
        QTemporaryDir folder;
        const QString data = folder.filePath(QStringLiteral("data"));
        const QString runtime = folder.filePath(QStringLiteral("run"));
        QVERIFY(makePrivate(runtime));
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
