// Which checks ask the browser again. A check whose read found nothing that a rule or a
// doom-scroll site concerns is spared its read while the route knows the browser told nothing
// new; everything that could change the verdict makes the next check read again.

#include "EngineRig.h"
#include "model/DoomScroll.h"

#include <QTest>

namespace {

const QString chromiumApp = QStringLiteral("chromium");
using Operation = FakeBrowser::Operation;

BlockRule ruleFor(const QString& domain, Date created, BlockApplySchedule schedule = {})
{
    BlockRule r;
    r.id = QUuid::createUuid();
    r.domain = domain;
    r.displayName = domain;
    r.blockApplySchedule = schedule;
    r.createdAt = created;
    r.updatedAt = created;
    return r;
}

// The engine beside its runner, as the program runs the routes that tell of changes.
struct Rig : EngineRig {
    Rig() : EngineRig(3000, {}, BrowserScriptExecutor::Placement::callingThread) {}

    BrowserAutomationService& chromiumShowing(const QString& address, bool tellsChanges = true)
    {
        server.start(0, false);
        workspace.bringUp(chromiumApp);
        browser->open(chromiumApp, address);
        browser->setTellsChanges(tellsChanges);
        f.defaults.setStringArray(BrowserAutomationService::attemptedKey, {QStringLiteral("chromium")});
        return build(routes(), &monotonic);
    }
    [[nodiscard]] bool tick()
    {
        f.clock.advance(0.65);
        monotonic.value += 0.65;
        engine->checkActiveBrowser();
        return QTest::qWaitFor([this] { return !engine->isChecking(); }, 30000);
    }
    qsizetype reads() const { return browser->count(Operation::read); }
    QString blockPage(const QString& domain, const QString& from) const
    {
        for (const BlockedSiteSnapshot& s : store.blocking().state().blockedNow)
            if (s.domain == domain)
                return server.blockedPageURL(s.ruleId, s.domain, from)->toString(QUrl::FullyEncoded);
        return {};
    }
};

// What happens between the first check and the three after it.
enum class Change { nothing, navigate, ruleForAnotherSite, doomScrollSites, screenSleepsAndWakes, browserFails };

} // namespace

Q_DECLARE_METATYPE(Change)

class TestEngineReads : public QObject {
    Q_OBJECT

private slots:
    void readsAfterTheFirst_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("tellsChanges");
        QTest::addColumn<Change>("change");
        QTest::addColumn<qsizetype>("reads"); // over the three checks after the first

