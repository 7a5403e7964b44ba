#include "TestEnvironment.h"
#include "fakes/BlockSchedules.h"
#include "store/RuleEvaluation.h"

#include <QtTest>

// Wall times below are America/New_York unless a row names another zone. 2026-12-07 is a Monday.

namespace {

const QUuid ruleA = QUuid::fromString(QStringLiteral("{AAAAAAAA-0000-4000-8000-000000000001}"));
const QUuid ruleB = QUuid::fromString(QStringLiteral("{BBBBBBBB-0000-4000-8000-000000000002}"));

using BlockSchedules::allDay;
using BlockSchedules::dailyLimit;
using BlockSchedules::window;
using TestEnvironment::at;

Date utc(int y, int mo, int d, int h, int mi)
{
    return static_cast<Date>(QDateTime(QDate(y, mo, d), QTime(h, mi), QTimeZone::utc()).toSecsSinceEpoch());
}

BlockRule rule(BlockApplySchedule schedule, QSet<int> weekdays = {}, QUuid id = ruleA)
{
    BlockRule r;
    r.id = id;
    r.domain = QStringLiteral("example.com");
    r.displayName = QStringLiteral("Example");
    r.blockApplySchedule = schedule;
    r.dailyLimitMinutes = 30;
    r.activeWeekdays = std::move(weekdays);
    r.allowOneBreak = true;
    return r;
}

SharedState plain()
{
    SharedState s;
    s.dayId = 20261207;
    return s;
}

SharedState pausedUntil(Date end)
{
    SharedState s = plain();
    s.blockingPausedUntil = end;
    return s;
}

SharedState onBreak(QUuid id, qint64 used, Date fallback)
{
    SharedState s = plain();
    s.urgentBreak = UrgentBreakState{id, fallback - 7200, used, fallback};
    return s;
}

SharedState exceeded(QUuid id)
{
    SharedState s = plain();
    s.exceededRuleIds.insert(id);
    return s;
}

SharedState doomBreakUntil(std::optional<Date> end)
{
    SharedState s = plain();
    s.doomScroll = DoomScrollRuntimeState{0, 0, end};
    return s;
}

QString spaced(QString text)
{
    // Newer locale data puts a narrow no-break space before AM/PM.
    text.replace(QChar(0x202F), QLatin1Char(' '));
    text.replace(QChar(0x00A0), QLatin1Char(' '));
    return text;
}

} // namespace

Q_DECLARE_METATYPE(BlockRule)
Q_DECLARE_METATYPE(SharedState)
Q_DECLARE_METATYPE(std::vector<BlockRule>)

