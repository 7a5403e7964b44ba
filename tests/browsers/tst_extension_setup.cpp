#include "TestEnvironment.h"
#include "browsers/ExtensionPageOpener.h"
#include "browsers/ExtensionSetup.h"
#include "linux/ExtensionInstaller.h"
#include "linux/FirefoxEdition.h"
#include "linux/HostManifests.h"
#include "linux/NativeMessaging.h"
#include "platform/ExtensionLink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using Kind = BrowserAccessState::Kind;

namespace {

// An extension that is connected, or not, and opens what it is asked to, or not.
class PageLink : public ExtensionLink {
public:
    bool connected = false;
    bool opens = false;
    QStringList asked;
    Setup setup(const QString&) const override { return connected ? Setup::connected : Setup::extensionMissing; }
    QStringList connectedBrowsers() const override { return {}; }
    std::optional<ExtensionTabReport> report(const QString&) const override { return std::nullopt; }
    void setBlockedSites(const QList<BlockedSite>&) override {}
    void redirectTab(const QString&, qint64, const QString&, const QString&, std::function<void(bool)>) override {}
    void closeTab(const QString&, qint64, const QString&, std::function<void(bool)>) override {}
    void openPage(const QString&, const QString& address, std::function<void(bool)> done) override
    {
        asked.append(address);
        done(opens);
    }
};

} // namespace

// What the browser rows' extension action does to the person's files and what its sheet says,
// for each state it is offered in.
class TestExtensionSetup : public QObject {
    Q_OBJECT

