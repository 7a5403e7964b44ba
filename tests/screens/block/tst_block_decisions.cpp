#include "BlockTestSupport.h"
#include "screens/block/BypassCooldown.h"
#include "screens/block/DoomScrollTexts.h"
#include "screens/block/ManageRuleFlow.h"
#include "screens/block/RuleForm.h"
#include "screens/block/RuleStatus.h"

#include <QtTest>

using namespace BlockTest;

// A column's value inside an expression (QFETCH only declares).
template <typename T> T fetched(const char* column)
{
    return *static_cast<T*>(QTest::qData(column, qMetaTypeId<T>()));
}

namespace {

const Calendar cal = TestEnvironment::calendar();
const Date monday10 = at(2026, 12, 7, 10, 0);

SharedState stateWith(const std::function<void(SharedState&)>& change = {})
{
    SharedState s = SharedState::fresh(monday10, cal);
    if (change)
        change(s);
    return s;
}

} // namespace

class BlockDecisionsTest : public QObject {
    Q_OBJECT

private slots:
    void siteNamesAreJoinedInEnglish_data();
    void siteNamesAreJoinedInEnglish();
    void cooldownFollowsTheMonotonicClock_data();
    void cooldownFollowsTheMonotonicClock();
    void durationText_data();
    void durationText();
    void weekdaySummary_data();
    void weekdaySummary();
    void rowStatus_data();
    void rowStatus();
    void cachedStatusNeverStale();
    void urgentBreakMenu_data();
    void urgentBreakMenu();
    void manageTexts_data();
    void manageTexts();
    void formNameFollowsWebsite();
    void formWebsiteChecks_data();
    void formWebsiteChecks();
    void formOpensAndBuildsStoredRule_data();
    void formOpensAndBuildsStoredRule();
    void formWeekdayOperations();
    void manageDecides_data();
    void manageDecides();
    void doomTexts_data();
    void doomTexts();
    void doomAddDomain_data();
    void doomAddDomain();
};

// ---------------------------------------------------------------- cool-down

void BlockDecisionsTest::cooldownFollowsTheMonotonicClock_data()
{
    QTest::addColumn<double>("monotonicElapsed");
    QTest::addColumn<double>("wallJump");
    QTest::addColumn<bool>("answer"); // of the step a press runs
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("ring");
    QTest::addColumn<int>("phase"); // after two presses

    using P = BypassCooldown::Phase;
    QTest::newRow("14.2 before") << 0.8 << 0.0 << true << 15 << "Remove block in 15s"
                                 << "15 seconds left" << int(P::counting);
    QTest::newRow("0.1 before") << 14.9 << 0.0 << true << 1 << "Remove block in 1s"
                                << "1 seconds left" << int(P::counting);
    QTest::newRow("deadline, granted") << 15.0 << 0.0 << true << 0 << "Remove block"
                                       << "Done waiting" << int(P::granted);
    QTest::newRow("later, refused") << 20.0 << 0.0 << false << 0 << "Remove block"
                                    << "Done waiting" << int(P::failed);
    QTest::newRow("wall clock set an hour ahead") << 1.0 << 3600.0 << true << 14 << "Remove block in 14s"
                                                  << "14 seconds left" << int(P::counting);
    QTest::newRow("wall clock set back") << 3.0 << -86400.0 << true << 12 << "Remove block in 12s"
                                         << "12 seconds left" << int(P::counting);
}

void BlockDecisionsTest::cooldownFollowsTheMonotonicClock()
{
    QFETCH(double, monotonicElapsed);
    QFETCH(double, wallJump);
    QFETCH(bool, answer);
    ManualMonotonic mono;
    ManualClock wall(monday10);
    BypassCooldown cooldown(mono);
    const auto kind = BlockingBypassKind::removeRule(QStringLiteral("YouTube"));

    wall.advance(wallJump);
    mono.value += monotonicElapsed;
    cooldown.tick();
    QCOMPARE(cooldown.secondsRemaining(), fetched<int>("seconds"));
    QCOMPARE(cooldown.confirmLabel(kind), fetched<QString>("label"));
    QCOMPARE(cooldown.ringAccessibleText(), fetched<QString>("ring"));
    QCOMPARE(cooldown.phase() == BypassCooldown::Phase::ready, cooldown.secondsRemaining() == 0);

    int grants = 0;
    const auto grant = [&] {
        ++grants;
        return answer;
    };
    cooldown.confirm(grant);
    cooldown.confirm(grant); // a second press never runs the step again
    QCOMPARE(grants, cooldown.secondsRemaining() == 0 ? 1 : 0);
    QCOMPARE(int(cooldown.phase()), fetched<int>("phase"));
    if (grants) { // settled: later ticks change nothing
        mono.value -= 1000;
        cooldown.tick();
        QCOMPARE(cooldown.secondsRemaining(), 0);
    }
}

