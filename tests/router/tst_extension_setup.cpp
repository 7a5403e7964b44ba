#include "TestEnvironment.h"
#include "linux/ExtensionInstaller.h"
#include "linux/FirefoxEdition.h"
#include "linux/HostManifests.h"
#include "linux/NativeMessaging.h"
#include "platform/ExtensionLink.h"
#include "router/ExtensionPageOpener.h"
#include "router/ExtensionSetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

        const QString link = HostManifests::manifestPath(*HostManifests::browser(b.bundleIdentifier), places.home);
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
                 built && (kind == int(Kind::extensionMissing) || kind == int(Kind::extensionOff)) &&
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
        const QString page = ExtensionInstaller::extensionsPage(b.bundleIdentifier);
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

    void machineRoute_data()
    {
        QTest::addColumn<bool>("buildFolder");
        QTest::addColumn<QString>("pkexec");
        QTest::addColumn<bool>("runnable");
        QTest::newRow("a build folder with pkexec: its own install") << true << "/usr/bin/pkexec" << true;
        QTest::newRow("a build folder, no pkexec: what to run") << true << "" << false;
        QTest::newRow("an installed copy: what to run") << false << "/usr/bin/pkexec" << false;
    }
    void machineRoute()
    {
        QFETCH(bool, buildFolder);
        QFETCH(QString, pkexec);
        QFETCH(bool, runnable);
        QTemporaryDir folder;
        if (buildFolder)
            QVERIFY(TestEnvironment::writeFile(folder.filePath(QStringLiteral("CMakeCache.txt")), "# cache"));
        const ExtensionSetup::MachineRoute route = ExtensionSetup::machineRoute(folder.path(), pkexec);
        QCOMPARE(!route.command.isEmpty(), runnable);
        if (runnable) {
            QCOMPARE(route.command.first(), pkexec);
            QVERIFY(route.command.contains(QStringLiteral("--install")));
            QVERIFY(route.command.contains(QDir::cleanPath(folder.path())));
        } else {
            QVERIFY(route.instead.contains(QStringLiteral("sudo make install")));
        }
    }

    // What the route printed comes back whole or as its last part, and a failure says why.
    void machineRouteRuns_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("shown"); // the start of what comes back
        QTest::addColumn<bool>("ok");
        QTest::newRow("installed") << QStringList{"/bin/sh", "-c", "echo /etc/chromium/policies/managed/q.json"}
                                   << "/etc/chromium/policies/managed/q.json" << true;
        QTest::newRow("refused") << QStringList{"/bin/sh", "-c", "echo 'Not authorized' >&2; exit 126"}
                                 << "Not authorized" << false;
        QTest::newRow("a long output keeps its end")
            << QStringList{"/bin/sh", "-c", "head -c 40000 /dev/zero | tr '\\0' x; echo; echo last line"} << "xxx"
            << true;
        QTest::newRow("no such program") << QStringList{"/nonexistent/pkexec"} << "" << false;
        QTest::newRow("nothing to run: what to run instead") << QStringList{} << "run it yourself" << false;
    }
    void machineRouteRuns()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, shown);
        QFETCH(bool, ok);
        std::optional<std::pair<QString, bool>> result;
        QObject owner;
        ExtensionSetup::runMachineRoute(
            {command, QStringLiteral("run it yourself")}, &owner,
            [&result](const QString& output, bool success) { result.emplace(output, success); });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);
        QVERIFY2(result->first.startsWith(shown), qPrintable(result->first.left(200)));
        QCOMPARE(result->second, ok);
        QVERIFY(result->first.size() <= 16 * 1024);
        if (QTest::currentDataTag() == QByteArray("a long output keeps its end"))
            QVERIFY(result->first.endsWith(QStringLiteral("last line")));
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