    // A build folder with the extension packages, as the program finds them beside itself.
    static void package(const QString& buildFolder)
    {
        const QDir dir(buildFolder);
        QVERIFY(dir.mkpath(QStringLiteral("browser-extension/chromium")));
        QVERIFY(TestEnvironment::writeFile(dir.filePath(QStringLiteral("browser-extension/chromium/manifest.json")),
                                           "{\"manifest_version\": 3}"));
        QVERIFY(TestEnvironment::writeFile(dir.filePath(QStringLiteral("browser-extension/chromium/background.js")),
                                           "// the extension"));
        QVERIFY(TestEnvironment::writeFile(dir.filePath(QStringLiteral("browser-extension/quillharbour-firefox.xpi")),
                                           "PK xpi"));
    }

private slots:
    void sheets_data()
    {
        QTest::addColumn<QString>("browser");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("built");       // the packages exist beside the program
        QTest::addColumn<QString>("path");     // relative to the data home; "-": none shown; "link": the link file
        QTest::addColumn<QString>("page");     // the page the sheet opens; empty: no button
        QTest::addColumn<QStringList>("said"); // texts the sheet shows, in its steps, news or error
        QTest::addColumn<bool>("linked");      // the browser's link file is written
        const QString chromiumCopy = QStringLiteral("quillharbour/browser-extension/chromium");
        QTest::newRow("Chromium without it: copied, linked, every step")
            << "chromium" << int(Kind::extensionMissing) << true << chromiumCopy << "chrome://extensions"
            << QStringList{"“Developer mode”", "“Load unpacked”", "whenever it is off", "“Allow in Incognito”"} << true;
        QTest::newRow("switched off: added again the same way")
            << "brave" << int(Kind::extensionOff) << true << chromiumCopy << "chrome://extensions"
            << QStringList{"“Developer mode”", "Brave switches off"} << true;
        QTest::newRow("a profile left out: the steps are taken in that profile")
            << "chromium" << int(Kind::profilesLeftOut) << true << chromiumCopy << "chrome://extensions"
            << QStringList{"switch to the profile that is not protected yet", "“Load unpacked”"} << true;
        QTest::newRow("Edge: its own page") << "edge" << int(Kind::extensionMissing) << true << chromiumCopy
                                            << "edge://extensions" << QStringList{"“Load unpacked”"} << true;
        QTest::newRow("Firefox ESR: the file and the preference")
            << "firefox" << int(Kind::extensionMissing) << true
            << "quillharbour/browser-extension/quillharbour-firefox.xpi"
            << "about:addons" << QStringList{"“xpinstall.signatures.required” to false", "“Install Add-on From File…”"}
            << true;
        QTest::newRow("Repair: the link file written again, and where")
            << "chromium" << int(Kind::hostMissing) << true << "link"
            << "" << QStringList{"wrote the file that lets Chromium start its link again"} << true;
        QTest::newRow("incognito windows: the extension's own page")
            << "chromium" << int(Kind::privateWindowsHidden) << true << "-"
            << "chrome://extensions/?id=" + NativeMessaging::chromiumExtensionId << QStringList{"“Allow in Incognito”"}
            << false;
        QTest::newRow("Firefox private windows") << "firefox" << int(Kind::privateWindowsHidden) << true << "-"
                                                 << "about:addons" << QStringList{"“Run in Private Windows”"} << false;
        QTest::newRow("not built with this copy: said, nothing written")
            << "chromium" << int(Kind::extensionMissing) << false << "-"
            << "" << QStringList{"was not built with this copy"} << false;
    }
    void sheets()
    {
        QFETCH(QString, browser);
        QFETCH(int, kind);
        QFETCH(bool, built);
        QFETCH(QString, path);
        QFETCH(QString, page);
        QFETCH(QStringList, said);
        QFETCH(bool, linked);
        QTemporaryDir root;
        const QString build = root.filePath(QStringLiteral("build"));
        QVERIFY(QDir().mkpath(build));
        if (built)
            package(build);
        const ExtensionSetup::Places places{build + QStringLiteral("/quillharbour"),
                                            build,
                                            root.filePath(QStringLiteral("home")),
                                            root.filePath(QStringLiteral("data")),
                                            {}};
        const SupportedBrowser& b = *SupportedBrowser::withId(browser);
        const ExtensionSetup::Sheet sheet = ExtensionSetup::prepare(b, Kind(kind), places);

        const QString link = HostManifests::manifestPath(*HostManifests::browser(b.id), places.home);
        if (path == QLatin1String("-")) {
            QVERIFY(sheet.path.isEmpty());
            QVERIFY(!QFileInfo::exists(places.dataHome));
        } else if (path == QLatin1String("link")) {
            QCOMPARE(sheet.path, link);
            QCOMPARE(sheet.pathName, QStringLiteral("Link file location"));
        } else {
            QCOMPARE(sheet.path, QDir(places.dataHome).filePath(path));
            QVERIFY(QFileInfo::exists(sheet.path));
            if (!b.servedBy(SupportedBrowser::devToolsRoute))
                QCOMPARE(TestEnvironment::readFile(sheet.path), QByteArray("PK xpi"));
            else
                QVERIFY(QFileInfo(sheet.path + QStringLiteral("/manifest.json")).isFile());
        }
        QCOMPARE(sheet.pageToOpen, page);
        const QString shown = (sheet.steps + QStringList{sheet.done, sheet.error}).join(u'\n');
        for (const QString& text : said)
            QVERIFY2(shown.contains(text), qPrintable(shown));
        QCOMPARE(QFileInfo(link).isFile(), linked);
        if (linked)
            QVERIFY(TestEnvironment::readFile(link).contains(places.executable.toUtf8()));
        // Only the Chromium family's install has the administrator's route.
        QCOMPARE(sheet.machine.has_value(),
                 built &&
                     (kind == int(Kind::extensionMissing) || kind == int(Kind::extensionOff) ||
                      kind == int(Kind::profilesLeftOut)) &&
                     b.servedBy(SupportedBrowser::devToolsRoute));
    }

