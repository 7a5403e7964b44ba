#include "StoreFixture.h"
#include "StoreTestSupport.h"
#include "store/RuleEvaluation.h"

#include <QSignalSpy>
#include <QtTest>
#include <sys/stat.h>

using namespace StoreTest;

// The fixture's clock starts on Monday 2026-12-07 at 10:00 in New York (day id 20261207).

namespace {

constexpr qint64 today = 20261207;
const QString duplicatePrefix = QStringLiteral("A blocking rule already exists for ");

Date at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return TestEnvironment::at(y, mo, d, h, mi, s);
}

const Date created = at(2026, 12, 1, 9);

BlockRule allDayRule(const QString& domain, const QString& name = QString(), bool allowBreak = true)
{
    BlockRule r;
    r.id = QUuid::createUuid();
    r.domain = domain;
    r.displayName = name.isEmpty() ? domain : name;
    r.allowOneBreak = allowBreak;
    r.createdAt = created;
    r.updatedAt = created;
    return r;
}

BlockRule limitRule(const QString& domain, std::optional<qint64> minutes)
{
    BlockRule r = allDayRule(domain);
    r.blockApplySchedule.isAllDay = false;
    r.blockApplySchedule.isAfterMaxDailyTime = true;
    r.dailyLimitMinutes = minutes;
    return r;
}

BlockRule windowRule(const QString& domain, int sh, int sm, int eh, int em)
{
    BlockRule r = allDayRule(domain);
    r.blockApplySchedule.isAllDay = false;
    r.blockApplySchedule.startHour = sh;
    r.blockApplySchedule.startMinute = sm;
    r.blockApplySchedule.endHour = eh;
    r.blockApplySchedule.endMinute = em;
    return r;
}

SharedState stateOf(qint64 dayId = today)
{
    SharedState s;
    s.dayId = dayId;
    return s;
}

DoomScrollDomain site(const QString& domain)
{
    return {QUuid::createUuid(), domain};
}

DoomScrollConfig doomConfig(std::vector<DoomScrollDomain> sites, bool enabled = true, qint64 window = 20,
                            qint64 pause = 5)
{
    return {enabled, std::move(sites), window, pause};
}

void put(StoreFixture& f, const QString& name, const QJsonDocument& doc)
{
    QDir().mkpath(f.dataPath());
    QVERIFY(writeBytes(f.file(name), doc.toJson()));
}

void putRules(StoreFixture& f, const std::vector<BlockRule>& rules)
{
    put(f, BlockingStore::rulesFile, QJsonDocument(encodeList(rules, encodeBlockRule)));
}

void putState(StoreFixture& f, const SharedState& state)
{
    put(f, BlockingStore::stateFile, QJsonDocument(encodeSharedState(state)));
}

void putDoom(StoreFixture& f, const DoomScrollConfig& config)
{
    put(f, BlockingStore::doomScrollFile, QJsonDocument(encodeDoomScrollConfig(config)));
}

std::optional<SharedState> stateOnDisk(const StoreFixture& f)
{
    return decodeSharedState(QJsonDocument::fromJson(readBytes(f.file(BlockingStore::stateFile))).object());
}

std::vector<BlockRule> rulesOnDisk(const StoreFixture& f)
{
    const QJsonDocument doc = QJsonDocument::fromJson(readBytes(f.file(BlockingStore::rulesFile)));
    return decodeStrictList<BlockRule>(doc.array(), decodeBlockRule, nullptr).value_or(std::vector<BlockRule>{});
}

std::optional<DoomScrollConfig> doomOnDisk(const StoreFixture& f)
{
    return decodeDoomScrollConfig(QJsonDocument::fromJson(readBytes(f.file(BlockingStore::doomScrollFile))).object());
}

bool stateFileExists(const StoreFixture& f)
{
    return QFileInfo::exists(f.file(BlockingStore::stateFile));
}

QStringList domainsOf(const std::vector<BlockedSiteSnapshot>& list)
{
    QStringList out;
    for (const BlockedSiteSnapshot& b : list)
        out.append(b.domain);
    return out;
}

QString spaced(QString text)
{
    // Newer locale data puts a narrow no-break space before AM/PM.
    text.replace(QChar(0x202F), QLatin1Char(' '));
    text.replace(QChar(0x00A0), QLatin1Char(' '));
    return text;
}

QString error(const StoreCore& core)
{
    return core.lastError().value_or(QString());
}

// Strips what every refresh recomputes, to compare what the normalisation kept.
SharedState kept(SharedState s)
{
    s.blockedNow.clear();
    s.validUntil = 0;
    s.usageDayEndsAt.reset();
    return s;
}

} // namespace

Q_DECLARE_METATYPE(BlockRule)
Q_DECLARE_METATYPE(SharedState)
Q_DECLARE_METATYPE(DoomScrollConfig)
Q_DECLARE_METATYPE(DoomScrollRuntimeState)
Q_DECLARE_METATYPE(std::optional<DoomScrollRuntimeState>)

class TestBlockingStore : public QObject {
    Q_OBJECT
private slots:
    // ------------------------------------------------------------ normalisation and refresh

    void dayRollOverKeepsOnlyWhatOutlivesTheDay()
    {
        StoreFixture f;
        const Date t0 = f.clock.now();
        const BlockRule rule = limitRule(QStringLiteral("news.example"), 30);
        putRules(f, {rule});
        SharedState old = stateOf(20261206);
        old.usageSecondsByRuleId.insert(uuidText(rule.id), 1900);
        old.exceededRuleIds.insert(rule.id);
        old.urgentBreak = UrgentBreakState{rule.id, t0 - 100, 10, t0 + 7000};
        old.blockingPausedUntil = t0 + 1800;
        old.pauseUsedDayId = 20261206;
        old.doomScroll = DoomScrollRuntimeState{t0 - 300, 120, std::nullopt};
        putState(f, old);

        BlockingStore& blocking = f.makeBlocking();
        const SharedState& s = blocking.state();
        QCOMPARE(s.dayId, today);
        QVERIFY(s.usageSecondsByRuleId.isEmpty());
        QVERIFY(s.exceededRuleIds.isEmpty());
        QVERIFY(!s.urgentBreak);
        QCOMPARE(s.blockingPausedUntil, std::optional<Date>(t0 + 1800));
        QCOMPARE(s.pauseUsedDayId, std::optional<qint64>(20261206));
        QVERIFY(s.doomScroll == (DoomScrollRuntimeState{t0 - 300, 120, std::nullopt}));
        QVERIFY(s.blockedNow.empty());
        QCOMPARE(s.validUntil, t0 + 1800);
        QVERIFY(stateOnDisk(f) == s);

        // The pause lasts to its end, not to the day's; once over it is gone and no boundary.
        f.clock.advance(1800);
        blocking.refreshBlockingState();
        QVERIFY(!blocking.state().blockingPausedUntil);
        QCOMPARE(blocking.state().pauseUsedDayId, std::optional<qint64>(20261206));
        QCOMPARE(blocking.state().validUntil, at(2026, 12, 8));
    }

    void normalisationDropsWhatExpired_data()
    {
        QTest::addColumn<SharedState>("stored");
        QTest::addColumn<SharedState>("expected");

        const QUuid id = QUuid::createUuid();
        const Date t0 = at(2026, 12, 7, 10);
        auto with = [](std::function<void(SharedState&)> change) {
            SharedState s = stateOf();
            change(s);
            return s;
        };
        const SharedState none = stateOf();

        QTest::newRow("break used up") << with([&](SharedState& s) {
            s.urgentBreak = UrgentBreakState{id, t0, 600, t0 + 60};
        }) << none;
        QTest::newRow("break at its fallback") << with([&](SharedState& s) {
            s.urgentBreak = UrgentBreakState{id, t0 - 60, 0, t0};
        }) << none;
        const SharedState running = with([&](SharedState& s) {
            s.urgentBreak = UrgentBreakState{id, t0, 599, t0 + 1};
        });
        QTest::newRow("break still running") << running << running;
        QTest::newRow("pause at its end") << with([&](SharedState& s) { s.blockingPausedUntil = t0; }) << none;
        const SharedState paused = with([&](SharedState& s) { s.blockingPausedUntil = t0 + 0.5; });
        QTest::newRow("pause still running") << paused << paused;
        QTest::newRow("doom-scroll break at its end keeps the window") << with([&](SharedState& s) {
            s.doomScroll = DoomScrollRuntimeState{t0 - 300, 0, t0};
        }) << with([&](SharedState& s) {
            s.doomScroll = DoomScrollRuntimeState{t0 - 300, 0, std::nullopt};
        });
        QTest::newRow("usage of the same day stays") << with([&](SharedState& s) {
            s.usageSecondsByRuleId.insert(uuidText(id), 42);
            s.exceededRuleIds.insert(id);
        }) << with([&](SharedState& s) {
            s.usageSecondsByRuleId.insert(uuidText(id), 42);
            s.exceededRuleIds.insert(id);
        });
    }