void BlockDecisionsTest::durationText_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("59.99 min") << 3599.9 << "59 minutes";
    QTest::newRow("1 hour") << 3600.0 << "1 hour";
    QTest::newRow("1 minute") << 60.0 << "1 minutes";
    QTest::newRow("nothing") << 59.0 << "0 minutes";
    QTest::newRow("not a number") << std::nan("") << "0 minutes";
}

void BlockDecisionsTest::durationText()
{
    QFETCH(double, seconds);
    QCOMPARE(BlockingBypassKind::durationText(seconds), fetched<QString>("text"));
}

// ---------------------------------------------------------------- rows

void BlockDecisionsTest::weekdaySummary_data()
{
    QTest::addColumn<QList<int>>("days");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QList<int>{} << "Every day";
    QTest::newRow("all") << QList<int>{1, 2, 3, 4, 5, 6, 7} << "Every day";
    QTest::newRow("weekdays") << QList<int>{2, 3, 4, 5, 6} << "Weekdays only";
    QTest::newRow("weekends") << QList<int>{7, 1} << "Weekends only";
    QTest::newRow("Mon-Thu") << QList<int>{2, 3, 4, 5} << "Mon – Thu";
    QTest::newRow("gaps") << QList<int>{2, 4, 6} << "Mon, Wed, Fri";
    QTest::newRow("weekdays and a stray") << QList<int>{2, 3, 4, 5, 6, 9} << "Mon – Fri";
    QTest::newRow("only strays") << QList<int>{0, 8} << "";
}

void BlockDecisionsTest::weekdaySummary()
{
    QFETCH(QList<int>, days);
    QCOMPARE(::weekdaySummary(QSet<int>(days.begin(), days.end())), fetched<QString>("text"));
}

void BlockDecisionsTest::rowStatus_data()
{
    QTest::addColumn<BlockRule>("rule");
    QTest::addColumn<SharedState>("state");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("blocking");
    QTest::addColumn<double>("fraction"); // -1: none

    const BlockRule all = rule(QStringLiteral("youtube.com"));
    const BlockRule limit = rule(QStringLiteral("reddit.com"), dailyLimit(), {}, 30);
    const auto breakOf = [](const BlockRule& r, qint64 used, Date ends) {
        return stateWith([&](SharedState& s) { s.urgentBreak = UrgentBreakState{r.id, monday10 - 60, used, ends}; });
    };
    const auto exceeded = stateWith([&](SharedState& s) { s.exceededRuleIds.insert(limit.id); });

    QTest::newRow("paused beats a break")
        << all << breakOf(all, 0, monday10 + 600) << true << "Paused" << false << -1.0;
    QTest::newRow("own break") << all << breakOf(all, 10, monday10 + 600) << false << "On an urgent break" << false
                               << -1.0;
    QTest::newRow("break used up") << all << breakOf(all, 600, monday10 + 600) << false << "Blocked all day" << true
                                   << -1.0;
    QTest::newRow("break expired") << all << breakOf(all, 10, monday10) << false << "Blocked all day" << true << -1.0;
    QTest::newRow("other rule's break") << all << breakOf(limit, 10, monday10 + 600) << false << "Blocked all day"
                                        << true << -1.0;
    QTest::newRow("limit 179 s") << limit
                                 << stateWith([&](SharedState& s) { s.usageSecondsByRuleId[uuidText(limit.id)] = 179; })
                                 << false << "2 of 30 min" << false << 179.0 / 1800.0;
    QTest::newRow("limit reached") << limit << exceeded << false << "Limit reached" << true << 1.0;
    QTest::newRow("limit on an inactive weekday") << rule(QStringLiteral("x.com"), dailyLimit(), {7}, 30) << stateWith()
                                                  << false << "0 of 30 min" << false << 0.0;
    QTest::newRow("limit without minutes")
        << rule(QStringLiteral("x.com"), dailyLimit()) << stateWith() << false << "Not active" << false << -1.0;
    QTest::newRow("window later today") << rule(QStringLiteral("x.com"), window(14, 0, 15, 0)) << stateWith() << false
                                        << "Starts at " + clock(14, 0) << false << -1.0;
    QTest::newRow("window tomorrow") << rule(QStringLiteral("x.com"), window(9, 0, 9, 30)) << stateWith() << false
                                     << "Starts tomorrow " + clock(9, 0) << false << -1.0;
    QTest::newRow("window Thursday") << rule(QStringLiteral("x.com"), window(9, 0, 17, 0), {5}) << stateWith() << false
                                     << "Starts Thu " + clock(9, 0) << false << -1.0;
    QTest::newRow("window overnight") << rule(QStringLiteral("x.com"), window(22, 0, 11, 0)) << stateWith() << false
                                      << "Blocked until " + clock(11, 0) << true << -1.0;
    auto noEnd = window(9, 0, 17, 0);
    noEnd.endMinute.reset();
    QTest::newRow("window missing an end")
        << rule(QStringLiteral("x.com"), noEnd) << stateWith() << false << "Not active" << false << -1.0;
}

