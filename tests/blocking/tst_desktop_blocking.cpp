#include "DesktopSession.h"
#include "SessionBus.h"
#include "SiteServer.h"
#include "StoreFixture.h"
#include "blocking/BlockingCore.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "browsers/BrowserLauncherOffer.h"
#include "linux/BrowserDiscovery.h"
#include "linux/DevToolsClient.h"
#include "linux/DevToolsConnections.h"
#include "linux/DevToolsNavigationInterceptor.h"
#include "linux/DevToolsScriptRunner.h"
#include "linux/LinuxBrowsers.h"
#include "linux/LinuxDesktop.h"
#include "platform/ScreenState.h"
#include "screens/settings/SettingsTexts.h"

#include <QDir>
#include <QJsonArray>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// Blocking on a real desktop: Xvfb, openbox, a session bus and Debian's chromium, started with a
// debugging port or, standing in for a browser that refuses the port on its usual profile,
// without one; driven by the real X11, process and debugging-protocol backends.
class TestDesktopBlocking : public QObject {
    Q_OBJECT

    // How long a condition may take on a busy machine; a condition met early ends the wait.
    static constexpr int patience = 30000;

    std::unique_ptr<SessionBus> bus;
    std::unique_ptr<DesktopSession> desktop;
    std::unique_ptr<SiteServer> site;
    std::unique_ptr<QProcess> chrome;
    QString binFolder;
    // A profile folder of its own, named on the command line, as the help page suggests for
    // browsers that refuse the port on their usual one; empty for the usual folder.
    std::unique_ptr<QTemporaryDir> dedicated;

    // Debian's chromium takes a debugging port on its usual profile folder.
    QString profile() const
    {
        return dedicated ? dedicated->path()
                         : LinuxBrowsers::homeFolder(QDir::homePath(), QStringLiteral(".config/chromium"));
    }