    // Adding it again replaces the old copy whole, and a copy the browser reads meanwhile is
    // never half written: nothing is left beside it.
    // The sheet's page button: Firefox opens its page from the command line; the Chromium family
    // ignores chrome:// there, so its connected extension opens it, or the person pastes it.
    void pageButtonLandsOnThePage_data()
    {
        QTest::addColumn<QString>("browser");
        QTest::addColumn<bool>("connected");  // the extension talks to the program
        QTest::addColumn<bool>("opens");      // and opens the page when asked
        QTest::addColumn<QString>("started"); // the browser's arguments; "-": not started
        QTest::addColumn<QString>("note");
        QTest::newRow("Firefox: its own command line") << "firefox" << false << false << "about:addons"
                                                       << "";
        QTest::newRow("Chromium: its extension opens it") << "chromium" << true << true << "-"
                                                          << "Opened in Chromium.";
        const QString paste = QStringLiteral("Copied chrome://extensions. Chromium opens it only from its address bar: "
                                             "in the Chromium window that opened, paste it there (Ctrl+L, then "
                                             "Ctrl+V) and press Enter.");
        QTest::newRow("Chromium: the extension refuses") << "chromium" << true << false << "" << paste;
        QTest::newRow("Chromium without its extension") << "chromium" << false << false << "" << paste;
    }
    void pageButtonLandsOnThePage()
    {
        QFETCH(QString, browser);
        QFETCH(bool, connected);
        QFETCH(bool, opens);
        QFETCH(QString, started);
        QFETCH(QString, note);
        const SupportedBrowser& b = *SupportedBrowser::withId(browser);
        const QString page = ExtensionInstaller::extensionsPage(b.id);
        PageLink link;
        link.connected = connected;
        link.opens = opens;
        QStringList starts;
        const ExtensionPageOpener::Ways ways{&link, [&](const QString&, const QStringList& arguments) {
                                                 starts.append(arguments.join(u' '));
                                                 return true;
                                             }};
        std::optional<ExtensionPageOpener::Outcome> outcome;
        ExtensionPageOpener::open(b, page, ways, [&](const ExtensionPageOpener::Outcome& o) { outcome = o; });
        QVERIFY(outcome);
        QCOMPARE(starts, started == QLatin1String("-") ? QStringList() : QStringList{started});
        QCOMPARE(link.asked, connected ? QStringList{page} : QStringList());
        QCOMPARE(outcome->note, note);
        QCOMPARE(outcome->clipboard, note.startsWith(QLatin1String("Copied")) ? page : QString());
    }

    void addedAgainReplacesTheCopy()
    {
        QTemporaryDir root;
        package(root.path());
        const ExtensionSetup::Places places{root.filePath(QStringLiteral("quillharbour")),
                                            root.path(),
                                            root.filePath(QStringLiteral("home")),
                                            root.filePath(QStringLiteral("data")),
                                            {}};
        const SupportedBrowser& chromium = *SupportedBrowser::withId(QStringLiteral("chromium"));
        const QString first = ExtensionSetup::prepare(chromium, Kind::extensionMissing, places).path;
        QVERIFY(TestEnvironment::writeFile(first + QStringLiteral("/stale.js"), "old"));
        const QString second = ExtensionSetup::prepare(chromium, Kind::extensionOff, places).path;
        QCOMPARE(second, first);
        QVERIFY(!QFileInfo::exists(second + QStringLiteral("/stale.js")));
        QCOMPARE(QDir(QFileInfo(second).absolutePath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("chromium")});
    }

