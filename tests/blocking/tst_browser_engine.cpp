// The blocking engine against a fake browser, a fake desktop, a real store and a real block-page
// server: connection states, the check cycle and active-use accounting.

#include "EngineRig.h"
#include "blocking/ExtensionRepair.h"
#include "browsers/BrowserStateText.h"
#include "model/Json.h"
#include "platform/NavigationInterceptor.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

using Kind = BrowserAccessState::Kind;
using Operation = FakeBrowser::Operation;
using Ops = QList<Operation>;

Q_DECLARE_METATYPE(BrowserCommandError)

char* toString(const BrowserAccessState& state)
{
    static const char* const names[] = {"problem",     "notInstalled",         "notConnected",    "browserClosed",
                                        "connected",   "permissionNeeded",     "unsupported",     "extensionMissing",
                                        "hostMissing", "privateWindowsHidden", "awaitingConsent", "notPossible"};
    QByteArray text = names[static_cast<int>(state.kind)];
    if (state.kind == Kind::problem)
        text += "(\"" + state.message.toUtf8() + "\")";
    return qstrdup(text.constData());
}

namespace {

const QString chromiumApp = QStringLiteral("chromium");
const QString chromeApp = QStringLiteral("chrome");
const QString braveApp = QStringLiteral("brave");
const QString edgeApp = QStringLiteral("edge");
const QString firefoxApp = QStringLiteral("firefox");
const QString editorApp = QStringLiteral("org.example.TextEditor");

const SupportedBrowser& browserWithId(const char* id)
{
    return *SupportedBrowser::withId(QString::fromLatin1(id));
}

BlockRule allDayRule(const QString& domain, Date created, bool allowBreak = false)
{
    BlockRule r;
    r.id = QUuid::createUuid();
    r.domain = domain;
    r.displayName = domain;
    r.allowOneBreak = allowBreak;
    r.createdAt = created;
    r.updatedAt = created;
    return r;
}

BlockRule limitRule(const QString& domain, qint64 minutes, Date created)
{
    BlockRule r = allDayRule(domain, created);
    r.blockApplySchedule.isAllDay = false;
    r.blockApplySchedule.isAfterMaxDailyTime = true;
    r.dailyLimitMinutes = minutes;
    return r;
}

// A window of the day that is not now (the fixture's clock stands at 10:00).
BlockRule eveningRule(const QString& domain, Date created)
{
    BlockRule r = allDayRule(domain, created);
    r.blockApplySchedule = {false, false, 22, 0, 23, 0};
    return r;
}

// Remembers what the engine asks it to hold, and asks the engine's decision as a browser would.
struct FakeInterceptor final : NavigationInterceptor {
    Decision decision;
    QHash<QString, QStringList> watched; // by browser id, as last told
    void setDecision(Decision d) override { decision = std::move(d); }
    void watch(const QString& browserId, const QStringList& domains) override { watched.insert(browserId, domains); }
    bool isIntercepting(const QString&) const override { return false; }
};

// The extension route as a test sets it: a setup per browser, the reports, and the signals.
struct FakeExtensions final : ExtensionLink {
    QHash<QString, Setup> setups; // by browser id; absent: extensionMissing
    QHash<QString, ExtensionTabReport> reports;
    Setup setup(const QString& browserId) const override { return setups.value(browserId, Setup::extensionMissing); }
    QStringList connectedBrowsers() const override
    {
        QStringList out;
        for (auto it = setups.cbegin(); it != setups.cend(); ++it)
            if (it.value() == Setup::connected)
                out.append(it.key());
        return out;
    }
    std::optional<ExtensionTabReport> report(const QString& browserId) const override
    {
        return reports.contains(browserId) ? std::optional(reports.value(browserId)) : std::nullopt;
    }
    void setBlockedSites(const QList<BlockedSite>&) override {}
    void redirectTab(const QString&, qint64, const QString&, const QString&, std::function<void(bool)> done) override
    {
        done(false);
    }
    void closeTab(const QString&, qint64, const QString&, std::function<void(bool)> done) override { done(false); }
};

// The install steps the program's windows show, as asked for.
struct FakeRepair : ExtensionRepair {
    QList<QPair<QString, BrowserAccessState::Kind>> asked;
    void repair(const SupportedBrowser& browser, BrowserAccessState::Kind kind) override
    {
        asked.append({browser.id, kind});
    }
};

// The engine on fakes, built when the test has set the desktop up, with its waits on `monotonic`.
struct Rig : EngineRig {
    FakeInterceptor* interceptor = nullptr; // set before build() to hand the engine one
    FakeExtensions* extensions = nullptr;   // likewise
    FakeRepair* repair = nullptr;           // likewise

    using EngineRig::EngineRig;

    BrowserAutomationService& build(const QStringList& attempted = {})
    {
        if (!attempted.isEmpty())
            f.defaults.setStringArray(BrowserAutomationService::attemptedKey, attempted);
        BlockingCore::Routes ways = routes();
        ways.interceptor = interceptor;
        ways.extensions = extensions;
        ways.repair = repair;
        return EngineRig::build(ways, &monotonic);
    }

    // A connected Chromium in front, showing `address`, with the server listening.
    BrowserAutomationService& chromiumShowing(const QString& address)
    {
        server.start(0, false);
        workspace.bringUp(chromiumApp);
        browser->open(chromiumApp, address);
        BrowserAutomationService& engine = build({QStringLiteral("chromium")});
        engine.refreshInstalledBrowsers(false); // as the start lists them
        return engine;
    }

    // One check, waited for to its end (read and any redirect or close).
    [[nodiscard]] bool tick()
    {
        engine->checkActiveBrowser();
        return QTest::qWaitFor([this] { return !engine->isChecking(); }, 5000);
    }
    [[nodiscard]] bool look(double seconds = 0.65)
    {
        pass(seconds);
        return tick();
    }
    // Time passes on both clocks.
    void pass(double seconds)
    {
        f.clock.advance(seconds);
        monotonic.value += seconds;
    }

    quint16 port() const { return *server.port(); }
    QString tab(const QString& app = chromiumApp) const
    {
        return browser->activeAddress(app).value_or(QStringLiteral("(no window)"));
    }
    BrowserAccessState access(const char* id) const
    {
        return engine->accessByBrowserID().value(QString::fromLatin1(id));
    }
    qint64 usage(const BlockRule& rule) const
    {
        return store.blocking().state().usageSecondsByRuleId.value(uuidText(rule.id), -1);
    }
    QString expectedBlockPage(const QString& domain, const QString& from) const
    {
        for (const BlockedSiteSnapshot& s : store.blocking().state().blockedNow)
            if (s.domain == domain)
                return server.blockedPageURL(s.ruleId, s.domain, from)->toString(QUrl::FullyEncoded);
        return QStringLiteral("(%1 is not blocked)").arg(domain);
    }
    std::optional<BrowserCommand> lastCommand() const
    {
        const QList<FakeBrowser::Received> all = browser->received();
        return all.isEmpty() ? std::nullopt : std::optional(all.last().command);
    }
};

} // namespace

class TestBrowserEngine : public QObject {
    Q_OBJECT

private slots:
    // browsers and their states
    void errorKinds_data();
    void errorKinds();
    void scriptErrorsBecomeStates_data();
    void scriptErrorsBecomeStates();
    void attemptedBrowsersFromDefaults_data();
    void attemptedBrowsersFromDefaults();
    void listingRunsAtMostEveryThirtySeconds();
    void listingKeepsScriptVerdicts_data();
    void listingKeepsScriptVerdicts();
    void connecting_data();
    void connecting();
    void connectedIdsAreSortedInDefaults();
    void probeNeitherEnforcesNorEndsACheck();
    void equalStateIsNoChange();

    // the check cycle
    void blockedTabIsRedirectedToTheBlockPage();
    void whatEachTabGets_data();
    void whatEachTabGets();
    void closePageIsClosedOnlyIfUnchanged();
    void navigatedAwayBeforeTheRedirect();
    void firstBlockedEntryWins();
    void nothingToEnforceSendsNothing();
    void noPortNoChecks();
    void activeBrowserChoice();
    void hangingBrowserTimesOut();
    void stuckCheckIsAbandoned();
    void engineGoneBeforeTheAnswer();
    void startRunsTheTimer();
    void checksSleepWithNothingToLookAt_data();
    void checksSleepWithNothingToLookAt();
    void eventsWakeTheChecks();
    void heldDomainsFollowWhatIsBlocked();
    void heldNavigationIsDecidedNow_data();
    void heldNavigationIsDecidedNow();

    // accounting
    void activeUseIsCountedInCappedSteps();
    void interruptionsOfActiveUse_data();
    void interruptionsOfActiveUse();
    void urgentBreakBeforeDailyLimit();
    void limitRuleWeekdays_data();
    void limitRuleWeekdays();
    void doomScrollWindow();

    // attention and the unprotected-browser warning
    void needsAttention_data();
    void needsAttention();
    void unknownFrontAsksTheBrowsers_data();
    void unknownFrontAsksTheBrowsers();
    void unknownIdleTimeStopsCountingOnAStillPage();
    void routesCombine_data();
    void routesCombine();
    void extensionConnectionIsAConnectedBrowser();
    void extensionGoneLeavesNothingConnected();
    void extensionFixShowsTheInstallSteps();
    void unprotectedBrowserWarning();
};

// ---------------------------------------------------------------- browsers and their states

void TestBrowserEngine::errorKinds_data()
{
    QTest::addColumn<BrowserCommandError>("error");
    QTest::addColumn<std::optional<QString>>("message");
    QTest::addColumn<BrowserAccessState>("expected");
    using E = BrowserCommandError;
    const std::optional<QString> none;
    const auto problem = [](const QString& m) { return BrowserAccessState::of(Kind::problem, m); };
    QTest::newRow("not permitted") << E::notPermitted << std::optional<QString>(QStringLiteral("not allowed"))
                                   << BrowserAccessState::of(Kind::permissionNeeded);
    QTest::newRow("a missing target counts as connected")
        << E::targetMissing << none << BrowserAccessState::of(Kind::connected);
    QTest::newRow("a time-out has its own text")
        << E::timedOut << std::optional<QString>(QStringLiteral("No answer from the page."))
        << problem(QStringLiteral("The browser did not respond in time."));
    QTest::newRow("unsupported") << E::unsupported << none << BrowserAccessState::of(Kind::unsupported);
    QTest::newRow("awaiting consent") << E::awaitingConsent << std::optional<QString>(QStringLiteral("asking"))
                                      << BrowserAccessState::of(Kind::awaitingConsent);
    QTest::newRow("not running") << E::browserNotRunning << none << BrowserAccessState::of(Kind::browserClosed);
    QTest::newRow("other, with message") << E::failed << std::optional<QString>(QStringLiteral("Syntax error"))
                                         << problem(QStringLiteral("Syntax error"));
    QTest::newRow("other, empty message") << E::failed << std::optional<QString>(QString()) << problem(QString());
    QTest::newRow("other, without message")
        << E::failed << none << problem(QStringLiteral("The browser connection failed."));
    QTest::newRow("unprepared") << E::unprepared
                                << std::optional<QString>(QStringLiteral("The browser command could not be prepared."))
                                << problem(QStringLiteral("The browser command could not be prepared."));
    QTest::newRow("unprepared, without message")
        << E::unprepared << none << problem(QStringLiteral("The browser command could not be prepared."));
}

