#include "linux/InstalledPrograms.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// PATH and the data folders point into the test's own folder while it runs.
class Environment {
public:
    Environment(const QTemporaryDir& root)
        : m_path(qgetenv("PATH")), m_dataHome(qgetenv("XDG_DATA_HOME")), m_dataDirs(qgetenv("XDG_DATA_DIRS"))
    {
        qputenv(
            "PATH",
            (root.filePath(QStringLiteral("bin")) + u':' + root.filePath(QStringLiteral("later/bin"))).toLocal8Bit());
        qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_DATA_DIRS", root.filePath(QStringLiteral("dirs")).toLocal8Bit());
    }
    ~Environment()
    {
        qputenv("PATH", m_path);
        qputenv("XDG_DATA_HOME", m_dataHome);
        qputenv("XDG_DATA_DIRS", m_dataDirs);
    }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

private:
    QByteArray m_path, m_dataHome, m_dataDirs;
};

bool writeFile(const QString& path, bool executable)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write("#!/bin/sh\n") < 0)
        return false;
    f.close();
    return !executable || f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

} // namespace

class TestInstalledPrograms : public QObject {
    Q_OBJECT
private slots:
    // What changes in PATH or an application folder is heard of; asking again while nothing
    // changed looks nothing up.
    void answerFollowsTheFolders_data()
    {
        QTest::addColumn<QString>("before"); // a file there at the first question, or none
        QTest::addColumn<QString>("change"); // "+path" made executable, "+path" made, "-path" removed
        QTest::addColumn<bool>("installedBefore");
        QTest::addColumn<bool>("installedAfter");

        QTest::newRow("program put on PATH") << ""
                                             << "+x bin/chromium" << false << true;
        QTest::newRow("program removed from PATH") << "x bin/chromium"
                                                   << "- bin/chromium" << true << false;
        QTest::newRow("desktop file added") << ""
                                            << "+ data/applications/chromium.desktop" << false << true;
        QTest::newRow("desktop file in a folder made later") << ""
                                                             << "+ dirs/applications/chromium.desktop" << false << true;
        QTest::newRow("PATH folder made later") << ""
                                                << "+x later/bin/chromium" << false << true;
        QTest::newRow("another program installed") << "x bin/chromium"
                                                   << "+x bin/vivaldi" << true << true;
        QTest::newRow("file that may not be run") << ""
                                                  << "+ bin/chromium" << false << false;
    }

    void answerFollowsTheFolders()
    {
        QFETCH(QString, before);
        QFETCH(QString, change);
        QFETCH(bool, installedBefore);
        QFETCH(bool, installedAfter);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("bin"))));
        QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("data"))));
        if (!before.isEmpty())
            QVERIFY(writeFile(root.filePath(before.section(u' ', 1)), before.startsWith(u'x')));
        const Environment environment(root);
        const QStringList chromium{QStringLiteral("chromium"), QStringLiteral("chromium-browser")};

        InstalledPrograms programs;
        QCOMPARE(programs.anyInstalled(chromium, 0), installedBefore);
        QCOMPARE(programs.lookups(), 1);
        // Nothing changed, however long: the answer stands.
        QCOMPARE(programs.anyInstalled(chromium, 3600 * 1000), installedBefore);
        QCOMPARE(programs.lookups(), 1);

        const QString path = root.filePath(change.section(u' ', 1));
        if (change.startsWith(u'-'))
            QVERIFY(QFile::remove(path));
        else
            QVERIFY(writeFile(path, change.startsWith(QLatin1String("+x"))));
        QTRY_VERIFY_WITH_TIMEOUT(programs.anyInstalled(chromium, 0) == installedAfter && programs.lookups() > 1, 30000);
        const int lookups = programs.lookups();
        QCOMPARE(programs.anyInstalled(chromium, 0), installedAfter);
        QCOMPARE(programs.lookups(), lookups);
    }

    // Each set of names has its own answer: a change of one is no answer for another.
    void answersPerProgram_data()
    {
        QTest::addColumn<QStringList>("onPath");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QList<bool>>("answers");
        QTest::newRow("none there") << QStringList() << QStringList{"chromium", "brave"} << QList<bool>{false, false};
        QTest::newRow("one of two") << QStringList{"brave"} << QStringList{"chromium", "brave"}
                                    << QList<bool>{false, true};
        QTest::newRow("second name of one")
            << QStringList{"chromium-browser"} << QStringList{"chromium\nchromium-browser", "chromium"}
            << QList<bool>{true, false};
    }

    void answersPerProgram()
    {
        QFETCH(QStringList, onPath);
        QFETCH(QStringList, asked);
        QFETCH(QList<bool>, answers);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        for (const QString& name : onPath)
            QVERIFY(writeFile(root.filePath(QStringLiteral("bin/") + name), true));
        const Environment environment(root);
        InstalledPrograms programs;
        for (int round = 0; round < 2; ++round)
            for (qsizetype i = 0; i < asked.size(); ++i)
                QCOMPARE(programs.anyInstalled(asked.at(i).split(u'\n'), 0), answers.at(i));
        QCOMPARE(programs.lookups(), asked.size());
    }
};

QTEST_GUILESS_MAIN(TestInstalledPrograms)
#include "tst_installed_programs.moc"