    // Any copy installs itself for everyone: through pkexec where it is, else the command to type,
    // with the program's and the package's real paths.
    void machineRoute_data()
    {
        QTest::addColumn<bool>("packaged"); // the extension's package lies where the program finds it
        QTest::addColumn<QString>("pkexec");
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("said"); // in what the sheet says instead; empty: the command runs
        QTest::newRow("an installed copy with pkexec: runs itself") << true << "/usr/bin/pkexec"
                                                                    << "/home/ada/.local/bin/quillharbour"
                                                                    << "";
        QTest::newRow("no pkexec: the command to type")
            << true << ""
            << "/home/ada/.local/bin/quillharbour"
            << "sudo /home/ada/.local/bin/quillharbour --install-for-everyone --prefix /usr/local --extension ";
        QTest::newRow("a path with a space and a quote, quoted for the shell")
            << true << ""
            << "/home/ada/Down loads/ada's/quillharbour"
            << "sudo '/home/ada/Down loads/ada'\\''s/quillharbour' --install-for-everyone";
        QTest::newRow("a copy without the package: why not") << false << "/usr/bin/pkexec"
                                                             << "/home/ada/.local/bin/quillharbour"
                                                             << "came without the extension's package";
    }
    void machineRoute()
    {
        QFETCH(bool, packaged);
        QFETCH(QString, pkexec);
        QFETCH(QString, executable);
        QFETCH(QString, said);
        QTemporaryDir folder;
        package(folder.path());
        const QString extension = folder.filePath(QStringLiteral("browser-extension"));
        if (packaged)
            QVERIFY(TestEnvironment::writeFile(extension + QStringLiteral("/quillharbour-chromium.zip"), "PK zip"));
        const ExtensionSetup::MachineRoute route = ExtensionSetup::machineRoute(executable, extension, pkexec);
        QCOMPARE(route.command.isEmpty(), !said.isEmpty());
        if (said.isEmpty()) {
            QCOMPARE(route.command, (QStringList{pkexec, executable, QStringLiteral("--install-for-everyone"),
                                                 QStringLiteral("--prefix"), QStringLiteral("/usr/local"),
                                                 QStringLiteral("--extension"), extension}));
            // Said after a failure.
            QVERIFY(route.terminal.startsWith(QStringLiteral("sudo ") + executable));
        } else {
            QVERIFY2(route.instead.contains(said), qPrintable(route.instead));
        }
        if (!route.terminal.isEmpty()) {
            // What a shell makes of the typed command is the command pkexec would run.
            QProcess shell;
            shell.start(QStringLiteral("/bin/sh"),
                        {QStringLiteral("-c"), QStringLiteral("printf '%s\\n' ") + route.terminal.mid(5)});
            QVERIFY(shell.waitForFinished(20000));
            const QStringList words = QString::fromUtf8(shell.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
            QCOMPARE(words.value(0), executable);
            QCOMPARE(words.last(), extension);
        }
    }

    // What became of the route, in words a person reads: never the tool's own message, and after
    // any failure the command to type instead.
    void machineRouteRuns_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("shown"); // the start of what comes back
        QTest::addColumn<bool>("ok");
        QTest::newRow("installed") << QStringList{"/bin/sh", "-c",
                                                  "echo /etc/chromium/policies/managed/quillharbour.json"}
                                   << "Quillharbour is installed for everyone on this computer." << true;
        QTest::newRow("the password request dismissed (126)")
            << QStringList{"/bin/sh", "-c",
                           "echo 'Error executing command as another user: Request dismissed' >&2; "
                           "exit 126"}
            << "The password request was closed, so nothing was installed." << false;
        QTest::newRow("no authentication agent (127)")
            << QStringList{"/bin/sh", "-c",
                           "echo 'Error executing command as another user: No authentication agent found.' >&2; "
                           "exit 127"}
            << "Nothing on this desktop can ask for the administrator's password" << false;
        QTest::newRow("no polkit service (127)")
            << QStringList{"/bin/sh", "-c",
                           "echo 'Error getting authority: Error initializing authority: Could not connect: No such "
                           "file or directory' >&2; exit 127"}
            << "The system's authorization service (polkit) is not running" << false;
        QTest::newRow("not authorized (127)")
            << QStringList{"/bin/sh", "-c",
                           "echo 'Error executing command as another user: Not authorized' >&2; "
                           "exit 127"}
            << "The administrator's password was not given" << false;
        QTest::newRow("the install's own failure, after a long output")
            << QStringList{"/bin/sh", "-c",
                           "head -c 40000 /dev/zero | tr '\\0' x; echo; echo 'Quillharbour could not install for "
                           "everyone: /etc/chromium: Read-only file system' >&2; exit 1"}
            << "The install stopped: /etc/chromium: Read-only file system" << false;
        QTest::newRow("killed") << QStringList{"/bin/sh", "-c", "kill -9 $$"}
                                << "The install stopped before it was done (exit code 255)." << false;
        QTest::newRow("no such program") << QStringList{"/nonexistent/pkexec"}
                                         << "pkexec, which asks for the administrator's password, could not be "
                                            "started."
                                         << false;
        QTest::newRow("nothing to run: what to run instead") << QStringList{} << "run it yourself" << false;
    }
    void machineRouteRuns()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, shown);
        QFETCH(bool, ok);
        std::optional<std::pair<QString, bool>> result;
        QObject owner;
        ExtensionSetup::MachineRoute route;
        route.command = command;
        route.terminal = QStringLiteral("sudo /home/ada/.local/bin/quillharbour --install-for-everyone");
        route.instead = QStringLiteral("run it yourself");
        ExtensionSetup::runMachineRoute(
            route, &owner, [&result](const QString& output, bool success) { result.emplace(output, success); });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);
        QVERIFY2(result->first.startsWith(shown), qPrintable(result->first.left(300)));
        QCOMPARE(result->second, ok);
        for (const char* raw : {"Error getting authority", "Error executing", "xxxx"})
            QVERIFY2(!result->first.contains(QLatin1String(raw)), raw);
        if (!ok && !command.isEmpty())
            QVERIFY2(result->first.endsWith(QStringLiteral("run this in a terminal:\n") + route.terminal),
                     qPrintable(result->first));
        if (ok)
            QVERIFY(result->first.contains(QLatin1String("quit it and open it again")));
    }

    // Which Firefox builds can load the extension, told by the channel each names.
    void firefoxChannels_data()
    {
        QTest::addColumn<QStringList>("prefs"); // channel-prefs.js of each installed build; "-": none
        QTest::addColumn<bool>("loads");
        const auto pref = [](const char* channel) {
            return QStringLiteral("// comment\npref(\"app.update.channel\", \"%1\");\n").arg(QLatin1String(channel));
        };
        QTest::newRow("ESR") << QStringList{pref("esr")} << true;
        QTest::newRow("ESR of a numbered branch") << QStringList{pref("esr128")} << true;
        QTest::newRow("Developer Edition") << QStringList{pref("aurora")} << true;
        QTest::newRow("Nightly") << QStringList{pref("nightly")} << true;
        QTest::newRow("release") << QStringList{pref("release")} << false;
        QTest::newRow("beta") << QStringList{pref("beta")} << false;
        QTest::newRow("release beside ESR") << QStringList{pref("release"), pref("esr")} << true;
        QTest::newRow("a build that names no channel") << QStringList{"-"} << true;
        QTest::newRow("release written with spaces")
            << QStringList{"pref( \"app.update.channel\" ,\t\"release\" );"} << false;
        QTest::newRow("release after another preference")
            << QStringList{"pref(\"app.update.auto\", \"esr\");\npref(\"app.update.channel\", \"release\");"} << false;
        QTest::newRow("a channel cut short") << QStringList{"pref(\"app.update.channel\", \"release"} << true;
        QTest::newRow("an empty channel") << QStringList{"pref(\"app.update.channel\", \"\");"} << true;
        QTest::newRow("a channel in capitals") << QStringList{"pref(\"app.update.channel\", \"RELEASE\");"} << true;
        QTest::newRow("none installed") << QStringList{} << true;
    }
    void firefoxChannels()
    {
        QFETCH(QStringList, prefs);
        QFETCH(bool, loads);
        QTemporaryDir root;
        QStringList folders;
        for (const QString& text : prefs) {
            const QString folder = root.filePath(QString::number(folders.size()));
            QVERIFY(QDir().mkpath(folder + QStringLiteral("/defaults/pref")));
            if (text != QLatin1String("-"))
                QVERIFY(TestEnvironment::writeFile(folder + QStringLiteral("/defaults/pref/channel-prefs.js"),
                                                   text.toUtf8()));
            folders.append(folder);
        }
        QCOMPARE(FirefoxEdition::loadsUnsigned(folders), loads);
    }
};

QTEST_GUILESS_MAIN(TestExtensionSetup)
#include "tst_extension_setup.moc"