void TestBrowserEngine::errorKinds()
{
    QFETCH(BrowserCommandError, error);
    QFETCH(std::optional<QString>, message);
    QFETCH(BrowserAccessState, expected);
    QCOMPARE(BrowserAutomationService::accessState(error, message), expected);
}

void TestBrowserEngine::scriptErrorsBecomeStates_data()
{
    QTest::addColumn<BrowserCommandError>("error");
    QTest::addColumn<BrowserAccessState>("expected");
    QTest::addColumn<bool>("attention");
    using E = BrowserCommandError;
    QTest::newRow("permission refused") << E::notPermitted << BrowserAccessState::of(Kind::permissionNeeded) << true;
    QTest::newRow("no such object") << E::targetMissing << BrowserAccessState::of(Kind::connected) << false;
    QTest::newRow("not handled") << E::unsupported << BrowserAccessState::of(Kind::unsupported) << true;
    QTest::newRow("process gone") << E::browserNotRunning << BrowserAccessState::of(Kind::browserClosed) << true;
    QTest::newRow("other") << E::failed
                           << BrowserAccessState::of(Kind::problem, QStringLiteral("The browser connection failed."))
                           << true;
}

void TestBrowserEngine::scriptErrorsBecomeStates()
{
    QFETCH(BrowserCommandError, error);
    QFETCH(BrowserAccessState, expected);
    QFETCH(bool, attention);
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    BrowserAutomationService& engine = rig.chromiumShowing(QStringLiteral("https://www.example.com/"));
    rig.browser->setForcedError(chromiumApp, error);

    QVERIFY(rig.tick());
    QCOMPARE(rig.access("chromium"), expected);
    QCOMPARE(engine.needsAttention(), attention);
    // A failed read never leads to a redirect; the next good answer restores the connection.
    QCOMPARE(rig.browser->operations(), Ops{Operation::read});
    rig.browser->setForcedError(chromiumApp, std::nullopt);
    QVERIFY(rig.tick());
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::connected));
    QCOMPARE(rig.browser->operations(), (Ops{Operation::read, Operation::read, Operation::redirect}));
}

void TestBrowserEngine::attemptedBrowsersFromDefaults_data()
{
    QTest::addColumn<QJsonValue>("stored");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << QStringList();
    QTest::newRow("array of texts") << QJsonValue(QJsonArray{QStringLiteral("chrome"), QStringLiteral("chromium")})
                                    << QStringList{QStringLiteral("chrome"), QStringLiteral("chromium")};
    QTest::newRow("a text") << QJsonValue(QStringLiteral("chromium")) << QStringList();
    QTest::newRow("a number") << QJsonValue(3) << QStringList();
    QTest::newRow("mixed array") << QJsonValue(QJsonArray{QStringLiteral("chromium"), 3}) << QStringList();
}

void TestBrowserEngine::attemptedBrowsersFromDefaults()
{
    QFETCH(QJsonValue, stored);
    QFETCH(QStringList, expected);
    Rig rig;
    if (!stored.isUndefined())
        rig.f.defaults.set(BrowserAutomationService::attemptedKey, stored);
    rig.workspace.installed = {chromiumApp, chromeApp};
    BrowserAutomationService& engine = rig.build();
    QStringList ids = engine.attemptedBrowserIDs().values();
    ids.sort();
    QCOMPARE(ids, expected);
    // The first listing: an asked-for browser waits for its first answer.
    engine.refreshInstalledBrowsers(false);
    QCOMPARE(rig.access("chromium"),
             BrowserAccessState::of(expected.contains(QStringLiteral("chromium")) ? Kind::browserClosed
                                                                                  : Kind::notConnected));
    QCOMPARE(rig.access("edge"), BrowserAccessState::of(Kind::notInstalled));
}

void TestBrowserEngine::listingRunsAtMostEveryThirtySeconds()
{
    Rig rig;
    rig.workspace.installed = {chromeApp};
    BrowserAutomationService& engine = rig.build();
    // Nothing is listed before it is asked for (the start, a page showing the browsers).
    QVERIFY(engine.accessByBrowserID().isEmpty());
    engine.refreshInstalledBrowsers(false);
    QCOMPARE(engine.accessByBrowserID().size(), qsizetype(SupportedBrowser::all().size()));
    QCOMPARE(rig.access("chrome"), BrowserAccessState::of(Kind::notConnected));
    QCOMPARE(rig.access("brave"), BrowserAccessState::of(Kind::notInstalled));

    rig.workspace.installed.insert(braveApp);
    rig.pass(BrowserAutomationService::listingInterval);
    engine.checkActiveBrowser();
    QCOMPARE(rig.access("brave"), BrowserAccessState::of(Kind::notInstalled));
    rig.pass(0.001);
    engine.checkActiveBrowser();
    QCOMPARE(rig.access("brave"), BrowserAccessState::of(Kind::notConnected));

    // A browser installed and started right after a listing is listed as it starts: a program at
    // rest lists on no timer.
    rig.pass(1);
    rig.workspace.installed.insert(edgeApp);
    engine.browsersChanged();
    QCOMPARE(rig.access("edge"), BrowserAccessState::of(Kind::notInstalled)); // not running: waits
    rig.workspace.running.insert(edgeApp);
    engine.browsersChanged();
    QCOMPARE(rig.access("edge"), BrowserAccessState::of(Kind::notConnected));

    // The clock restarts from that listing; a forced one runs regardless.
    rig.workspace.installed.remove(chromeApp);
    rig.pass(29);
    engine.checkActiveBrowser();
    QCOMPARE(rig.access("chrome"), BrowserAccessState::of(Kind::notConnected));
    engine.refreshInstalledBrowsers(true);
    QCOMPARE(rig.access("chrome"), BrowserAccessState::of(Kind::notInstalled));

    // Only time that really passed counts: a wall clock set back an hour does not stop the
    // listing, and one set forward does not hurry it.
    rig.workspace.installed.insert(chromeApp);
    rig.f.clock.advance(3600);
    engine.checkActiveBrowser();
    QCOMPARE(rig.access("chrome"), BrowserAccessState::of(Kind::notInstalled));
    rig.f.clock.advance(-7200);
    rig.monotonic.value += BrowserAutomationService::listingInterval + 1;
    engine.checkActiveBrowser();
    QCOMPARE(rig.access("chrome"), BrowserAccessState::of(Kind::notConnected));
}

void TestBrowserEngine::listingKeepsScriptVerdicts_data()
{
    QTest::addColumn<BrowserAccessState>("verdict");
    QTest::newRow("connected") << BrowserAccessState::of(Kind::connected);
    QTest::newRow("permissionNeeded") << BrowserAccessState::of(Kind::permissionNeeded);
    QTest::newRow("unsupported") << BrowserAccessState::of(Kind::unsupported);
    QTest::newRow("problem") << BrowserAccessState::of(Kind::problem, QStringLiteral("x"));
}

void TestBrowserEngine::listingKeepsScriptVerdicts()
{
    QFETCH(BrowserAccessState, verdict);
    Rig rig;
    rig.workspace.installed = {chromeApp};
    BrowserAutomationService& engine = rig.build({QStringLiteral("chrome")});
    const SupportedBrowser& chrome = browserWithId("chrome");
    engine.setAccess(verdict, chrome);
    engine.refreshInstalledBrowsers(true);
    QCOMPARE(rig.access("chrome"), verdict);

    // Uninstalling ends the verdict; reinstalling starts over from the asked-for state.
    rig.workspace.installed.clear();
    engine.refreshInstalledBrowsers(true);
    QCOMPARE(rig.access("chrome"), BrowserAccessState::of(Kind::notInstalled));
    rig.workspace.installed = {chromeApp};
    engine.refreshInstalledBrowsers(true);
    QCOMPARE(rig.access("chrome"), BrowserAccessState::of(Kind::browserClosed));
}

void TestBrowserEngine::connecting_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("permitted");
    QTest::addColumn<BrowserAccessState>("expected");
    QTest::addColumn<bool>("recorded");
    QTest::addColumn<int>("probes");
    QTest::newRow("running") << true << true << true << BrowserAccessState::of(Kind::connected) << true << 1;
    QTest::newRow("running, permission refused")
        << true << true << false << BrowserAccessState::of(Kind::permissionNeeded) << true << 1;
    QTest::newRow("closed") << true << false << true << BrowserAccessState::of(Kind::browserClosed) << true << 0;
    QTest::newRow("not installed") << false << false << true << BrowserAccessState::of(Kind::notInstalled) << false
                                   << 0;
}

void TestBrowserEngine::connecting()
{
    QFETCH(bool, installed);
    QFETCH(bool, running);
    QFETCH(bool, permitted);
    QFETCH(BrowserAccessState, expected);
    QFETCH(bool, recorded);
    QFETCH(int, probes);
    Rig rig;
    rig.server.start(0, false);
    BrowserAutomationService& engine = rig.build();
    // Installed after construction: connecting lists the browsers afresh.
    if (installed)
        rig.workspace.installed.insert(braveApp);
    if (running)
        rig.workspace.running.insert(braveApp);
    rig.browser->open(braveApp, QStringLiteral("https://a.example/"));
    rig.browser->setPermitted(braveApp, permitted);

    engine.connect(browserWithId("brave"));
    QTRY_COMPARE(rig.access("brave"), expected);
    QCOMPARE(engine.attemptedBrowserIDs().contains(QStringLiteral("brave")), recorded);
    QCOMPARE(rig.f.defaults.stringArray(BrowserAutomationService::attemptedKey),
             recorded ? std::optional(QStringList{QStringLiteral("brave")}) : std::nullopt);
    QTest::qWait(20);
    QCOMPARE(rig.browser->received().size(), probes);
    if (probes) {
        const BrowserCommand probe = *rig.lastCommand();
        QCOMPARE(probe.operation, Operation::read);
        QCOMPARE(probe.browserId, braveApp);
        QCOMPARE(probe.noWindowAnswer(), QString());
    }
}

void TestBrowserEngine::connectedIdsAreSortedInDefaults()
{
    Rig rig;
    rig.workspace.installed = {chromiumApp, chromeApp, QStringLiteral("vivaldi")};
    BrowserAutomationService& engine = rig.build({QStringLiteral("chromium")});
    engine.connect(browserWithId("chrome"));
    engine.connect(browserWithId("vivaldi"));
    engine.connect(browserWithId("chrome"));
    QCOMPARE(rig.f.defaults.value(BrowserAutomationService::attemptedKey),
             QJsonValue(QJsonArray{QStringLiteral("chrome"), QStringLiteral("chromium"), QStringLiteral("vivaldi")}));
}