        const QString other = QStringLiteral("http://example.org/");
        QTest::newRow("another site, nothing changes") << other << true << Change::nothing << qsizetype(0);
        QTest::newRow("a page that is no web page") << "chrome://settings/" << true << Change::nothing << qsizetype(0);
        QTest::newRow("a route that cannot tell") << other << false << Change::nothing << qsizetype(3);
        QTest::newRow("the tab moves on") << other << true << Change::navigate << qsizetype(1);
        QTest::newRow("a rule's site, not blocked now")
            << "http://www.evening.example/" << true << Change::nothing << qsizetype(3);
        QTest::newRow("a rule for another site added") << other << true << Change::ruleForAnotherSite << qsizetype(1);
        QTest::newRow("the doom-scroll sites change") << other << true << Change::doomScrollSites << qsizetype(1);
        QTest::newRow("the screen sleeps and wakes") << other << true << Change::screenSleepsAndWakes << qsizetype(1);
        QTest::newRow("the browser fails to answer") << other << true << Change::browserFails << qsizetype(3);
    }

    void readsAfterTheFirst()
    {
        QFETCH(QString, address);
        QFETCH(bool, tellsChanges);
        QFETCH(Change, change);
        QFETCH(qsizetype, reads);
        Rig rig;
        // From 22:00 to 23:00 only: not now (the rig's clock stands at 10:00).
        rig.store.blocking().addRule(
            ruleFor(QStringLiteral("evening.example"), rig.f.clock.now(), {false, false, 22, 0, 23, 0}));
        rig.chromiumShowing(address, tellsChanges);
        QVERIFY(rig.tick());
        QCOMPARE(rig.reads(), 1);

        switch (change) {
        case Change::nothing:
            break;
        case Change::navigate:
            rig.browser->navigate(chromiumApp, QStringLiteral("http://example.net/"));
            break;
        case Change::ruleForAnotherSite:
            rig.store.blocking().addRule(ruleFor(QStringLiteral("news.example"), rig.f.clock.now()));
            break;
        case Change::doomScrollSites:
            QVERIFY(rig.store.blocking().updateDoomScrollConfig(
                {true, {DoomScrollDomain{QUuid::createUuid(), QStringLiteral("feed.example")}}, 20, 5}));
            break;
        case Change::screenSleepsAndWakes:
            emit rig.screen.screensDidSleep();
            emit rig.screen.screensDidWake();
            break;
        case Change::browserFails:
            rig.browser->setForcedError(chromiumApp, BrowserCommandError::timedOut);
            break;
        }
        for (int i = 0; i < 3; ++i)
            QVERIFY(rig.tick());
        QCOMPARE(rig.reads() - 1, reads);
        // Spared or not, no check sent anything but reads.
        QCOMPARE(rig.browser->operations().size(), rig.reads());
    }

    // Where both the route and the desktop tell of their changes, a spared check lets the checks
    // rest: no tick wakes the program. What the read rested on wakes them for a look at once.
    void restsUntilAChangeIsTold_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("restsAfter"); // one check after the change
        QTest::addColumn<bool>("ticking");
        QTest::addColumn<QString>("atOnce"); // before that check: "blocked", the warning, "read" or ""
        QTest::newRow("nothing changes") << "nothing" << true << false << "";
        QTest::newRow("the tab moves to a blocked site") << "blocked" << false << true << "blocked";
        QTest::newRow("the tab moves to another site") << "other" << true << false << "read";
        QTest::newRow("a rule for the site on screen") << "rule" << false << true << "blocked";
        QTest::newRow("an unchosen browser comes to the front") << "brave" << true << false << "Brave";
        QTest::newRow("the screen sleeps") << "sleep" << false << false << "";
        QTest::newRow("the desktop can no longer tell") << "untelling" << false << true << "";
        // Where the desktop names no front, the browsers are asked where the focus is: that
        // answer rests as well, on what each browser asked tells.
        QTest::newRow("no front named, nothing changes") << "probed nothing" << true << false << "";
        QTest::newRow("no front named, the tab moves to a blocked site")
            << "probed blocked" << false << true << "blocked";
    }
    void restsUntilAChangeIsTold()
    {
        QFETCH(QString, change);
        QFETCH(bool, restsAfter);
        QFETCH(bool, ticking);
        QFETCH(QString, atOnce);
        Rig rig;
        rig.store.blocking().addRule(ruleFor(QStringLiteral("news.example"), rig.f.clock.now() - 1));
        rig.workspace.tells = true;
        rig.chromiumShowing(QStringLiteral("http://example.org/"));
        if (change.startsWith(u"probed"))
            rig.workspace.frontmost.reset();
        // A look is posted at once: it has run once the posted events are through.
        const auto settle = [&rig] {
            QCoreApplication::processEvents();
            return QTest::qWaitFor([&rig] { return !rig.engine->isChecking(); }, 30000);
        };
        rig.engine->start();
        QVERIFY(settle());
        QVERIFY(rig.tick());
        QVERIFY(rig.engine->isResting());
        QVERIFY(!rig.engine->isCheckTimerRunning());
        const qsizetype reads = rig.reads();

        if (change.endsWith(u"blocked")) {
            rig.browser->navigate(chromiumApp, QStringLiteral("http://www.news.example/today"));
        } else if (change == u"other") {
            rig.browser->navigate(chromiumApp, QStringLiteral("http://example.net/"));
        } else if (change == u"rule") {
            rig.store.blocking().addRule(ruleFor(QStringLiteral("example.org"), rig.f.clock.now()));
        } else if (change == u"brave") {
            rig.workspace.bringUp(QStringLiteral("brave"));
        } else if (change == u"sleep") {
            emit rig.screen.screensDidSleep();
        } else if (change == u"untelling") {
            rig.workspace.tells = false;
            rig.workspace.onChange();
        }
        QVERIFY(settle());
        QString seen = rig.engine->browserInUseWithoutProtection().value_or(rig.reads() > reads ? "read" : "");
        if (rig.browser->activeAddress(chromiumApp).value_or(QString()).contains(u"/blocked?"))
            seen = QStringLiteral("blocked");
        QCOMPARE(seen, atOnce);
        // A look that read rests only at the next check, which is spared if nothing changed.
        QVERIFY(rig.tick());
        QCOMPARE(rig.engine->isResting(), restsAfter);
        QCOMPARE(rig.engine->isCheckTimerRunning(), ticking);
    }

    // The warning about a browser in use that nothing protects is worked out only when the front
    // or one of its inputs changed, and still follows each of them within a check.
    void theWarningFollowsWhatItRestsOn_data()
    {
        QTest::addColumn<QStringList>("steps"); // each followed by three checks
        QTest::addColumn<QString>("warning");   // after the last

        QTest::newRow("nothing changes") << QStringList{} << QString();
        QTest::newRow("an unchosen browser comes to the front") << QStringList{"brave"} << "Brave";
        QTest::newRow("a browser no route reaches comes to the front") << QStringList{"chromeBeta"} << "Chrome Beta";
        QTest::newRow("the chosen browser asks for permission") << QStringList{"permission"} << "Chromium";
        QTest::newRow("back to the chosen browser") << QStringList{"brave", "chromium"} << QString();
        QTest::newRow("another application leaves the warning standing") << QStringList{"brave", "editor"} << "Brave";
        QTest::newRow("the last rule goes") << QStringList{"brave", "noRule"} << QString();
        QTest::newRow("a rule comes back") << QStringList{"brave", "noRule", "rule"} << "Brave";
        QTest::newRow("the unchosen browser is chosen") << QStringList{"brave", "chooseBrave"} << QString();
    }
    void theWarningFollowsWhatItRestsOn()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, warning);
        Rig rig;
        const BlockRule rule = ruleFor(QStringLiteral("news.example"), rig.f.clock.now() - 1);
        rig.store.blocking().addRule(rule);
        rig.chromiumShowing(QStringLiteral("http://example.org/"));
        QVERIFY(rig.tick());
        QCOMPARE(rig.engine->browserInUseWithoutProtection(), std::nullopt);

        const QString brave = QStringLiteral("brave");
        rig.browser->open(brave, QStringLiteral("http://example.org/"));
        for (const QString& step : steps) {
            if (step == QLatin1String("brave")) {
                rig.workspace.bringUp(brave);
            } else if (step == QLatin1String("chromeBeta")) {
                rig.workspace.bringUp(QStringLiteral("chrome-beta"));
            } else if (step == QLatin1String("chromium")) {
                rig.workspace.frontmost = chromiumApp;
            } else if (step == QLatin1String("editor")) {
                rig.workspace.frontmost = QStringLiteral("x11.class.gedit");
            } else if (step == QLatin1String("permission")) {
                rig.browser->setForcedError(chromiumApp, BrowserCommandError::notPermitted);
            } else if (step == QLatin1String("noRule")) {
                QVERIFY(rig.store.blocking().removeRule(rule.id));
            } else if (step == QLatin1String("rule")) {
                QVERIFY(rig.store.blocking().addRule(ruleFor(QStringLiteral("news.example"), rig.f.clock.now())));
            } else if (step == QLatin1String("chooseBrave")) {
                rig.engine->connect(*SupportedBrowser::withId(brave));
            }
            for (int i = 0; i < 3; ++i)
                QVERIFY(rig.tick());
        }
        QCOMPARE(rig.engine->browserInUseWithoutProtection().value_or(QString()), warning);
    }

    // A rule for the very site on screen blocks it at the next check, spared reads or not.
    void aNewBlockTakesEffectAtTheNextCheck()
    {
        Rig rig;
        rig.store.blocking().addRule(ruleFor(QStringLiteral("news.example"), rig.f.clock.now() - 1));
        const QString address = QStringLiteral("http://example.org/page");
        rig.chromiumShowing(address);
        QVERIFY(rig.tick());
        QVERIFY(rig.tick());
        QCOMPARE(rig.reads(), 1);

        rig.store.blocking().addRule(ruleFor(QStringLiteral("example.org"), rig.f.clock.now()));
        QVERIFY(rig.tick());
        QCOMPARE(rig.browser->operations(), (QList<Operation>{Operation::read, Operation::read, Operation::redirect}));
        QCOMPARE(rig.browser->activeAddress(chromiumApp), rig.blockPage(QStringLiteral("example.org"), address));
    }

    // The store's boundary is brought forward by a spared check as by any other, in case the
    // store's own timer is late.
    void aSparedCheckStillCatchesALateBoundary()
    {
        Rig rig;
        rig.store.blocking().addRule(
            ruleFor(QStringLiteral("evening.example"), rig.f.clock.now(), {false, false, 10, 30, 23, 0}));
        rig.chromiumShowing(QStringLiteral("http://example.org/"));
        QVERIFY(rig.tick());
        const Date boundary = rig.store.blocking().state().validUntil;
        QVERIFY(boundary > rig.f.clock.now());

        rig.f.clock.advance(boundary - rig.f.clock.now());
        QVERIFY(rig.tick());
        QCOMPARE(rig.reads(), 1);
        QVERIFY(rig.store.blocking().state().validUntil > rig.f.clock.now());
        QCOMPARE(rig.store.blocking().state().blockedNow.size(), size_t(1));
    }
};

QTEST_MAIN(TestEngineReads)
#include "tst_engine_reads.moc"