    void normalisationDropsWhatExpired()
    {
        QFETCH(SharedState, stored);
        QFETCH(SharedState, expected);
        StoreFixture f;
        putState(f, stored);
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(kept(blocking.state()) == kept(expected));
    }

    void snapshotsCarryReasonAndBreakOffer()
    {
        StoreFixture f;
        BlockRule alpha = allDayRule(QStringLiteral("alpha.example"), QStringLiteral("Alpha"));
        alpha.urgentBreakUsedCalendarDay = today;
        BlockRule beta = windowRule(QStringLiteral("beta.example"), 9, 0, 17, 0);
        beta.urgentBreakUsedCalendarDay = 20261206;
        BlockRule gamma = limitRule(QStringLiteral("gamma.example"), 30);
        gamma.allowOneBreak = false;
        BlockRule delta = limitRule(QStringLiteral("delta.example"), std::nullopt);
        const BlockRule night = windowRule(QStringLiteral("night.example"), 22, 0, 6, 0);
        BlockRule never = windowRule(QStringLiteral("never.example"), 0, 0, 0, 0);
        never.blockApplySchedule.startMinute.reset();
        const BlockRule unused = limitRule(QStringLiteral("unused.example"), 30);
        putRules(f, {alpha, beta, gamma, delta, night, never, unused});
        SharedState s = stateOf();
        s.exceededRuleIds = {gamma.id, delta.id, never.id};
        putState(f, s);

        BlockingStore& blocking = f.makeBlocking();
        const std::vector<BlockedSiteSnapshot>& blocked = blocking.state().blockedNow;
        QCOMPARE(domainsOf(blocked), (QStringList{QStringLiteral("alpha.example"), QStringLiteral("beta.example"),
                                                  QStringLiteral("gamma.example"), QStringLiteral("delta.example")}));
        QVERIFY(blocked[0] == (BlockedSiteSnapshot{alpha.id, alpha.domain, QStringLiteral("Alpha"),
                                                   QStringLiteral("Blocked all day"), false, std::nullopt}));
        QCOMPARE(spaced(blocked[1].reason), QStringLiteral("Blocked from 9:00 AM – 5:00 PM"));
        QCOMPARE(blocked[1].allowUrgentBreak, true);
        QCOMPARE(blocked[2].reason, QStringLiteral("Limit reached: 30 min today"));
        QCOMPARE(blocked[2].allowUrgentBreak, false);
        QCOMPARE(blocked[3].reason, QStringLiteral("Limit reached: 0 min today"));
        QCOMPARE(blocked[3].allowUrgentBreak, true);
        for (const BlockedSiteSnapshot& b : blocked)
            QVERIFY(!b.kind);
        QVERIFY(stateOnDisk(f) == blocking.state());

        f.clock.set(at(2026, 12, 7, 23));
        blocking.refreshBlockingState();
        QCOMPARE(domainsOf(blocking.state().blockedNow),
                 (QStringList{QStringLiteral("alpha.example"), QStringLiteral("gamma.example"),
                              QStringLiteral("delta.example"), QStringLiteral("night.example")}));
        QCOMPARE(spaced(blocking.state().blockedNow[3].reason), QStringLiteral("Blocked from 10:00 PM – 6:00 AM"));

        // Today's break is spent; tomorrow it is offered again (and the exceeded limits are gone).
        f.clock.set(at(2026, 12, 8, 10));
        blocking.refreshBlockingState();
        QCOMPARE(domainsOf(blocking.state().blockedNow),
                 (QStringList{QStringLiteral("alpha.example"), QStringLiteral("beta.example")}));
        QCOMPARE(blocking.state().blockedNow[0].allowUrgentBreak, true);
    }