class TestRuleEvaluation : public QObject {
    Q_OBJECT
private slots:
    void isRuleActive_data()
    {
        QTest::addColumn<BlockRule>("rule");
        QTest::addColumn<SharedState>("state");
        QTest::addColumn<Date>("moment");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<bool>("active");

        const QByteArray ny = "America/New_York";
        const Date mon10 = at(2026, 12, 7, 10);

        QTest::newRow("all day") << rule(allDay()) << plain() << mon10 << ny << true;
        QTest::newRow("all day, not on its weekdays") << rule(allDay(), {1, 7}) << plain() << mon10 << ny << false;
        QTest::newRow("all day, on its weekday") << rule(allDay(), {2}) << plain() << mon10 << ny << true;

        const Date pauseEnd = at(2026, 12, 7, 11);
        QTest::newRow("paused") << rule(allDay()) << pausedUntil(pauseEnd) << mon10 << ny << false;
        QTest::newRow("paused, half a second before the end")
            << rule(allDay()) << pausedUntil(pauseEnd) << pauseEnd - 0.5 << ny << false;
        QTest::newRow("paused, at the exact end") << rule(allDay()) << pausedUntil(pauseEnd) << pauseEnd << ny << true;
        QTest::newRow("pause lifts an exceeded limit too") << rule(dailyLimit()) << [&] {
            SharedState s = exceeded(ruleA);
            s.blockingPausedUntil = pauseEnd;
            return s;
        }() << mon10 << ny << false;

        const Date fallback = at(2026, 12, 7, 12);
        QTest::newRow("own break, 599 s used")
            << rule(allDay()) << onBreak(ruleA, 599, fallback) << mon10 << ny << false;
        QTest::newRow("own break, 600 s used")
            << rule(allDay()) << onBreak(ruleA, 600, fallback) << mon10 << ny << true;
        QTest::newRow("own break, a second before the fallback")
            << rule(allDay()) << onBreak(ruleA, 0, fallback) << fallback - 1 << ny << false;
        QTest::newRow("own break, at the fallback")
            << rule(allDay()) << onBreak(ruleA, 0, fallback) << fallback << ny << true;
        QTest::newRow("another rule's break") << rule(allDay()) << onBreak(ruleB, 0, fallback) << mon10 << ny << true;

        QTest::newRow("limit, not exceeded") << rule(dailyLimit()) << plain() << mon10 << ny << false;
        QTest::newRow("limit, another rule exceeded") << rule(dailyLimit()) << exceeded(ruleB) << mon10 << ny << false;
        QTest::newRow("limit, exceeded") << rule(dailyLimit()) << exceeded(ruleA) << mon10 << ny << true;
        QTest::newRow("limit, exceeded on its weekday")
            << rule(dailyLimit(), {2}) << exceeded(ruleA) << mon10 << ny << true;
        QTest::newRow("limit, exceeded off its weekdays")
            << rule(dailyLimit(), {3, 4}) << exceeded(ruleA) << mon10 << ny << false;
        QTest::newRow("all-day flag wins over the limit flag") << rule([] {
            BlockApplySchedule s = dailyLimit();
            s.isAllDay = true;
            return s;
        }()) << plain() << mon10 << ny << true;
        QTest::newRow("limit flag wins over a window") << rule([] {
            BlockApplySchedule s = window(9, 0, 17, 0);
            s.isAfterMaxDailyTime = true;
            return s;
        }()) << plain() << mon10 << ny << false;

        const BlockRule office = rule(window(9, 0, 17, 0));
        QTest::newRow("09-17 at 08:59") << office << plain() << at(2026, 12, 7, 8, 59) << ny << false;
        QTest::newRow("09-17 at 09:00") << office << plain() << at(2026, 12, 7, 9, 0) << ny << true;
        QTest::newRow("09-17 at 16:59:59") << office << plain() << at(2026, 12, 7, 16, 59, 59) << ny << true;
        QTest::newRow("09-17 at 17:00") << office << plain() << at(2026, 12, 7, 17, 0) << ny << false;
        QTest::newRow("09-17 on a Sunday, weekdays {2}")
            << rule(window(9, 0, 17, 0), {2}) << plain() << at(2026, 12, 6, 10) << ny << false;
        // The same instant is 00:00 on Tuesday in Tokyo: the calendar decides.
        QTest::newRow("09-17 read in another zone") << office << plain() << mon10 << QByteArray("Asia/Tokyo") << false;

        const BlockRule night = rule(window(22, 0, 6, 0), {2});
        QTest::newRow("22-06 {Mon}: Monday 21:59") << night << plain() << at(2026, 12, 7, 21, 59) << ny << false;
        QTest::newRow("22-06 {Mon}: Monday 22:00") << night << plain() << at(2026, 12, 7, 22, 0) << ny << true;
        QTest::newRow("22-06 {Mon}: Monday 23:00") << night << plain() << at(2026, 12, 7, 23, 0) << ny << true;
        QTest::newRow("22-06 {Mon}: Tuesday 00:00") << night << plain() << at(2026, 12, 8, 0, 0) << ny << true;
        QTest::newRow("22-06 {Mon}: Tuesday 05:59") << night << plain() << at(2026, 12, 8, 5, 59) << ny << true;
        QTest::newRow("22-06 {Mon}: Tuesday 06:00") << night << plain() << at(2026, 12, 8, 6, 0) << ny << false;
        QTest::newRow("22-06 {Mon}: Tuesday 23:00") << night << plain() << at(2026, 12, 8, 23, 0) << ny << false;
        QTest::newRow("22-06 {Mon}: Monday 05:00 belongs to Sunday")
            << night << plain() << at(2026, 12, 7, 5, 0) << ny << false;

        const BlockRule allRound = rule(window(9, 0, 9, 0), {2});
        QTest::newRow("09-09 {Mon}: Monday 08:59") << allRound << plain() << at(2026, 12, 7, 8, 59) << ny << false;
        QTest::newRow("09-09 {Mon}: Monday 09:00") << allRound << plain() << at(2026, 12, 7, 9, 0) << ny << true;
        QTest::newRow("09-09 {Mon}: Monday 23:59") << allRound << plain() << at(2026, 12, 7, 23, 59) << ny << true;
        QTest::newRow("09-09 {Mon}: Tuesday 08:59") << allRound << plain() << at(2026, 12, 8, 8, 59) << ny << true;
        QTest::newRow("09-09 {Mon}: Tuesday 09:00") << allRound << plain() << at(2026, 12, 8, 9, 0) << ny << false;
        QTest::newRow("09-09 {Mon}: Wednesday 03:00") << allRound << plain() << at(2026, 12, 9, 3, 0) << ny << false;

        BlockApplySchedule noEnd = window(9, 0, 17, 0);
        noEnd.endMinute.reset();
        QTest::newRow("window without its end minute") << rule(noEnd) << plain() << mon10 << ny << false;
        BlockApplySchedule noStart = window(0, 0, 0, 0);
        noStart.startHour.reset();
        QTest::newRow("window without its start hour") << rule(noStart) << plain() << mon10 << ny << false;
        BlockApplySchedule huge = window(0, 0, 11, 0);
        huge.startHour = (qint64(1) << 62) + 10; // wrapping, this would read as a start at 10:00
        QTest::newRow("start hour too large to multiply, as late as can be")
            << rule(huge) << plain() << at(2026, 12, 7, 5) << ny << true;
        BlockApplySchedule nothing;
        nothing.isAllDay = false;
        QTest::newRow("no flags, no fields") << rule(nothing) << exceeded(ruleA) << mon10 << ny << false;
    }

