#include "DesktopSession.h"
#include "FakeWorkspace.h"
#include "SessionBus.h"
#include "SiteServer.h"
#include "StoreFixture.h"
#include "blocking/BrowserAutomationService.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/ExtensionBlockList.h"
#include "blocking/LocalBlockPageServer.h"
#include "linux/ExtensionBridge.h"
#include "linux/ExtensionRoute.h"
#include "linux/HostManifests.h"
#include "linux/NativeMessaging.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QtTest>
#include <sys/stat.h>

namespace {

constexpr int patience = 30000;

// The other route, for browsers without the extension: here there is none.
class NoRoute : public ScriptRunner {
public:
    void run(const QString& script, std::function<void(const BrowserScriptResult&)> done) override
    {
        const auto parsed = BrowserScripts::parse(script);
        done(BrowserScriptResult{parsed ? parsed->fallback : QString(), std::nullopt, std::nullopt});
    }
};

QString xdotool(const QStringList& arguments)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), arguments);
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Types an address into the address bar of the browser window with this class, as a person does.
void typeAddress(const QString& windowClass, const QString& address)
{
    const QString window =
        xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--class"), windowClass})
            .section(u'\n', 0, 0);
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+l")});
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), address});
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
}

QString windowTitle(const QString& windowClass)
{
    const QString window =
        xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--class"), windowClass})
            .section(u'\n', 0, 0);
    return xdotool({QStringLiteral("getwindowname"), window});
}

} // namespace