void TestBrowserEngine::probeNeitherEnforcesNorEndsACheck()
{
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    BrowserAutomationService& engine = rig.chromiumShowing(QStringLiteral("https://news.example.org/"));
    rig.workspace.installed.insert(chromeApp);
    rig.workspace.running.insert(chromeApp);
    rig.browser->open(chromeApp, QStringLiteral("https://www.example.com/"));
    rig.browser->setDelay(chromeApp, 50);
    rig.browser->setHang(chromiumApp, true);

    // The probe goes first; the check behind it never answers.
    engine.connect(browserWithId("chrome"));
    engine.checkActiveBrowser();
    QVERIFY(engine.isChecking());
    QTRY_COMPARE(rig.access("chrome"), BrowserAccessState::of(Kind::connected));
    QVERIFY(engine.isChecking());
    QTest::qWait(50);
    // A probe reads a blocked site and leaves it alone.
    QCOMPARE(rig.browser->operations(), (Ops{Operation::read, Operation::read}));
    QCOMPARE(rig.tab(chromeApp), QStringLiteral("https://www.example.com/"));
}

void TestBrowserEngine::equalStateIsNoChange()
{
    Rig rig;
    BrowserAutomationService& engine = rig.build();
    engine.refreshInstalledBrowsers(false);
    const SupportedBrowser& edge = browserWithId("edge");
    QSignalSpy changes(&engine, &BrowserAutomationService::accessChanged);

    engine.setAccess(BrowserAccessState::of(Kind::notInstalled), edge); // what the listing set
    QCOMPARE(changes.size(), 0);
    engine.setAccess(BrowserAccessState::of(Kind::problem, QStringLiteral("a")), edge);
    engine.setAccess(BrowserAccessState::of(Kind::problem, QStringLiteral("a")), edge);
    QCOMPARE(changes.size(), 1);
    engine.setAccess(BrowserAccessState::of(Kind::problem, QStringLiteral("b")), edge);
    QCOMPARE(changes.size(), 2);
    engine.refreshInstalledBrowsers(true);
    QCOMPARE(changes.size(), 3); // back to notInstalled, once
    engine.refreshInstalledBrowsers(true);
    QCOMPARE(changes.size(), 3);
}

// ---------------------------------------------------------------- the check cycle

void TestBrowserEngine::blockedTabIsRedirectedToTheBlockPage()
{
    Rig rig;
    const BlockRule rule = allDayRule(QStringLiteral("example.com"), rig.f.clock.now());
    rig.store.blocking().addRule(rule);
    // An address with characters that must survive the trip through the block page's query.
    const QString address = QStringLiteral("https://www.example.com/watch?v=1&list=a#t=\"2\" b");
    BrowserAutomationService& engine = rig.chromiumShowing(address);

    QVERIFY(rig.tick());
    const QList<FakeBrowser::Received> received = rig.browser->received();
    QCOMPARE(received.size(), 2);
    const BrowserCommand read = received[0].command;
    QCOMPARE(read.operation, Operation::read);
    QCOMPARE(read.browserId, chromiumApp);
    QCOMPARE(read.noWindowAnswer(), QString());
    const BrowserCommand redirect = received[1].command;
    QCOMPARE(redirect.operation, Operation::redirect);
    QCOMPARE(redirect.browserId, chromiumApp);
    QCOMPARE(redirect.expectedAddress, address);
    QCOMPARE(redirect.noWindowAnswer(), QStringLiteral("no-window"));
    QCOMPARE(redirect.target,
             rig.server.blockedPageURL(rule.id, QStringLiteral("example.com"), address)->toString(QUrl::FullyEncoded));

    // The tab now shows our page, which names the rule and gives the address back exactly.
    const QUrl page(rig.tab());
    QCOMPARE(page.host(), QStringLiteral("127.0.0.1"));
    QCOMPARE(page.port(), int(rig.port()));
    QCOMPARE(page.path(), QStringLiteral("/blocked"));
    const QUrlQuery query(page);
    QCOMPARE(query.queryItemValue(QStringLiteral("rule"), QUrl::FullyDecoded), uuidText(rule.id));
    QCOMPARE(query.queryItemValue(QStringLiteral("domain"), QUrl::FullyDecoded), QStringLiteral("example.com"));
    QCOMPARE(query.queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded), address);
    const QByteArray response =
        rig.server.handleRequest("GET " + page.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
                                 " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(rig.port()) + "\r\n\r\n");
    QVERIFY2(response.startsWith("HTTP/1.1 200 "), (page.toEncoded() + "\n" + response).constData());
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::connected));
    QVERIFY(!engine.isChecking());

    // Our own page is left alone from then on.
    rig.browser->clearReceived();
    QVERIFY(rig.look());
    QVERIFY(rig.look());
    QCOMPARE(rig.browser->operations(), (Ops{Operation::read, Operation::read}));
}

void TestBrowserEngine::whatEachTabGets_data()
{
    // %PORT% is the server's port, %OTHER% another one; "localhost" and "example.com" are blocked.
    QTest::addColumn<std::optional<QString>>("address");
    QTest::addColumn<Ops>("expected");
    QTest::addColumn<QString>("blockedDomain");
    const Ops readOnly{Operation::read};
    const Ops redirected{Operation::read, Operation::redirect};
    const Ops closed{Operation::read, Operation::close};
    const auto row = [](const char* tag, const QString& address, const Ops& ops, const QString& domain = {}) {
        QTest::newRow(tag) << std::optional(address) << ops << domain;
    };
    const QString example = QStringLiteral("example.com");
    const QString localhost = QStringLiteral("localhost");
    row("blocked site", QStringLiteral("https://www.example.com/a?b=c"), redirected, example);
    row("blocked site with a port", QStringLiteral("http://example.com:8080/x"), redirected, example);
    row("upper-case host", QStringLiteral("HTTPS://News.Example.COM/"), redirected, example);
    row("look-alike", QStringLiteral("https://notexample.com/"), readOnly);
    row("browser page", QStringLiteral("chrome://settings/"), readOnly);
    row("ftp on a blocked host", QStringLiteral("ftp://example.com/file"), readOnly);
    row("not an address", QStringLiteral("about:blank"), readOnly);
    row("no host", QStringLiteral("http:///path"), readOnly);
    QTest::newRow("no window") << std::optional<QString>() << readOnly << QString();
    row("own block page", QStringLiteral("http://127.0.0.1:%PORT%/blocked?rule=x&domain=example.com"), readOnly);
    row("own block page under localhost", QStringLiteral("http://localhost:%PORT%/blocked?rule=x"), readOnly);
    row("own close page", QStringLiteral("http://127.0.0.1:%PORT%/close?from=https%3A%2F%2Fa.example"), closed);
    row("own close page under localhost", QStringLiteral("http://LOCALHOST:%PORT%/close"), closed);
    row("own close page on ::1", QStringLiteral("http://[::1]:%PORT%/close"), closed);
    row("other own path", QStringLiteral("http://127.0.0.1:%PORT%/closed"), readOnly);
    row("close path in capitals", QStringLiteral("http://127.0.0.1:%PORT%/CLOSE"), readOnly);
    row("close path on another port", QStringLiteral("http://127.0.0.1:%OTHER%/close"), readOnly);
    row("close path on another port, blocked host", QStringLiteral("http://localhost:%OTHER%/close"), redirected,
        localhost);
    row("block page without a port, blocked host", QStringLiteral("http://localhost/blocked"), redirected, localhost);
}

void TestBrowserEngine::whatEachTabGets()
{
    QFETCH(std::optional<QString>, address);
    QFETCH(Ops, expected);
    QFETCH(QString, blockedDomain);
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now() - 2));
    rig.store.blocking().addRule(allDayRule(QStringLiteral("localhost"), rig.f.clock.now() - 1));
    rig.chromiumShowing(QString());
    const QString port = QString::number(rig.port());
    const QString other = QString::number(rig.port() == 65535 ? 65534 : rig.port() + 1);
    if (address) {
        address->replace(QStringLiteral("%PORT%"), port).replace(QStringLiteral("%OTHER%"), other);
        // A second tab behind the active one shows what closing leaves.
        FakeBrowser::Browser chromium;
        chromium.windows = {FakeBrowser::Window{{QStringLiteral("https://first.example/"), *address}, 1}};
        rig.browser->setBrowser(chromiumApp, chromium);
    } else {
        rig.browser->closeAllWindows(chromiumApp);
    }

    QVERIFY(rig.tick());
    QCOMPARE(rig.browser->operations(), expected);
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::connected));
    if (!address) {
        QCOMPARE(rig.tab(), QStringLiteral("(no window)"));
        return;
    }
    if (expected.size() > 1)
        QCOMPARE(rig.lastCommand()->expectedAddress, *address);
    if (expected == Ops{Operation::read, Operation::redirect})
        QCOMPARE(rig.tab(), rig.expectedBlockPage(blockedDomain, *address));
    else if (expected == Ops{Operation::read, Operation::close})
        QCOMPARE(rig.tab(), QStringLiteral("https://first.example/"));
    else
        QCOMPARE(rig.tab(), *address);
}

void TestBrowserEngine::closePageIsClosedOnlyIfUnchanged()
{
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    BrowserAutomationService& engine = rig.chromiumShowing(QString());
    const QString closePage = QStringLiteral("http://127.0.0.1:%1/close").arg(rig.port());
    rig.browser->navigate(chromiumApp, closePage);
    // The person goes elsewhere between the read and the close.
    rig.browser->setBeforeAnswer([](FakeBrowser& b, const BrowserCommand& command) {
        if (command.operation == Operation::close)
            b.navigate(chromiumApp, QStringLiteral("https://www.example.com/"));
    });

    QVERIFY(rig.tick());
    QCOMPARE(rig.browser->operations(), (Ops{Operation::read, Operation::close}));
    QCOMPARE(rig.tab(), QStringLiteral("https://www.example.com/"));
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::connected));
    QVERIFY(!engine.isChecking());

    // The next check sees where the tab went.
    rig.browser->setBeforeAnswer({});
    rig.browser->clearReceived();
    QVERIFY(rig.tick());
    QCOMPARE(rig.browser->operations(), (Ops{Operation::read, Operation::redirect}));
}

