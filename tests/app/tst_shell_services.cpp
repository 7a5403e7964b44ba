#include "TestEnvironment.h"
#include "linux/DesktopEntry.h"
#include "linux/ExtensionInstaller.h"
#include "linux/LaunchAtLoginService.h"
#include "linux/SingleInstance.h"
#include "linux/UserInstaller.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using Status = LaunchAtLoginService::Status;
Q_DECLARE_METATYPE(Status)

namespace {

} // namespace

// The login item, the install into ~/.local, and the messages a later start sends.
class TestShellServices : public QObject {
    Q_OBJECT

private slots:
    void execArgumentsAreEscaped_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "/usr/bin/quillharbour"
                               << "/usr/bin/quillharbour";
        QTest::newRow("quote, dollar, backtick") << "/x/\"$`"
                                                 << "\"/x/\\\\\"\\\\$\\\\`\"";
        QTest::newRow("backslash") << "/x\\y"
                                   << "\"/x\\\\\\\\y\"";
        QTest::newRow("percent") << "/opt/100%"
                                 << "/opt/100%%";
        QTest::newRow("newline") << "/a\nb"
                                 << "\"/a\\nb\"";
    }
    void execArgumentsAreEscaped()
    {
        QFETCH(QString, argument);
        QFETCH(QString, expected);
        QCOMPARE(DesktopEntry::execArgument(argument), expected);
    }

    // The icon's path reads back whole from the entry, and cannot add or end lines of it.
    void iconLineHoldsAnyPath_data()
    {
        QTest::addColumn<QString>("icon");
        QTest::newRow("line break") << "/home/a\nExec=evil/icon.png";
        QTest::newRow("backslash before n, tab") << "/home/a\\nb\tc/icon.png";
        QTest::newRow("leading space") << " /icon.png";
    }
    void iconLineHoldsAnyPath()
    {
        QFETCH(QString, icon);
        const QStringList lines =
            QString::fromUtf8(UserInstaller::desktopEntry(QStringLiteral("/q"), icon)).split(u'\n');
        QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^(Exec|Icon)="))).size(), 2);
        QString read; // as a desktop entry reader reads a string value
        const QString value = lines.filter(QRegularExpression(QStringLiteral("^Icon="))).first().mid(5);
        for (qsizetype i = 0; i < value.size(); ++i) {
            const QChar c = value[i] == u'\\' ? value[++i] : QChar(u'\0');
            read += c.isNull() ? value[i] : c == u'n' ? u'\n' : c == u't' ? u'\t' : c == u's' ? u' ' : c;
        }
        QCOMPARE(read, icon);
    }

    // Switching on where the entry cannot be written says so instead of snapping back silently.
    void loginItemSwitch_data()
    {
        QTest::addColumn<QByteArray>("existing"); // empty: no entry
        QTest::addColumn<bool>("blocked");        // a file where the autostart folder should be
        QTest::addColumn<bool>("on");
        QTest::addColumn<Status>("before");
        QTest::addColumn<Status>("after");
        QTest::newRow("switch on") << QByteArray() << false << true << Status::notRegistered << Status::enabled;
        QTest::newRow("switch off") << QByteArray("[Desktop Entry]\nExec=x\n") << false << false << Status::enabled
                                    << Status::notRegistered;
        QTest::newRow("switched off by the desktop, on again") << QByteArray("[Desktop Entry]\nHidden=true\n") << false
                                                               << true << Status::notRegistered << Status::enabled;
        QTest::newRow("entry cannot be written")
            << QByteArray() << true << true << Status::notRegistered << Status::notRegistered;
    }
    void loginItemSwitch()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, blocked);
        QFETCH(bool, on);
        QFETCH(Status, before);
        QFETCH(Status, after);
        QTemporaryDir folder;
        const QString autostart = folder.filePath(QStringLiteral("autostart"));
        if (blocked)
            QVERIFY(TestEnvironment::writeFile(autostart, "a file where the folder should be"));
        if (!existing.isEmpty())
            QVERIFY(TestEnvironment::writeFile(autostart + QStringLiteral("/quillharbour.desktop"), existing));
        LaunchAtLoginService service(autostart, QStringLiteral("/home/a b/quillharbour"));
        QCOMPARE(service.status(), before);
        service.setEnabled(on);
        QCOMPARE(service.status(), after);
        QCOMPARE(bool(service.errorMessage()), blocked);
        if (after == Status::enabled)
            QVERIFY(TestEnvironment::readFile(service.entryPath())
                        .contains("Exec=\"/home/a b/quillharbour\" --login-item\n"));
        service.setEnabled(false);
        QVERIFY(!service.errorMessage());
    }

    void moveIsOfferedOutsideInstalledPlaces_data()
    {
        QTest::addColumn<QString>("relative"); // under the temporary home
        QTest::addColumn<QString>("linkTo");   // make `relative` a link to this (under home) first
        QTest::addColumn<bool>("offer");
        QTest::newRow("build folder") << "src/build/quillharbour"
                                      << "" << true;
        QTest::newRow("~/.local/bin") << ".local/bin/quillharbour"
                                      << "" << false;
        QTest::newRow("link into ~/.local") << "Downloads/quillharbour"
                                            << ".local/bin/quillharbour" << false;
        QTest::newRow("link out of ~/.local") << ".local/bin/qh"
                                              << "Downloads/quillharbour" << true;
    }
    void moveIsOfferedOutsideInstalledPlaces()
    {
        QFETCH(QString, relative);
        QFETCH(QString, linkTo);
        QFETCH(bool, offer);
        QTemporaryDir home;
        const QString path = home.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (linkTo.isEmpty()) {
            QVERIFY(TestEnvironment::writeFile(path, "program"));
        } else {
            QVERIFY(TestEnvironment::writeFile(home.filePath(linkTo), "program"));
            QVERIFY(QFile::link(home.filePath(linkTo), path));
        }
        QCOMPARE(UserInstaller::shouldOfferMove(path, home.path()), offer);
        QVERIFY(!UserInstaller::shouldOfferMove(QStringLiteral("/usr/bin/quillharbour"), home.path()));
    }

    // The old copy makes way only for a whole new one, and comes back when a later step fails.
    void installReplacesAndRestores_data()
    {
        QTest::addColumn<bool>("entryFolderBlocked");
        QTest::newRow("installed") << false;
        QTest::newRow("entry cannot be written") << true;
    }
    void installReplacesAndRestores()
    {
        QFETCH(bool, entryFolderBlocked);
        QTemporaryDir root;
        UserInstaller::Places places;
        places.home = root.path();
        places.binFolder = root.filePath(QStringLiteral(".local/bin"));
        places.dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        places.iconPng = "png";
        QDir(places.dataHome).removeRecursively();
        const QString source = root.filePath(QStringLiteral("download/quillharbour"));
        QVERIFY(TestEnvironment::writeFile(source, "new program"));
        // The extension built beside it goes along, where the installed copy's rows add it from.
        QVERIFY(TestEnvironment::writeFile(root.filePath(QStringLiteral("download/browser-extension/chromium/"
                                                                        "manifest.json")),
                                           "{}"));
        QVERIFY(TestEnvironment::writeFile(
            root.filePath(QStringLiteral("download/browser-extension/quillharbour-firefox.xpi")), "xpi"));
        QVERIFY(TestEnvironment::writeFile(
            root.filePath(QStringLiteral("download/browser-extension/quillharbour-chromium.zip")), "PK zip"));
        const QString installed = places.binFolder + QStringLiteral("/quillharbour");
        QVERIFY(TestEnvironment::writeFile(installed, "old program"));
        if (entryFolderBlocked)
            QVERIFY(TestEnvironment::writeFile(places.dataHome + QStringLiteral("/applications"), "not a folder"));

        QString error;
        const auto result = UserInstaller::installCopy(source, places, &error);
        const QStringList trashed = QDir(places.dataHome + QStringLiteral("/Trash/files")).entryList(QDir::Files);
        if (entryFolderBlocked) {
            QVERIFY(!result);
            QVERIFY(!error.isEmpty());
            QCOMPARE(TestEnvironment::readFile(installed), QByteArray("old program"));
            QVERIFY(trashed.isEmpty());
        } else {
            QVERIFY2(result, qPrintable(error));
            QCOMPARE(*result, installed);
            QCOMPARE(TestEnvironment::readFile(installed), QByteArray("new program"));
            QVERIFY(QFileInfo(installed).isExecutable());
            QCOMPARE(trashed.size(), 1);
            const QByteArray entry =
                TestEnvironment::readFile(places.dataHome + QStringLiteral("/applications/quillharbour.desktop"));
            QVERIFY(entry.contains("MimeType=x-scheme-handler/quillharbour;"));
            QVERIFY(entry.contains("Exec=" + installed.toUtf8() + " %u"));
            QCOMPARE(ExtensionInstaller::packagedFolder(places.binFolder, places.dataHome),
                     places.dataHome + QStringLiteral("/quillharbour/browser-extension"));
            QVERIFY(QFileInfo(places.dataHome + QStringLiteral("/quillharbour/browser-extension/"
                                                               "quillharbour-firefox.xpi"))
                        .isFile());
            // The package goes too: the installed copy signs it when it installs for everyone.
            QCOMPARE(TestEnvironment::readFile(
                         places.dataHome + QStringLiteral("/quillharbour/browser-extension/quillharbour-chromium.zip")),
                     QByteArray("PK zip"));
        }
        // No staging copy is left behind either way.
        QCOMPARE(QDir(places.binFolder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("quillharbour")});
    }

    void requestsFromOtherProgramsAreChecked_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QStringList>("links");
        QTest::newRow("reopen") << SingleInstance::request({}, QStringLiteral("/x")) << true << QStringList();
        QTest::newRow("other schemes dropped")
            << SingleInstance::request({QStringLiteral("file:///etc/passwd"), QStringLiteral("quillharbour://open")},
                                       "/x")
            << true << QStringList{QStringLiteral("quillharbour://open")};
        QTest::newRow("not JSON") << QByteArray("open please") << false << QStringList();
        QTest::newRow("too large") << QByteArray("{\"open\":[\"" + QByteArray(20000, 'a') + "\"]}") << false
                                   << QStringList();
        QJsonArray many; // more than a well-behaved start sends
        for (int i = 0; i < 40; ++i)
            many.append(QStringLiteral("quillharbour://open"));
        QTest::newRow("too many") << QJsonDocument(QJsonObject{{QStringLiteral("exe"), QStringLiteral("/x")},
                                                               {QStringLiteral("open"), many}})
                                         .toJson(QJsonDocument::Compact)
                                  << false << QStringList();
    }
    void requestsFromOtherProgramsAreChecked()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, valid);
        QFETCH(QStringList, links);
        const auto parsed = SingleInstance::parseRequest(line.trimmed());
        QCOMPARE(parsed.has_value(), valid);
        if (parsed)
            QCOMPARE(*parsed, links);
    }
};

QTEST_GUILESS_MAIN(TestShellServices)
#include "tst_shell_services.moc"
