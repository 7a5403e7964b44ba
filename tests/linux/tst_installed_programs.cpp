#include "linux/InstalledPrograms.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestInstalledPrograms : public QObject {
    Q_OBJECT

    static bool write(const QString& path, bool executable)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write("#!/bin/sh\n") > 0 &&
               (!executable || f.setPermissions(f.permissions() | QFileDevice::ExeOwner));
    }

private slots:
    // What changes in PATH or an application folder, even one made later, is seen at the first
    // question a minute after the last look; questions within the minute look nothing up.
    void answerFollowsTheFolders_data()
    {
        QTest::addColumn<QString>("before"); // "x path" executable, "path" plain, or nothing
        QTest::addColumn<QString>("change"); // the same, or "- path" removed
        QTest::addColumn<bool>("installedBefore");
        QTest::addColumn<bool>("installedAfter");
        QTest::newRow("put on PATH") << ""
                                     << "x bin/chromium" << false << true;
        QTest::newRow("removed from PATH") << "x bin/chromium"
                                           << "- bin/chromium" << true << false;
        QTest::newRow("desktop file added") << ""
                                            << " data/applications/chromium.desktop" << false << true;
        QTest::newRow("application folder made") << ""
                                                 << " dirs/applications/chromium.desktop" << false << true;
        QTest::newRow("PATH folder made") << ""
                                          << "x later/bin/chromium-browser" << false << true;
        QTest::newRow("another program") << "x bin/chromium"
                                         << "x bin/vivaldi" << true << true;
        QTest::newRow("may not be run") << ""
                                        << " bin/chromium" << false << false;
    }

    void answerFollowsTheFolders()
    {
        QFETCH(QString, before);
        QFETCH(QString, change);
        QFETCH(bool, installedBefore);
        QFETCH(bool, installedAfter);
        QTemporaryDir root;
        QVERIFY(root.isValid() && QDir().mkpath(root.filePath(QStringLiteral("bin"))));
        if (!before.isEmpty())
            QVERIFY(write(root.filePath(before.section(u' ', 1)), before.startsWith(u'x')));
        // This program's own environment: only what the test made is installed.
        qputenv(
            "PATH",
            (root.filePath(QStringLiteral("bin")) + u':' + root.filePath(QStringLiteral("later/bin"))).toLocal8Bit());
        qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_DATA_DIRS", root.filePath(QStringLiteral("dirs")).toLocal8Bit());
        const QStringList chromium{QStringLiteral("chromium"), QStringLiteral("chromium-browser")};

        InstalledPrograms programs;
        const qint64 minute = InstalledPrograms::answerMs;
        QCOMPARE(programs.anyInstalled(chromium, 0), installedBefore);
        QCOMPARE(programs.anyInstalled(chromium, minute - 1), installedBefore);
        QCOMPARE(programs.anyInstalled({QStringLiteral("vivaldi")}, 0), false);
        QCOMPARE(programs.lookups(), 2);

        const QString path = root.filePath(change.section(u' ', 1));
        QVERIFY(change.startsWith(u'-') ? QFile::remove(path) : write(path, change.startsWith(u'x')));
        QCOMPARE(programs.anyInstalled(chromium, minute - 1), installedBefore);
        QCOMPARE(programs.lookups(), 2);
        QCOMPARE(programs.anyInstalled(chromium, minute), installedAfter);
        QCOMPARE(programs.lookups(), 3);
        QCOMPARE(programs.anyInstalled(chromium, 2 * minute - 1), installedAfter);
        QCOMPARE(programs.lookups(), 3);
    }
};

QTEST_GUILESS_MAIN(TestInstalledPrograms)
#include "tst_installed_programs.moc"