// The companion extension in real browsers on a private desktop: the program's pieces run in this
// test (store, block page, engine, the extensions' socket), the browsers start the built program
// as their native-messaging host, and it relays to this test.
class TestExtensionBrowsers : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionBus> bus;
    std::unique_ptr<DesktopSession> desktop;
    std::unique_ptr<SiteServer> site;

    // The program's side, on a manual clock that the test moves.
    struct Program {
        StoreFixture f;
        StorageService& store = f.make();
        LocalBlockPageServer server{&store};
        ExtensionBridge bridge;
        FakeWorkspace desktop;
        FakeIdleTime idle;
        ExtensionWorkspace workspace{desktop, bridge};
        BrowserScriptExecutor executor{
            std::make_unique<RoutingScriptRunner>(&bridge, std::make_unique<ExtensionScriptRunner>(&bridge),
                                                  std::make_unique<NoRoute>()),
            3000, nullptr, BrowserScriptExecutor::Placement::callingThread};
        std::unique_ptr<BrowserAutomationService> engine;
        std::unique_ptr<ExtensionBlockList> list;

        bool start()
        {
            const std::optional<QString> socket = NativeMessaging::socketPath();
            if (!socket || !bridge.listen(*socket))
                return false;
            server.start(0, true);
            BrowserAutomationService::Environment env;
            env.clock = &f.clock;
            env.calendar = [this] { return f.calendar; };
            env.defaults = &f.defaults;
            env.workspace = &workspace;
            env.idleTime = &idle;
            env.monotonic = &f.bootClock;
            env.extensions = &bridge;
            engine = std::make_unique<BrowserAutomationService>(&store, &server, &executor, env);
            list = std::make_unique<ExtensionBlockList>(&store, &server, &bridge);
            engine->start();
            return server.port().has_value();
        }
        QUuid block(const QString& domain, std::optional<int> dailyLimit = std::nullopt)
        {
            BlockRule rule;
            rule.id = QUuid::createUuid();
            rule.domain = domain;
            rule.displayName = domain;
            rule.createdAt = rule.updatedAt = f.clock.now() - 60;
            if (dailyLimit) {
                rule.blockApplySchedule.isAllDay = false;
                rule.blockApplySchedule.isAfterMaxDailyTime = true;
                rule.dailyLimitMinutes = *dailyLimit;
            }
            store.addRule(rule);
            return rule.id;
        }
        QString blockPage() const { return QStringLiteral("http://127.0.0.1:%1/blocked").arg(*server.port()); }
    };

    QString hostManifestsFor(const QString& bundleIdentifier)
    {
        const HostManifests::Browser* b = HostManifests::browser(bundleIdentifier);
        QString error;
        if (!b || !HostManifests::write(*b, QDir::homePath(), QStringLiteral(QH_PROGRAM), {}, &error))
            return error.isEmpty() ? QStringLiteral("no such browser") : error;
        return {};
    }

    // The tabs Chromium lists, as "title\turl".
    static QStringList chromiumPages(quint16 port)
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        if (!s.waitForConnected(5000))
            return {};
        s.write("GET /json/list HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        QByteArray all;
        while (s.waitForReadyRead(5000))
            all += s.readAll();
        const QJsonArray list = QJsonDocument::fromJson(all.mid(all.indexOf("\r\n\r\n") + 4)).array();
        QStringList pages;
        for (const QJsonValue& v : list)
            if (v.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                pages.append(v.toObject().value(QStringLiteral("title")).toString() + u'\t' +
                             v.toObject().value(QStringLiteral("url")).toString());
        return pages;
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
            QSKIP("Debian's chromium is not installed");
        ::chmod(qgetenv("XDG_RUNTIME_DIR").constData(), 0700);
        bus = std::make_unique<SessionBus>();
        QVERIFY2(!bus->address().isEmpty(), "dbus-daemon could not be started");
        desktop = std::make_unique<DesktopSession>();
        QVERIFY2(!desktop->display().isEmpty(), "Xvfb or openbox could not be started");
        qputenv("DISPLAY", desktop->display().toLocal8Bit());
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toLocal8Bit());
        site = std::make_unique<SiteServer>();
    }

    void cleanupTestCase()
    {
        desktop.reset();
        bus.reset();
    }

    void chromiumThroughTheExtension()
    {
        const QString profile = QDir::home().filePath(QStringLiteral(".config/chromium"));
        QCOMPARE(hostManifestsFor(QStringLiteral("org.chromium.Chromium")), QString());
        Program program;
        QVERIFY(program.start());
        program.block(QStringLiteral("example.com"));

        QProcess chromium;
        chromium.setProgram(QStringLiteral("chromium"));
        chromium.setArguments(
            {QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
             QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
             QStringLiteral("--disable-sync"), QStringLiteral("--disable-features=HttpsUpgrades"),
             QStringLiteral("--user-data-dir=") + profile, QStringLiteral("--remote-debugging-port=0"),
             QStringLiteral("--load-extension=") + QStringLiteral(QH_EXTENSION) + QStringLiteral("/chromium"),
             QStringLiteral("--host-resolver-rules=MAP example.com 127.0.0.1:%1, MAP *.example.com 127.0.0.1:%1, "
                            "MAP *.example.net 127.0.0.1:%1")
                 .arg(site->serverPort()),
             QStringLiteral("about:blank")});
        chromium.setStandardOutputFile(QProcess::nullDevice());
        chromium.setStandardErrorFile(QProcess::nullDevice());
        chromium.start();
        QVERIFY(chromium.waitForStarted(patience));
        const auto stop = qScopeGuard([&] {
            chromium.terminate();
            if (!chromium.waitForFinished(10000)) {
                chromium.kill();
                chromium.waitForFinished(10000);
            }
        });
        const QString chromiumID = QStringLiteral("org.chromium.Chromium");
        QTRY_VERIFY_WITH_TIMEOUT(program.bridge.connectedBrowsers().contains(chromiumID), patience);
        quint16 debugPort = 0;
        QTRY_VERIFY_WITH_TIMEOUT((debugPort = QString::fromUtf8([&] {
                                                  QFile f(QDir(profile).filePath(QStringLiteral("DevToolsActivePort")));
                                                  return f.open(QIODevice::ReadOnly) ? f.readLine() : QByteArray();
                                              }())
                                                  .trimmed()
                                                  .toUShort()) != 0,
                                 patience);
        const auto showing = [&](const QString& part) {
            return QTest::qWaitFor(
                [&] {
                    const QStringList pages = chromiumPages(debugPort);
                    return std::any_of(pages.cbegin(), pages.cend(),
                                       [&](const QString& p) { return p.contains(part); });
                },
                patience);
        };

        // A typed blocked address never reaches the site and shows the block page, with the whole
        // address as `from`.
        // The window has the focus once the extension says so; keys typed before that go nowhere.
        QTRY_VERIFY_WITH_TIMEOUT(program.bridge.report(chromiumID).value_or(ExtensionTabReport{}).windowFocused,
                                 patience);
        typeAddress(QStringLiteral("chromium"), QStringLiteral("http://www.example.com/feed?a=1&b=%20#top"));
        QVERIFY(showing(QStringLiteral("Quillharbour\t") + program.blockPage() + QStringLiteral("?rule=")));
        QVERIFY(showing(QStringLiteral("&from=http%3A%2F%2Fwww.example.com%2Ffeed%3Fa%3D1%26b%3D%2520%23top")));
        QVERIFY(!site->received("example.com"));

        // A tab already open on a site when its block starts is moved to the block page. It opens
        // beside the first one, so closing it later leaves the browser running.
        const QString open = QStringLiteral("http://www.example.net/open?x=1&y=%20");
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+t")});
        typeAddress(QStringLiteral("chromium"), open);
        QVERIFY(showing(QStringLiteral("site\t") + open));
        QTRY_COMPARE_WITH_TIMEOUT(program.bridge.report(chromiumID).value_or(ExtensionTabReport{}).url, open, patience);
        const QString openFrom = QStringLiteral("&from=") + QString::fromLatin1(QUrl::toPercentEncoding(open));
        const auto openMoved = [&] {
            return showing(QStringLiteral("Quillharbour\t") + program.blockPage()) &&
                   QTest::qWaitFor(
                       [&] {
                           const QString url = program.bridge.report(chromiumID).value_or(ExtensionTabReport{}).url;
                           return url.startsWith(program.blockPage()) && url.endsWith(openFrom);
                       },
                       patience);
        };
        QUuid rule = program.block(QStringLiteral("example.net"));
        QVERIFY(openMoved());

        // The block ends: the block page's own poll returns the tab to the site.
        QVERIFY(program.store.removeRule(rule));
        QTRY_COMPARE_WITH_TIMEOUT(program.bridge.report(chromiumID).value_or(ExtensionTabReport{}).url, open, patience);
        QVERIFY(showing(QStringLiteral("site\t") + open));

        // Blocked again, then "close this tab" from the block page closes that tab and no other.
        rule = program.block(QStringLiteral("example.net"));
        QVERIFY(openMoved());
        typeAddress(QStringLiteral("chromium"),
                    QStringLiteral("http://127.0.0.1:%1/close").arg(*program.server.port()));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QStringList pages = chromiumPages(debugPort);
                return pages.size() == 1 && pages.first().contains(QLatin1String("www.example.com%2Ffeed"));
            }(),
            patience);
    }

    // Firefox ESR with its defaults (HTTPS-First on): a typed blocked address ends on the block
    // page really shown, not on an error page.
    void firefoxThroughTheExtension_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("typed http://") << "http://example.com/a?x=1&y=2";
        QTest::newRow("typed https://") << "https://www.example.com/b";
    }
    void firefoxThroughTheExtension()
    {
        QFETCH(QString, address);
        const QString firefox = QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
        if (firefox.isEmpty())
            QSKIP("Debian's firefox-esr is not installed");
        QCOMPARE(hostManifestsFor(QStringLiteral("org.mozilla.firefox")), QString());
        Program program;
        QVERIFY(program.start());
        program.block(QStringLiteral("example.com"));

        // The extension placed in a fresh profile, as an administrator or a person would. Besides
        // the signature check, only the prompt for add-ons placed this way is turned off.
        QTemporaryDir profile;
        QDir(profile.path()).mkpath(QStringLiteral("extensions"));
        QVERIFY(QFile::copy(QStringLiteral(QH_EXTENSION) + QStringLiteral("/quillharbour-firefox.xpi"),
                            profile.filePath(QStringLiteral("extensions/")) + NativeMessaging::firefoxExtensionId +
                                QStringLiteral(".xpi")));
        QFile prefs(profile.filePath(QStringLiteral("user.js")));
        QVERIFY(prefs.open(QIODevice::WriteOnly));
        prefs.write("user_pref(\"xpinstall.signatures.required\", false);\n"
                    "user_pref(\"extensions.autoDisableScopes\", 0);\n");
        prefs.close();

        QProcess browser;
        browser.setProgram(firefox);
        browser.setArguments({QStringLiteral("--no-remote"), QStringLiteral("--profile"), profile.path(),
                              QStringLiteral("about:blank")});
        browser.setStandardOutputFile(QProcess::nullDevice());
        browser.setStandardErrorFile(QProcess::nullDevice());
        browser.start();
        QVERIFY(browser.waitForStarted(patience));
        const auto stop = qScopeGuard([&] {
            browser.terminate();
            if (!browser.waitForFinished(10000)) {
                browser.kill();
                browser.waitForFinished(10000);
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(program.bridge.connectedBrowsers().contains(QStringLiteral("org.mozilla.firefox")),
                                 patience);
        typeAddress(QStringLiteral("firefox"), address);
        QTRY_VERIFY_WITH_TIMEOUT(windowTitle(QStringLiteral("firefox")).contains(QLatin1String("Quillharbour")),
                                 patience);
        // The tab's report names the block page with the whole typed address as `from`.
        const QString expected = program.blockPage();
        const QString from = QLatin1String("&from=") + QString::fromLatin1(QUrl::toPercentEncoding(address));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QString url =
                    program.bridge.report(QStringLiteral("org.mozilla.firefox")).value_or(ExtensionTabReport{}).url;
                return url.startsWith(expected) && url.endsWith(from);
            }(),
            patience);
    }
};

QTEST_MAIN(TestExtensionBrowsers)
#include "tst_extension_browsers.moc"