void BlockDecisionsTest::rowStatus()
{
    QFETCH(BlockRule, rule);
    QFETCH(SharedState, state);
    QFETCH(bool, paused);
    QFETCH(double, fraction);
    const RuleStatus::Status s = RuleStatus::status(rule, {monday10, state, cal}, paused);
    QCOMPARE(s.text, fetched<QString>("text"));
    QCOMPARE(s.isBlocking, fetched<bool>("blocking"));
    QCOMPARE(s.fraction.has_value(), fraction >= 0);
    if (s.fraction)
        QCOMPARE(*s.fraction, fraction);
}

void BlockDecisionsTest::cachedStatusNeverStale()
{
    // Rules sharing a schedule share a search; a cache kept across rebuilds must still answer
    // exactly what a fresh computation does at every later (or earlier) moment.
    const std::vector<BlockRule> rules{
        rule(QStringLiteral("a.com"), window(14, 0, 15, 0)), rule(QStringLiteral("b.com"), window(14, 0, 15, 0)),
        rule(QStringLiteral("c.com"), window(22, 0, 7, 0), {2, 4}), rule(QStringLiteral("d.com"), allDay(), {3}),
        rule(QStringLiteral("e.com"), dailyLimit())};
    RuleStatus::StatusCache cache;
    SharedState state = stateWith();
    const Date midnight = at(2026, 12, 7, 0, 0);
    // Minutes after Monday's midnight, on and beside every boundary, and one moment back in time.
    const QList<double> minutes{600, 839, 840, 899.99, 900, 1439, 1440, 1859, 1860, 540, 4230};
    for (int round = 0; round < 2; ++round) {
        if (round == 1) { // a pause moves every boundary
            state.blockingPausedUntil = at(2026, 12, 7, 14, 30);
            state.exceededRuleIds.insert(rules[4].id);
        }
        for (double m : minutes) {
            const Date now = midnight + m * 60;
            RuleStatus::StatusBatch batch({now, state, cal}, &cache);
            for (const BlockRule& r : rules)
                QCOMPARE(batch.status(r, false).text, RuleStatus::status(r, {now, state, cal}, false).text);
        }
    }
}

void BlockDecisionsTest::urgentBreakMenu_data()
{
    QTest::addColumn<bool>("allow");
    QTest::addColumn<bool>("usedToday");
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("paused");
    QTest::addColumn<bool>("clockAhead"); // the wall clock set a day forward; the store's day stays
    QTest::addColumn<bool>("can");
    QTest::addColumn<QString>("reason");

    QTest::newRow("offered") << true << false << true << false << false << true << "";
    QTest::newRow("off for the site") << false << false << true << false << false << false
                                      << "Urgent breaks are off for this site";
    QTest::newRow("used today") << true << true << true << false << false << false << "Today's urgent break is used";
    QTest::newRow("used, clock set ahead")
        << true << true << true << false << true << false << "Today's urgent break is used";
    QTest::newRow("not blocking") << true << false << false << false << false << false << "";
    QTest::newRow("paused") << false << false << true << true << false << false << "";
}