    // The local site speaks plain HTTP only: the browser must not try https first, or a tab
    // sent back after its block would find nothing there.
    void writeWrapper(bool debugging)
    {
        QFile wrapper(QDir(binFolder).filePath(QStringLiteral("chromium-focus")));
        QVERIFY(wrapper.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QString rules = QStringLiteral("MAP example.com 127.0.0.1:%1, MAP *.example.com 127.0.0.1:%1, "
                                             "MAP example.org 127.0.0.1:%1")
                                  .arg(site->serverPort());
        wrapper.write(
            QStringLiteral("#!/bin/sh\nexec chromium --user-data-dir=\"%3\" "
                           "%1--host-resolver-rules=\"%2\" --no-sandbox --disable-gpu --disable-quic --no-first-run "
                           "--disable-background-networking --disable-component-update --disable-sync "
                           "--disable-features=HttpsUpgrades --window-size=1000,700 \"$@\"\n")
                .arg(debugging ? QStringLiteral("--remote-debugging-port=0 ") : QString(), rules, profile())
                .toUtf8());
        wrapper.close();
        wrapper.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void startChrome(bool debugging)
    {
        stopChrome();
        writeWrapper(debugging);
        QFile::remove(QDir(profile()).filePath(QStringLiteral("DevToolsActivePort")));
        chrome = std::make_unique<QProcess>();
        chrome->setProgram(QDir(binFolder).filePath(QStringLiteral("chromium-focus")));
        chrome->setArguments({QStringLiteral("about:blank")});
        chrome->setStandardOutputFile(QProcess::nullDevice());
        chrome->setStandardErrorFile(QProcess::nullDevice());
        chrome->start();
        QVERIFY(chrome->waitForStarted(patience));
        QTRY_VERIFY_WITH_TIMEOUT(LinuxWorkspace::singletonLockPid(profile()).has_value(), patience);
    }

    void stopChrome()
    {
        if (!chrome)
            return;
        chrome->terminate();
        if (!chrome->waitForFinished(5000)) {
            chrome->kill();
            chrome->waitForFinished(5000);
        }
        chrome.reset();
        QFile::remove(QDir(profile()).filePath(QStringLiteral("SingletonLock")));
    }

    // A second connection that acts like the person at the keyboard.
    struct Driver {
        DevToolsClient client;
        QString session;
        QString target;
    };
    std::unique_ptr<Driver> drive()
    {
        auto d = std::make_unique<Driver>();
        std::optional<QUrl> endpoint;
        if (!QTest::qWaitFor(
                [&] {
                    return (endpoint = DevToolsClient::browserEndpoint(
                                QDir(profile()).filePath(QStringLiteral("DevToolsActivePort"))))
                        .has_value();
                },
                patience))
            return nullptr;
        QString error = QStringLiteral("pending");
        d->client.open(*endpoint, 10000, [&error](const QString& e) { error = e; });
        if (!QTest::qWaitFor([&] { return error != QLatin1String("pending"); }, 12000) || !error.isEmpty())
            return nullptr;
        const QJsonObject targets = call(d->client, QStringLiteral("Target.getTargets"), {});
        for (const QJsonValue& t : targets.value(QStringLiteral("targetInfos")).toArray())
            if (t.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                d->target = t.toObject().value(QStringLiteral("targetId")).toString();
        d->session = call(d->client, QStringLiteral("Target.attachToTarget"),
                          {{QStringLiteral("targetId"), d->target}, {QStringLiteral("flatten"), true}})
                         .value(QStringLiteral("sessionId"))
                         .toString();
        return d;
    }
    static QJsonObject call(DevToolsClient& client, const QString& method, const QJsonObject& params,
                            const QString& session = {})
    {
        std::optional<QJsonObject> answer;
        client.send(
            method, params, 10000, [&](const QJsonObject& r, const QString&) { answer = r; }, session);
        [[maybe_unused]] const bool answered = QTest::qWaitFor([&] { return answer.has_value(); }, 12000);
        return answer.value_or(QJsonObject());
    }
    // The tab's address as the browser lists it; asked again while the browser gives no answer
    // (it may not while a busy machine lets it lag).
    static QString targetUrl(Driver& d, const QString& target)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const QJsonObject targets = call(d.client, QStringLiteral("Target.getTargets"), {});
            for (const QJsonValue& t : targets.value(QStringLiteral("targetInfos")).toArray())
                if (t.toObject().value(QStringLiteral("targetId")).toString() == target)
                    return t.toObject().value(QStringLiteral("url")).toString();
        }
        return {};
    }
    // Waits until the tab's address passes `test`; each address is read once, so a condition met
    // once counts even if a later reading lags behind.
    static bool waitForUrl(Driver& d, const QString& target, const std::function<bool(const QString&)>& test)
    {
        return QTest::qWaitFor([&] { return test(targetUrl(d, target)); }, patience);
    }
    static QString currentUrl(Driver& d) { return targetUrl(d, d.target); }
    static QString xdotool(const QStringList& arguments)
    {
        QProcess p;
        p.start(QStringLiteral("xdotool"), arguments);
        p.waitForFinished(20000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    static BlockRule blockExampleAllDay(StorageService& store, Date now)
    {
        BlockRule rule;
        rule.id = QUuid::createUuid();
        rule.domain = QStringLiteral("example.com");
        rule.displayName = QStringLiteral("Example");
        rule.createdAt = rule.updatedAt = now - 60;
        store.blocking().addRule(rule);
        return rule;
    }

    // The core on the real desktop with one rule blocking example.com, connected to Chrome and
    // running on the wall clock.
    struct Enforcing {
        StoreFixture f;
        StorageService& store = f.make();
        BlockRule rule;
        LocalBlockPageServer server{&store};
        X11Display display;
        BrowserDiscovery discovery;
        LinuxWorkspace workspace{display, QString(), &discovery};
        X11IdleTime idle{display};
        DevToolsConnections connections{&discovery};
        // As the application runs it: beside the engine, on the connection the interceptor uses.
        BrowserScriptExecutor executor{std::make_unique<DevToolsScriptRunner>(
                                           [this](const QString& id) { return workspace.isRunning(id); }, &connections),
                                       3000, nullptr, BrowserScriptExecutor::Placement::callingThread};
        QTemporaryDir elsewhere; // a home without the browser's profile: nothing to hold it by
        std::unique_ptr<DevToolsNavigationInterceptor> interceptor;
        ScreenState screen;
        std::unique_ptr<BlockingCore> blocking;
        BrowserAutomationService* engine = nullptr; // the core's, once started
        QTimer tick;

        // False when Chrome is not seen, never came to the front or never connected. Without
        // `holding`, the interceptor cannot reach the browser and the checks do all the work.
        bool start(bool holding = true)
        {
            discovery.start();
            if (!display.isOpen() || !workspace.isInstalled(chrome) || !workspace.isRunning(chrome)) {
                return false;
            }
            f.clock.set(SystemClock::instance().now()); // real time: the engine runs on real timers
            rule = blockExampleAllDay(store, f.clock.now());
            interceptor = holding ? std::make_unique<DevToolsNavigationInterceptor>(&connections)
                                  : std::make_unique<DevToolsNavigationInterceptor>(elsewhere.path());
            blocking = std::make_unique<BlockingCore>(
                store, f.defaults, BlockingCore::Time{f.clock, [this] { return f.calendar; }, nullptr},
                BlockingCore::Desktop{workspace, idle, screen}, server, executor,
                BlockingCore::Routes{interceptor.get(), nullptr, nullptr, {}});
            engine = &blocking->engine;
            // The browser window must be the active one for "the browser in use".
            if (!QTest::qWaitFor([this] { return workspace.frontmostApplicationId() == chrome; }, patience)) {
                return false;
            }
            engine->connect(*SupportedBrowser::withId(chrome));
            if (!QTest::qWaitFor(
                    [this] {
                        return engine->accessByBrowserID().value(QStringLiteral("chromium")).kind ==
                               BrowserAccessState::Kind::connected;
                    },
                    patience)) {
                return false;
            }
            QObject::connect(&tick, &QTimer::timeout, [this] { f.clock.set(SystemClock::instance().now()); });
            tick.start(50);
            engine->start();
            if (!server.port())
                return false;
            return !holding || QTest::qWaitFor([this] { return interceptor->isIntercepting(chrome); }, patience);
        }
        static inline const QString chrome = QStringLiteral("chromium");
        QString blockPage() const { return QStringLiteral("http://127.0.0.1:%1/blocked").arg(*server.port()); }
    };

private slots:
    void initTestCase()
    {
        bus = std::make_unique<SessionBus>();
        QVERIFY2(!bus->address().isEmpty(), "dbus-daemon could not be started");
        desktop = std::make_unique<DesktopSession>();
        QVERIFY2(!desktop->display().isEmpty(), "Xvfb or openbox could not be started");
        qputenv("DISPLAY", desktop->display().toLocal8Bit());
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toLocal8Bit());
        site = std::make_unique<SiteServer>();
        binFolder = QDir::home().filePath(QStringLiteral("bin"));
        QDir().mkpath(binFolder);
        qputenv("PATH", (binFolder + QLatin1Char(':') + qEnvironmentVariable("PATH")).toLocal8Bit());
    }

    void cleanupTestCase()
    {
        stopChrome();
        desktop.reset();
        bus.reset();
    }

    void blockedTabGoesToTheBlockPageAndBack_data()
    {
        QTest::addColumn<bool>("holding");
        QTest::newRow("held before it loads") << true;
        QTest::newRow("interception cannot be set up: the checks block") << false;
    }
    void blockedTabGoesToTheBlockPageAndBack()
    {
        QFETCH(bool, holding);
        startChrome(true);
        auto driver = drive();
        QVERIFY(driver);

        Enforcing core;
        QVERIFY(core.start(holding));
        QCOMPARE(core.interceptor->isIntercepting(Enforcing::chrome), holding);
        site->requests.clear();

        // An ordinary site is never touched.
        call(driver->client, QStringLiteral("Page.navigate"),
             {{QStringLiteral("url"), QStringLiteral("http://example.org/")}}, driver->session);
        QTest::qWait(2000);
        QCOMPARE(currentUrl(*driver), QStringLiteral("http://example.org/"));
        QVERIFY(site->received("example.org/"));
        // Nothing there concerns a rule: the checks rest until the browser or the desktop tells
        // of a change, and what follows is seen all the same.
        QTRY_VERIFY_WITH_TIMEOUT(core.engine->isResting(), patience);

        // A blocked site ends on the block page, which knows where the tab was going; held, the
        // site never hears of it (how fast is bench_desktop's business).
        const QString feed = QStringLiteral("http://www.example.com/feed?a=1&b=%C3%A9");
        call(driver->client, QStringLiteral("Page.navigate"), {{QStringLiteral("url"), feed}}, driver->session);
        QString blocked;
        QVERIFY(waitForUrl(*driver, driver->target, [&](const QString& url) {
            blocked = url;
            return url.startsWith(core.blockPage());
        }));
        QCOMPARE(QUrlQuery(QUrl(blocked)).queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded), feed);
        QCOMPARE(site->received("example.com"), !holding);

        // Removing the rule brings the tab back.
        core.store.blocking().removeRule(core.rule.id);
        QVERIFY(waitForUrl(*driver, driver->target, [&](const QString& url) { return url == feed; }));
        QTest::qWait(1500);
        QCOMPARE(currentUrl(*driver), feed);
        driver.reset();
    }

    // A tab showing the site when its block starts is sent away at that moment; the next visit is
    // held before it loads.
    void tabOpenBeforeTheBlockStarts_data()
    {
        QTest::addColumn<bool>("ownFolder");
        QTest::newRow("usual profile folder") << false;
        QTest::newRow("profile folder of its own") << true;
    }
    void tabOpenBeforeTheBlockStarts()
    {
        QFETCH(bool, ownFolder);
        stopChrome();
        dedicated.reset(ownFolder ? new QTemporaryDir : nullptr);
        const auto usual = qScopeGuard([this] {
            stopChrome();
            // Its helper processes may still write there for a moment after it ended.
            if (dedicated) [[maybe_unused]]
                const bool removed =
                    QTest::qWaitFor([this] { return QDir(dedicated->path()).removeRecursively(); }, patience);
            dedicated.reset();
        });
        startChrome(true);
        auto driver = drive();
        QVERIFY(driver);
        const QString feed = QStringLiteral("http://example.com/feed");
        call(driver->client, QStringLiteral("Page.navigate"), {{QStringLiteral("url"), feed}}, driver->session);
        QVERIFY(waitForUrl(*driver, driver->target, [&](const QString& url) { return url == feed; }));

        Enforcing core;
        QVERIFY(core.start());
        // Found by its own process, whichever other copies run on this machine.
        const std::optional<qint64> pid = LinuxWorkspace::singletonLockPid(profile());
        QVERIFY(pid);
        QVERIFY(core.discovery.processes(Enforcing::chrome).contains(BrowserDiscovery::Process{*pid, profile()}));
        QVERIFY(
            waitForUrl(*driver, driver->target, [&](const QString& url) { return url.startsWith(core.blockPage()); }));

        site->requests.clear();
        call(driver->client, QStringLiteral("Page.navigate"),
             {{QStringLiteral("url"), QStringLiteral("http://example.com/again")}}, driver->session);
        QVERIFY(waitForUrl(*driver, driver->target, [&](const QString& url) { return url.contains("again"); }));
        QVERIFY(currentUrl(*driver).startsWith(core.blockPage()));
        QVERIFY(!site->received("example.com"));
        driver.reset();
    }

    // Two windows, four tabs: the read finds the active tab of the focused window, wherever the
    // browser's listing puts it, and only that tab is sent to the block page.
    void focusedWindowOfSeveral()
    {
        startChrome(true);
        auto driver = drive();
        QVERIFY(driver);
        const QString first = driver->target; // window one, the tab that will be in use
        const auto open = [&](bool newWindow) {
            return call(driver->client, QStringLiteral("Target.createTarget"),
                        {{QStringLiteral("url"), QStringLiteral("http://example.org/")},
                         {QStringLiteral("newWindow"), newWindow}})
                .value(QStringLiteral("targetId"))
                .toString();
        };
        const QString beside = open(false); // window one, second tab
        call(driver->client, QStringLiteral("Target.activateTarget"), {{QStringLiteral("targetId"), first}});
        const QStringList second{open(true), open(false), open(false)}; // window two
        for (const QString& id : second)
            QVERIFY(!id.isEmpty());
        // Three tab switches in window two put its tabs first in the listing.
        for (const QString& id : second)
            call(driver->client, QStringLiteral("Target.activateTarget"), {{QStringLiteral("targetId"), id}});

        // The person goes back to window one, clicks into the page and opens a blocked site.
        call(driver->client, QStringLiteral("Runtime.evaluate"),
             {{QStringLiteral("expression"), QStringLiteral("document.title = 'window-one'")}}, driver->session);
        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("window-one")})
                           .section(u'\n', 0, 0))
                 .isEmpty(),
            patience);
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window, QStringLiteral("mousemove"),
                 QStringLiteral("--window"), window, QStringLiteral("500"), QStringLiteral("400"),
                 QStringLiteral("click"), QStringLiteral("1")});

        Enforcing core;
        QVERIFY(core.start());

        call(driver->client, QStringLiteral("Page.navigate"),
             {{QStringLiteral("url"), QStringLiteral("http://www.example.com/feed")}}, driver->session);
        QVERIFY(waitForUrl(*driver, first, [&](const QString& url) { return url.startsWith(core.blockPage()); }));
        for (const QString& id : QStringList{beside} + second)
            QCOMPARE(targetUrl(*driver, id), QStringLiteral("http://example.org/"));
        driver.reset();
    }

    // No port file where the browser keeps its profile: its state says so and blocking needs
    // attention.
    void browserWithoutDebuggingNeedsPermission()
    {
        startChrome(false);
        StoreFixture f;
        StorageService& store = f.make();
        const BlockRule rule = blockExampleAllDay(store, f.clock.now());
        LocalBlockPageServer server(&store);
        X11Display display;
        LinuxWorkspace workspace(display);
        X11IdleTime idle(display);
        BrowserScriptExecutor executor(std::make_unique<DevToolsScriptRunner>(
            [&workspace](const QString& id) { return workspace.isRunning(id); }, QDir::homePath()));
        ScreenState screen;
        BlockingCore core(store, f.defaults, {f.clock, [&f] { return f.calendar; }, nullptr}, {workspace, idle, screen},
                          server, executor, {nullptr, nullptr, nullptr, {}});
        BrowserAutomationService& engine = core.engine;
        engine.connect(*SupportedBrowser::withId(QStringLiteral("chromium")));
        QTRY_COMPARE_WITH_TIMEOUT(engine.accessByBrowserID().value(QStringLiteral("chromium")).kind,
                                  BrowserAccessState::Kind::permissionNeeded, patience);
        QVERIFY(engine.needsAttention());
        // Its row says what is wrong and offers the launcher that starts it with the port open.
        const SupportedBrowser& chromium = *SupportedBrowser::withId(QStringLiteral("chromium"));
        const std::vector<SettingsTexts::BrowserRow> rows =
            SettingsTexts::browserRows({chromium}, engine.accessByBrowserID());
        QCOMPARE(rows.size(), size_t(1));
        QVERIFY(rows.front().isError && !rows.front().detail.isEmpty());
        QVERIFY(BrowserLauncherOffer::title(chromium, engine.accessByBrowserID().value(chromium.id), QDir::homePath()));
        stopChrome();
    }
};

QTEST_GUILESS_MAIN(TestDesktopBlocking)
#include "tst_desktop_blocking.moc"