void TestBrowserEngine::navigatedAwayBeforeTheRedirect()
{
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    BrowserAutomationService& engine = rig.chromiumShowing(QStringLiteral("https://www.example.com/"));
    rig.browser->setBeforeAnswer([](FakeBrowser& b, const BrowserCommand& command) {
        if (command.operation == Operation::redirect)
            b.navigate(chromiumApp, QStringLiteral("https://news.example.org/"));
    });

    QVERIFY(rig.tick());
    QCOMPARE(rig.browser->operations(), (Ops{Operation::read, Operation::redirect}));
    QCOMPARE(rig.tab(), QStringLiteral("https://news.example.org/"));
    QVERIFY(!engine.isChecking());

    rig.browser->setBeforeAnswer({});
    rig.browser->clearReceived();
    QVERIFY(rig.look());
    QCOMPARE(rig.browser->operations(), Ops{Operation::read});
    QCOMPARE(rig.tab(), QStringLiteral("https://news.example.org/"));
}

void TestBrowserEngine::firstBlockedEntryWins()
{
    Rig rig;
    const Date t = rig.f.clock.now();
    rig.store.blocking().addRule(allDayRule(QStringLiteral("m.example.com"), t - 1));
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), t));
    const QString address = QStringLiteral("https://m.example.com/");
    rig.chromiumShowing(address);
    QVERIFY(rig.tick());
    const std::vector<BlockedSiteSnapshot>& blocked = rig.store.blocking().state().blockedNow;
    QCOMPARE(blocked.size(), size_t(2));
    QCOMPARE(rig.lastCommand()->target,
             rig.server.blockedPageURL(blocked[0].ruleId, blocked[0].domain, address)->toString(QUrl::FullyEncoded));
}

void TestBrowserEngine::nothingToEnforceSendsNothing()
{
    Rig rig;
    rig.server.start(0, false);
    rig.workspace.bringUp(chromiumApp);
    rig.workspace.installed.insert(firefoxApp);
    rig.browser->open(chromiumApp, QStringLiteral("https://www.example.com/"));
    BrowserAutomationService& engine = rig.build({QStringLiteral("chromium")});

    QVERIFY(rig.look());
    QVERIFY(rig.look());
    QVERIFY(rig.browser->received().isEmpty());
    QVERIFY(!engine.needsAttention()); // although Chromium never answered

    // With a rule, Firefox in front is worth a warning; without, the warning goes.
    const BlockRule rule = allDayRule(QStringLiteral("example.com"), rig.f.clock.now());
    rig.store.blocking().addRule(rule);
    rig.workspace.frontmost = firefoxApp;
    QVERIFY(rig.look());
    QCOMPARE(engine.browserInUseWithoutProtection(), QStringLiteral("Firefox"));
    QVERIFY(engine.needsAttention());
    rig.store.blocking().removeRule(rule.id);
    rig.browser->clearReceived();
    QVERIFY(rig.look());
    QCOMPARE(engine.browserInUseWithoutProtection(), std::nullopt);
    QVERIFY(!engine.needsAttention());
    rig.workspace.frontmost = chromiumApp;
    QVERIFY(rig.look());
    QVERIFY(rig.browser->received().isEmpty());

    // Doom-scroll settings alone are something to enforce.
    rig.store.blocking().updateDoomScrollConfig({true, {{QUuid::createUuid(), QStringLiteral("feed.example")}}, 20, 5});
    QVERIFY(rig.look());
    QCOMPARE(rig.browser->operations(), Ops{Operation::read});
}

void TestBrowserEngine::noPortNoChecks()
{
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    rig.workspace.bringUp(chromiumApp);
    rig.browser->open(chromiumApp, QStringLiteral("https://www.example.com/"));
    rig.build({QStringLiteral("chromium")});
    QVERIFY(rig.look());
    QVERIFY(rig.browser->received().isEmpty());
    rig.server.start(0, false);
    QVERIFY(rig.look());
    QCOMPARE(rig.browser->operations(), (Ops{Operation::read, Operation::redirect}));
}

void TestBrowserEngine::activeBrowserChoice()
{
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("blocked.example"), rig.f.clock.now()));
    BrowserAutomationService& engine = rig.chromiumShowing(QStringLiteral("https://chromium.example/"));
    rig.workspace.installed << chromeApp << braveApp;
    rig.workspace.running << chromeApp << braveApp;
    rig.browser->open(chromeApp, QStringLiteral("https://chrome.example/"));
    rig.browser->open(braveApp, QStringLiteral("https://brave.example/"));
    engine.connect(browserWithId("chrome"));
    QTRY_COMPARE(rig.access("chrome"), BrowserAccessState::of(Kind::connected));

    const auto readFrom = [&rig]() -> QString {
        rig.browser->clearReceived();
        if (!rig.look())
            return QStringLiteral("(check did not end)");
        const QList<FakeBrowser::Received> got = rig.browser->received();
        return got.isEmpty() ? QString() : got.first().command.browserId;
    };
    QCOMPARE(readFrom(), chromiumApp);
    rig.workspace.frontmost = chromeApp;
    QCOMPARE(readFrom(), chromeApp);
    // Another application in front: the last connected browser used, while it runs.
    rig.workspace.frontmost = editorApp;
    QCOMPARE(readFrom(), chromeApp);
    rig.workspace.frontmost = std::nullopt;
    QCOMPARE(readFrom(), chromeApp);
    // A browser never connected does not take over.
    rig.workspace.frontmost = braveApp;
    QCOMPARE(readFrom(), chromeApp);
    QCOMPARE(engine.browserInUseWithoutProtection(), QStringLiteral("Brave"));
    rig.workspace.running.remove(chromeApp);
    QCOMPARE(readFrom(), QString());
    rig.workspace.frontmost = editorApp;
    QCOMPARE(readFrom(), QString());

    // In front but quitting: the guard answers the empty text, which is no failure.
    rig.workspace.frontmost = chromiumApp;
    rig.browser->setRunning(chromiumApp, false);
    QCOMPARE(readFrom(), chromiumApp);
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::connected));
}

void TestBrowserEngine::hangingBrowserTimesOut()
{
    Rig rig(200);
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    BrowserAutomationService& engine = rig.chromiumShowing(QStringLiteral("https://www.example.com/"));
    rig.browser->setHang(chromiumApp, true);

    engine.checkActiveBrowser();
    QVERIFY(engine.isChecking());
    // Ticks while a check is in flight send nothing more.
    engine.checkActiveBrowser();
    engine.checkActiveBrowser();
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isChecking(), 2000);
    QCOMPARE(rig.browser->received().size(), 1);
    QCOMPARE(rig.access("chromium"),
             BrowserAccessState::of(Kind::problem, QStringLiteral("The browser did not respond in time.")));
    QVERIFY(engine.needsAttention());

    rig.browser->setHang(chromiumApp, false);
    QVERIFY(rig.tick());
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::connected));
    QVERIFY(rig.tab().startsWith(QStringLiteral("http://127.0.0.1:")));
}

void TestBrowserEngine::stuckCheckIsAbandoned()
{
    // The engine's own limit, on its monotonic clock; the executor never gives up here.
    Rig rig(600000);
    rig.store.blocking().addRule(allDayRule(QStringLiteral("blocked.example"), rig.f.clock.now()));
    BrowserAutomationService& engine = rig.chromiumShowing(QStringLiteral("https://a.example/"));
    rig.browser->setHang(chromiumApp, true);
    struct Change {
        BrowserAccessState state;
        bool checking;
    };
    QList<Change> changes;
    // Looked at once the completion that changed the state has run to its end.
    QObject::connect(
        &engine, &BrowserAutomationService::accessChanged, &engine,
        [&] {
            changes.append({rig.access("chromium"), engine.isChecking()});
        },
        Qt::QueuedConnection);

    const qsizetype readsBefore = rig.browser->count(Operation::read);
    engine.checkActiveBrowser();
    QVERIFY(engine.isChecking());
    // The browser has the script and sits on it.
    QTRY_COMPARE_WITH_TIMEOUT(rig.browser->count(Operation::read), readsBefore + 1, 10000);
    // Nothing to check any more, but the stuck check still holds the flag.
    rig.workspace.frontmost = editorApp;
    rig.workspace.running.remove(chromiumApp);
    engine.checkActiveBrowser();
    QVERIFY(engine.isChecking());

    rig.monotonic.value += BrowserAutomationService::checkWatchdogMs / 1000.0;
    engine.checkActiveBrowser();
    QVERIFY(engine.isChecking()); // not yet
    rig.monotonic.value += 0.5;
    engine.checkActiveBrowser();
    QVERIFY(!engine.isChecking());

    // A new check starts; the old one's late answer must not end it.
    rig.workspace.bringUp(chromiumApp);
    rig.browser->setHang(chromiumApp, false);
    rig.browser->setDelay(chromiumApp, 300);
    engine.checkActiveBrowser();
    QVERIFY(engine.isChecking());
    rig.browser->releaseHung(BrowserScriptExecutor::timedOut());
    QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 2, 10000);
    QCOMPARE(changes[0].state,
             BrowserAccessState::of(Kind::problem, QStringLiteral("The browser did not respond in time.")));
    QVERIFY(changes[0].checking);
    QCOMPARE(changes[1].state, BrowserAccessState::of(Kind::connected));
    QVERIFY(!engine.isChecking());
}

void TestBrowserEngine::engineGoneBeforeTheAnswer()
{
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    rig.chromiumShowing(QStringLiteral("https://www.example.com/"));
    rig.browser->setDelay(chromiumApp, 100);
    rig.engine->checkActiveBrowser();
    rig.core.reset();
    QTest::qWait(250);
    QCOMPARE(rig.browser->operations(), Ops{Operation::read});
    QCOMPARE(rig.tab(), QStringLiteral("https://www.example.com/"));
}

void TestBrowserEngine::startRunsTheTimer()
{
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("blocked.example"), rig.f.clock.now()));
    rig.workspace.bringUp(chromiumApp);
    rig.browser->open(chromiumApp, QStringLiteral("https://a.example/"));
    BrowserAutomationService& engine = rig.build({QStringLiteral("chromium")});
    QVERIFY(!rig.server.isStarted());

    engine.start();
    // The server is started (on its usual port, or another when that is taken) and a first check
    // goes out at once; the timer brings the rest.
    QVERIFY(rig.server.port());
    const quint16 port = *rig.server.port();
    QVERIFY(engine.isStarted());
    QVERIFY(engine.isChecking());
    QTRY_VERIFY_WITH_TIMEOUT(rig.browser->count(Operation::read) >= 3, 5000);
    engine.start();
    QCOMPARE(rig.server.port(), port);
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::connected));
}

void TestBrowserEngine::checksSleepWithNothingToLookAt_data()
{
    QTest::addColumn<bool>("rule");
    QTest::addColumn<QString>("running"); // empty: no browser runs
    QTest::addColumn<bool>("screenLocked");
    QTest::addColumn<bool>("checking");
    QTest::newRow("a rule and a chosen browser running") << true << chromiumApp << false << true;
    QTest::newRow("a rule and a browser never chosen: its warning needs the checks")
        << true << firefoxApp << false << true;
    QTest::newRow("a rule and a known unprotected browser") << true << QStringLiteral("chrome-canary") << false << true;
    QTest::newRow("a rule, no browser running") << true << QString() << false << false;
    QTest::newRow("no rule, a chosen browser running") << false << chromiumApp << false << false;
    QTest::newRow("the screen locked") << true << chromiumApp << true << false;
}