void BlockDecisionsTest::urgentBreakMenu()
{
    QFETCH(bool, allow);
    QFETCH(bool, usedToday);
    QFETCH(bool, active);
    QFETCH(bool, paused);
    BlockRule r = rule(QStringLiteral("x.com"), active ? allDay() : window(20, 0, 21, 0), {}, std::nullopt, allow);
    if (usedToday)
        r.urgentBreakUsedCalendarDay = 20261207;
    else
        r.urgentBreakUsedCalendarDay = 20261206; // yesterday's break does not count
    const SharedState s = stateWith([&](SharedState& st) {
        if (paused)
            st.blockingPausedUntil = monday10 + 900;
    });
    const RuleStatus::Moment moment{fetched<bool>("clockAhead") ? monday10 + 86400 : monday10, s, cal};
    QCOMPARE(RuleStatus::canTakeUrgentBreak(r, moment), fetched<bool>("can"));
    QCOMPARE(RuleStatus::urgentBreakUnavailableReason(r, moment, paused).value_or(QString()),
             fetched<QString>("reason"));
}

void BlockDecisionsTest::manageTexts_data()
{
    QTest::addColumn<BlockRule>("rule");
    QTest::addColumn<SharedState>("state");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("schedule");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("summary"); // the row's

    const QString hours = clock(22, 0) + QChar(0x2013) + clock(7, 0);
    BlockRule limit = rule(QStringLiteral("x.com"), dailyLimit(), {2, 3, 4, 5, 6}, 30);
    QTest::newRow("limit used") << limit
                                << stateWith([&](SharedState& s) { s.usageSecondsByRuleId[uuidText(limit.id)] = 754; })
                                << "12 of 30 min used today"
                                << "Daily limit · 30 min"
                                << "Weekdays only"
                                << "Daily limit · 30 min · Weekdays only";
    QTest::newRow("all day") << rule(QStringLiteral("x.com"), allDay(), {}, std::nullopt, true) << stateWith()
                             << "Blocked right now"
                             << "Blocked all day"
                             << "Every day · urgent break allowed"
                             << "Every day · All day";
    QTest::newRow("all day, paused") << rule(QStringLiteral("x.com"))
                                     << stateWith([](SharedState& s) { s.blockingPausedUntil = monday10 + 60; })
                                     << "Not blocking right now"
                                     << "Blocked all day"
                                     << "Every day"
                                     << "Every day · All day";
    QTest::newRow("overnight") << rule(QStringLiteral("x.com"), window(22, 0, 7, 0), {1, 7}) << stateWith()
                               << "Not blocking right now"
                               << "Blocked " + hours << "Weekends only"
                               << "Weekends only · " + hours;
    auto partial = window(9, 0, 17, 0);
    partial.endHour.reset();
    QTest::newRow("set hours") << rule(QStringLiteral("x.com"), partial) << stateWith() << "Not blocking right now"
                               << "Blocked at set hours"
                               << "Every day"
                               << "Every day";
}

void BlockDecisionsTest::manageTexts()
{
    QFETCH(BlockRule, rule);
    QFETCH(SharedState, state);
    const RuleStatus::Moment moment{monday10, state, cal};
    QCOMPARE(RuleStatus::manageStatusText(rule, moment), fetched<QString>("status"));
    QCOMPARE(RuleStatus::scheduleText(rule), fetched<QString>("schedule"));
    QCOMPARE(RuleStatus::scheduleDetail(rule), fetched<QString>("detail"));
    QCOMPARE(RuleStatus::summaryText(rule), fetched<QString>("summary"));
}

// ---------------------------------------------------------------- add/edit form

