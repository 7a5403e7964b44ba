#include "TestEnvironment.h"
#include "browsers/BrowserLauncherOffer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using TestEnvironment::readFile;

// A small shell program on the test's PATH.
void writeProgram(const QString& path, const QByteArray& text)
{
    QVERIFY(TestEnvironment::writeFile(path, text));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

const QByteArray ownLauncher = "[Desktop Entry]\nType=Application\nName=My Chromium\nExec=chromium --incognito %U\n";

} // namespace

// The browser row's offer to write a launcher with remote debugging on: where it shows, and what
// the person is told after the write, the desktop's validator and the launcher it replaces.
class TestBrowserLauncherOffer : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QByteArray m_path;
    QByteArray m_dataDirs;
    QString m_validator; // the desktop's own

private slots:
    void initTestCase()
    {
        m_path = qgetenv("PATH");
        m_dataDirs = qgetenv("XDG_DATA_DIRS");
        m_validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        // No launchers of the machine's own: the file names follow the commands.
        QDir(m_root.path()).mkpath(QStringLiteral("share"));
        qputenv("XDG_DATA_DIRS", m_root.filePath(QStringLiteral("share")).toLocal8Bit());
    }

    void cleanupTestCase()
    {
        qputenv("PATH", m_path);
        qputenv("XDG_DATA_DIRS", m_dataDirs);
    }

    void offerAndWrite_data()
    {
        QTest::addColumn<QString>("browser");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("command");   // put on PATH; empty: none
        QTest::addColumn<QString>("validator"); // desktop's, refuses, none
        QTest::addColumn<QString>("before");    // the launcher already there: own, ours, none
        QTest::addColumn<bool>("offered");
        QTest::addColumn<QString>("outcome"); // written, error
        QTest::addColumn<QStringList>("told");
        using K = BrowserAccessState::Kind;
        const QStringList saved{"Launcher saved to", "Quit Chromium and start it again"};
        QTest::newRow("Chromium started without its port") << "chromium" << int(K::permissionNeeded) << "chromium"
                                                           << "desktop's"
                                                           << "none" << true << "written" << saved;
        QTest::newRow("Chrome without the extension: a profile of its own, other logins")
            << "chrome" << int(K::extensionMissing) << "google-chrome"
            << "desktop's"
            << "none" << true << "written"
            << QStringList{"google-chrome.desktop", "profile folder of its own", "sign in to your sites again"};
        QTest::newRow("connected: nothing to offer") << "chromium" << int(K::connected) << "chromium"
                                                     << "desktop's"
                                                     << "none" << false << "written" << saved;
        QTest::newRow("waiting for Allow: nothing to offer") << "chromium" << int(K::awaitingConsent) << "chromium"
                                                             << "desktop's"
                                                             << "none" << false << "written" << saved;
        QTest::newRow("Firefox speaks no debugging protocol")
            << "firefox" << int(K::extensionMissing) << "firefox"
            << "desktop's"
            << "none" << false << "error" << QStringList{"Couldn't create a launcher", "Firefox"};
        QTest::newRow("not installed where a launcher can start it")
            << "chromium" << int(K::permissionNeeded) << ""
            << "desktop's"
            << "none" << false << "error" << QStringList{"Couldn't create a launcher", "isn't installed"};
        QTest::newRow("the validator refuses: its words, nothing left behind")
            << "chromium" << int(K::permissionNeeded) << "chromium"
            << "refuses"
            << "none" << true << "error"
            << QStringList{"Couldn't create a launcher for Chromium", "key \"Exec\" is not right"};
        QTest::newRow("the validator refuses: the person's own launcher stays")
            << "chromium" << int(K::permissionNeeded) << "chromium"
            << "refuses"
            << "own" << true << "error" << QStringList{"key \"Exec\" is not right"};
        QTest::newRow("the person's own launcher is kept beside it")
            << "chromium" << int(K::permissionNeeded) << "chromium"
            << "desktop's"
            << "own" << true << "written"
            << (saved + QStringList{"Your previous launcher is kept as", ".before-quillharbour"});
        QTest::newRow("one written before is simply replaced") << "chromium" << int(K::permissionNeeded) << "chromium"
                                                               << "desktop's"
                                                               << "ours" << true << "written" << saved;
        QTest::newRow("no validator installed: written unchecked")
            << "chromium" << int(K::permissionNeeded) << "chromium"
            << "none"
            << "none" << true << "written" << saved;
        QTest::newRow("the folder cannot be made")
            << "chromium" << int(K::permissionNeeded) << "chromium"
            << "desktop's"
            << "blocked" << true << "error"
            << QStringList{"Couldn't create a launcher for Chromium", "Could not write"};
    }

    void offerAndWrite()
    {
        QFETCH(QString, browser);
        QFETCH(int, state);
        QFETCH(QString, command);
        QFETCH(QString, validator);
        QFETCH(QString, before);
        QFETCH(bool, offered);
        QFETCH(QString, outcome);
        QFETCH(QStringList, told);
        if (validator == QLatin1String("desktop's") && m_validator.isEmpty())
            QSKIP("desktop-file-validate is missing (scripts/install-deps installs it)");

        QTemporaryDir dir;
        const QString bin = dir.filePath(QStringLiteral("bin"));
        QVERIFY(QDir().mkpath(bin));
        if (!command.isEmpty())
            writeProgram(QDir(bin).filePath(command), "#!/bin/sh\nexit 0\n");
        if (validator == QLatin1String("desktop's"))
            QVERIFY(QFile::link(m_validator, QDir(bin).filePath(QStringLiteral("desktop-file-validate"))));
        else if (validator == QLatin1String("refuses"))
            writeProgram(QDir(bin).filePath(QStringLiteral("desktop-file-validate")),
                         "#!/bin/sh\necho \"$1: error: value of key \\\"Exec\\\" is not right\"\nexit 1\n");
        qputenv("PATH", bin.toLocal8Bit());

        QString applications = dir.filePath(QStringLiteral("applications"));
        const QString existing = QDir(applications).filePath(command + QStringLiteral(".desktop"));
        QByteArray previous;
        if (before == QLatin1String("blocked")) {
            QVERIFY(TestEnvironment::writeFile(dir.filePath(QStringLiteral("file")), "not a folder"));
            applications = dir.filePath(QStringLiteral("file/applications"));
        } else if (before != QLatin1String("none")) {
            previous = before == QLatin1String("own")
                           ? ownLauncher
                           : QByteArray("[Desktop Entry]\nComment=Started with remote debugging, so Quillharbour can "
                                        "keep blocked sites away\nExec=\"/old/chromium\" %U\n");
            QVERIFY(TestEnvironment::writeFile(existing, previous));
        }

        const SupportedBrowser& b = *SupportedBrowser::withId(browser);
        const QString home = dir.filePath(QStringLiteral("home"));
        QCOMPARE(
            BrowserLauncherOffer::title(b, BrowserAccessState::of(BrowserAccessState::Kind(state)), home).has_value(),
            offered);

        const BrowserLauncherOffer::Outcome result = BrowserLauncherOffer::create(b, home, applications);
        for (const QString& words : told)
            QVERIFY2(result.message.contains(words), qPrintable(result.message));
        QCOMPARE(result.isError, outcome == QLatin1String("error"));
        QCOMPARE(result.path.isEmpty(), result.isError);
        const QString backup = existing + QStringLiteral(".before-quillharbour");
        if (result.isError) {
            // As it was: the person's launcher untouched, nothing of ours left.
            QCOMPARE(readFile(existing), previous);
            QVERIFY(!QFile::exists(backup));
            return;
        }
        QCOMPARE(result.path, existing);
        const QByteArray written = readFile(existing);
        QVERIFY(written.contains("--remote-debugging-port=0"));
        QCOMPARE(written.contains("--user-data-dir="), browser == QLatin1String("chrome"));
        QCOMPARE(readFile(backup), before == QLatin1String("own") ? ownLauncher : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestBrowserLauncherOffer)
#include "tst_browser_launcher_offer.moc"