void TestBrowserEngine::checksSleepWithNothingToLookAt()
{
    QFETCH(bool, rule);
    QFETCH(QString, running);
    QFETCH(bool, screenLocked);
    QFETCH(bool, checking);
    Rig rig;
    rig.server.start(0, false);
    if (rule)
        rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    if (!running.isEmpty()) {
        rig.workspace.bringUp(running);
        rig.browser->open(running, QStringLiteral("https://example.org/"));
    }
    BrowserAutomationService& engine = rig.build({QStringLiteral("chromium")});
    engine.start();
    if (screenLocked)
        emit rig.screen.screenLocked();
    QVERIFY(engine.isStarted());
    QCOMPARE(engine.isCheckTimerRunning(), checking);
}

void TestBrowserEngine::eventsWakeTheChecks()
{
    Rig rig;
    rig.server.start(0, false);
    BrowserAutomationService& engine = rig.build({QStringLiteral("chromium")});
    engine.start();
    QVERIFY(!engine.isCheckTimerRunning());

    // A browser starts: not before the desktop says so.
    rig.workspace.bringUp(chromiumApp);
    rig.browser->open(chromiumApp, QStringLiteral("https://www.example.com/"));
    QVERIFY(!engine.isCheckTimerRunning());
    engine.browsersChanged();
    // Still nothing to enforce.
    QVERIFY(!engine.isCheckTimerRunning());
    const BlockRule rule = allDayRule(QStringLiteral("example.com"), rig.f.clock.now());
    rig.store.blocking().addRule(rule);
    QVERIFY(engine.isCheckTimerRunning());
    // The timer brings the checks by itself.
    QTRY_VERIFY_WITH_TIMEOUT(rig.tab().startsWith(QStringLiteral("http://127.0.0.1:")), 30000);

    // Locked, asleep until unlocked.
    emit rig.screen.screenLocked();
    QVERIFY(!engine.isCheckTimerRunning());
    emit rig.screen.screenUnlocked();
    QVERIFY(engine.isCheckTimerRunning());

    // The browser quits, and another window comes to the front: the next tick finds nothing to
    // look at and the checks stop.
    rig.workspace.running.clear();
    rig.browser->setRunning(chromiumApp, false);
    rig.workspace.frontmost = editorApp;
    QTRY_VERIFY_WITH_TIMEOUT(!engine.isCheckTimerRunning(), 30000);
    rig.store.blocking().removeRule(rule.id);
    rig.workspace.bringUp(chromiumApp);
    engine.browsersChanged();
    QVERIFY(!engine.isCheckTimerRunning());
    // Doom-scroll breaks are something to enforce too.
    DoomScrollConfig doom = rig.store.blocking().doomScrollConfig();
    doom.isEnabled = true;
    doom.domains = {DoomScrollDomain{QUuid::createUuid(), QStringLiteral("feed.example")}};
    QVERIFY(rig.store.blocking().updateDoomScrollConfig(doom));
    QVERIFY(engine.isCheckTimerRunning());
}

void TestBrowserEngine::heldDomainsFollowWhatIsBlocked()
{
    FakeInterceptor interceptor; // outlives the engine, as it must
    Rig rig;
    rig.interceptor = &interceptor;
    const BlockRule rule = allDayRule(QStringLiteral("Example.com"), rig.f.clock.now());
    rig.store.blocking().addRule(rule);
    rig.store.blocking().addRule(eveningRule(QStringLiteral("later.org"), rig.f.clock.now()));
    BrowserAutomationService& engine = rig.chromiumShowing(QStringLiteral("https://www.example.com/"));
    const QStringList blocked{QStringLiteral("example.com")};

    // Only a connected browser is held, and only for what is blocked now.
    QVERIFY(rig.tick());
    QCOMPARE(interceptor.watched.value(chromiumApp), blocked);
    QCOMPARE(interceptor.watched.value(chromeApp), QStringList());
    // Whatever the interceptor managed, the check still sends the tab away.
    QCOMPARE(rig.tab(),
             rig.expectedBlockPage(QStringLiteral("Example.com"), QStringLiteral("https://www.example.com/")));

    rig.workspace.bringUp(chromeApp);
    engine.connect(browserWithId("chrome"));
    QCOMPARE(interceptor.watched.value(chromeApp), blocked);

    // A change of the list reaches the browsers without waiting for a check.
    const BlockRule second = allDayRule(QStringLiteral("news.example"), rig.f.clock.now());
    rig.store.blocking().addRule(second);
    QCOMPARE(interceptor.watched.value(chromiumApp),
             (QStringList{QStringLiteral("example.com"), QStringLiteral("news.example")}));
    rig.store.blocking().removeRule(rule.id);
    rig.store.blocking().removeRule(second.id);
    QCOMPARE(interceptor.watched.value(chromiumApp), QStringList());
    QCOMPARE(interceptor.watched.value(chromeApp), QStringList());

    // The run ends: nothing is held or sent to the block page again, whatever the store says,
    // so a tab sent back to its site stays there.
    rig.store.blocking().addRule(second);
    QCOMPARE(interceptor.watched.value(chromeApp), QStringList{QStringLiteral("news.example")});
    engine.stop();
    QCOMPARE(interceptor.watched.value(chromiumApp), QStringList());
    QCOMPARE(interceptor.watched.value(chromeApp), QStringList());
    QVERIFY(!engine.isCheckTimerRunning());
    rig.browser->open(chromiumApp, QStringLiteral("https://news.example/"));
    QVERIFY(rig.tick());
    QCOMPARE(rig.tab(), QStringLiteral("https://news.example/"));
    QCOMPARE(interceptor.decision(chromiumApp, QStringLiteral("https://news.example/")), std::nullopt);
    rig.store.blocking().addRule(allDayRule(QStringLiteral("later.example"), rig.f.clock.now()));
    QCOMPARE(interceptor.watched.value(chromiumApp), QStringList());
}

void TestBrowserEngine::heldNavigationIsDecidedNow_data()
{
    QTest::addColumn<QString>("app");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("ruleRemoved");
    QTest::addColumn<QString>("blockedDomain"); // empty: let through

    const QString feed = QStringLiteral("http://www.example.com/feed?a=1&b=%C3%A9");
    QTest::newRow("blocked subdomain") << chromiumApp << feed << false << QStringLiteral("example.com");
    QTest::newRow("rule gone since the pattern was set") << chromiumApp << feed << true << QString();
    QTest::newRow("a host that only ends alike")
        << chromiumApp << QStringLiteral("https://notexample.com/") << false << QString();
    QTest::newRow("a pattern match in the query")
        << chromiumApp << QStringLiteral("https://a.org/?u=x.example.com/") << false << QString();
    QTest::newRow("not a web address") << chromiumApp << QStringLiteral("ftp://example.com/") << false << QString();
    QTest::newRow("a browser never connected") << chromeApp << feed << false << QString();
    QTest::newRow("an application that is no browser of ours") << editorApp << feed << false << QString();
}

void TestBrowserEngine::heldNavigationIsDecidedNow()
{
    QFETCH(QString, app);
    QFETCH(QString, address);
    QFETCH(bool, ruleRemoved);
    QFETCH(QString, blockedDomain);
    FakeInterceptor interceptor; // outlives the engine, as it must
    Rig rig;
    rig.interceptor = &interceptor;
    const BlockRule rule = allDayRule(QStringLiteral("example.com"), rig.f.clock.now());
    rig.store.blocking().addRule(rule);
    rig.chromiumShowing(QStringLiteral("about:blank"));
    QVERIFY(interceptor.decision);
    const QString expected = blockedDomain.isEmpty() ? QString() : rig.expectedBlockPage(blockedDomain, address);
    if (ruleRemoved)
        rig.store.blocking().removeRule(rule.id);
    QCOMPARE(interceptor.decision(app, address).value_or(QString()), expected);
    // Our own pages are never held.
    const QString own = QStringLiteral("http://127.0.0.1:%1/close").arg(rig.port());
    QCOMPARE(interceptor.decision(app, own), std::nullopt);

    // An engine gone leaves a decision that lets everything through.
    rig.core.reset();
    QVERIFY(!interceptor.decision || !interceptor.decision(app, address));
}

// ---------------------------------------------------------------- accounting

void TestBrowserEngine::activeUseIsCountedInCappedSteps()
{
    Rig rig;
    const Date t = rig.f.clock.now();
    const BlockRule a = limitRule(QStringLiteral("a.example"), 1, t - 2);
    const BlockRule b = limitRule(QStringLiteral("b.example"), 30, t - 1);
    rig.store.blocking().addRule(a);
    rig.store.blocking().addRule(b);
    rig.chromiumShowing(QStringLiteral("https://www.a.example/feed"));

    QVERIFY(rig.tick()); // only starts the measurement
    QVERIFY(rig.look());
    QCOMPARE(rig.usage(a), -1);
    QVERIFY(rig.look()); // 0.65 + 0.65: one second handed over, 0.3 kept
    QCOMPARE(rig.usage(a), 1);
    QVERIFY(rig.look());
    QCOMPARE(rig.usage(a), 1);
    QVERIFY(rig.look());
    QCOMPARE(rig.usage(a), 2);
    QVERIFY(rig.look(30)); // a long gap counts 2 seconds
    QCOMPARE(rig.usage(a), 4);
    QVERIFY(rig.look(-10)); // a clock set back counts nothing
    QCOMPARE(rig.usage(a), 4);

    // Another rule's site: its first look counts nothing for either.
    rig.browser->navigate(chromiumApp, QStringLiteral("https://b.example/"));
    QVERIFY(rig.look());
    QCOMPARE(rig.usage(a), 4);
    QCOMPARE(rig.usage(b), -1);
    QVERIFY(rig.look(1.5));
    QCOMPARE(rig.usage(b), 1);

    // Back on the first site until its one-minute limit runs out: the same check redirects.
    rig.browser->navigate(chromiumApp, QStringLiteral("https://www.a.example/feed"));
    rig.browser->clearReceived();
    int looks = 0;
    while (rig.browser->count(Operation::redirect) == 0 && looks < 100) {
        QVERIFY(rig.look(2));
        ++looks;
    }
    QCOMPARE(rig.usage(a), 60);
    QCOMPARE(looks, 1 + 28); // one look to start again, then 2 s each from 4 to 60
    QVERIFY(rig.store.blocking().state().exceededRuleIds.contains(a.id));
    QCOMPARE(rig.tab(),
             rig.expectedBlockPage(QStringLiteral("a.example"), QStringLiteral("https://www.a.example/feed")));
    QCOMPARE(rig.usage(b), 1);
}