    void isRuleActive()
    {
        QFETCH(BlockRule, rule);
        QFETCH(SharedState, state);
        QFETCH(Date, moment);
        QFETCH(QByteArray, zone);
        QFETCH(bool, active);
        const Calendar calendar = TestEnvironment::calendar(zone.constData());
        QCOMPARE(::isRuleActive(rule, moment, state, calendar), active);
        // The refresh evaluates every rule against one precomputed reading of the moment.
        QCOMPARE(::isRuleActive(rule, MomentFacts::of(moment, calendar), state), active);
    }

    void ruleWeekdayMatches()
    {
        const Calendar calendar = TestEnvironment::calendar();
        const Date monday = at(2026, 12, 7, 23, 59, 59);
        QVERIFY(::ruleWeekdayMatches({}, monday, calendar));
        QVERIFY(::ruleWeekdayMatches({2}, monday, calendar));
        QVERIFY(!::ruleWeekdayMatches({1, 3, 4, 5, 6, 7}, monday, calendar));
        QVERIFY(::ruleWeekdayMatches({1}, at(2026, 12, 6, 0, 0), calendar));
        QVERIFY(::ruleWeekdayMatches({7}, at(2026, 12, 12, 12, 0), calendar));
        // 23:59 Monday in New York is Tuesday in Tokyo.
        QVERIFY(::ruleWeekdayMatches({3}, monday, TestEnvironment::calendar("Asia/Tokyo")));
    }

