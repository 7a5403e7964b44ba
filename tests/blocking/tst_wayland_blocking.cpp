#include "SessionBus.h"
#include "SiteServer.h"
#include "StoreFixture.h"
#include "TestEnvironment.h"
#include "WaylandSession.h"
#include "blocking/BlockingCore.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "linux/BrowserDiscovery.h"
#include "linux/DevToolsClient.h"
#include "linux/DevToolsConnections.h"
#include "linux/DevToolsNavigationInterceptor.h"
#include "linux/DevToolsScriptRunner.h"
#include "linux/LinuxDesktop.h"
#include "platform/ScreenState.h"

#include <QDir>
#include <QJsonArray>
#include <QtTest>

// Blocking on a Wayland desktop, where no X server tells which window is in front: a headless
// sway with Debian's chromium running natively on it, a profile folder of its own and a
// debugging port, and the engine on the real process and debugging-protocol backends.
class TestWaylandBlocking : public QObject {
    Q_OBJECT

    // How long a condition may take on a busy machine; a condition met early ends the wait.
    static constexpr int patience = 30000;

    std::unique_ptr<SessionBus> bus;
    std::unique_ptr<WaylandSession> session;
    std::unique_ptr<SiteServer> site;

    struct Chromium {
        QTemporaryDir profile;
        QProcess process;
        ~Chromium()
        {
            if (process.state() == QProcess::NotRunning)
                return;
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
            // Its helper processes may still write there for a moment after it ended.
            [[maybe_unused]] const bool removed =
                QTest::qWaitFor([this] { return QDir(profile.path()).removeRecursively(); }, patience);
        }
    };

    static QJsonObject call(DevToolsClient& client, const QString& method, const QJsonObject& params,
                            const QString& sessionId = {})
    {
        std::optional<QJsonObject> answer;
        client.send(
            method, params, 10000, [&](const QJsonObject& r, const QString&) { answer = r; }, sessionId);
        [[maybe_unused]] const bool answered = QTest::qWaitFor([&] { return answer.has_value(); }, 12000);
        return answer.value_or(QJsonObject());
    }
    static QJsonObject page(DevToolsClient& client)
    {
        const QJsonObject targets = call(client, QStringLiteral("Target.getTargets"), {});
        for (const QJsonValue& t : targets.value(QStringLiteral("targetInfos")).toArray())
            if (t.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                return t.toObject();
        return {};
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
            QSKIP("chromium is not installed");
        bus = std::make_unique<SessionBus>();
        QVERIFY2(!bus->address().isEmpty(), "dbus-daemon could not be started");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toLocal8Bit());
        // The program sees no X display at all, as under a Wayland desktop without Xwayland.
        qunsetenv("DISPLAY");
        session = std::make_unique<WaylandSession>(TestEnvironment::homePath());
        if (session->display().isEmpty())
            QSKIP(qPrintable(QStringLiteral("no headless sway: ") + session->failure()));
        site = std::make_unique<SiteServer>();
    }

    void cleanupTestCase()
    {
        session.reset();
        bus.reset();
    }