void TestBrowserEngine::interruptionsOfActiveUse_data()
{
    // After two looks 0.65 s of use are pending; then one look under the interruption, and
    // three more looks in normal use. Seconds reach the store after each of the four.
    QTest::addColumn<QString>("interruption");
    QTest::addColumn<QList<qint64>>("expected");
    const QList<qint64> keeps{1, 1, 2, 3};
    const QList<qint64> resets{0, 0, 0, 1};
    QTest::newRow("idle just under 600 s") << QStringLiteral("idle 599.9") << keeps;
    QTest::newRow("own window in front") << QStringLiteral("own") << keeps;
    QTest::newRow("idle 600 s") << QStringLiteral("idle 600") << resets;
    QTest::newRow("another application in front") << QStringLiteral("editor") << resets;
    QTest::newRow("screens asleep") << QStringLiteral("sleep") << resets;
    QTest::newRow("screen locked") << QStringLiteral("lock") << resets;
    QTest::newRow("own page") << QStringLiteral("own page") << resets;
    QTest::newRow("browser page") << QStringLiteral("browser page") << resets;
    QTest::newRow("no window") << QStringLiteral("no window") << resets;
    QTest::newRow("site of no rule") << QStringLiteral("other site") << resets;
}

void TestBrowserEngine::interruptionsOfActiveUse()
{
    QFETCH(QString, interruption);
    QFETCH(QList<qint64>, expected);
    Rig rig;
    const BlockRule rule = limitRule(QStringLiteral("example.com"), 30, rig.f.clock.now());
    rig.store.blocking().addRule(rule);
    const QString site = QStringLiteral("https://www.example.com/");
    BrowserAutomationService& engine = rig.chromiumShowing(site);
    QVERIFY(rig.tick());
    QVERIFY(rig.look());

    if (interruption.startsWith(QLatin1String("idle ")))
        rig.idle.seconds = interruption.mid(5).toDouble();
    else if (interruption == QLatin1String("own"))
        rig.workspace.frontmost = rig.workspace.ownId;
    else if (interruption == QLatin1String("editor"))
        rig.workspace.frontmost = editorApp;
    else if (interruption == QLatin1String("sleep"))
        emit rig.screen.screensDidSleep();
    else if (interruption == QLatin1String("lock"))
        emit rig.screen.screenLocked();
    else if (interruption == QLatin1String("own page"))
        rig.browser->navigate(chromiumApp, QStringLiteral("http://127.0.0.1:%1/blocked").arg(rig.port()));
    else if (interruption == QLatin1String("browser page"))
        rig.browser->navigate(chromiumApp, QStringLiteral("about:preferences"));
    else if (interruption == QLatin1String("no window"))
        rig.browser->closeAllWindows(chromiumApp);
    else if (interruption == QLatin1String("other site"))
        rig.browser->navigate(chromiumApp, QStringLiteral("https://other.example/"));

    const qsizetype readsBefore = rig.browser->count(Operation::read);
    QList<qint64> got;
    QVERIFY(rig.look());
    got << std::max<qint64>(rig.usage(rule), 0);
    if (interruption == QLatin1String("sleep") || interruption == QLatin1String("lock")) {
        // Nothing is sent while the screen is off, however much time passes.
        QVERIFY(!engine.isScreenActive());
        QVERIFY(rig.look(3600));
        QCOMPARE(rig.browser->count(Operation::read), readsBefore);
        emit(interruption == QLatin1String("sleep") ? rig.screen.screensDidWake() : rig.screen.screenUnlocked());
        QVERIFY(engine.isScreenActive());
    }
    rig.idle.seconds = 0;
    rig.workspace.frontmost = chromiumApp;
    rig.browser->open(chromiumApp, site);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(rig.look());
        got << std::max<qint64>(rig.usage(rule), 0);
    }
    QCOMPARE(got, expected);
}

void TestBrowserEngine::urgentBreakBeforeDailyLimit()
{
    Rig rig;
    const Date t = rig.f.clock.now();
    const BlockRule a = allDayRule(QStringLiteral("example.com"), t - 2, true);
    const BlockRule b = limitRule(QStringLiteral("m.example.com"), 30, t - 1);
    rig.store.blocking().addRule(a);
    rig.store.blocking().addRule(b);
    rig.store.blocking().refreshBlockingState();
    QVERIFY(rig.store.blocking().startUrgentBreak(a.id, 5));
    const QString site = QStringLiteral("https://m.example.com/");
    BrowserAutomationService& engine = rig.chromiumShowing(site);

    QVERIFY(rig.tick());
    QVERIFY(rig.look());
    QVERIFY(rig.look());
    QCOMPARE(rig.store.blocking().state().urgentBreak->usedSeconds, 1);
    QCOMPARE(rig.usage(b), -1);
    QCOMPARE(rig.browser->count(Operation::redirect), 0);
    QCOMPARE(engine.activeUrgentBreakRule(QStringLiteral("m.example.com"))->id, a.id);
    QVERIFY(!engine.activeUrgentBreakRule(QStringLiteral("other.example")));

    // When the break's time is up it stops counting, whether or not the store has caught up.
    rig.f.clock.set(rig.store.blocking().state().urgentBreak->fallbackExpiresAt);
    QVERIFY(rig.store.blocking().state().urgentBreak);
    QVERIFY(!engine.activeUrgentBreakRule(QStringLiteral("m.example.com")));
    QVERIFY(rig.tick());
    QCOMPARE(rig.browser->count(Operation::redirect), 1);
    QCOMPARE(rig.tab(), rig.expectedBlockPage(QStringLiteral("example.com"), site));
}

void TestBrowserEngine::limitRuleWeekdays_data()
{
    QTest::addColumn<int>("dayOffset"); // -1: every day
    QTest::addColumn<qint64>("expected");
    QTest::newRow("every day") << -1 << qint64(1);
    QTest::newRow("today") << 0 << qint64(1);
    QTest::newRow("all other days") << 1 << qint64(-1);
}

void TestBrowserEngine::limitRuleWeekdays()
{
    QFETCH(int, dayOffset);
    QFETCH(qint64, expected);
    Rig rig;
    BlockRule rule = limitRule(QStringLiteral("example.com"), 30, rig.f.clock.now());
    const int today = rig.f.calendar.weekday(rig.f.clock.now());
    if (dayOffset == 0)
        rule.activeWeekdays = {today};
    else if (dayOffset > 0)
        for (int d = 1; d <= 7; ++d)
            if (d != today)
                rule.activeWeekdays.insert(d);
    rig.store.blocking().addRule(rule);
    rig.chromiumShowing(QStringLiteral("https://example.com/"));
    QVERIFY(rig.tick());
    QVERIFY(rig.look());
    QVERIFY(rig.look());
    QCOMPARE(rig.usage(rule), expected);
}

void TestBrowserEngine::doomScrollWindow()
{
    Rig rig;
    // A rule outside its hours is not measured, but the site still counts for the window.
    const BlockRule evening = eveningRule(QStringLiteral("feed.example"), rig.f.clock.now());
    rig.store.blocking().addRule(evening);
    const QString feed = QStringLiteral("https://www.feed.example/home");
    rig.chromiumShowing(feed);
    const auto doomUsed = [&rig]() -> qint64 {
        return rig.store.blocking().state().doomScroll ? rig.store.blocking().state().doomScroll->usedSeconds : -1;
    };

    // Settings off: nothing counted.
    QVERIFY(rig.tick());
    QVERIFY(rig.look());
    QVERIFY(rig.look());
    QCOMPARE(doomUsed(), -1);

    const QUuid listed = QUuid::createUuid();
    rig.store.blocking().updateDoomScrollConfig({true, {{listed, QStringLiteral("feed.example")}}, 1, 5});
    QVERIFY(rig.look());
    QVERIFY(rig.look());
    QVERIFY(rig.look());
    QCOMPARE(doomUsed(), 1);
    QCOMPARE(rig.usage(evening), -1);

    // A site off the list drops the pending fraction and the next look on the list starts over.
    rig.browser->navigate(chromiumApp, QStringLiteral("https://other.example/"));
    QVERIFY(rig.look());
    rig.browser->navigate(chromiumApp, feed);
    QVERIFY(rig.look());
    QVERIFY(rig.look());
    QCOMPARE(doomUsed(), 1);

    // Use up the one-minute window: the check that fills it sends the tab to the block page.
    rig.browser->clearReceived();
    int looks = 0;
    while (rig.browser->count(Operation::redirect) == 0 && looks < 100) {
        QVERIFY(rig.look(2));
        ++looks;
    }
    QCOMPARE(looks, 30); // 1 s used and 0.65 pending, then 2 s a look past 60
    QVERIFY(rig.store.blocking().state().doomScroll->breakEndsAt);
    QCOMPARE(*rig.store.blocking().state().doomScroll->breakEndsAt, rig.f.clock.now() + 300);
    QCOMPARE(rig.tab(), rig.expectedBlockPage(QStringLiteral("feed.example"), feed));
    QCOMPARE(rig.lastCommand()->target.contains(uuidText(listed)), true);

    // During the break nothing is counted, and going back is redirected again; here the person
    // keeps beating the redirect to it.
    rig.browser->navigate(chromiumApp, feed);
    rig.browser->setBeforeAnswer([feed](FakeBrowser& b, const BrowserCommand& command) {
        if (command.operation == Operation::redirect)
            b.navigate(chromiumApp, command.expectedAddress == feed ? feed + QStringLiteral("?more") : feed);
    });
    QVERIFY(rig.look());
    QVERIFY(rig.look());
    QCOMPARE(doomUsed(), 0);
    QCOMPARE(rig.browser->count(Operation::redirect), 3);

    // The break leaves the counter idle: the first look after it counts nothing.
    rig.browser->setBeforeAnswer({});
    rig.f.clock.advance(300);
    QVERIFY(rig.look(1));
    QCOMPARE(doomUsed(), 0);
}

// ---------------------------------------------------------------- attention and warning