void BlockDecisionsTest::formNameFollowsWebsite()
{
    RuleForm form(std::nullopt, {});
    form.setDomain(QStringLiteral("www.youtube.com"));
    QCOMPARE(form.displayName(), QStringLiteral("YouTube"));

    form.setDisplayName(QStringLiteral("Videos"));
    form.setDomain(QStringLiteral("reddit.com"));
    QCOMPARE(form.displayName(), QStringLiteral("Videos")); // the person's own name stays

    form.setDisplayName(QStringLiteral("Reddit")); // typing the suggestion back
    form.setDomain(QStringLiteral("twitch.tv"));
    QCOMPARE(form.displayName(), QStringLiteral("Twitch"));

    // A chip sets both and leaves the name following the website, even over a name of one's own
    // and even when the name already was the chip's suggestion.
    form.setDisplayName(QStringLiteral("Instagram"));
    form.pressPresetSite(QStringLiteral("instagram.com"));
    QCOMPARE(form.domain(), QStringLiteral("instagram.com"));
    QVERIFY(!form.didEditName());
    form.setDomain(QStringLiteral("linkedin.com"));
    QCOMPARE(form.displayName(), QStringLiteral("LinkedIn"));

    // Editing: the stored name is the person's own.
    RuleForm edit(rule(QStringLiteral("example.com")), {QStringLiteral("example.com")});
    edit.setDomain(QStringLiteral("news.example.com"));
    QCOMPARE(edit.displayName(), QStringLiteral("Example"));
}

void BlockDecisionsTest::formWebsiteChecks_data()
{
    QTest::addColumn<bool>("editing");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("isError");
    QTest::addColumn<bool>("canSave");

    const QString invalid = QStringLiteral("Enter a website such as youtube.com");
    QTest::newRow("empty") << false << ""
                           << "" << false << false;
    QTest::newRow("spaces") << false << "   " << invalid << true << false;
    QTest::newRow("preview") << false << "https://www.Twitch.tv/videos"
                             << "We'll block twitch.tv and its subdomains." << false << true;
    QTest::newRow("taken behind two www") << false << "www.www.example.com"
                                          << "This site already has a block." << true << false;
    QTest::newRow("preview of the saved form") << false << "www.www.news.org"
                                               << "We'll block news.org and its subdomains." << false << true;
    QTest::newRow("saved form is no site") << false << "www.www.com" << invalid << true << false;
    QTest::newRow("own domain when editing") << true << "example.com"
                                             << "We'll block example.com and its subdomains." << false << true;
    QTest::newRow("another rule's domain when editing") << true << "reddit.com"
                                                        << "This site already has a block." << true << false;
}

void BlockDecisionsTest::formWebsiteChecks()
{
    QFETCH(bool, editing);
    QFETCH(QString, typed);
    const QSet<QString> taken{QStringLiteral("example.com"), QStringLiteral("reddit.com")};
    RuleForm form(editing ? std::optional(rule(QStringLiteral("example.com"))) : std::nullopt, taken);
    form.setDomain(typed);
    form.setDisplayName(QStringLiteral("Name"));
    const auto message = form.websiteMessage();
    QCOMPARE(message ? message->text : QString(), fetched<QString>("message"));
    QCOMPARE(message && message->isError, fetched<bool>("isError"));
    QCOMPARE(form.canSave(), fetched<bool>("canSave"));
}

void BlockDecisionsTest::formOpensAndBuildsStoredRule_data()
{
    QTest::addColumn<BlockRule>("stored");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QTime>("start");
    QTest::addColumn<QTime>("end");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QList<int>>("days");
    QTest::addColumn<BlockApplySchedule>("built");

    const QList<int> week{1, 2, 3, 4, 5, 6, 7};
    const QString site = QStringLiteral("www.example.com");
    QTest::newRow("all day, every day as empty set")
        << rule(site) << int(RuleForm::Mode::allDay) << QTime(9, 0) << QTime(17, 0) << 30 << week << allDay();
    QTest::newRow("limit 25") << rule(site, dailyLimit(), {2, 4}, 25) << int(RuleForm::Mode::dailyLimit) << QTime(9, 0)
                              << QTime(17, 0) << 25 << QList<int>{2, 4} << dailyLimit();
    QTest::newRow("overnight") << rule(site, window(22, 15, 6, 45), {1}) << int(RuleForm::Mode::hours) << QTime(22, 15)
                               << QTime(6, 45) << 30 << QList<int>{1} << window(22, 15, 6, 45);
    // 2:30 does not exist on 2026-03-08 in New York; a time of day is still 2:30.
    QTest::newRow("hours in the skipped hour") << rule(site, window(2, 30, 17, 0)) << int(RuleForm::Mode::hours)
                                               << QTime(2, 30) << QTime(17, 0) << 30 << week << window(2, 30, 17, 0);
    QTest::newRow("hand-edited numbers") << rule(site, window(99, -3, 17, 0), {0, 9}) << int(RuleForm::Mode::hours)
                                         << QTime(23, 0) << QTime(17, 0) << 30 << week << window(23, 0, 17, 0);
}