    // A tab already showing a blocked site, in the window that has the keyboard, is sent to the
    // block page although nothing names the front window.
    void openTabOnBlockedSiteIsMoved()
    {
        const QString feed = QStringLiteral("http://example.com/feed");
        Chromium chromium;
        QProcessEnvironment env = session->clientEnvironment();
        chromium.process.setProcessEnvironment(env);
        chromium.process.setProgram(QStringLiteral("chromium"));
        chromium.process.setArguments(
            {QStringLiteral("--ozone-platform=wayland"), QStringLiteral("--user-data-dir=") + chromium.profile.path(),
             QStringLiteral("--remote-debugging-port=0"),
             QStringLiteral("--host-resolver-rules=MAP example.com 127.0.0.1:%1").arg(site->serverPort()),
             QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
             QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
             QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
             QStringLiteral("--disable-features=HttpsUpgrades"), feed});
        chromium.process.setStandardOutputFile(QProcess::nullDevice());
        chromium.process.setStandardErrorFile(QProcess::nullDevice());
        chromium.process.start();
        QVERIFY(chromium.process.waitForStarted(patience));

        // The person's side: the page loaded and the window has the keyboard.
        std::optional<QUrl> endpoint;
        QTRY_VERIFY_WITH_TIMEOUT((endpoint = DevToolsClient::browserEndpoint(
                                      chromium.profile.filePath(QStringLiteral("DevToolsActivePort"))))
                                     .has_value(),
                                 patience);
        DevToolsClient driver;
        QString error = QStringLiteral("pending");
        driver.open(*endpoint, 10000, [&error](const QString& e) { error = e; });
        QTRY_VERIFY_WITH_TIMEOUT(error != QLatin1String("pending"), patience);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(page(driver).value(QStringLiteral("url")).toString(), feed, patience);
        const QString target = page(driver).value(QStringLiteral("targetId")).toString();
        const QString tab = call(driver, QStringLiteral("Target.attachToTarget"),
                                 {{QStringLiteral("targetId"), target}, {QStringLiteral("flatten"), true}})
                                .value(QStringLiteral("sessionId"))
                                .toString();
        const auto hasFocus = [&] {
            session->command({QStringLiteral("[app_id=\"^chromium\"] focus")});
            return call(driver, QStringLiteral("Runtime.evaluate"),
                        {{QStringLiteral("expression"), QStringLiteral("document.hasFocus()")}}, tab)
                .value(QStringLiteral("result"))
                .toObject()
                .value(QStringLiteral("value"))
                .toBool();
        };
        QTRY_VERIFY_WITH_TIMEOUT(hasFocus(), patience);

        // The program, with one rule blocking the site all day.
        StoreFixture f;
        StorageService& store = f.make();
        f.clock.set(SystemClock::instance().now()); // real time: the engine runs on real timers
        BlockRule rule;
        rule.id = QUuid::createUuid();
        rule.domain = QStringLiteral("example.com");
        rule.displayName = QStringLiteral("Example");
        rule.createdAt = rule.updatedAt = f.clock.now() - 60;
        store.blocking().addRule(rule);
        LocalBlockPageServer server(&store);
        X11Display display;
        QVERIFY(!display.isOpen());
        BrowserDiscovery discovery;
        discovery.start();
        LinuxWorkspace workspace(display, QString(), &discovery);
        X11IdleTime idle(display);
        DevToolsConnections connections(&discovery);
        BrowserScriptExecutor executor(
            std::make_unique<DevToolsScriptRunner>([&workspace](const QString& id) { return workspace.isRunning(id); },
                                                   &connections),
            3000, nullptr, BrowserScriptExecutor::Placement::callingThread);
        DevToolsNavigationInterceptor interceptor(&connections);
        ScreenState screen;
        BlockingCore core(store, f.defaults, {f.clock, [&f] { return f.calendar; }, nullptr}, {workspace, idle, screen},
                          server, executor, {&interceptor, nullptr, nullptr, {}});
        BrowserAutomationService& engine = core.engine;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&f] { f.clock.set(SystemClock::instance().now()); });
        tick.start(50);

        const QString chromiumID = QStringLiteral("chromium");
        QVERIFY(workspace.isRunning(chromiumID));
        QVERIFY(!workspace.frontmostApplicationId());
        engine.connect(*SupportedBrowser::withId(chromiumID));
        QTRY_COMPARE_WITH_TIMEOUT(engine.accessByBrowserID().value(QStringLiteral("chromium")).kind,
                                  BrowserAccessState::Kind::connected, patience);
        engine.start();
        QVERIFY(server.port());
        const QString blockPage = QStringLiteral("http://127.0.0.1:%1/blocked").arg(*server.port());
        QString shown;
        QVERIFY2(
            QTest::qWaitFor(
                [&] { return (shown = page(driver).value(QStringLiteral("url")).toString()).startsWith(blockPage); },
                patience),
            qPrintable(shown));
        QCOMPARE(QUrlQuery(QUrl(shown)).queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded), feed);
    }
};

QTEST_GUILESS_MAIN(TestWaylandBlocking)
#include "tst_wayland_blocking.moc"