    void nextRuleBoundary_data()
    {
        QTest::addColumn<std::vector<BlockRule>>("rules");
        QTest::addColumn<SharedState>("state");
        QTest::addColumn<Date>("now");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<Date>("boundary");

        const QByteArray ny = "America/New_York";
        const Date mon10 = at(2026, 12, 7, 10);
        const Date midnight = at(2026, 12, 8);
        const std::vector<BlockRule> afternoon{rule(window(13, 0, 14, 0))};

        QTest::newRow("no rules: the coming midnight")
            << std::vector<BlockRule>{} << plain() << mon10 << ny << midnight;
        QTest::newRow("no rules, at midnight: the next one")
            << std::vector<BlockRule>{} << plain() << at(2026, 12, 7) << ny << midnight;
        QTest::newRow("no rules, Tokyo midnight")
            << std::vector<BlockRule>{} << plain() << mon10 << QByteArray("Asia/Tokyo") << utc(2026, 12, 8, 15, 0);
        QTest::newRow("rules without windows add nothing")
            << std::vector<BlockRule>{rule(allDay()), rule(dailyLimit(), {}, ruleB), rule([] {
                                          BlockApplySchedule s = window(11, 0, 12, 0);
                                          s.endHour.reset();
                                          return s;
                                      }())}
            << exceeded(ruleB) << mon10 << ny << midnight;

        QTest::newRow("window start") << afternoon << plain() << mon10 << ny << at(2026, 12, 7, 13);
        QTest::newRow("window start equal to now is skipped")
            << afternoon << plain() << at(2026, 12, 7, 13) << ny << at(2026, 12, 7, 14);
        QTest::newRow("window end") << afternoon << plain() << at(2026, 12, 7, 13, 30) << ny << at(2026, 12, 7, 14);
        QTest::newRow("window on another weekday only")
            << std::vector<BlockRule>{rule(window(13, 0, 14, 0), {3})} << plain() << mon10 << ny << midnight;
        QTest::newRow("a window of next week never beats midnight")
            << std::vector<BlockRule>{rule(window(0, 0, 0, 30), {2})} << plain() << at(2026, 12, 7, 1) << ny
            << midnight;

        QTest::newRow("pause five minutes ahead wins")
            << afternoon << pausedUntil(at(2026, 12, 7, 10, 5)) << mon10 << ny << at(2026, 12, 7, 10, 5);
        QTest::newRow("pause ending now is no boundary")
            << afternoon << pausedUntil(mon10) << mon10 << ny << at(2026, 12, 7, 13);
        QTest::newRow("pause past midnight: midnight first")
            << std::vector<BlockRule>{} << pausedUntil(at(2026, 12, 8, 1)) << mon10 << ny << midnight;
        QTest::newRow("windows count while paused")
            << afternoon << pausedUntil(at(2026, 12, 7, 15)) << mon10 << ny << at(2026, 12, 7, 13);

        QTest::newRow("urgent break fallback")
            << afternoon << onBreak(ruleB, 599, at(2026, 12, 7, 10, 30)) << mon10 << ny << at(2026, 12, 7, 10, 30);
        QTest::newRow("used-up urgent break adds nothing")
            << afternoon << onBreak(ruleB, 600, at(2026, 12, 7, 10, 30)) << mon10 << ny << at(2026, 12, 7, 13);
        QTest::newRow("doom-scroll break end")
            << afternoon << doomBreakUntil(at(2026, 12, 7, 10, 20)) << mon10 << ny << at(2026, 12, 7, 10, 20);
        QTest::newRow("doom-scroll window without a break")
            << afternoon << doomBreakUntil(std::nullopt) << mon10 << ny << at(2026, 12, 7, 13);
        QTest::newRow("past doom-scroll break end")
            << afternoon << doomBreakUntil(mon10 - 1) << mon10 << ny << at(2026, 12, 7, 13);

        const std::vector<BlockRule> nightly{rule(window(22, 0, 6, 0))};
        QTest::newRow("22-06 at 23:00: midnight, not 06:00")
            << nightly << plain() << at(2026, 12, 7, 23) << ny << midnight;
        QTest::newRow("22-06 at 00:00: 06:00") << nightly << plain() << at(2026, 12, 8) << ny << at(2026, 12, 8, 6);
        QTest::newRow("22-06 at 06:00: 22:00") << nightly << plain() << at(2026, 12, 8, 6) << ny << at(2026, 12, 8, 22);
        // Only Monday's window runs into Tuesday morning; its end is found from yesterday.
        QTest::newRow("22-06 {Mon} on Tuesday 03:00: the end from yesterday")
            << std::vector<BlockRule>{rule(window(22, 0, 6, 0), {2})} << plain() << at(2026, 12, 8, 3) << ny
            << at(2026, 12, 8, 6);
        QTest::newRow("22-06 {Sun} on Tuesday 03:00: nothing this morning")
            << std::vector<BlockRule>{rule(window(22, 0, 6, 0), {1})} << plain() << at(2026, 12, 8, 3) << ny
            << at(2026, 12, 9);
        QTest::newRow("09-09 {Mon} on Tuesday 08:00: the end of Monday's window")
            << std::vector<BlockRule>{rule(window(9, 0, 9, 0), {2})} << plain() << at(2026, 12, 8, 8) << ny
            << at(2026, 12, 8, 9);

        // 2025-03-09 02:00 EST jumps to 03:00 EDT; 2025-11-02 01:00-02:00 EDT is lived twice.
        QTest::newRow("start in the spring-forward gap resolves to 03:00")
            << std::vector<BlockRule>{rule(window(2, 30, 4, 0))} << plain() << at(2025, 3, 9, 1) << ny
            << utc(2025, 3, 9, 7, 0);
        QTest::newRow("midnight after spring forward")
            << std::vector<BlockRule>{} << plain() << at(2025, 3, 9, 12) << ny << utc(2025, 3, 10, 4, 0);
        QTest::newRow("repeated hour: first occurrence") << std::vector<BlockRule>{rule(window(1, 30, 3, 0))} << plain()
                                                         << at(2025, 11, 2, 0, 30) << ny << utc(2025, 11, 2, 5, 30);
        QTest::newRow("repeated hour: the second occurrence is no boundary")
            << std::vector<BlockRule>{rule(window(1, 30, 3, 0))} << plain() << utc(2025, 11, 2, 5, 45) << ny
            << utc(2025, 11, 2, 8, 0);
    }