void BlockDecisionsTest::formOpensAndBuildsStoredRule()
{
    QFETCH(BlockRule, stored);
    QFETCH(QList<int>, days);
    QFETCH(int, limit);
    stored.urgentBreakUsedCalendarDay = 20261207;
    RuleForm form(stored, {stored.domain});
    QCOMPARE(int(form.mode()), fetched<int>("mode"));
    QCOMPARE(form.startTime(), fetched<QTime>("start"));
    QCOMPARE(form.endTime(), fetched<QTime>("end"));
    QCOMPARE(form.dailyLimitMinutes(), limit);
    QCOMPARE(form.activeWeekdays(), QSet<int>(days.begin(), days.end()));
    QVERIFY(form.canSave());
    // What the form opened with, however the stored numbers read, is no change to ask about.
    QVERIFY(!form.hasChanges());
    form.toggleWeekday(3, form.activeWeekdays().contains(3));
    QVERIFY(form.hasChanges());
    form.toggleWeekday(3, form.activeWeekdays().contains(3));
    QVERIFY(!form.hasChanges()); // changed back

    form.setDisplayName(QStringLiteral("  Example site  "));
    const Date now = at(2026, 3, 8, 1, 0);
    const BlockRule built = form.build(now);
    QCOMPARE(built.blockApplySchedule, fetched<BlockApplySchedule>("built"));
    QCOMPARE(built.dailyLimitMinutes,
             built.blockApplySchedule.isAfterMaxDailyTime ? std::optional<qint64>(limit) : std::nullopt);
    QCOMPARE(built.id, stored.id);
    QCOMPARE(built.domain, QStringLiteral("example.com"));
    QCOMPARE(built.displayName, QStringLiteral("Example site"));
    QCOMPARE(built.createdAt, stored.createdAt);
    QCOMPARE(built.updatedAt, now);
    QCOMPARE(built.urgentBreakUsedCalendarDay, stored.urgentBreakUsedCalendarDay);
    QVERIFY(form.hasChanges());

    RuleForm fresh(std::nullopt, {});
    fresh.pressPresetSite(QStringLiteral("youtube.com"));
    const BlockRule added = fresh.build(now);
    QVERIFY(!added.id.isNull() && added.id != stored.id);
    QCOMPARE(added.createdAt, now);
    QVERIFY(!added.urgentBreakUsedCalendarDay);
}

void BlockDecisionsTest::formWeekdayOperations()
{
    RuleForm form(std::nullopt, {});
    form.applyPreset({2});
    form.toggleWeekday(2, true); // the last day stays on
    QCOMPARE(form.activeWeekdays(), QSet<int>{2});
    form.toggleWeekday(3, false);
    QCOMPARE(form.activeWeekdays(), (QSet<int>{2, 3}));
    form.toggleWeekday(2, true);
    QCOMPARE(form.activeWeekdays(), QSet<int>{3});
    for (const QString& site : BlockRule::suggestedSites())
        QCOMPARE(BlockRule::normalizedDomain(site), site);
}

// ---------------------------------------------------------------- manage-rule decisions