    void doomScrollBreakEntries()
    {
        StoreFixture f;
        const Date t0 = f.clock.now();
        const BlockRule reddit = allDayRule(QStringLiteral("reddit.com"), QStringLiteral("Reddit"));
        const DoomScrollDomain same = site(QStringLiteral("reddit.com"));
        const DoomScrollDomain hn = site(QStringLiteral("news.ycombinator.com"));
        const DoomScrollDomain sub = site(QStringLiteral("old.reddit.com"));
        const DoomScrollDomain twice = site(QStringLiteral("news.ycombinator.com"));
        putRules(f, {reddit});
        putDoom(f, doomConfig({same, hn, sub, twice}));
        SharedState s = stateOf();
        s.doomScroll = DoomScrollRuntimeState{t0 - 60, 0, t0 + 330};
        putState(f, s);

        BlockingStore& blocking = f.makeBlocking();
        const std::vector<BlockedSiteSnapshot>& blocked = blocking.state().blockedNow;
        QCOMPARE(domainsOf(blocked), (QStringList{QStringLiteral("reddit.com"), QStringLiteral("news.ycombinator.com"),
                                                  QStringLiteral("old.reddit.com")}));
        QCOMPARE(blocked[0].ruleId, reddit.id);
        QVERIFY(!blocked[0].kind);
        QCOMPARE(blocked[1].ruleId, hn.id);
        QCOMPARE(blocked[1].displayName, QStringLiteral("news.ycombinator.com"));
        QCOMPARE(spaced(blocked[1].reason), QStringLiteral("Doom scroll break — back at 10:05 AM"));
        QCOMPARE(blocked[1].allowUrgentBreak, false);
        QCOMPARE(blocked[1].kind, std::optional<QString>(QStringLiteral("doomBreak")));
        QCOMPARE(blocked[2].ruleId, sub.id);
        QCOMPARE(blocked[2].kind, std::optional<QString>(QStringLiteral("doomBreak")));
        QCOMPARE(blocking.state().validUntil, t0 + 330);

        // The break end is a boundary: at it the sites are free again.
        f.clock.set(t0 + 330);
        blocking.refreshBlockingState();
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("reddit.com")});
        QVERIFY(blocking.state().doomScroll && !blocking.state().doomScroll->breakEndsAt);
    }

    void doomScrollBreakHiddenByPauseOrDisabling_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("paused");
        QTest::newRow("paused") << true << true;
        QTest::newRow("disabled") << false << false;
    }

    void doomScrollBreakHiddenByPauseOrDisabling()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, paused);
        StoreFixture f;
        const Date t0 = f.clock.now();
        putDoom(f, doomConfig({site(QStringLiteral("reddit.com"))}, enabled));
        SharedState s = stateOf();
        s.doomScroll = DoomScrollRuntimeState{t0 - 60, 0, t0 + 300};
        if (paused)
            s.blockingPausedUntil = t0 + 600;
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blocking.state().blockedNow.empty());
        QCOMPARE(blocking.state().validUntil, t0 + 300);
    }

    // ------------------------------------------------------------ boundary timer

    // A refresh with nothing changed keeps the boundary it had without working it out again;
    // every edit of the rules makes the next refresh look afresh.
    void editedRulesMoveTheKeptBoundary_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<Date>("boundary");
        QTest::newRow("a rule added") << QStringLiteral("add") << at(2026, 12, 7, 10, 30);
        QTest::newRow("a window moved") << QStringLiteral("update") << at(2026, 12, 7, 10, 15);
        QTest::newRow("a rule removed") << QStringLiteral("remove") << at(2026, 12, 8);
    }

    void editedRulesMoveTheKeptBoundary()
    {
        QFETCH(QString, edit);
        QFETCH(Date, boundary);
        StoreFixture f;
        const BlockRule late = windowRule(QStringLiteral("late.example"), 11, 0, 12, 0);
        putRules(f, {late});
        BlockingStore& blocking = f.makeBlocking();
        QCOMPARE(blocking.state().validUntil, at(2026, 12, 7, 11));
        const int computed = blocking.boundaryComputations();
        f.clock.advance(60);
        blocking.refreshBlockingState();
        blocking.refreshBlockingState();
        QCOMPARE(blocking.boundaryComputations(), computed);
        QCOMPARE(blocking.state().validUntil, at(2026, 12, 7, 11));

        if (edit == QLatin1String("add")) {
            QVERIFY(blocking.addRule(windowRule(QStringLiteral("early.example"), 10, 30, 10, 45)));
        } else if (edit == QLatin1String("update")) {
            BlockRule moved = late;
            moved.blockApplySchedule.startMinute = 15;
            moved.blockApplySchedule.startHour = 10;
            QVERIFY(blocking.updateRule(moved));
        } else {
            QVERIFY(blocking.removeRule(late.id));
        }
        QCOMPARE(blocking.state().validUntil, boundary);
        QCOMPARE(blocking.scheduledBoundary(), std::optional<Date>(boundary));
    }

    void validUntilIsTheArmedBoundary()
    {
        StoreFixture f;
        f.clock.set(at(2026, 12, 7, 9, 59, 50));
        const BlockRule morning = windowRule(QStringLiteral("morning.example"), 10, 0, 11, 0);
        putRules(f, {morning});
        BlockingStore& blocking = f.makeBlocking();
        const Date boundary = at(2026, 12, 7, 10);
        QCOMPARE(blocking.state().validUntil, boundary);
        QCOMPARE(blocking.scheduledBoundary(), std::optional<Date>(boundary));
        QVERIFY2(blocking.boundaryTimerInterval() >= 10100 && blocking.boundaryTimerInterval() <= 10101,
                 qPrintable(QString::number(blocking.boundaryTimerInterval())));
        QCOMPARE(blocking.state().validUntil,
                 nextRuleBoundary(blocking.rules(), f.clock.now(), blocking.state(), f.calendar));

        // Every refresh re-arms the one timer for its own boundary; a long wait is split up.
        blocking.removeRule(morning.id);
        QCOMPARE(blocking.scheduledBoundary(), std::optional<Date>(at(2026, 12, 8)));
        QCOMPARE(blocking.state().validUntil, at(2026, 12, 8));
        QCOMPARE(blocking.boundaryTimerInterval(), 3600 * 1000);
    }

    void boundaryTimerNeverActsEarly()
    {
        // The only test that waits for a real timer: the boundary is half a second ahead.
        StoreFixture f;
        const Date t0 = f.clock.now();
        putRules(f, {allDayRule(QStringLiteral("alpha.example"))});
        SharedState s = stateOf();
        s.blockingPausedUntil = t0 + 0.5;
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blocking.state().blockedNow.empty());
        QCOMPARE(blocking.scheduledBoundary(), std::optional<Date>(t0 + 0.5));
        QVERIFY(blocking.boundaryTimerInterval() >= 600 && blocking.boundaryTimerInterval() <= 601);

        // The wall clock lags behind the timer: when it fires it only waits for the rest, at
        // least a quarter second.
        QSignalSpy changed(f.blocking.get(), &BlockingStore::stateChanged);
        QVERIFY(QFile::remove(f.file(BlockingStore::stateFile)));
        f.clock.set(t0 + 0.45);
        QTRY_COMPARE_WITH_TIMEOUT(blocking.boundaryTimerInterval(), 250, 3000);
        QCOMPARE(changed.count(), 0);
        QVERIFY(!stateFileExists(f)); // no refresh ran
        QCOMPARE(blocking.state().blockingPausedUntil, std::optional<Date>(t0 + 0.5));
        QCOMPARE(blocking.scheduledBoundary(), std::optional<Date>(t0 + 0.5));

        f.clock.set(t0 + 0.6);
        QTRY_VERIFY_WITH_TIMEOUT(!blocking.state().blockingPausedUntil, 3000);
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("alpha.example")});
        QCOMPARE(blocking.scheduledBoundary(), std::optional<Date>(at(2026, 12, 8)));
    }

    // ------------------------------------------------------------ usage

    void dailyLimitReachedExactly()
    {
        StoreFixture f;
        const BlockRule rule = limitRule(QStringLiteral("gamma.example"), 30);
        putRules(f, {rule});
        SharedState s = stateOf();
        s.usageSecondsByRuleId.insert(uuidText(rule.id), 1795);
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blocking.state().blockedNow.empty());

        // Crossing the limit refreshes and writes at once, whatever the throttle says.
        f.clock.advance(1);
        blocking.recordUsage(rule, 5);
        QCOMPARE(blocking.state().usageSecondsByRuleId.value(uuidText(rule.id)), 1800);
        QVERIFY(blocking.state().exceededRuleIds.contains(rule.id));
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("gamma.example")});
        QCOMPARE(blocking.state().blockedNow[0].reason, QStringLiteral("Limit reached: 30 min today"));
        QVERIFY(stateOnDisk(f) == blocking.state());

        // Past the limit the seconds only add up, saved by the throttle.
        QVERIFY(QFile::remove(f.file(BlockingStore::stateFile)));
        QSignalSpy changed(f.blocking.get(), &BlockingStore::stateChanged);
        f.clock.advance(1);
        blocking.recordUsage(rule, 1);
        QCOMPARE(blocking.state().usageSecondsByRuleId.value(uuidText(rule.id)), 1801);
        QVERIFY(!stateFileExists(f));
        f.clock.advance(9);
        blocking.recordUsage(rule, 1);
        QCOMPARE(stateOnDisk(f).value_or(SharedState{}).usageSecondsByRuleId.value(uuidText(rule.id), -1), 1802);
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("gamma.example")});
        QCOMPARE(changed.count(), 2);
    }

    void usageCountsOnlyForLimitRules()
    {
        StoreFixture f;
        const BlockRule allDay = allDayRule(QStringLiteral("alpha.example"));
        const BlockRule noLimit = limitRule(QStringLiteral("nolimit.example"), std::nullopt);
        BlockRule window = windowRule(QStringLiteral("window.example"), 9, 0, 17, 0);
        window.dailyLimitMinutes = 1;
        putRules(f, {allDay, noLimit, window});
        BlockingStore& blocking = f.makeBlocking();
        blocking.recordUsage(allDay, 30);
        blocking.recordUsage(noLimit, 30);
        blocking.recordUsage(window, 120);
        QVERIFY(blocking.state().usageSecondsByRuleId.isEmpty());
        QVERIFY(blocking.state().exceededRuleIds.isEmpty());
    }

    void usageOfNoSecondsDoesNothing()
    {
        StoreFixture f;
        const BlockRule rule = limitRule(QStringLiteral("gamma.example"), 30);
        putRules(f, {rule});
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(QFile::remove(f.file(BlockingStore::stateFile)));
        // Not even the day roll-over runs.
        f.clock.set(at(2026, 12, 8, 10));
        blocking.recordUsage(rule, 0);
        blocking.recordUsage(rule, -5);
        QCOMPARE(blocking.state().dayId, today);
        QVERIFY(!stateFileExists(f));
    }

    void usageSavesAtMostEveryTenSeconds()
    {
        StoreFixture f;
        const BlockRule rule = limitRule(QStringLiteral("gamma.example"), 60);
        putRules(f, {rule});
        BlockingStore& blocking = f.makeBlocking(); // loading wrote "state.json" at t0
        QVERIFY(QFile::remove(f.file(BlockingStore::stateFile)));
        const auto usedOnDisk = [&] {
            return stateOnDisk(f).value_or(SharedState{}).usageSecondsByRuleId.value(uuidText(rule.id), -1);
        };

        f.clock.advance(3);
        blocking.recordUsage(rule, 5);
        QVERIFY(!stateFileExists(f));
        f.clock.advance(7);
        blocking.recordUsage(rule, 5);
        QCOMPARE(usedOnDisk(), 10);

        QVERIFY(QFile::remove(f.file(BlockingStore::stateFile)));
        f.clock.advance(3);
        blocking.recordUsage(rule, 5);
        f.clock.advance(6.5);
        blocking.recordUsage(rule, 5);
        QVERIFY(!stateFileExists(f));
        f.clock.advance(0.5);
        blocking.recordUsage(rule, 5);
        QCOMPARE(usedOnDisk(), 25);
        QCOMPARE(blocking.state().usageSecondsByRuleId.value(uuidText(rule.id)), 25);
    }

    // The same rules keep blocking; what they show must still follow each change.
    void refreshFollowsChangesWithinTheSameRules_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("offer");
        QTest::newRow("locale") << "locale"
                                << "Beta"
                                << "Blocked from 09:00 – 17:00" << true;
        QTest::newRow("renamed") << "rename"
                                 << "Beta Two"
                                 << "Blocked from 9:00 AM – 5:00 PM" << true;
        QTest::newRow("break spent") << "spend"
                                     << "Beta"
                                     << "Blocked from 9:00 AM – 5:00 PM" << false;
    }
    void refreshFollowsChangesWithinTheSameRules()
    {
        QFETCH(QString, change);
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QFETCH(bool, offer);
        StoreFixture f;
        BlockRule beta = windowRule(QStringLiteral("beta.example"), 9, 0, 17, 0);
        beta.displayName = QStringLiteral("Beta");
        putRules(f, {beta});
        BlockingStore& blocking = f.makeBlocking();
        const QLocale before;
        if (change == "locale")
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        if (change == "rename") {
            beta.displayName = name;
            QVERIFY(blocking.updateRule(beta));
        }
        if (change == "spend") {
            beta.urgentBreakUsedCalendarDay = blocking.state().dayId;
            QVERIFY(blocking.updateRule(beta));
        }
        blocking.refreshBlockingState();
        QLocale::setDefault(before);
        QCOMPARE(blocking.state().blockedNow.size(), size_t(1));
        const BlockedSiteSnapshot& b = blocking.state().blockedNow.front();
        QCOMPARE(b.displayName, name);
        QCOMPARE(spaced(b.reason), reason);
        QCOMPARE(b.allowUrgentBreak, offer);
        QVERIFY(stateOnDisk(f) == blocking.state());
    }

    // Which file is there and when it was last written: a rewrite, even of the same bytes, shows.
    static QString fileVersion(const QString& path)
    {
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return {};
        return QStringLiteral("%1:%2.%3").arg(info.st_ino).arg(info.st_mtim.tv_sec).arg(info.st_mtim.tv_nsec);
    }

    void stateIsWrittenOnlyWhenItChanges_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("written");
        QTest::newRow("refresh at the same moment") << "refresh" << false;
        QTest::newRow("refresh later, before any boundary") << "later" << false;
        QTest::newRow("clock set forward") << "clock" << true;
        QTest::newRow("restart on the same boot") << "restart" << false;
        QTest::newRow("restart on another boot") << "reboot" << true;
        QTest::newRow("file rewritten by someone else") << "edited" << true;
    }
    void stateIsWrittenOnlyWhenItChanges()
    {
        QFETCH(QString, step);
        QFETCH(bool, written);
        StoreFixture f;
        const BlockRule rule = limitRule(QStringLiteral("gamma.example"), 60);
        putRules(f, {rule, allDayRule(QStringLiteral("delta.example"))});
        BlockingStore* blocking = &f.makeBlocking();
        const QString path = f.file(BlockingStore::stateFile);
        blocking->refreshBlockingState();
        const QString before = fileVersion(path);
        QVERIFY(!before.isEmpty());
        QTest::qWait(5); // a rewrite within the same clock tick would keep its time stamp

        if (step == "refresh") {
            blocking->refreshBlockingState();
        } else if (step == "later") {
            f.clock.advance(3600);
            blocking->refreshBlockingState();
        } else if (step == "clock") {
            f.changeWallClock(3600);
            blocking->refreshBlockingState();
        } else if (step == "restart" || step == "reboot") {
            if (step == "reboot")
                f.bootClock.boot = QStringLiteral("boot-two");
            blocking = &f.makeBlocking();
        } else if (step == "edited") {
            const QByteArray bytes = readBytes(path);
            QVERIFY(QFile::remove(path) && writeBytes(path, bytes));
            blocking->refreshBlockingState();
        }
        QCOMPARE(fileVersion(path) != before, written);
        QVERIFY(stateOnDisk(f) == blocking->state());
        QVERIFY(!f.core->lastError());
    }

    // ------------------------------------------------------------ urgent breaks

    void urgentBreakGranted()
    {
        StoreFixture f;
        const BlockRule rule = allDayRule(QStringLiteral("alpha.example"), QStringLiteral("Alpha News"));
        putRules(f, {rule});
        BlockingStore& blocking = f.makeBlocking();
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("alpha.example")});
        QCOMPARE(blocking.state().blockedNow[0].allowUrgentBreak, true);

        f.clock.advance(5);
        const Date t1 = f.clock.now();
        QVERIFY(blocking.startUrgentBreak(rule.id));
        QCOMPARE(blocking.rules()[0].urgentBreakUsedCalendarDay, std::optional<qint64>(today));
        QCOMPARE(blocking.rules()[0].updatedAt, t1);
        QVERIFY(rulesOnDisk(f) == blocking.rules());
        QVERIFY(blocking.state().urgentBreak == (UrgentBreakState{rule.id, t1, 0, t1 + 7200}));
        QVERIFY(blocking.state().blockedNow.empty());
        QCOMPARE(blocking.state().validUntil, t1 + 7200);
        QVERIFY(stateOnDisk(f) == blocking.state());
        QVERIFY(f.notifications.delivered.empty());

        // One break a day.
        QVERIFY(!blocking.startUrgentBreak(rule.id));
    }

    void urgentBreakEndsAfterTenMinutesOfUse_data()
    {
        QTest::addColumn<QList<int>>("seconds");
        QTest::addColumn<bool>("ended");
        QTest::newRow("590 + 9") << QList<int>{590, 9} << false;
        QTest::newRow("590 + 9 + 1") << QList<int>{590, 9, 1} << true;
        QTest::newRow("590 + 15") << QList<int>{590, 15} << true;
        QTest::newRow("600 at once") << QList<int>{600} << true;
    }

    void urgentBreakEndsAfterTenMinutesOfUse()
    {
        QFETCH(QList<int>, seconds);
        QFETCH(bool, ended);
        StoreFixture f;
        const BlockRule rule = allDayRule(QStringLiteral("alpha.example"), QStringLiteral("Alpha News"));
        const BlockRule other = allDayRule(QStringLiteral("other.example"));
        putRules(f, {rule, other});
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blocking.startUrgentBreak(rule.id));
        QSignalSpy changed(f.blocking.get(), &BlockingStore::stateChanged);
        qint64 total = 0;
        for (int s : seconds) {
            f.clock.advance(s);
            blocking.recordUsage(other, s); // another site's use leaves the break alone
            blocking.recordUsage(rule, s);
            total += s;
        }
        if (!ended) {
            QCOMPARE(blocking.state().urgentBreak->usedSeconds, total);
            QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("other.example")});
            QVERIFY(f.notifications.delivered.empty());
            return;
        }
        QVERIFY(!blocking.state().urgentBreak);
        QCOMPARE(domainsOf(blocking.state().blockedNow),
                 (QStringList{QStringLiteral("alpha.example"), QStringLiteral("other.example")}));
        QCOMPARE(blocking.state().blockedNow[0].allowUrgentBreak, false);
        QVERIFY(stateOnDisk(f) == blocking.state());
        QCOMPARE(f.notifications.delivered.size(), size_t(1));
        QVERIFY2(f.notifications.delivered[0].body.contains(QStringLiteral("Alpha News")),
                 qPrintable(f.notifications.delivered[0].body));
        QVERIFY(!blocking.startUrgentBreak(rule.id));
    }

    void urgentBreakEndsAtItsFallback()
    {
        StoreFixture f;
        const BlockRule rule = allDayRule(QStringLiteral("alpha.example"));
        putRules(f, {rule});
        BlockingStore& blocking = f.makeBlocking();
        const Date t0 = f.clock.now();
        QVERIFY(blocking.startUrgentBreak(rule.id, 7200));
        QCOMPARE(blocking.scheduledBoundary(), std::optional<Date>(t0 + 7200));

        f.clock.set(t0 + 7199);
        blocking.refreshBlockingState();
        QVERIFY(blocking.state().urgentBreak);
        QVERIFY(blocking.state().blockedNow.empty());
        f.clock.set(t0 + 7200);
        blocking.refreshBlockingState();
        QVERIFY(!blocking.state().urgentBreak);
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("alpha.example")});
        QVERIFY(f.notifications.delivered.empty());

        // The next day the break is offered and granted again.
        f.clock.set(at(2026, 12, 8, 9));
        blocking.refreshBlockingState();
        QCOMPARE(blocking.state().blockedNow[0].allowUrgentBreak, true);
        QVERIFY(blocking.startUrgentBreak(rule.id, 60));
        QCOMPARE(blocking.state().urgentBreak->fallbackExpiresAt, at(2026, 12, 8, 9, 1));
    }

    void urgentBreakSecondsAlsoCountTowardsTheLimit()
    {
        StoreFixture f;
        BlockRule rule = limitRule(QStringLiteral("gamma.example"), 30);
        putRules(f, {rule});
        SharedState s = stateOf();
        s.usageSecondsByRuleId.insert(uuidText(rule.id), 1800);
        s.exceededRuleIds.insert(rule.id);
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blocking.startUrgentBreak(rule.id));
        blocking.recordUsage(rule, 100);
        QCOMPARE(blocking.state().urgentBreak->usedSeconds, 100);
        QCOMPARE(blocking.state().usageSecondsByRuleId.value(uuidText(rule.id)), 1900);
        QVERIFY(blocking.state().blockedNow.empty());
    }

    void urgentBreakRefused_data()
    {
        QTest::addColumn<BlockRule>("rule");
        QTest::addColumn<SharedState>("state");
        QTest::addColumn<bool>("askForAnother");

        const Date t0 = at(2026, 12, 7, 10);
        const BlockRule plain = allDayRule(QStringLiteral("alpha.example"));
        QTest::newRow("not blocking now")
            << windowRule(QStringLiteral("alpha.example"), 18, 0, 20, 0) << stateOf() << false;
        QTest::newRow("limit not reached") << limitRule(QStringLiteral("alpha.example"), 30) << stateOf() << false;
        QTest::newRow("breaks not allowed")
            << allDayRule(QStringLiteral("alpha.example"), {}, false) << stateOf() << false;
        BlockRule used = plain;
        used.urgentBreakUsedCalendarDay = today;
        QTest::newRow("used today") << used << stateOf() << false;
        SharedState paused = stateOf();
        paused.blockingPausedUntil = t0 + 600;
        paused.pauseUsedDayId = today;
        QTest::newRow("during a pause") << plain << paused << false;
        SharedState onBreak = stateOf();
        onBreak.urgentBreak = UrgentBreakState{plain.id, t0 - 60, 60, t0 + 3600};
        QTest::newRow("its break already runs") << plain << onBreak << false;
        QTest::newRow("unknown rule") << plain << stateOf() << true;
    }

    void urgentBreakRefused()
    {
        QFETCH(BlockRule, rule);
        QFETCH(SharedState, state);
        QFETCH(bool, askForAnother);
        StoreFixture f;
        putRules(f, {rule});
        putState(f, state);
        BlockingStore& blocking = f.makeBlocking();
        const std::vector<BlockRule> rulesBefore = blocking.rules();
        const SharedState stateBefore = blocking.state();
        const QByteArray rulesFile = readBytes(f.file(BlockingStore::rulesFile));
        const QByteArray stateFile = readBytes(f.file(BlockingStore::stateFile));
        f.clock.advance(5);

        QVERIFY(!blocking.startUrgentBreak(askForAnother ? QUuid::createUuid() : rule.id));
        QVERIFY(blocking.rules() == rulesBefore);
        QVERIFY(blocking.state() == stateBefore);
        QCOMPARE(readBytes(f.file(BlockingStore::rulesFile)), rulesFile);
        QCOMPARE(readBytes(f.file(BlockingStore::stateFile)), stateFile);
        QVERIFY(!f.core->lastError());
    }

    void anotherRulesBreakIsReplacedSilently()
    {
        StoreFixture f;
        const BlockRule a = allDayRule(QStringLiteral("a.example"));
        const BlockRule b = allDayRule(QStringLiteral("b.example"));
        putRules(f, {a, b});
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blocking.startUrgentBreak(a.id));
        f.clock.advance(60);
        blocking.recordUsage(a, 60);
        QVERIFY(blocking.startUrgentBreak(b.id));
        QCOMPARE(blocking.state().urgentBreak->ruleId, b.id);
        QCOMPARE(blocking.state().urgentBreak->usedSeconds, 0);
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("a.example")});
        QVERIFY(f.notifications.delivered.empty());
        // a's day is spent all the same.
        QCOMPARE(blocking.rules()[0].urgentBreakUsedCalendarDay, std::optional<qint64>(today));
        QVERIFY(!blocking.startUrgentBreak(a.id));
    }

    // ------------------------------------------------------------ doom-scroll windows

    void doomScrollWindowAndBreak()
    {
        StoreFixture f;
        const Date t0 = f.clock.now();
        putDoom(f, doomConfig({site(QStringLiteral("reddit.com")), site(QStringLiteral("x.com"))}, true, 20, 5));
        SharedState s = stateOf();
        s.doomScroll = DoomScrollRuntimeState{t0 - 600, 1195, std::nullopt};
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blocking.state().blockedNow.empty());

        blocking.recordDoomScrollUsage(5);
        QVERIFY(blocking.state().doomScroll == (DoomScrollRuntimeState{t0, 0, t0 + 300}));
        QCOMPARE(domainsOf(blocking.state().blockedNow),
                 (QStringList{QStringLiteral("reddit.com"), QStringLiteral("x.com")}));
        QCOMPARE(blocking.state().validUntil, t0 + 300);
        QVERIFY(stateOnDisk(f) == blocking.state());

        // Use during the break does not count.
        f.clock.advance(60);
        blocking.recordDoomScrollUsage(30);
        QVERIFY(blocking.state().doomScroll == (DoomScrollRuntimeState{t0, 0, t0 + 300}));

        // After it the window that began with the break counts from zero.
        f.clock.set(t0 + 300);
        blocking.recordDoomScrollUsage(10);
        QVERIFY(blocking.state().doomScroll == (DoomScrollRuntimeState{t0, 10, std::nullopt}));
    }

    void doomScrollWindowRestart_data()
    {
        QTest::addColumn<std::optional<DoomScrollRuntimeState>>("stored");
        QTest::addColumn<DoomScrollRuntimeState>("expected");
        const Date t0 = at(2026, 12, 7, 10);
        QTest::newRow("no window yet") << std::optional<DoomScrollRuntimeState>() << DoomScrollRuntimeState{t0, 5, {}};
        QTest::newRow("started 60 min ago: three lengths, kept")
            << std::optional(DoomScrollRuntimeState{t0 - 3600, 100, {}}) << DoomScrollRuntimeState{t0 - 3600, 105, {}};
        QTest::newRow("started 61 min ago: restarted")
            << std::optional(DoomScrollRuntimeState{t0 - 3660, 100, {}}) << DoomScrollRuntimeState{t0, 5, {}};
        QTest::newRow("break over long ago: restarted")
            << std::optional(DoomScrollRuntimeState{t0 - 4000, 0, t0 - 3700}) << DoomScrollRuntimeState{t0, 5, {}};
    }

    void doomScrollWindowRestart()
    {
        QFETCH(std::optional<DoomScrollRuntimeState>, stored);
        QFETCH(DoomScrollRuntimeState, expected);
        StoreFixture f;
        putDoom(f, doomConfig({site(QStringLiteral("reddit.com"))}, true, 20, 5));
        SharedState s = stateOf();
        s.doomScroll = stored;
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();
        blocking.recordDoomScrollUsage(5);
        QVERIFY(blocking.state().doomScroll == expected);
    }

    void doomScrollUsageIgnored_data()
    {
        QTest::addColumn<DoomScrollConfig>("config");
        QTest::addColumn<int>("seconds");
        QTest::newRow("disabled") << doomConfig({site(QStringLiteral("reddit.com"))}, false) << 5;
        QTest::newRow("enabled without sites") << doomConfig({}, true) << 5;
        QTest::newRow("no seconds") << doomConfig({site(QStringLiteral("reddit.com"))}) << 0;
    }

    void doomScrollUsageIgnored()
    {
        QFETCH(DoomScrollConfig, config);
        QFETCH(int, seconds);
        StoreFixture f;
        putDoom(f, config);
        BlockingStore& blocking = f.makeBlocking();
        f.clock.advance(60);
        blocking.recordDoomScrollUsage(seconds);
        QVERIFY(!blocking.state().doomScroll);
    }

    void resumeBlocking()
    {
        StoreFixture f;
        const Date t0 = f.clock.now();
        putRules(f, {allDayRule(QStringLiteral("alpha.example"))});
        SharedState s = stateOf();
        s.blockingPausedUntil = t0 + 600;
        s.pauseUsedDayId = today;
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blocking.state().blockedNow.empty());

        blocking.resumeBlocking();
        QVERIFY(!blocking.state().blockingPausedUntil);
        QCOMPARE(blocking.state().pauseUsedDayId, std::optional<qint64>(today));
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("alpha.example")});
        QVERIFY(stateOnDisk(f) == blocking.state());

        // Nothing to resume: no refresh, no write.
        QVERIFY(QFile::remove(f.file(BlockingStore::stateFile)));
        QSignalSpy changed(f.blocking.get(), &BlockingStore::stateChanged);
        f.clock.advance(1);
        blocking.resumeBlocking();
        QVERIFY(!stateFileExists(f));
        QCOMPARE(changed.count(), 0);
    }

    // ------------------------------------------------------------ rule settings

    void duplicateSitesAreRefused()
    {
        StoreFixture f;
        const BlockRule existing = allDayRule(QStringLiteral("example.com"));
        const BlockRule other = allDayRule(QStringLiteral("other.example"));
        putRules(f, {existing, other});
        BlockingStore& blocking = f.makeBlocking();
        const QByteArray onDisk = readBytes(f.file(BlockingStore::rulesFile));

        blocking.addRule(allDayRule(QStringLiteral("WWW.Example.COM/path")));
        QCOMPARE(error(*f.core), duplicatePrefix + QStringLiteral("WWW.Example.COM/path."));
        QCOMPARE(blocking.rules().size(), size_t(2));
        QCOMPARE(readBytes(f.file(BlockingStore::rulesFile)), onDisk);

        // Editing a rule keeps its own site; taking another rule's site is refused.
        BlockRule renamed = existing;
        renamed.displayName = QStringLiteral("Renamed");
        QVERIFY(blocking.isDomainFree(QStringLiteral("www.example.com"), existing.id));
        QVERIFY(!blocking.isDomainFree(QStringLiteral("www.example.com"), other.id));
        BlockRule taking = other;
        taking.domain = QStringLiteral("example.com");
        blocking.updateRule(taking);
        QCOMPARE(error(*f.core), duplicatePrefix + QStringLiteral("example.com."));
        QVERIFY(blocking.rules()[1] == other);

        // A state write does not clear the message; the next rules save does.
        blocking.refreshBlockingState();
        QCOMPARE(error(*f.core), duplicatePrefix + QStringLiteral("example.com."));
        blocking.updateRule(renamed);
        QVERIFY(!f.core->lastError());
        QCOMPARE(blocking.rules()[0].displayName, QStringLiteral("Renamed"));

        // Editing a rule that does not exist is no error at all.
        BlockRule stranger = allDayRule(QStringLiteral("stranger.example"));
        blocking.updateRule(stranger);
        QVERIFY(!f.core->lastError());
        QCOMPARE(blocking.rules().size(), size_t(2));
    }

    void rulesStaySortedByCreation()
    {
        StoreFixture f;
        BlockingStore& blocking = f.makeBlocking();
        const Date t1 = at(2026, 11, 1);
        const Date t2 = at(2026, 11, 2);
        auto made = [](const QString& domain, Date createdAt) {
            BlockRule r = allDayRule(domain);
            r.createdAt = createdAt;
            r.updatedAt = createdAt + 1;
            return r;
        };
        const BlockRule first = made(QStringLiteral("first.example"), t2);
        const BlockRule older = made(QStringLiteral("older.example"), t1);
        const BlockRule tie1 = made(QStringLiteral("tie1.example"), t2);
        const BlockRule tie2 = made(QStringLiteral("tie2.example"), t2);
        for (const BlockRule& r : {first, older, tie1, tie2})
            blocking.addRule(r);
        QCOMPARE(domainsOf(blocking.state().blockedNow),
                 (QStringList{QStringLiteral("older.example"), QStringLiteral("first.example"),
                              QStringLiteral("tie1.example"), QStringLiteral("tie2.example")}));
        QVERIFY(blocking.rules() == (std::vector<BlockRule>{older, first, tie1, tie2}));
        QVERIFY(rulesOnDisk(f) == blocking.rules());

        // Enough equal dates that an unstable sort would show: the older ones go after "older",
        // the newer ones to the end, each group in the order added.
        std::vector<BlockRule> added;
        std::vector<BlockRule> expected{older};
        std::vector<BlockRule> newer;
        for (int i = 0; i < 40; ++i) {
            const BlockRule r = made(QStringLiteral("site%1.example").arg(i), i % 2 ? t1 : at(2026, 11, 3));
            blocking.addRule(r);
            added.push_back(r);
            (i % 2 ? expected : newer).push_back(r);
        }
        expected.insert(expected.end(), {first, tie1, tie2});
        expected.insert(expected.end(), newer.begin(), newer.end());
        QVERIFY(blocking.rules() == expected);
        for (int i = 0; i < 40; ++i)
            blocking.removeRule(added[i].id);
        QVERIFY(blocking.rules() == (std::vector<BlockRule>{older, first, tie1, tie2}));

        // An edit keeps its place, even with an older creation date, and is stamped now.
        f.clock.advance(30);
        BlockRule edited = tie1;
        edited.createdAt = at(2026, 1, 1);
        edited.displayName = QStringLiteral("Tie one");
        blocking.updateRule(edited);
        edited.updatedAt = f.clock.now();
        QVERIFY(blocking.rules()[2] == edited);
        QVERIFY(rulesOnDisk(f) == blocking.rules());
    }

    void removingARuleClearsItsTraces()
    {
        StoreFixture f;
        const Date t0 = f.clock.now();
        const BlockRule a = limitRule(QStringLiteral("a.example"), 30);
        const BlockRule b = limitRule(QStringLiteral("b.example"), 30);
        const BlockRule c = allDayRule(QStringLiteral("c.example"));
        putRules(f, {a, b, c});
        SharedState s = stateOf();
        s.usageSecondsByRuleId = {{uuidText(a.id), 1900}, {uuidText(b.id), 50}};
        s.exceededRuleIds = {a.id};
        s.urgentBreak = UrgentBreakState{c.id, t0 - 60, 60, t0 + 3600};
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("a.example")});

        blocking.removeRule(a.id);
        QCOMPARE(blocking.state().usageSecondsByRuleId, (QHash<QString, qint64>{{uuidText(b.id), 50}}));
        QVERIFY(blocking.state().exceededRuleIds.isEmpty());
        QVERIFY(blocking.state().urgentBreak);
        QVERIFY(blocking.state().blockedNow.empty());

        blocking.removeRule(c.id);
        QVERIFY(!blocking.state().urgentBreak);
        QVERIFY(blocking.state().blockedNow.empty());
        QVERIFY(f.notifications.delivered.empty());
        QVERIFY(rulesOnDisk(f) == std::vector<BlockRule>{b});
        QVERIFY(stateOnDisk(f) == blocking.state());
    }

    // ------------------------------------------------------------ doom-scroll settings

    void doomScrollSettingsAreCleaned()
    {
        StoreFixture f;
        BlockingStore& blocking = f.makeBlocking();
        const DoomScrollDomain a = site(QStringLiteral("reddit.com"));
        const DoomScrollDomain blank = site(QStringLiteral(" "));
        blocking.updateDoomScrollConfig(doomConfig({a, site(QString()), blank}, true, 30, 10));
        QVERIFY(blocking.doomScrollConfig() == doomConfig({a, blank}, true, 30, 10));
        QVERIFY(doomOnDisk(f) == blocking.doomScrollConfig());

        // Switching on without any site stores it switched off.
        blocking.updateDoomScrollConfig(doomConfig({site(QString())}, true, 30, 10));
        QVERIFY(blocking.doomScrollConfig() == doomConfig({}, false, 30, 10));
        QVERIFY(doomOnDisk(f) == blocking.doomScrollConfig());
    }

    void identicalDoomScrollSettingsDoNothing()
    {
        StoreFixture f;
        const DoomScrollConfig config = doomConfig({site(QStringLiteral("reddit.com"))});
        putDoom(f, config);
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(QFile::remove(f.file(BlockingStore::doomScrollFile)));
        QVERIFY(QFile::remove(f.file(BlockingStore::stateFile)));
        QSignalSpy changed(f.blocking.get(), &BlockingStore::doomScrollConfigChanged);
        QSignalSpy stateChanged(f.blocking.get(), &BlockingStore::stateChanged);
        DoomScrollConfig withBlank = config;
        withBlank.domains.push_back(site(QString()));
        blocking.updateDoomScrollConfig(config);
        blocking.updateDoomScrollConfig(withBlank);
        QVERIFY(!QFileInfo::exists(f.file(BlockingStore::doomScrollFile)));
        QVERIFY(!stateFileExists(f));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(stateChanged.count(), 0);
    }

    void doomScrollSettingsAndTheRunningWindow_data()
    {
        QTest::addColumn<DoomScrollConfig>("given");
        QTest::addColumn<bool>("onBreak");
        QTest::addColumn<bool>("windowKept");

        const DoomScrollDomain a{QUuid::fromString(QStringLiteral("{00000000-0000-4000-8000-00000000000A}")),
                                 QStringLiteral("reddit.com")};
        const DoomScrollDomain b{QUuid::fromString(QStringLiteral("{00000000-0000-4000-8000-00000000000B}")),
                                 QStringLiteral("x.com")};
        for (bool onBreak : {false, true}) {
            const char* when = onBreak ? " during a break" : "";
            QTest::addRow("sites reordered%s", when) << doomConfig({b, a}) << onBreak << true;
            QTest::addRow("break length%s", when) << doomConfig({a, b}, true, 20, 30) << onBreak << true;
            QTest::addRow("same site, new id%s", when)
                << doomConfig({a, site(QStringLiteral("x.com"))}) << onBreak << true;
            QTest::addRow("window length%s", when) << doomConfig({a, b}, true, 30) << onBreak << onBreak;
            QTest::addRow("site added%s", when)
                << doomConfig({a, b, site(QStringLiteral("tiktok.com"))}) << onBreak << onBreak;
            QTest::addRow("site removed%s", when) << doomConfig({a}) << onBreak << onBreak;
            QTest::addRow("switched off%s", when) << doomConfig({a, b}, false) << onBreak << onBreak;
        }
    }

    void doomScrollSettingsAndTheRunningWindow()
    {
        QFETCH(DoomScrollConfig, given);
        QFETCH(bool, onBreak);
        QFETCH(bool, windowKept);
        StoreFixture f;
        const Date t0 = f.clock.now();
        const DoomScrollDomain a{QUuid::fromString(QStringLiteral("{00000000-0000-4000-8000-00000000000A}")),
                                 QStringLiteral("reddit.com")};
        const DoomScrollDomain b{QUuid::fromString(QStringLiteral("{00000000-0000-4000-8000-00000000000B}")),
                                 QStringLiteral("x.com")};
        putDoom(f, doomConfig({a, b}));
        const DoomScrollRuntimeState window = onBreak ? DoomScrollRuntimeState{t0 - 60, 0, t0 + 240}
                                                      : DoomScrollRuntimeState{t0 - 300, 200, std::nullopt};
        SharedState s = stateOf();
        s.doomScroll = window;
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();

        blocking.updateDoomScrollConfig(given);
        QVERIFY(blocking.doomScrollConfig() == given);
        QVERIFY(doomOnDisk(f) == given);
        if (windowKept)
            QVERIFY(blocking.state().doomScroll == window);
        else
            QVERIFY(!blocking.state().doomScroll);
        // The refresh that follows lists the break's sites under the new settings.
        if (onBreak && given.isEnabled)
            QCOMPARE(blocking.state().blockedNow.size(), given.domains.size());
        else
            QVERIFY(blocking.state().blockedNow.empty());
        QVERIFY(stateOnDisk(f) == blocking.state());
    }

    // ------------------------------------------------------------ failed writes

    void refusedBreakWriteGrantsNothing()
    {
        StoreFixture f;
        const BlockRule a = allDayRule(QStringLiteral("a.example"));
        const BlockRule b = allDayRule(QStringLiteral("b.example"));
        putRules(f, {a, b});
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blocking.startUrgentBreak(b.id));
        const std::vector<BlockRule> rulesBefore = blocking.rules();
        const SharedState stateBefore = blocking.state();

        QVERIFY(blockFile(f.file(BlockingStore::rulesFile)));
        f.clock.advance(10);
        QVERIFY(!blocking.startUrgentBreak(a.id));
        QVERIFY(f.core->lastError());
        QVERIFY(blocking.rules() == rulesBefore);
        QVERIFY(blocking.state() == stateBefore);

        // Nothing is granted later either, and the day's break is still there to take.
        blocking.refreshBlockingState();
        QCOMPARE(blocking.state().urgentBreak->ruleId, b.id);
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("a.example")});
        QVERIFY(f.core->lastError());
        QVERIFY(unblockFile(f.file(BlockingStore::rulesFile)));
        QVERIFY(blocking.startUrgentBreak(a.id));
        QVERIFY(!f.core->lastError());
        QCOMPARE(blocking.state().urgentBreak->ruleId, a.id);
    }

    // A rule change the disk refuses is undone: what blocks is what a restart would load, and the
    // same change is no duplicate once the file can be written again.
    void ruleChangesTheDiskRefusesAreUndone()
    {
        StoreFixture f;
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blockFile(f.file(BlockingStore::rulesFile)));

        BlockRule rule = allDayRule(QStringLiteral("alpha.example"));
        QVERIFY(!blocking.addRule(rule));
        const QString failure = error(*f.core);
        QVERIFY(!failure.isEmpty() && !failure.startsWith(duplicatePrefix));
        QVERIFY(blocking.rules().empty() && blocking.state().blockedNow.empty());
        QVERIFY(unblockFile(f.file(BlockingStore::rulesFile)));
        QVERIFY(blocking.addRule(rule));
        QVERIFY(!f.core->lastError());

        f.losing = {BlockingStore::rulesFile};
        BlockRule evening = windowRule(QStringLiteral("alpha.example"), 18, 0, 20, 0);
        evening.id = rule.id;
        QVERIFY(!blocking.updateRule(evening));
        QVERIFY(!blocking.removeRule(rule.id));
        QCOMPARE(blocking.rules(), std::vector<BlockRule>{rule});
        QCOMPARE(domainsOf(blocking.state().blockedNow), QStringList{QStringLiteral("alpha.example")});
        QVERIFY(!rulesOnDisk(f).empty());
        f.losing.clear();
        QVERIFY(blocking.removeRule(rule.id));
        QVERIFY(rulesOnDisk(f).empty() && blocking.state().blockedNow.empty());
    }

    void lastErrorShowsTheLatestOutstandingFailure()
    {
        StoreFixture f;
        putRules(f, {allDayRule(QStringLiteral("example.com"))});
        BlockingStore& blocking = f.makeBlocking();

        blocking.addRule(allDayRule(QStringLiteral("example.com")));
        const QString duplicate = duplicatePrefix + QStringLiteral("example.com.");
        QCOMPARE(error(*f.core), duplicate);

        QVERIFY(blockFile(f.file(BlockingStore::stateFile)));
        blocking.refreshBlockingState();
        const QString stateFailure = error(*f.core);
        QVERIFY(!stateFailure.isEmpty());
        QVERIFY(stateFailure != duplicate);
        QVERIFY(!blocking.saveState());
        QCOMPARE(error(*f.core), stateFailure);

        // Once the state writes again, the duplicate message is what is still outstanding.
        QVERIFY(unblockFile(f.file(BlockingStore::stateFile)));
        blocking.refreshBlockingState();
        QCOMPARE(error(*f.core), duplicate);
        blocking.addRule(allDayRule(QStringLiteral("fresh.example")));
        QVERIFY(!f.core->lastError());
    }

    void failedDoomScrollWriteStaysReported()
    {
        StoreFixture f;
        const Date t0 = f.clock.now();
        SharedState s = stateOf();
        s.doomScroll = DoomScrollRuntimeState{t0 - 60, 0, t0 + 240};
        putState(f, s);
        BlockingStore& blocking = f.makeBlocking();
        QVERIFY(blockFile(f.file(BlockingStore::doomScrollFile)));

        const DoomScrollConfig config = doomConfig({site(QStringLiteral("reddit.com"))});
        QVERIFY(!blocking.updateDoomScrollConfig(config));
        QVERIFY(!blocking.doomScrollConfig().isEnabled); // as on disk
        QVERIFY(blocking.state().blockedNow.empty());
        QVERIFY(stateOnDisk(f) == blocking.state());
        QVERIFY(f.core->lastError());

        QVERIFY(unblockFile(f.file(BlockingStore::doomScrollFile)));
        blocking.updateDoomScrollConfig(doomConfig(config.domains, true, 20, 10));
        QVERIFY(!f.core->lastError());
    }

    // ------------------------------------------------------------ changes of the wall clock

    void clockChangeNeitherEndsNorStretchesAWait_data()
    {
        QTest::addColumn<QString>("wait");
        QTest::addColumn<double>("change");
        QTest::addColumn<QString>("restart"); // "", "same boot" or "new boot"
        for (const QString wait : {"pause", "urgent break", "doom-scroll break"})
            for (const double change : {3 * 3600.0, -3 * 3600.0})
                for (const QString restart : {"", "same boot"})
                    QTest::addRow("%s %s%s", qPrintable(wait), change > 0 ? "forward" : "back",
                                  restart.isEmpty() ? "" : ", then a restart")
                        << wait << change << restart;
        // Across a reboot nothing tells a change from time passing: the wall clock is all there is.
        QTest::newRow("pause forward, after a reboot") << QStringLiteral("pause") << 3 * 3600.0 << "new boot";
    }

    void clockChangeNeitherEndsNorStretchesAWait()
    {
        QFETCH(QString, wait);
        QFETCH(double, change);
        QFETCH(QString, restart);
        StoreFixture f;
        const Date t0 = f.clock.now();
        const BlockRule rule = allDayRule(QStringLiteral("alpha.example"));
        putRules(f, {rule});
        putDoom(f, doomConfig({site(QStringLiteral("feed.example"))}));
        SharedState s = stateOf();
        s.blockingPausedUntil = wait == QLatin1String("pause") ? std::optional(t0 + 1800) : std::nullopt;
        if (wait == QLatin1String("urgent break"))
            s.urgentBreak = UrgentBreakState{rule.id, t0 - 60, 0, t0 + 1800};
        if (wait == QLatin1String("doom-scroll break"))
            s.doomScroll = DoomScrollRuntimeState{t0 - 60, 0, t0 + 1800};
        putState(f, s);
        BlockingStore* blocking = &f.makeBlocking();
        // While the wait runs the rule's site is released, or the feed is blocked too.
        const int whileRunning = wait == QLatin1String("doom-scroll break") ? 2 : 0;
        const auto running = [&] {
            blocking->refreshBlockingState();
            return int(blocking->state().blockedNow.size()) == whileRunning;
        };

        f.changeWallClock(change);
        if (restart == QLatin1String("new boot"))
            f.bootClock.boot = QStringLiteral("another-boot");
        if (!restart.isEmpty())
            blocking = &f.makeBlocking();
        QCOMPARE(running(), restart != QLatin1String("new boot"));
        f.clock.advance(1799);
        QCOMPARE(running(), restart != QLatin1String("new boot"));
        f.clock.advance(1);
        QVERIFY(!running());
    }

    void clockChangeDoesNotStartANewUsageDay_data()
    {
        QTest::addColumn<QList<double>>("changes"); // of the wall clock; 0 restarts in the same boot
        QTest::addColumn<double>("passing");
        QTest::addColumn<bool>("newDay");
        const double day = 86400;
        const double toMidnight = 14 * 3600.0;
        QTest::newRow("forward a day") << QList<double>{day} << 0.0 << false;
        QTest::newRow("back and forth") << QList<double>{-day, day, day, -day} << 0.0 << false;
        QTest::newRow("forward a day, restarted") << QList<double>{day, 0} << 0.0 << false;
        QTest::newRow("forward 3 h, before real midnight") << QList<double>{3 * 3600.0} << toMidnight - 1 << false;
        QTest::newRow("forward 3 h, at real midnight") << QList<double>{3 * 3600.0} << toMidnight << true;
        QTest::newRow("back a day, restarted, at real midnight") << QList<double>{-day, 0} << toMidnight << true;
    }

    void clockChangeDoesNotStartANewUsageDay()
    {
        QFETCH(QList<double>, changes);
        QFETCH(double, passing);
        QFETCH(bool, newDay);
        StoreFixture f;
        BlockRule limited = limitRule(QStringLiteral("news.example"), 30);
        limited.urgentBreakUsedCalendarDay = today;
        putRules(f, {limited});
        BlockingStore* blocking = &f.makeBlocking();
        blocking->recordUsage(limited, 1800);
        for (const double change : changes) {
            f.changeWallClock(change);
            blocking = change == 0 ? &f.makeBlocking() : blocking;
            blocking->refreshBlockingState();
        }
        f.clock.advance(passing);
        blocking->refreshBlockingState();
        QCOMPARE(blocking->state().blockedNow.empty(), newDay);
        // Today's urgent break stays spent until the usage day really ends.
        blocking->recordUsage(limited, 1800);
        QCOMPARE(blocking->startUrgentBreak(limited.id), newDay);
    }

    // ------------------------------------------------------------ system events

    void dayChangeRollsTheStateOver()
    {
        StoreFixture f;
        f.clock.set(at(2026, 12, 7, 23, 59, 30));
        const BlockRule rule = limitRule(QStringLiteral("gamma.example"), 1);
        putRules(f, {rule});
        StorageService& store = f.make();
        store.blocking().recordUsage(rule, 60);
        QCOMPARE(domainsOf(store.blocking().state().blockedNow), QStringList{QStringLiteral("gamma.example")});

        f.clock.set(at(2026, 12, 8, 0, 0, 5));
        emit f.events.dayChanged();
        QCOMPARE(store.blocking().state().dayId, today); // the work runs as its own task
        QCoreApplication::processEvents();
        QCOMPARE(store.blocking().state().dayId, 20261208);
        QVERIFY(store.blocking().state().usageSecondsByRuleId.isEmpty());
        QVERIFY(store.blocking().state().exceededRuleIds.isEmpty());
        QVERIFY(store.blocking().state().blockedNow.empty());
        QVERIFY(stateOnDisk(f) == store.blocking().state());
        QCOMPARE(store.blocking().scheduledBoundary(), std::optional<Date>(at(2026, 12, 9)));
    }

    void timeZoneChangeReadsTheNewCalendar()
    {
        StoreFixture f;
        const BlockRule morning = windowRule(QStringLiteral("morning.example"), 9, 0, 11, 0);
        putRules(f, {morning});
        StorageService& store = f.make();
        QCOMPARE(domainsOf(store.blocking().state().blockedNow), QStringList{QStringLiteral("morning.example")});

        // 10:00 in New York is midnight in Tokyo, a day later.
        // The usage day is still New York's until its midnight, 14 hours on.
        f.calendar = TestEnvironment::calendar("Asia/Tokyo");
        emit f.events.timeZoneChanged();
        QCoreApplication::processEvents();
        QCOMPARE(store.blocking().state().dayId, 20261207);
        QVERIFY(store.blocking().state().blockedNow.empty());
        QCOMPARE(store.blocking().state().validUntil, f.clock.now() + 9 * 3600);
    }

    // A used-up limit and a spent urgent break stay so through moves of the zone, however far
    // east: a later date there is not time passing. The next usage day begins when real time
    // reaches the end of the day where it was counted, and is then the wall clock's own.
    void zoneMovesGrantNothingUntilTheDayEnds_data()
    {
        QTest::addColumn<QByteArrayList>("zones"); // the first counts the day; a start in each
        QTest::addColumn<bool>("whileRunning");    // the zone changes under a running store
        QTest::addColumn<double>("laterHours");    // real time that passes after the last move
        QTest::addColumn<qint64>("dayAfter");      // the usage day then
        // 2026-12-08 00:00 UTC: noon of the 7th at UTC-12, 14:00 of the 8th at UTC+14.
        const QByteArray west = "Etc/GMT+12", east = "Pacific/Kiritimati";
        QTest::newRow("west to east, restarted") << QByteArrayList{west, east} << false << 0.0 << qint64(20261207);
        QTest::newRow("west to east and back") << QByteArrayList{west, east, west} << false << 0.0 << qint64(20261207);
        QTest::newRow("west to east while running") << QByteArrayList{west, east} << true << 0.0 << qint64(20261207);
        QTest::newRow("east, then the west's day ends")
            << QByteArrayList{west, east} << false << 11.9 << qint64(20261207);
        QTest::newRow("east, after the west's midnight")
            << QByteArrayList{west, east} << false << 12.0 << qint64(20261209);
        QTest::newRow("east to west and back") << QByteArrayList{east, west, east} << false << 0.0 << qint64(20261208);
        // Behind the stored day, the west starts no day it had already.
        QTest::newRow("east to west, after the east's midnight")
            << QByteArrayList{east, west} << false << 10.0 << qint64(20261208);
    }
    void zoneMovesGrantNothingUntilTheDayEnds()
    {
        QFETCH(QByteArrayList, zones);
        QFETCH(bool, whileRunning);
        QFETCH(double, laterHours);
        QFETCH(qint64, dayAfter);
        StoreFixture f;
        f.clock.set(QDateTime(QDate(2026, 12, 8), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch());
        f.calendar = TestEnvironment::calendar(zones.first().constData());
        const qint64 counted = SharedState::dayIdFor(f.clock.now(), f.calendar);
        BlockRule rule = limitRule(QStringLiteral("feed.example"), 1);
        rule.allowOneBreak = true;
        rule.urgentBreakUsedCalendarDay = counted;
        putRules(f, {rule});
        SharedState used = stateOf(counted); // as a version that kept no day end wrote it
        used.usageSecondsByRuleId.insert(uuidText(rule.id), 120);
        used.exceededRuleIds.insert(rule.id);
        putState(f, used);
        f.make();
        for (qsizetype i = 1; i < zones.size(); ++i) {
            f.clock.advance(60);
            f.calendar = TestEnvironment::calendar(zones.at(i).constData());
            if (whileRunning) {
                emit f.events.timeZoneChanged();
                QCoreApplication::processEvents();
            } else {
                f.make();
            }
            const SharedState& s = f.store->blocking().state();
            QCOMPARE(s.dayId, counted);
            QVERIFY(s.exceededRuleIds.contains(rule.id));
            QCOMPARE(s.blockedNow.size(), size_t(1));
            QVERIFY2(!s.blockedNow.front().allowUrgentBreak, zones.at(i).constData());
            QVERIFY(stateOnDisk(f) == s);
        }
        f.clock.advance(laterHours * 3600);
        f.store->blocking().refreshBlockingState();
        const SharedState& s = f.store->blocking().state();
        QCOMPARE(s.dayId, dayAfter);
        QCOMPARE(s.exceededRuleIds.contains(rule.id), dayAfter == counted);
        QCOMPARE(s.blockedNow.empty(), dayAfter != counted);
        if (dayAfter == counted && s.usageDayEndsAt && *s.usageDayEndsAt > f.clock.now()) {
            // The day's end is a boundary, so the new day starts on time.
            QVERIFY(s.validUntil > f.clock.now());
            QVERIFY(s.validUntil <= *s.usageDayEndsAt);
        }
    }

    void wakeAndClockChangeRefresh()
    {
        StoreFixture f;
        const Date t0 = f.clock.now();
        putRules(f, {allDayRule(QStringLiteral("alpha.example"))});
        SharedState s = stateOf();
        s.blockingPausedUntil = t0 + 600;
        putState(f, s);
        StorageService& store = f.make();
        QVERIFY(store.blocking().state().blockedNow.empty());

        f.clock.advance(300);
        emit f.events.didWake();
        QCoreApplication::processEvents();
        QVERIFY(store.blocking().state().blockedNow.empty());
        f.clock.advance(300);
        emit f.events.clockChanged();
        QCoreApplication::processEvents();
        QVERIFY(!store.blocking().state().blockingPausedUntil);
        QCOMPARE(domainsOf(store.blocking().state().blockedNow), QStringList{QStringLiteral("alpha.example")});
    }
};

QTEST_GUILESS_MAIN(TestBlockingStore)
#include "tst_blocking_store.moc"