    void nextRuleBoundary()
    {
        QFETCH(std::vector<BlockRule>, rules);
        QFETCH(SharedState, state);
        QFETCH(Date, now);
        QFETCH(QByteArray, zone);
        QFETCH(Date, boundary);
        QCOMPARE(::nextRuleBoundary(rules, now, state, TestEnvironment::calendar(zone.constData())), boundary);
    }

    void boundaryIsTheEarliestOfManyRules()
    {
        // Order of the rules does not matter, and rules of every weekday are scanned.
        std::vector<BlockRule> rules;
        for (int h = 20; h >= 11; --h)
            rules.push_back(rule(window(h, 15, h, 45), {}, QUuid::createUuid()));
        const Calendar calendar = TestEnvironment::calendar();
        QCOMPARE(::nextRuleBoundary(rules, at(2026, 12, 7, 10), plain(), calendar), at(2026, 12, 7, 11, 15));
        QCOMPARE(::nextRuleBoundary(rules, at(2026, 12, 7, 11, 20), plain(), calendar), at(2026, 12, 7, 11, 45));
        QCOMPARE(::nextRuleBoundary(rules, at(2026, 12, 7, 20, 45), plain(), calendar), at(2026, 12, 8));
    }

    // A second call gives the first answer again only when nothing it depends on changed and the
    // moment lies between the first call and that answer; every answer is the one a full scan gives.
    void boundaryMemo_data()
    {
        QTest::addColumn<SharedState>("secondState");
        QTest::addColumn<Date>("secondNow");
        QTest::addColumn<QByteArray>("secondZone");
        QTest::addColumn<bool>("rulesEdited");
        QTest::addColumn<int>("computations");

        const QByteArray ny = "America/New_York";
        // The first call: 10:00, plain state, New York; its boundary is 13:00.
        QTest::newRow("same moment") << plain() << at(2026, 12, 7, 10) << ny << false << 1;
        QTest::newRow("later, before the boundary") << plain() << at(2026, 12, 7, 12, 59, 59) << ny << false << 1;
        QTest::newRow("usage and limits do not move boundaries")
            << exceeded(ruleA) << at(2026, 12, 7, 11) << ny << false << 1;
        QTest::newRow("at the boundary") << plain() << at(2026, 12, 7, 13) << ny << false << 2;
        QTest::newRow("the clock set back") << plain() << at(2026, 12, 7, 9, 59) << ny << false << 2;
        QTest::newRow("the clock set back past a boundary") << plain() << at(2026, 12, 7, 8, 30) << ny << false << 2;
        QTest::newRow("rules edited") << plain() << at(2026, 12, 7, 11) << ny << true << 2;
        QTest::newRow("a pause") << pausedUntil(at(2026, 12, 7, 10, 5)) << at(2026, 12, 7, 10, 1) << ny << false << 2;
        QTest::newRow("an urgent break") << onBreak(ruleB, 0, at(2026, 12, 7, 10, 30)) << at(2026, 12, 7, 10, 1) << ny
                                         << false << 2;
        QTest::newRow("a doom-scroll break")
            << doomBreakUntil(at(2026, 12, 7, 10, 20)) << at(2026, 12, 7, 10, 1) << ny << false << 2;
        QTest::newRow("another zone") << plain() << at(2026, 12, 7, 10, 1) << QByteArray("Europe/Berlin") << false << 2;
    }