void TestBrowserEngine::needsAttention_data()
{
    QTest::addColumn<QStringList>("installed"); // browser ids
    QTest::addColumn<QStringList>("states");    // "id=kind"
    QTest::addColumn<bool>("enforce");
    QTest::addColumn<QString>("front");
    QTest::addColumn<bool>("expected");
    QTest::addColumn<std::optional<QString>>("warning");
    const std::optional<QString> none;
    const QString chromium = QStringLiteral("chromium");
    const QString chrome = QStringLiteral("chrome");
    const auto set = [](std::initializer_list<const char*> list) {
        QStringList out;
        for (const char* s : list)
            out << QString::fromLatin1(s);
        return out;
    };
    // Firefox, installed in every row, is reached through its extension only: without it nothing
    // protects a person who uses only Firefox.
    QTest::newRow("only Firefox, without its extension")
        << QStringList() << QStringList() << true << firefoxApp << true << std::optional(QStringLiteral("Firefox"));
    QTest::newRow("nothing to enforce") << QStringList{chromium} << QStringList() << false << firefoxApp << false
                                        << none;
    QTest::newRow("none connected") << QStringList{chromium, chrome} << set({"chromium=browserClosed"}) << true
                                    << editorApp << true << none;
    QTest::newRow("one connected") << QStringList{chromium, chrome} << set({"chromium=connected"}) << true << editorApp
                                   << false << none;
    QTest::newRow("one connected, one refused")
        << QStringList{chromium, chrome} << set({"chromium=connected", "chrome=permissionNeeded"}) << true << editorApp
        << true << none;
    QTest::newRow("one connected, one unsupported")
        << QStringList{chromium, chrome} << set({"chromium=connected", "chrome=unsupported"}) << true << editorApp
        << true << none;
    QTest::newRow("one connected, one with a problem")
        << QStringList{chromium, chrome} << set({"chromium=connected", "chrome=problem"}) << true << editorApp << true
        << none;
    QTest::newRow("a problem of an uninstalled browser")
        << QStringList{chromium} << set({"chromium=connected", "chrome=problem"}) << true << editorApp << false << none;
    QTest::newRow("connected, Firefox in front") << QStringList{chromium} << set({"chromium=connected"}) << true
                                                 << firefoxApp << true << std::optional(QStringLiteral("Firefox"));
    QTest::newRow("connected, unconnected Chrome in front")
        << QStringList{chromium, chrome} << set({"chromium=connected"}) << true << chromeApp << true
        << std::optional(QStringLiteral("Google Chrome"));
    QTest::newRow("connected, nothing in front")
        << QStringList{chromium} << set({"chromium=connected"}) << true << QString() << false << none;
}

void TestBrowserEngine::needsAttention()
{
    QFETCH(QStringList, installed);
    QFETCH(QStringList, states);
    QFETCH(bool, enforce);
    QFETCH(QString, front);
    QFETCH(bool, expected);
    QFETCH(std::optional<QString>, warning);
    Rig rig;
    rig.server.start(0, false);
    if (enforce)
        rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    for (const QString& id : installed)
        rig.workspace.installed.insert(id);
    rig.workspace.installed.insert(firefoxApp);
    if (!front.isEmpty())
        rig.workspace.frontmost = front;
    BrowserAutomationService& engine = rig.build();
    static const QHash<QString, Kind> kinds{{QStringLiteral("problem"), Kind::problem},
                                            {QStringLiteral("browserClosed"), Kind::browserClosed},
                                            {QStringLiteral("connected"), Kind::connected},
                                            {QStringLiteral("permissionNeeded"), Kind::permissionNeeded},
                                            {QStringLiteral("unsupported"), Kind::unsupported}};
    for (const QString& entry : states) {
        const QStringList parts = entry.split(u'=');
        engine.setAccess({kinds.value(parts[1]), QStringLiteral("m")}, *SupportedBrowser::withId(parts[0]));
    }
    QVERIFY(rig.tick());
    QVERIFY(rig.browser->received().isEmpty()); // no browser was ever asked for
    QCOMPARE(engine.browserInUseWithoutProtection(), warning);
    QCOMPARE(engine.needsAttention(), expected);
}

void TestBrowserEngine::unprotectedBrowserWarning()
{
    Rig rig;
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    BrowserAutomationService& engine = rig.chromiumShowing(QStringLiteral("https://a.example/"));
    rig.workspace.installed.insert(firefoxApp);
    QVERIFY(rig.tick());
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::connected));
    QVERIFY(!engine.needsAttention());
    QSignalSpy changes(&engine, &BrowserAutomationService::browserInUseWithoutProtectionChanged);
    // The status icon shows needsAttention(), and follows this signal.
    QSignalSpy attention(&engine, &BrowserAutomationService::accessChanged);

    const struct {
        std::optional<QString> front;
        std::optional<QString> warning;
    } steps[] = {
        {firefoxApp, QStringLiteral("Firefox")},
        {firefoxApp, QStringLiteral("Firefox")},
        {editorApp, QStringLiteral("Firefox")}, // switching to a non-browser keeps it
        {rig.workspace.ownId, QStringLiteral("Firefox")},
        {chromiumApp, std::nullopt},
        {QStringLiteral("opera"), QStringLiteral("Opera")},
        {QStringLiteral("chrome-canary"), QStringLiteral("Chrome Canary")},
        {QStringLiteral("vivaldi"), QStringLiteral("Vivaldi")},
        {QString(), std::nullopt},
        {braveApp, QStringLiteral("Brave")},
        {std::nullopt, std::nullopt},
    };
    int expectedChanges = 0;
    std::optional<QString> previous;
    for (const auto& step : steps) {
        rig.workspace.frontmost = step.front;
        attention.clear();
        QVERIFY(rig.look());
        QCOMPARE(engine.browserInUseWithoutProtection(), step.warning);
        QVERIFY(step.warning == previous || !attention.isEmpty());
        QCOMPARE(engine.needsAttention(), step.warning.has_value());
        expectedChanges += step.warning != previous ? 1 : 0;
        previous = step.warning;
        QCOMPARE(changes.size(), expectedChanges);
    }
}

// ---------------------------------------------------------------- the two routes

void TestBrowserEngine::routesCombine_data()
{
    using Setup = ExtensionLink::Setup;
    QTest::addColumn<QString>("browser");
    QTest::addColumn<int>("devTools");
    QTest::addColumn<int>("extension"); // -1: no extension route at all
    QTest::addColumn<bool>("privateAllowed");
    QTest::addColumn<bool>("seen");           // the extension said hello from this browser before
    QTest::addColumn<bool>("running");        // the browser runs now
    QTest::addColumn<QStringList>("leftOut"); // profiles of it known to be without the extension
    QTest::addColumn<int>("expected");
    const int none = -1;
    const auto row = [](const char* name, const char* id, Kind devTools, int extension, bool privateAllowed,
                        Kind expected, bool seen = false, bool running = true, const QStringList& leftOut = {}) {
        QTest::newRow(name) << QString::fromLatin1(id) << int(devTools) << extension << privateAllowed << seen
                            << running << leftOut << int(expected);
    };
    row("extension connected", "chrome", Kind::permissionNeeded, int(Setup::connected), true, Kind::connected);
    row("connected, two profiles without it, private windows hidden too", "brave", Kind::notConnected,
        int(Setup::connected), false, Kind::profilesLeftOut, true, true,
        {QStringLiteral("Work"), QStringLiteral("Person 2")});
    row("extension connected, private windows hidden", "firefox", Kind::notConnected, int(Setup::connected), false,
        Kind::privateWindowsHidden);
    row("debugging port connected, no extension", "chrome", Kind::connected, int(Setup::extensionMissing), true,
        Kind::connected);
    row("waiting for Allow wins over a missing extension", "chrome", Kind::awaitingConsent,
        int(Setup::extensionMissing), true, Kind::awaitingConsent);
    row("no debugging port: the extension is the fix", "chrome", Kind::permissionNeeded, int(Setup::extensionMissing),
        true, Kind::extensionMissing);
    row("fresh home: no link file yet is no installed extension", "chromium", Kind::notConnected,
        int(Setup::hostMissing), true, Kind::extensionMissing);
    row("Firefox in a fresh home likewise", "firefox", Kind::notConnected, int(Setup::hostMissing), true,
        Kind::extensionMissing);
    row("extension seen before, its link file gone", "brave", Kind::browserClosed, int(Setup::hostMissing), true,
        Kind::hostMissing, true);
    row("extension seen before, gone from the running browser", "chromium", Kind::notConnected,
        int(Setup::extensionMissing), true, Kind::extensionOff, true, true);
    row("extension seen before, the browser closed", "chromium", Kind::notConnected, int(Setup::extensionMissing), true,
        Kind::browserClosed, true, false);
    row("Firefox's add-on seen before, disabled", "firefox", Kind::notConnected, int(Setup::extensionMissing), true,
        Kind::extensionOff, true, true);
    row("a protocol failure is told as it is", "edge", Kind::problem, int(Setup::extensionMissing), true,
        Kind::problem);
    row("sandbox: the debugging protocol's state stays", "chromium", Kind::permissionNeeded, int(Setup::notPossible),
        true, Kind::permissionNeeded);
    row("not installed", "chrome", Kind::notInstalled, int(Setup::extensionMissing), true, Kind::notInstalled);
    row("no extension route: debugging protocol only", "chrome", Kind::permissionNeeded, none, true,
        Kind::permissionNeeded);
    row("Firefox without the extension route", "firefox", Kind::notConnected, none, true, Kind::extensionMissing);
    row("Firefox in a sandbox", "firefox", Kind::browserClosed, int(Setup::notPossible), true, Kind::notPossible);
    row("Firefox release: only signed add-ons", "firefox", Kind::notConnected, int(Setup::signedOnly), true,
        Kind::notPossible);
    row("Firefox is never connected by the debugging protocol", "firefox", Kind::connected,
        int(Setup::extensionMissing), true, Kind::extensionMissing);
}

void TestBrowserEngine::routesCombine()
{
    QFETCH(QString, browser);
    QFETCH(int, devTools);
    QFETCH(int, extension);
    QFETCH(bool, privateAllowed);
    QFETCH(bool, seen);
    QFETCH(bool, running);
    QFETCH(QStringList, leftOut);
    QFETCH(int, expected);
    const SupportedBrowser& b = *SupportedBrowser::withId(browser);
    BrowserAutomationService::ExtensionSide side;
    side.profilesLeftOut = leftOut;
    side.seen = seen;
    side.running = running;
    if (extension >= 0) {
        side.setup = ExtensionLink::Setup(extension);
        ExtensionTabReport r;
        r.browserId = b.id;
        r.privateWindowsAllowed = privateAllowed;
        side.report = r;
    }
    const BrowserAccessState state =
        BrowserAutomationService::combinedAccess(b, BrowserAccessState::of(Kind(devTools)), side);
    QCOMPARE(int(state.kind), expected);
    // A browser that loads only signed add-ons says why it cannot be protected, and offers nothing.
    if (side.setup == ExtensionLink::Setup::signedOnly) {
        QVERIFY(state.message.contains(QLatin1String("signed")));
        const std::optional<BrowserStateText> text = browserStateText(b, state);
        QVERIFY(text && text->actionTitle.isEmpty() && text->detail == state.message);
    }
    // Profiles left out: the row names each, never says "Connected", and offers to add the extension.
    if (state.kind == Kind::profilesLeftOut) {
        const std::optional<BrowserStateText> text = browserStateText(b, state);
        QVERIFY(text && text->actionTitle == QLatin1String("Add Extension"));
        QVERIFY(state.isProtected() && !state.isConnectedEverywhere() && state.needsAttention());
        QCOMPARE(text->detail, QStringLiteral("Not protected in the profiles “Work” and “Person 2”. Open each of "
                                              "them in Brave and add the extension there."));
    }
}