void BlockDecisionsTest::manageDecides_data()
{
    QTest::addColumn<BlockRule>("opened");
    QTest::addColumn<BlockRule>("stored");
    QTest::addColumn<BlockRule>("edited");
    QTest::addColumn<bool>("loosens");

    const BlockRule limit = rule(QStringLiteral("a.com"), dailyLimit(), {2, 3, 4, 5, 6}, 30);
    const auto with = [](BlockRule r, const std::function<void(BlockRule&)>& f) {
        f(r);
        return r;
    };
    QTest::newRow("shorter limit") << limit << limit << with(limit, [](BlockRule& r) { r.dailyLimitMinutes = 10; })
                                   << false;
    QTest::newRow("longer limit") << limit << limit << with(limit, [](BlockRule& r) { r.dailyLimitMinutes = 45; })
                                  << true;
    QTest::newRow("drop a weekday") << limit << limit << with(limit, [](BlockRule& r) { r.activeWeekdays.remove(2); })
                                    << true;
    QTest::newRow("allow the break") << limit << limit << with(limit, [](BlockRule& r) { r.allowOneBreak = true; })
                                     << true;
    QTest::newRow("all day to limit") << rule(QStringLiteral("a.com")) << rule(QStringLiteral("a.com")) << limit
                                      << true;
    // After a granted change of domain to b.com, going back to a.com unblocks b.com.
    const BlockRule moved = with(limit, [](BlockRule& r) { r.domain = "b.com"; });
    QTest::newRow("back to the opened domain") << limit << moved << limit << true;
    QTest::newRow("rule gone from the store") << limit << BlockRule() << limit << false;
}

void BlockDecisionsTest::manageDecides()
{
    QFETCH(BlockRule, opened);
    QFETCH(BlockRule, stored);
    QFETCH(BlockRule, edited);
    QFETCH(bool, loosens);
    ManageRuleFlow flow(opened);
    QCOMPARE(flow.editSheetDismissed(), ManageRuleFlow::Next::stay); // an edit cancelled keeps the sheet
    const std::optional<BlockRule> current = stored.id.isNull() ? std::nullopt : std::optional(stored);
    const auto decision = flow.handleEditedRule(edited, current);
    QCOMPARE(decision == ManageRuleFlow::EditDecision::holdForCooldown, loosens);
    if (!loosens)
        flow.tightened();
    const auto next = flow.editSheetDismissed();
    QCOMPARE(next, loosens ? ManageRuleFlow::Next::openCooldown : ManageRuleFlow::Next::close);
    if (loosens) {
        QCOMPARE(flow.pendingBypass()->kind.headingText(), "Change block · " + opened.displayName);
        QCOMPARE(*flow.pendingBypass()->looserEdit, edited);
    }
}

// ---------------------------------------------------------------- doom scroll

void BlockDecisionsTest::doomTexts_data()
{
    QTest::addColumn<qint64>("usage");
    QTest::addColumn<qint64>("breakLength");
    QTest::addColumn<QStringList>("domains");
    QTest::addColumn<qint64>("used"); // -1: no run-time state
    QTest::addColumn<QString>("card");
    QTest::addColumn<QString>("names");
    QTest::addColumn<QString>("status");
    QTest::addColumn<double>("fraction");

    const QString nbh = QString(QChar(0x2011));
    QTest::newRow("20/10, one site") << qint64(20) << qint64(10) << QStringList{"www.m.facebook.com"} << qint64(119)
                                     << "After 20 minutes of scrolling, take a 10" + nbh + "minute break."
                                     << "M"
                                     << "1 of 20 min used" << 119.0 / 1200.0;
    QTest::newRow("hour/hour, three sites")
        << qint64(60) << qint64(60) << QStringList{"news.ycombinator.com", "reddit.com", "example.org"} << qint64(-1)
        << "After an hour of scrolling, take an hour-long break."
        << "Hacker News, Reddit, and Example"
        << "0 of 60 min used · these sites count together" << 0.0;
    QTest::newRow("90 minutes, past full")
        << qint64(90) << qint64(5) << QStringList{"x.com", "youtube.com"} << qint64(9999)
        << "After an hour of scrolling, take a 5" + nbh + "minute break."
        << "X and YouTube"
        << "166 of 90 min used · these sites count together" << 1.0;
    QTest::newRow("no window") << qint64(0) << qint64(1) << QStringList{} << qint64(30)
                               << "After 0 minutes of scrolling, take a 1" + nbh + "minute break."
                               << ""
                               << "0 of 0 min used" << 0.5;
}