    void boundaryMemo()
    {
        QFETCH(SharedState, secondState);
        QFETCH(Date, secondNow);
        QFETCH(QByteArray, secondZone);
        QFETCH(bool, rulesEdited);
        QFETCH(int, computations);

        const std::vector<BlockRule> before{rule(window(13, 0, 14, 0)), rule(window(8, 0, 9, 0), {}, ruleB)};
        const std::vector<BlockRule> after{rule(window(10, 30, 14, 0)), rule(window(8, 0, 9, 0), {}, ruleB)};
        RuleBoundaryMemo memo;
        const Calendar ny = TestEnvironment::calendar();
        QCOMPARE(memo.next(before, 1, at(2026, 12, 7, 10), plain(), ny), at(2026, 12, 7, 13));

        const std::vector<BlockRule>& rules = rulesEdited ? after : before;
        const Calendar calendar = TestEnvironment::calendar(secondZone.constData());
        QCOMPARE(memo.next(rules, rulesEdited ? 2 : 1, secondNow, secondState, calendar),
                 ::nextRuleBoundary(rules, secondNow, secondState, calendar));
        QCOMPARE(memo.computations(), computations);
    }

    void timeOfDayText_data()
    {
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        const QString en = QStringLiteral("en_US");
        QTest::newRow("midnight") << 0 << 0 << en << QStringLiteral("12:00 AM");
        QTest::newRow("morning") << 9 << 0 << en << QStringLiteral("9:00 AM");
        QTest::newRow("noon") << 12 << 0 << en << QStringLiteral("12:00 PM");
        QTest::newRow("evening") << 21 << 5 << en << QStringLiteral("9:05 PM");
        QTest::newRow("last minute") << 23 << 59 << en << QStringLiteral("11:59 PM");
        // The texts are remembered: a change of locale must still show at once, both ways.
        QTest::newRow("evening, German") << 21 << 5 << QStringLiteral("de_DE") << QStringLiteral("21:05");
        QTest::newRow("evening, English again") << 21 << 5 << en << QStringLiteral("9:05 PM");
    }

    void timeOfDayText()
    {
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        const QString shown = spaced(::timeOfDayText(hour, minute));
        QLocale::setDefault(before);
        QCOMPARE(shown, text);
    }
};

QTEST_GUILESS_MAIN(TestRuleEvaluation)
#include "tst_rule_evaluation.moc"