void TestBrowserEngine::extensionConnectionIsAConnectedBrowser()
{
    Rig rig;
    rig.server.start(0, false);
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    FakeExtensions extensions;
    rig.extensions = &extensions;
    rig.workspace.installed = {firefoxApp};
    rig.workspace.frontmost = firefoxApp;
    BrowserAutomationService& engine = rig.build();
    QVERIFY(rig.tick());
    // Firefox alone, without its extension: nothing protects the person, and the warning names it.
    QCOMPARE(rig.access("firefox"), BrowserAccessState::of(Kind::extensionMissing));
    QVERIFY(engine.needsAttention());
    QCOMPARE(engine.browserInUseWithoutProtection(), std::optional(QStringLiteral("Firefox")));

    // Installing the extension is the consent: connected, remembered as chosen, nothing to fix.
    QSignalSpy changes(&engine, &BrowserAutomationService::accessChanged);
    extensions.setups.insert(firefoxApp, ExtensionLink::Setup::connected);
    extensions.reports.insert(firefoxApp, ExtensionTabReport{firefoxApp, true, 1, QString(), true, {}, {}});
    emit extensions.setupChanged();
    QCOMPARE(changes.size(), 1);
    QCOMPARE(rig.access("firefox"), BrowserAccessState::of(Kind::connected));
    QVERIFY(rig.tick());
    QVERIFY(!engine.needsAttention());
    QCOMPARE(engine.browserInUseWithoutProtection(), std::nullopt);
    QCOMPARE(rig.f.defaults.value(BrowserAutomationService::attemptedKey),
             QJsonValue(QJsonArray{QStringLiteral("firefox")}));

    // The private-windows report alone changes the state, and it stays protected.
    extensions.reports[firefoxApp].privateWindowsAllowed = false;
    emit extensions.reportChanged(firefoxApp);
    QCOMPARE(rig.access("firefox"), BrowserAccessState::of(Kind::privateWindowsHidden));
    QVERIFY(!engine.needsAttention());

    // The extension that spoke before gone from the browser that still runs is switched off or
    // removed, a fault to fix; its fix is the help page until the install steps are handed in.
    extensions.setups.remove(firefoxApp);
    rig.workspace.running.insert(firefoxApp);
    emit extensions.setupChanged();
    QVERIFY(rig.tick());
    QCOMPARE(rig.access("firefox"), BrowserAccessState::of(Kind::extensionOff));
    QVERIFY(engine.needsAttention());
    // Written down by the name the first builds used.
    QCOMPARE(rig.f.defaults.value(BrowserAutomationService::extensionSeenKey),
             QJsonValue(QJsonArray{QStringLiteral("org.mozilla.firefox")}));
    engine.fix(*SupportedBrowser::withId(QStringLiteral("firefox")));
    QCOMPARE(rig.workspace.openedURLs, QList<QUrl>{QUrl(QStringLiteral("https://help.example/automation"))});

    // After a restart the list is read back: still an extension switched off, not one never added.
    rig.core.reset();
    rig.build();
    QVERIFY(rig.tick());
    QCOMPARE(rig.access("firefox"), BrowserAccessState::of(Kind::extensionOff));
}

// Where the program hands in the install steps, fixing a missing extension shows them for that
// browser, and the help page stays shut.
void TestBrowserEngine::extensionFixShowsTheInstallSteps()
{
    Rig rig;
    rig.server.start(0, false);
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    FakeExtensions extensions;
    FakeRepair repair;
    rig.extensions = &extensions;
    rig.repair = &repair;
    rig.workspace.installed = {firefoxApp};
    rig.workspace.frontmost = firefoxApp;
    BrowserAutomationService& engine = rig.build();
    QVERIFY(rig.tick());
    QCOMPARE(rig.access("firefox"), BrowserAccessState::of(Kind::extensionMissing));
    engine.fix(*SupportedBrowser::withId(QStringLiteral("firefox")));
    QCOMPARE(repair.asked, (QList<QPair<QString, Kind>>{{QStringLiteral("firefox"), Kind::extensionMissing}}));
    QCOMPARE(rig.workspace.openedURLs, QList<QUrl>());
}

// A browser read through its extension is connected by that route alone: once the extension has
// gone and the browser is closed, nothing says it is still connected.
void TestBrowserEngine::extensionGoneLeavesNothingConnected()
{
    Rig rig;
    FakeExtensions extensions;
    rig.extensions = &extensions;
    extensions.setups.insert(chromiumApp, ExtensionLink::Setup::connected);
    extensions.reports.insert(chromiumApp, ExtensionTabReport{chromiumApp, true, 1, QString(), true, {}, {}});
    rig.store.blocking().addRule(allDayRule(QStringLiteral("example.com"), rig.f.clock.now()));
    rig.chromiumShowing(QStringLiteral("http://example.org/"));
    QVERIFY(rig.tick());
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::connected));

    extensions.setups.remove(chromiumApp);
    extensions.reports.remove(chromiumApp);
    rig.workspace.running.remove(chromiumApp);
    emit extensions.setupChanged();
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::browserClosed));
    // Started again without it, the browser that had it has it switched off or removed.
    rig.workspace.running.insert(chromiumApp);
    rig.engine->browsersChanged();
    QCOMPARE(rig.access("chromium"), BrowserAccessState::of(Kind::extensionOff));
}

// ---------------------------------------------------------------- no front window from the desktop

void TestBrowserEngine::unknownFrontAsksTheBrowsers_data()
{
    QTest::addColumn<QStringList>("chosen");  // browser ids, all running
    QTest::addColumn<QStringList>("focused"); // those with a focused window
    QTest::addColumn<QString>("lastInUse");   // asked first; empty: none yet
    QTest::addColumn<QStringList>("asked");   // in order
    QTest::addColumn<QString>("moved");       // the browser whose blocked tab is moved; empty: none
    QTest::addColumn<bool>("counts");         // time on the limited site counts
    const QString chrome = QStringLiteral("chrome"), brave = QStringLiteral("brave");
    QTest::newRow("the focused browser") << QStringList{chrome} << QStringList{chrome} << QString()
                                         << QStringList{chrome} << chrome << true;
    QTest::newRow("in the background: moved, not counted")
        << QStringList{chrome} << QStringList() << QString() << QStringList{chrome} << chrome << false;
    QTest::newRow("the second one has the focus")
        << QStringList{chrome, brave} << QStringList{brave} << QString() << QStringList{chrome, brave} << brave << true;
    QTest::newRow("the one last in use is asked first and ends the round")
        << QStringList{chrome, brave} << QStringList{brave} << brave << QStringList{brave} << brave << true;
    QTest::newRow("none focused: the first one's tab")
        << QStringList{chrome, brave} << QStringList() << QString() << QStringList{chrome, brave} << chrome << false;
    QTest::newRow("nothing chosen: nobody asked")
        << QStringList() << QStringList() << QString() << QStringList() << QString() << false;
}

void TestBrowserEngine::unknownFrontAsksTheBrowsers()
{
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, focused);
    QFETCH(QString, lastInUse);
    QFETCH(QStringList, asked);
    QFETCH(QString, moved);
    QFETCH(bool, counts);
    Rig rig;
    const Date t = rig.f.clock.now();
    const BlockRule limit = limitRule(QStringLiteral("limited.example"), 30, t - 2);
    rig.store.blocking().addRule(limit);
    rig.store.blocking().addRule(allDayRule(QStringLiteral("blocked.example"), t - 1));
    rig.server.start(0, false);
    const QString blocked = QStringLiteral("https://blocked.example/");
    const QString limited = QStringLiteral("https://limited.example/");
    // Every browser runs; only the chosen ones may be asked.
    for (const char* id : {"chrome", "brave"}) {
        const QString browserId = browserWithId(id).id;
        rig.workspace.installed.insert(browserId);
        rig.workspace.running.insert(browserId);
        rig.browser->open(browserId, blocked);
        rig.browser->setFocused(browserId, focused.contains(QLatin1String(id)));
    }
    BrowserAutomationService& engine = rig.build(chosen);
    if (!lastInUse.isEmpty()) {
        // Learnt while the desktop still named the front window.
        rig.workspace.frontmost = browserWithId(qPrintable(lastInUse)).id;
        rig.browser->navigate(rig.workspace.frontmost.value(), QStringLiteral("about:blank"));
        QVERIFY(rig.tick());
        rig.browser->navigate(rig.workspace.frontmost.value(), blocked);
        rig.workspace.frontmost.reset();
    }
    rig.browser->clearReceived();

    QVERIFY(rig.tick());
    QStringList askedIds;
    for (const FakeBrowser::Received& r : rig.browser->received())
        if (r.command.operation == Operation::readFocused)
            askedIds << r.command.browserId;
    QCOMPARE(askedIds, asked);
    for (const char* id : {"chrome", "brave"}) {
        const bool isMoved = moved == QLatin1String(id);
        const QString tab = rig.tab(browserWithId(id).id);
        QVERIFY2(tab.startsWith(QStringLiteral("http://127.0.0.1:")) == isMoved, qPrintable(tab));
    }

    // Use counts only for a browser that said it has the focus.
    for (const char* id : {"chrome", "brave"})
        rig.browser->navigate(browserWithId(id).id, limited);
    for (int i = 0; i < 4; ++i)
        QVERIFY(rig.look());
    QCOMPARE(rig.usage(limit) > 0, counts);
    QVERIFY(!engine.isChecking());
}

// With no desktop source of idle time, a page left alone stops counting after the idle limit;
// a new address counts again.
void TestBrowserEngine::unknownIdleTimeStopsCountingOnAStillPage()
{
    Rig rig;
    const BlockRule limit = limitRule(QStringLiteral("a.example"), 30, rig.f.clock.now() - 2);
    rig.store.blocking().addRule(limit);
    rig.idle.seconds.reset();
    rig.chromiumShowing(QStringLiteral("https://a.example/one"));
    QVERIFY(rig.tick());
    QVERIFY(rig.look(2));
    QVERIFY(rig.look(2));
    const qint64 counted = rig.usage(limit);
    QVERIFY(counted >= 2);
    // Nothing changes on screen for longer than the limit: nothing more counts.
    for (int i = 0; i < 320; ++i)
        QVERIFY(rig.look(2));
    const qint64 away = rig.usage(limit);
    QVERIFY(away < counted + 2 * 320);
    QVERIFY(rig.look(2));
    QVERIFY(rig.look(2));
    QCOMPARE(rig.usage(limit), away);
    // The person comes back and opens another page: counting resumes.
    rig.browser->navigate(chromiumApp, QStringLiteral("https://a.example/two"));
    QVERIFY(rig.look(2));
    QVERIFY(rig.look(2));
    QVERIFY(rig.usage(limit) > away);
}

QTEST_GUILESS_MAIN(TestBrowserEngine)
#include "tst_browser_engine.moc"