void BlockDecisionsTest::doomTexts()
{
    QFETCH(qint64, usage);
    QFETCH(qint64, breakLength);
    QFETCH(QStringList, domains);
    QFETCH(qint64, used);
    DoomScrollConfig config{true, {}, usage, breakLength};
    for (const QString& d : domains)
        config.domains.push_back({QUuid::createUuid(), d});
    const SharedState state = stateWith([&](SharedState& s) {
        if (used >= 0)
            s.doomScroll = DoomScrollRuntimeState{monday10 - 300, used, std::nullopt};
    });
    QCOMPARE(DoomScrollTexts::cardSummary(usage, breakLength), fetched<QString>("card"));
    QCOMPARE(DoomScrollTexts::siteNames(config.domains), fetched<QString>("names"));
    QCOMPARE(DoomScrollTexts::statusLine(config, state, monday10, cal), fetched<QString>("status"));
    QCOMPARE(DoomScrollTexts::meterFraction(config, state), fetched<double>("fraction"));

    // A break shows its end; one that ends exactly now is over.
    SharedState onBreak = state;
    onBreak.doomScroll = DoomScrollRuntimeState{monday10 - 300, 60, monday10 + 45 * 60};
    QCOMPARE(DoomScrollTexts::statusLine(config, onBreak, monday10, cal),
             "On a break until " + clock(10, 45) + ". These sites open again automatically.");
    QVERIFY(!DoomScrollTexts::isOnBreak(onBreak, monday10 + 45 * 60));
}

void BlockDecisionsTest::doomAddDomain_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("field");

    const QStringList one{"tiktok.com"};
    const QString invalid = QStringLiteral("That doesn't look like a website address.");
    QTest::newRow("spaces") << " \t " << one << ""
                            << " \t ";
    QTest::newRow("saved form invalid") << "www.www.com" << one << invalid << "www.www.com";
    QTest::newRow("same in another form")
        << "  HTTPS://www.TikTok.com/foryou " << one << "tiktok.com is already on the list."
        << "  HTTPS://www.TikTok.com/foryou ";
    QTest::newRow("same behind two www") << "www.www.tiktok.com" << one << "tiktok.com is already on the list."
                                         << "www.www.tiktok.com";
    QTest::newRow("added") << "\tWWW.Reddit.com/r/all " << one << ""
                           << "";
}

void BlockDecisionsTest::doomAddDomain()
{
    QFETCH(QStringList, listed);
    QFETCH(QString, error);
    DoomScrollForm form(true, {}, 20, 5);
    for (const QString& d : listed)
        form.domains.push_back({QUuid::createUuid(), d});
    form.domainError = error.isEmpty() ? std::optional<QString>(QStringLiteral("earlier")) : std::nullopt;
    form.newDomain = fetched<QString>("typed");
    const bool blank = !form.canAdd();
    form.addDomain();
    QCOMPARE(form.newDomain, fetched<QString>("field"));
    if (blank) {
        QCOMPARE(form.domainError, std::optional<QString>(QStringLiteral("earlier")));
    } else {
        QCOMPARE(form.domainError.value_or(QString()), error);
    }
    const bool added = error.isEmpty() && !blank;
    QCOMPARE(form.domains.size(), size_t(listed.size() + (added ? 1 : 0)));
    if (added)
        QCOMPARE(form.domains.back().domain, QStringLiteral("reddit.com"));

    form.removeDomain(QStringLiteral("tiktok.com"));
    form.removeDomain(QStringLiteral("reddit.com"));
    QCOMPARE(form.eyebrowText(), QStringLiteral("Doom scroll breaks · off"));
    QVERIFY(!form.result().isEnabled); // on, but no site left: saved as off
}

void BlockDecisionsTest::siteNamesAreJoinedInEnglish_data()
{
    QTest::addColumn<QString>("locale");
    for (const char* locale : {"en_US", "de_DE", "ja_JP", "ko_KR", "ar_EG", "C"})
        QTest::newRow(locale) << QString::fromLatin1(locale);
}

void BlockDecisionsTest::siteNamesAreJoinedInEnglish()
{
    // The sentence around the names is English, whatever the desktop's language.
    QFETCH(QString, locale);
    const QLocale before;
    QLocale::setDefault(QLocale(locale));
    std::vector<DoomScrollDomain> domains;
    for (const char* d : {"reddit.com", "news.ycombinator.com", "youtube.com"})
        domains.push_back({QUuid::createUuid(), QString::fromLatin1(d)});
    const QString names = DoomScrollTexts::siteNames(domains);
    QLocale::setDefault(before);
    QCOMPARE(names, QStringLiteral("Reddit, Hacker News, and YouTube"));
}

QTEST_GUILESS_MAIN(BlockDecisionsTest)
#include "tst_block_decisions.moc"
