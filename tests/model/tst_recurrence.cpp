#include "TestEnvironment.h"
#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/TaskRecurrence.h"

#include <QtTest>
#include <algorithm>

Q_DECLARE_METATYPE(RepeatOption)

using TestEnvironment::at;
namespace TR = TaskRecurrence;

namespace {

const QUuid seriesA = QUuid::fromString(QLatin1String("{3F2504E0-4F89-41D3-9A0C-0305E82C3301}"));
const QUuid seriesB = QUuid::fromString(QLatin1String("{9B1DEB4D-3B7D-4BAD-9BDD-2B0D7B3DCB6D}"));

Calendar nyCalendar()
{
    return TestEnvironment::calendar();
}

Date utc(const char* text)
{
    return Iso8601::parse(QLatin1String(text)).value_or(-1);
}

TaskItem member(const QUuid& series, Date createdAt, RepeatOption repeat = RepeatOption::daily,
                const QUuid& id = QUuid::createUuid())
{
    TaskItem t;
    t.id = id;
    t.title = QStringLiteral("Stretch");
    t.time = QStringLiteral("Anytime");
    t.createdAt = createdAt;
    t.updatedAt = createdAt;
    t.repeatOption = repeat;
    t.recurringSeriesId = series;
    return t;
}

// The copy a maintenance pass would have made for that day.
TaskItem canonical(const QUuid& series, const QDate& day, RepeatOption repeat = RepeatOption::daily)
{
    const Calendar cal = nyCalendar();
    const Date start = cal.startOfDay(day);
    return member(series, start, repeat, TR::occurrenceId(series, TR::dayKey(start, cal)));
}

QSet<QUuid> ids(const std::vector<TaskItem>& list)
{
    QSet<QUuid> out;
    for (const TaskItem& t : list)
        out.insert(t.id);
    return out;
}

std::vector<QUuid> idList(const std::vector<TaskItem>& list)
{
    std::vector<QUuid> out;
    for (const TaskItem& t : list)
        out.push_back(t.id);
    return out;
}

} // namespace

class TestRecurrence : public QObject {
    Q_OBJECT
private slots:
    // --- occurrence ids ---

    void dayKeyIsTheCalendarDay()
    {
        QCOMPARE(TR::dayKey(at(2026, 3, 9, 23, 59), nyCalendar()), QStringLiteral("2026-03-09"));
        QCOMPARE(TR::dayKey(at(999, 1, 5, 12), nyCalendar()), QStringLiteral("0999-01-05"));
        // 03:00 UTC is still the evening before in New York.
        const Date t = utc("2026-03-09T03:00:00Z");
        QCOMPARE(TR::dayKey(t, nyCalendar()), QStringLiteral("2026-03-08"));
        QCOMPARE(TR::dayKey(t, TestEnvironment::calendar("Europe/Berlin")), QStringLiteral("2026-03-09"));
    }

    void occurrenceIdIsNameBasedVersion5()
    {
        const QString day = QStringLiteral("2026-03-09");
        const QUuid id = TR::occurrenceId(seriesA, day);

        QCOMPARE(TR::occurrenceId(seriesA, day), id);
        QCOMPARE(TR::occurrenceId(QUuid::fromString(uuidText(seriesA)), day), id);
        QCOMPARE(id.version(), QUuid::Sha1);
        QCOMPARE(id.variant(), QUuid::DCE);

        // Agrees with an independent RFC 4122 name-based generator over the lower-case name.
        const QByteArray lower = seriesA.toString(QUuid::WithoutBraces).toLower().toUtf8() + "|" + day.toUtf8();
        QCOMPARE(id, QUuid::createUuidV5(TR::namespaceUUID(), lower));
        const QByteArray upper = uuidText(seriesA).toUtf8() + "|" + day.toUtf8();
        QVERIFY(id != QUuid::createUuidV5(TR::namespaceUUID(), upper));

        QVERIFY(TR::occurrenceId(seriesA, QStringLiteral("2026-03-10")) != id);
        QVERIFY(TR::occurrenceId(seriesB, day) != id);

        // Stored occurrence ids depend on this value: it must never change.
        QCOMPARE(uuidText(id), QStringLiteral("F48391BB-E882-5891-8F39-EE71708BB307"));
    }

    void occurrenceIdBitsOnManyDays()
    {
        // The version and variant bits overwrite digest bits; check them over many digests.
        const Calendar cal = nyCalendar();
        QSet<QUuid> seen;
        for (int i = 0; i < 400; ++i) {
            const QString key = TR::dayKey(cal.date(QDate(2025, 1, 1).addDays(i)), cal);
            const QUuid id = TR::occurrenceId(seriesB, key);
            QCOMPARE(id.version(), QUuid::Sha1);
            QCOMPARE(id.variant(), QUuid::DCE);
            seen.insert(id);
        }
        QCOMPARE(seen.size(), 400);
    }

    // --- schedule ---

    void scheduledDay_data()
    {
        QTest::addColumn<QDate>("anchor");
        QTest::addColumn<RepeatOption>("option");
        QTest::addColumn<Date>("now");
        QTest::addColumn<QDate>("due"); // invalid: none

        const auto D = [](int y, int m, int d) { return QDate(y, m, d); };
        QTest::newRow("daily: today") << D(2025, 3, 1) << RepeatOption::daily << at(2025, 3, 4, 15) << D(2025, 3, 4);
        QTest::newRow("daily: anchor day itself")
            << D(2025, 3, 1) << RepeatOption::daily << at(2025, 3, 1, 23, 59) << D(2025, 3, 1);
        QTest::newRow("daily: before the anchor")
            << D(2025, 3, 1) << RepeatOption::daily << at(2025, 2, 28, 23, 59, 59) << QDate();
        QTest::newRow("daily: late on the 25-hour day")
            << D(2025, 11, 1) << RepeatOption::daily << at(2025, 11, 2, 23, 30) << D(2025, 11, 2);
        QTest::newRow("daily: midnight after the 25-hour day")
            << D(2025, 11, 1) << RepeatOption::daily << at(2025, 11, 3) << D(2025, 11, 3);
        QTest::newRow("no repeat") << D(2025, 3, 1) << RepeatOption::none << at(2025, 3, 4) << QDate();

        QTest::newRow("weekly: Sunday after a Monday anchor")
            << D(2025, 3, 3) << RepeatOption::weekly << at(2025, 3, 9, 22) << D(2025, 3, 3);
        // Only 167 hours after the anchor because of the spring change, but a whole week of days.
        QTest::newRow("weekly: next Monday across the spring change")
            << D(2025, 3, 3) << RepeatOption::weekly << at(2025, 3, 10, 0, 30) << D(2025, 3, 10);
        QTest::newRow("weekly: between occurrences")
            << D(2025, 3, 3) << RepeatOption::weekly << at(2025, 3, 16, 12) << D(2025, 3, 10);
        QTest::newRow("weekly: many weeks on")
            << D(2025, 3, 3) << RepeatOption::weekly << at(2026, 3, 2, 8) << D(2026, 3, 2);

        QTest::newRow("monthly 31st: before February's turn")
            << D(2025, 1, 31) << RepeatOption::monthly << at(2025, 2, 27, 12) << D(2025, 1, 31);
        QTest::newRow("monthly 31st: clamped to 28 February")
            << D(2025, 1, 31) << RepeatOption::monthly << at(2025, 2, 28) << D(2025, 2, 28);
        QTest::newRow("monthly 31st: 30 March is still February's")
            << D(2025, 1, 31) << RepeatOption::monthly << at(2025, 3, 30, 23) << D(2025, 2, 28);
        QTest::newRow("monthly 31st: back to 31 March")
            << D(2025, 1, 31) << RepeatOption::monthly << at(2025, 3, 31, 1) << D(2025, 3, 31);
        QTest::newRow("monthly 31st: clamped to 30 April")
            << D(2025, 1, 31) << RepeatOption::monthly << at(2025, 4, 30, 9) << D(2025, 4, 30);
        QTest::newRow("monthly 31st: 30 May is still April's")
            << D(2025, 1, 31) << RepeatOption::monthly << at(2025, 5, 30, 9) << D(2025, 4, 30);
        QTest::newRow("monthly 31st: a year on")
            << D(2025, 1, 31) << RepeatOption::monthly << at(2026, 3, 31) << D(2026, 3, 31);
        QTest::newRow("monthly 31st: leap February")
            << D(2024, 1, 31) << RepeatOption::monthly << at(2024, 2, 29) << D(2024, 2, 29);
        QTest::newRow("monthly 31st: 28 February of a leap year")
            << D(2024, 1, 31) << RepeatOption::monthly << at(2024, 2, 28, 23) << D(2024, 1, 31);
        QTest::newRow("monthly from 31 March: 30 April")
            << D(2025, 3, 31) << RepeatOption::monthly << at(2025, 5, 1) << D(2025, 4, 30);
        QTest::newRow("monthly 15th: day before")
            << D(2025, 1, 15) << RepeatOption::monthly << at(2025, 3, 14, 23) << D(2025, 2, 15);
    }
    void scheduledDay()
    {
        QFETCH(QDate, anchor);
        QFETCH(RepeatOption, option);
        QFETCH(Date, now);
        QFETCH(QDate, due);

        const Calendar cal = nyCalendar();
        const std::optional<Date> got = TR::scheduledDay(now, cal.startOfDay(anchor), option, cal);
        if (!due.isValid()) {
            QVERIFY(!got);
            return;
        }
        QVERIFY(got);
        QCOMPARE(Iso8601::format(*got), Iso8601::format(cal.startOfDay(due)));
    }

    // --- roll-forward ---

    void dailySeriesGetsOnlyTheLatestDay()
    {
        const Calendar cal = nyCalendar();
        TaskItem first = member(seriesA, at(2025, 3, 1, 10, 15));
        first.title = QStringLiteral("Journal");
        first.time = QStringLiteral("7:30 AM");
        first.priority = TaskItem::Priority::high;
        first.notes = QStringLiteral("one page");
        first.isCompleted = true;
        const std::vector<TaskItem> list{first};

        const std::vector<TaskItem> made = TR::rollForward(list, {}, at(2025, 3, 4, 9), cal);
        QCOMPARE(made.size(), size_t(1));
        const TaskItem& next = made.front();
        QCOMPARE(next.id, TR::occurrenceId(seriesA, QStringLiteral("2025-03-04")));
        QCOMPARE(next.createdAt, at(2025, 3, 4));
        QCOMPARE(next.updatedAt, at(2025, 3, 4));
        QCOMPARE(next.recurringSeriesId, std::optional<QUuid>(seriesA));
        QCOMPARE(next.repeatOption, RepeatOption::daily);
        QCOMPARE(next.title, first.title);
        QCOMPARE(next.time, first.time);
        QCOMPARE(next.priority, first.priority);
        QCOMPARE(next.notes, first.notes);
        QVERIFY(!next.isCompleted);
        QVERIFY(!next.dueDate);
        QVERIFY(!next.reminderDate);

        // Running again that day, with the new occurrence in the list, adds nothing.
        std::vector<TaskItem> after = made;
        after.insert(after.end(), list.begin(), list.end());
        QVERIFY(TR::rollForward(after, {}, at(2025, 3, 4, 9), cal).empty());
        QVERIFY(TR::rollForward(after, {}, at(2025, 3, 4, 23, 59, 59), cal).empty());
        // Nor on the day the series was made.
        QVERIFY(TR::rollForward(list, {}, at(2025, 3, 1, 23), cal).empty());
    }

    void weeklySeriesWaitsForItsDay()
    {
        const Calendar cal = nyCalendar();
        const std::vector<TaskItem> list{member(seriesA, at(2025, 6, 2, 18), RepeatOption::weekly)}; // a Monday
        QVERIFY(TR::rollForward(list, {}, at(2025, 6, 8, 23), cal).empty());
        const std::vector<TaskItem> made = TR::rollForward(list, {}, at(2025, 6, 9, 6), cal);
        QCOMPARE(made.size(), size_t(1));
        QCOMPARE(made.front().createdAt, at(2025, 6, 9));
    }

    void monthlySeriesFollowsItsAnchor()
    {
        // The latest to-do sits on the clamped 28 February; March's occurrence still falls on the
        // 31st because days count from the first to-do, in whatever order the list holds them.
        const Calendar cal = nyCalendar();
        const std::vector<TaskItem> list{canonical(seriesA, QDate(2025, 2, 28), RepeatOption::monthly),
                                         member(seriesA, at(2025, 1, 31, 16), RepeatOption::monthly)};
        QVERIFY(TR::rollForward(list, {}, at(2025, 3, 30, 12), cal).empty());
        const std::vector<TaskItem> made = TR::rollForward(list, {}, at(2025, 3, 31, 8), cal);
        QCOMPARE(made.size(), size_t(1));
        QCOMPARE(made.front().createdAt, at(2025, 3, 31));
        QCOMPARE(made.front().id, TR::occurrenceId(seriesA, QStringLiteral("2025-03-31")));
    }

    void templateIsTheLatestToDo()
    {
        const Calendar cal = nyCalendar();
        auto titled = [](TaskItem t, const char* title, Date updatedAt) {
            t.title = QLatin1String(title);
            t.updatedAt = updatedAt;
            return t;
        };
        const Date day = at(2025, 3, 2, 9);
        const QUuid low = QUuid::fromString(QLatin1String("{10000000-0000-4000-8000-000000000000}"));
        const QUuid high = QUuid::fromString(QLatin1String("{E0000000-0000-4000-8000-000000000000}"));

        // Latest createdAt wins, even against a later update of an earlier to-do with a greater id.
        std::vector<TaskItem> list{
            titled(member(seriesA, day + 60, RepeatOption::daily, low), "later created", day + 60),
            titled(member(seriesA, day, RepeatOption::daily, high), "earlier created", day + 3600),
            titled(member(seriesA, at(2025, 3, 1, 9)), "first", day)};
        QCOMPARE(TR::rollForward(list, {}, at(2025, 3, 5), cal).front().title, QStringLiteral("later created"));

        // Equal createdAt: latest updatedAt, even with the smaller id.
        list = {titled(member(seriesA, day, RepeatOption::daily, high), "older update", day + 10),
                titled(member(seriesA, day, RepeatOption::daily, low), "newer update", day + 20)};
        QCOMPARE(TR::rollForward(list, {}, at(2025, 3, 5), cal).front().title, QStringLiteral("newer update"));

        // Equal createdAt and updatedAt: the greatest id text.
        list = {titled(member(seriesA, day, RepeatOption::daily, high), "greater id", day),
                titled(member(seriesA, day, RepeatOption::daily, low), "smaller id", day)};
        QCOMPARE(TR::rollForward(list, {}, at(2025, 3, 5), cal).front().title, QStringLiteral("greater id"));
        std::reverse(list.begin(), list.end());
        QCOMPARE(TR::rollForward(list, {}, at(2025, 3, 5), cal).front().title, QStringLiteral("greater id"));
    }

    void reopenedStepsKeepTheirIds()
    {
        TaskItem done = member(seriesA, at(2025, 3, 1, 10));
        done.isCompleted = true;
        done.subtasks = {{QUuid::createUuid(), QStringLiteral("Warm up"), true},
                         {QUuid::createUuid(), QStringLiteral("Stretch"), false},
                         {QUuid::createUuid(), QStringLiteral("Cool down"), true}};
        const std::vector<TaskItem> made =
            TR::rollForward(std::vector<TaskItem>{done}, {}, at(2025, 3, 2, 7), nyCalendar());
        QCOMPARE(made.size(), size_t(1));
        const std::vector<Subtask>& s = made.front().subtasks;
        QCOMPARE(s.size(), size_t(3));
        for (size_t i = 0; i < s.size(); ++i) {
            QCOMPARE(s[i].id, done.subtasks[i].id);
            QCOMPARE(s[i].title, done.subtasks[i].title);
            QVERIFY(!s[i].isCompleted);
        }
    }

    void seriesLeftAlone()
    {
        const Calendar cal = nyCalendar();
        const Date now = at(2025, 3, 9, 12);

        // The latest to-do no longer repeats: the earlier daily ones do not count.
        std::vector<TaskItem> list{member(seriesA, at(2025, 3, 1, 9)), member(seriesA, at(2025, 3, 2, 9)),
                                   member(seriesA, at(2025, 3, 3, 9), RepeatOption::none)};
        QVERIFY(TR::rollForward(list, {}, now, cal).empty());

        // An excluded series is not extended, whatever its to-dos say.
        list = {member(seriesA, at(2025, 3, 1, 9)), member(seriesB, at(2025, 3, 1, 9))};
        const std::vector<TaskItem> made = TR::rollForward(list, {seriesA}, now, cal);
        QCOMPARE(made.size(), size_t(1));
        QCOMPARE(made.front().recurringSeriesId, std::optional<QUuid>(seriesB));

        // One-off to-dos are never extended, whatever their repeat says.
        TaskItem oneOff = member(seriesA, at(2025, 3, 1, 9));
        oneOff.recurringSeriesId.reset();
        QVERIFY(TR::rollForward(std::vector<TaskItem>{oneOff}, {}, now, cal).empty());

        // The day's occurrence already exists under its id, even if its day was changed since.
        TaskItem moved = canonical(seriesA, QDate(2025, 3, 9));
        moved.createdAt = at(2025, 3, 2, 9);
        QVERIFY(
            TR::rollForward(std::vector<TaskItem>{member(seriesA, at(2025, 3, 1, 9)), moved}, {}, now, cal).empty());
    }

    void newOccurrencesSortedById()
    {
        const Calendar cal = nyCalendar();
        std::vector<TaskItem> list;
        QList<QUuid> series;
        for (int i = 0; i < 6; ++i) {
            series.append(QUuid::createUuid());
            list.push_back(member(series.back(), at(2025, 3, 1, 9)));
        }
        const std::vector<TaskItem> made = TR::rollForward(list, {}, at(2025, 3, 3, 9), cal);
        QCOMPARE(made.size(), size_t(6));
        for (size_t i = 0; i + 1 < made.size(); ++i)
            QVERIFY(uuidText(made[i].id) < uuidText(made[i + 1].id));
        for (const TaskItem& t : made)
            QVERIFY(series.contains(*t.recurringSeriesId));
    }

    void occurrenceDates_data()
    {
        QTest::addColumn<RepeatOption>("option");
        QTest::addColumn<Date>("created");
        QTest::addColumn<Date>("due");      // NaN: none
        QTest::addColumn<Date>("reminder"); // NaN: none
        QTest::addColumn<Date>("day");
        QTest::addColumn<QString>("expectedDue"); // UTC; empty: none
        QTest::addColumn<QString>("expectedReminder");

        const Date none = qQNaN();
        const auto iso = [](Date t) { return Iso8601::format(t); };

        // Due nine days after its Monday creation: the weekly limit brings it to six days after the
        // occurrence's day; the reminder (a day before the due date) keeps its distance.
        QTest::newRow("weekly, due beyond the week")
            << RepeatOption::weekly << at(2025, 6, 2, 10) << at(2025, 6, 11, 17, 30) << at(2025, 6, 10, 8, 15)
            << at(2025, 6, 9, 6) << iso(at(2025, 6, 15, 17, 30)) << iso(at(2025, 6, 14, 8, 15));
        QTest::newRow("weekly, due within the week") << RepeatOption::weekly << at(2025, 6, 2, 10) << at(2025, 6, 4, 12)
                                                     << none << at(2025, 6, 9) << iso(at(2025, 6, 11, 12)) << QString();
        QTest::newRow("daily, due two days on, reminder the day before")
            << RepeatOption::daily << at(2025, 6, 2, 10) << at(2025, 6, 4, 18) << at(2025, 6, 3, 9) << at(2025, 6, 9)
            << iso(at(2025, 6, 9, 18)) << iso(at(2025, 6, 8, 9));
        QTest::newRow("monthly, due forty days on")
            << RepeatOption::monthly << at(2025, 1, 10, 10) << at(2025, 2, 19, 20, 45) << none << at(2025, 2, 10)
            << iso(at(2025, 3, 9, 20, 45)) << QString();
        QTest::newRow("due before creation counts as the same day")
            << RepeatOption::weekly << at(2025, 6, 2, 10) << at(2025, 5, 30, 7) << none << at(2025, 6, 9)
            << iso(at(2025, 6, 9, 7)) << QString();
        QTest::newRow("no repeat: no limit") << RepeatOption::none << at(2025, 6, 2, 10) << at(2025, 7, 2, 10) << none
                                             << at(2025, 6, 9) << iso(at(2025, 7, 9, 10)) << QString();
        QTest::newRow("reminder without due date")
            << RepeatOption::daily << at(2025, 6, 2, 10) << none << at(2025, 6, 2, 21, 5, 42) << at(2025, 6, 9)
            << QString() << iso(at(2025, 6, 9, 21, 5));
        QTest::newRow("seconds dropped") << RepeatOption::daily << at(2025, 6, 2, 10) << at(2025, 6, 2, 12, 0, 59)
                                         << none << at(2025, 6, 9) << iso(at(2025, 6, 9, 12)) << QString();

        // Across the clock changes the wall times stay; the instants move by the change.
        QTest::newRow("spring: same wall time on the short day")
            << RepeatOption::daily << at(2025, 3, 8, 9) << at(2025, 3, 8, 18) << at(2025, 3, 8, 17, 45)
            << at(2025, 3, 9) << QStringLiteral("2025-03-09T22:00:00Z") << QStringLiteral("2025-03-09T21:45:00Z");
        QTest::newRow("spring: a wall time the short day lacks moves to the jump")
            << RepeatOption::daily << at(2025, 3, 8, 0, 5) << at(2025, 3, 8, 2, 30) << at(2025, 3, 8, 2, 15)
            << at(2025, 3, 9) << QStringLiteral("2025-03-09T07:00:00Z") << QStringLiteral("2025-03-09T07:00:00Z");
        QTest::newRow("fall: the repeated hour takes its first pass")
            << RepeatOption::daily << at(2025, 11, 1, 0, 10) << at(2025, 11, 1, 1, 30) << at(2025, 11, 1, 1, 15)
            << at(2025, 11, 2) << QStringLiteral("2025-11-02T05:30:00Z") << QStringLiteral("2025-11-02T05:15:00Z");
        QTest::newRow("fall: the day after")
            << RepeatOption::daily << at(2025, 11, 1, 0, 10) << at(2025, 11, 1, 1, 30) << at(2025, 11, 1, 1, 15)
            << at(2025, 11, 3) << QStringLiteral("2025-11-03T06:30:00Z") << QStringLiteral("2025-11-03T06:15:00Z");
        QTest::newRow("weekly due day past the spring change")
            << RepeatOption::weekly << at(2025, 2, 24, 10) << at(2025, 3, 3, 8) << at(2025, 3, 2, 20) << at(2025, 3, 3)
            << QStringLiteral("2025-03-09T12:00:00Z") << QStringLiteral("2025-03-09T01:00:00Z");
    }
    void occurrenceDates()
    {
        QFETCH(RepeatOption, option);
        QFETCH(Date, created);
        QFETCH(Date, due);
        QFETCH(Date, reminder);
        QFETCH(Date, day);
        QFETCH(QString, expectedDue);
        QFETCH(QString, expectedReminder);

        const Calendar cal = nyCalendar();
        TaskItem p = member(seriesA, created, option);
        if (!qIsNaN(due))
            p.dueDate = due;
        if (!qIsNaN(reminder))
            p.reminderDate = reminder;

        const TaskItem t = TR::makeOccurrence(p, seriesA, day, cal);
        QCOMPARE(t.createdAt, cal.startOfDay(day));
        QCOMPARE(t.id, TR::occurrenceId(seriesA, TR::dayKey(day, cal)));
        QCOMPARE(t.dueDate ? Iso8601::format(*t.dueDate) : QString(), expectedDue);
        QCOMPARE(t.reminderDate ? Iso8601::format(*t.reminderDate) : QString(), expectedReminder);
    }

    void rollForwardAcrossTheClockChanges()
    {
        const Calendar cal = nyCalendar();
        TaskItem p = member(seriesA, at(2025, 3, 8, 9));
        p.dueDate = at(2025, 3, 8, 18);
        p.reminderDate = at(2025, 3, 8, 17, 45);

        // The new occurrence starts at local midnight, before the jump at 02:00.
        std::vector<TaskItem> made = TR::rollForward(std::vector<TaskItem>{p}, {}, at(2025, 3, 9, 12), cal);
        QCOMPARE(made.size(), size_t(1));
        QCOMPARE(Iso8601::format(made.front().createdAt), QStringLiteral("2025-03-09T05:00:00Z"));
        QCOMPARE(Iso8601::format(*made.front().dueDate), QStringLiteral("2025-03-09T22:00:00Z"));

        // Skipping the short day: midnight is an hour earlier in UTC now.
        made = TR::rollForward(std::vector<TaskItem>{p}, {}, at(2025, 3, 10, 0, 30), cal);
        QCOMPARE(made.size(), size_t(1));
        QCOMPARE(Iso8601::format(made.front().createdAt), QStringLiteral("2025-03-10T04:00:00Z"));
        QCOMPARE(Iso8601::format(*made.front().reminderDate), QStringLiteral("2025-03-10T21:45:00Z"));

        // Late on the 25-hour day (already the 3rd in UTC) the due day is still the 2nd.
        TaskItem q = member(seriesB, at(2025, 11, 1, 9));
        q.dueDate = at(2025, 11, 1, 18);
        made = TR::rollForward(std::vector<TaskItem>{q}, {}, utc("2025-11-03T04:30:00Z"), cal);
        QCOMPARE(made.size(), size_t(1));
        QCOMPARE(Iso8601::format(made.front().createdAt), QStringLiteral("2025-11-02T04:00:00Z"));
        QCOMPARE(made.front().id, TR::occurrenceId(seriesB, QStringLiteral("2025-11-02")));
        QCOMPARE(Iso8601::format(*made.front().dueDate), QStringLiteral("2025-11-02T23:00:00Z"));
        made.push_back(q);
        QVERIFY(TR::rollForward(made, {}, utc("2025-11-03T04:59:59Z"), cal).empty());
    }

    // --- duplicate removal ---

    void duplicateRemoval_data()
    {
        // Two to-dos of one series and day; `keep` must survive whichever comes first in the list.
        QTest::addColumn<TaskItem>("keep");
        QTest::addColumn<TaskItem>("drop");

        const QDate day(2025, 4, 10);
        const Date start = at(2025, 4, 10);
        const QUuid small = QUuid::fromString(QLatin1String("{0A000000-0000-4000-8000-000000000000}"));
        const QUuid large = QUuid::fromString(QLatin1String("{F0000000-0000-4000-8000-000000000000}"));

        TaskItem done = member(seriesA, start + 3600, RepeatOption::daily, large);
        done.isCompleted = true;
        TaskItem open = canonical(seriesA, day);
        open.updatedAt = start + 7200;
        QTest::newRow("done beats open, canonical and newer") << done << open;

        TaskItem canon = canonical(seriesA, day);
        TaskItem copy = member(seriesA, start + 60, RepeatOption::daily, small);
        copy.updatedAt = start + 7200;
        QTest::newRow("canonical beats a later copy") << canon << copy;

        TaskItem newer = member(seriesA, start + 60, RepeatOption::daily, large);
        newer.updatedAt = start + 7200;
        TaskItem older = member(seriesA, start + 60, RepeatOption::daily, small);
        older.updatedAt = start + 7199.5;
        QTest::newRow("later update beats an earlier one") << newer << older;

        TaskItem smaller = member(seriesA, start + 60, RepeatOption::daily, small);
        TaskItem larger = member(seriesA, start + 60, RepeatOption::daily, large);
        QTest::newRow("smaller id breaks a tie") << smaller << larger;

        TaskItem doneA = done;
        TaskItem doneB = member(seriesA, start + 50, RepeatOption::daily, small);
        doneB.isCompleted = true;
        doneB.updatedAt = done.updatedAt;
        QTest::newRow("two done: smaller id") << doneB << doneA;

        // The day is the local day: 00:10 and 23:50 of one day are the same occurrence.
        TaskItem morning = member(seriesA, at(2025, 4, 10, 0, 10), RepeatOption::daily, small);
        TaskItem night = member(seriesA, at(2025, 4, 10, 23, 50), RepeatOption::daily, large);
        night.updatedAt = morning.updatedAt;
        QTest::newRow("first and last minutes of a day") << morning << night;
    }
    void duplicateRemoval()
    {
        QFETCH(TaskItem, keep);
        QFETCH(TaskItem, drop);

        TaskItem oneOff = member(seriesA, keep.createdAt);
        oneOff.recurringSeriesId.reset();
        TaskItem otherDay = canonical(seriesA, QDate(2025, 4, 9));

        for (bool keepFirst : {true, false}) {
            const std::vector<TaskItem> list = keepFirst ? std::vector<TaskItem>{otherDay, keep, oneOff, drop}
                                                         : std::vector<TaskItem>{otherDay, drop, oneOff, keep};
            const TR::DuplicateRemoval out = TR::removeDuplicateOccurrences(list, nyCalendar());
            QCOMPARE(out.dropped, QSet<QUuid>{drop.id});
            if (keepFirst)
                QCOMPARE(idList(out.list), (std::vector<QUuid>{otherDay.id, keep.id, oneOff.id}));
            else
                QCOMPARE(idList(out.list), (std::vector<QUuid>{otherDay.id, oneOff.id, keep.id}));
            QVERIFY(std::find(out.list.begin(), out.list.end(), keep) != out.list.end());
        }
    }

    void notDuplicates()
    {
        const Calendar cal = nyCalendar();
        const Date t = at(2025, 4, 10, 12);
        TaskItem oneOffA = member(seriesA, t);
        TaskItem oneOffB = member(seriesA, t);
        oneOffA.recurringSeriesId.reset();
        oneOffB.recurringSeriesId.reset();
        const std::vector<TaskItem> list{
            member(seriesA, at(2025, 4, 10, 23, 59)),
            member(seriesA, at(2025, 4, 11, 0, 1)), // the next day
            member(seriesB, t),                     // another series
            oneOffA,
            oneOffB,
        };
        const TR::DuplicateRemoval out = TR::removeDuplicateOccurrences(list, cal);
        QVERIFY(out.dropped.isEmpty());
        QCOMPARE(out.list, list);
    }

    void largerGroupKeepsOneAndTheListOrder()
    {
        const Calendar cal = nyCalendar();
        const Date t = at(2025, 4, 10, 8);
        TaskItem done = member(seriesA, t + 5);
        done.isCompleted = true;
        TaskItem canon = canonical(seriesA, QDate(2025, 4, 10));
        TaskItem plain = member(seriesA, t + 10);
        plain.updatedAt = t + 9000;
        TaskItem b = member(seriesB, t);
        TaskItem bDone = member(seriesB, t + 1);
        bDone.isCompleted = true;

        const std::vector<TaskItem> list{canon, b, plain, done, bDone};
        const TR::DuplicateRemoval out = TR::removeDuplicateOccurrences(list, cal);
        QCOMPARE(out.dropped, (QSet<QUuid>{canon.id, plain.id, b.id}));
        QCOMPARE(idList(out.list), (std::vector<QUuid>{done.id, bDone.id}));
    }

    // --- stopped and deleted series ---

    void applySeriesChanges()
    {
        const Date now = at(2025, 4, 10, 12) + 0.75;
        TaskItem oneOff = member(seriesA, at(2025, 4, 1));
        oneOff.recurringSeriesId.reset();
        TaskItem stoppedPast = member(seriesA, at(2025, 4, 1));
        stoppedPast.updatedAt = now - 3600.25;
        TaskItem stoppedFuture = member(seriesA, at(2025, 4, 2), RepeatOption::weekly);
        stoppedFuture.updatedAt = now + 86400.5;
        TaskItem deleted = member(seriesB, at(2025, 4, 1));
        const QUuid both = QUuid::createUuid();
        TaskItem stoppedAndDeleted = member(both, at(2025, 4, 3));
        TaskItem untouched = member(QUuid::createUuid(), at(2025, 4, 4), RepeatOption::monthly);

        const std::vector<TaskItem> list{oneOff, stoppedPast, deleted, stoppedFuture, stoppedAndDeleted, untouched};
        const TR::SeriesChanges out = TR::applySeriesChanges(list, {seriesA, both}, {seriesB, both}, now);

        QVERIFY(out.changed);
        QCOMPARE(out.dropped, (QSet<QUuid>{deleted.id, stoppedAndDeleted.id}));
        QCOMPARE(idList(out.list), (std::vector<QUuid>{oneOff.id, stoppedPast.id, stoppedFuture.id, untouched.id}));
        QCOMPARE(out.list[0], oneOff);
        QCOMPARE(out.list[3], untouched);

        for (const TaskItem& t : {out.list[1], out.list[2]}) {
            QCOMPARE(t.repeatOption, RepeatOption::none);
            QVERIFY(!t.recurringSeriesId);
        }
        QCOMPARE(out.list[1].updatedAt, at(2025, 4, 10, 12));
        QCOMPARE(out.list[2].updatedAt, stoppedFuture.updatedAt);
        // Nothing else about a stopped to-do changes.
        TaskItem expected = stoppedPast;
        expected.repeatOption = RepeatOption::none;
        expected.recurringSeriesId.reset();
        expected.updatedAt = out.list[1].updatedAt;
        QCOMPARE(out.list[1], expected);
    }

    void applySeriesChangesWithoutEffect()
    {
        TaskItem oneOff = member(seriesA, at(2025, 4, 1));
        oneOff.recurringSeriesId.reset();
        const std::vector<TaskItem> list{oneOff, member(seriesB, at(2025, 4, 1))};
        // The sets name series that are not in the list (the one-off's old series among them).
        const TR::SeriesChanges out = TR::applySeriesChanges(list, {seriesA}, {QUuid::createUuid()}, at(2025, 4, 2));
        QVERIFY(!out.changed);
        QVERIFY(out.dropped.isEmpty());
        QCOMPARE(out.list, list);
    }

    void stoppingBefore1970FloorsTowardsThePast()
    {
        TaskItem t = member(seriesA, -500);
        const TR::SeriesChanges out = TR::applySeriesChanges(std::vector<TaskItem>{t}, {seriesA}, {}, -10.25);
        QCOMPARE(out.list.front().updatedAt, Date(-11));
    }

    // --- the maintenance pass ---

    void maintainLeavesPlainListsAlone()
    {
        std::vector<TaskItem> list;
        for (int i = 0; i < 3; ++i) {
            TaskItem t = member(seriesA, at(2025, 4, 1 + i), RepeatOption::daily);
            t.recurringSeriesId.reset(); // a one-off whose repeat text lingers
            list.push_back(t);
        }
        const TR::SeriesChanges out = TR::maintain(list, {}, {}, at(2025, 4, 10), nyCalendar());
        QVERIFY(!out.changed);
        QVERIFY(out.dropped.isEmpty());
        QVERIFY(out.list.empty()); // nothing copied: the given list stands

        // An up-to-date series is left alone as well.
        const std::vector<TaskItem> current{member(seriesA, at(2025, 4, 9, 8)), canonical(seriesA, QDate(2025, 4, 10))};
        const TR::SeriesChanges again = TR::maintain(current, {}, {}, at(2025, 4, 10, 22), nyCalendar());
        QVERIFY(!again.changed);
        QVERIFY(again.list.empty());
    }

    void maintainRunsTheStepsInOrder()
    {
        const Calendar cal = nyCalendar();
        const Date now = at(2025, 4, 10, 9) + 0.5;
        const QUuid stopped = QUuid::createUuid();
        const QUuid deleted = QUuid::createUuid();
        const QUuid both = QUuid::createUuid();

        TaskItem oneOff = member(seriesA, at(2025, 4, 2));
        oneOff.recurringSeriesId.reset();
        TaskItem stoppedOld = member(stopped, at(2025, 4, 1, 9));
        TaskItem deletedOld = member(deleted, at(2025, 4, 1, 9));
        TaskItem bothOld = member(both, at(2025, 4, 1, 9));

        // Two copies of seriesA's latest day: the done one is kept, although the open copy was
        // updated later and would otherwise be the template of the new occurrence.
        TaskItem keptCopy = member(seriesA, at(2025, 4, 8, 7));
        keptCopy.title = QStringLiteral("done copy");
        keptCopy.isCompleted = true;
        TaskItem droppedCopy = keptCopy;
        droppedCopy.id = QUuid::createUuid();
        droppedCopy.title = QStringLiteral("open copy");
        droppedCopy.isCompleted = false;
        droppedCopy.updatedAt = keptCopy.updatedAt + 60;

        TaskItem weekly = member(seriesB, at(2025, 4, 3, 9), RepeatOption::weekly);

        const std::vector<TaskItem> list{oneOff, stoppedOld, droppedCopy, deletedOld, keptCopy, bothOld, weekly};
        const TR::SeriesChanges out = TR::maintain(list, {stopped, both}, {deleted, both}, now, cal);

        QVERIFY(out.changed);
        QCOMPARE(out.dropped, (QSet<QUuid>{deletedOld.id, bothOld.id, droppedCopy.id}));

        QCOMPARE(out.list.size(), size_t(6));
        const TaskItem& first = out.list[0];
        const TaskItem& second = out.list[1];
        QVERIFY(uuidText(first.id) < uuidText(second.id));
        const TaskItem& daily = first.recurringSeriesId == seriesA ? first : second;
        const TaskItem& week = first.recurringSeriesId == seriesA ? second : first;
        QCOMPARE(daily.id, TR::occurrenceId(seriesA, QStringLiteral("2025-04-10")));
        QCOMPARE(daily.title, QStringLiteral("done copy"));
        QCOMPARE(week.id, TR::occurrenceId(seriesB, QStringLiteral("2025-04-10")));

        QCOMPARE(idList(std::vector<TaskItem>(out.list.begin() + 2, out.list.end())),
                 (std::vector<QUuid>{oneOff.id, stoppedOld.id, keptCopy.id, weekly.id}));
        const TaskItem& stoppedNow = out.list[3];
        QVERIFY(!stoppedNow.recurringSeriesId);
        QCOMPARE(stoppedNow.repeatOption, RepeatOption::none);
        QCOMPARE(stoppedNow.updatedAt, at(2025, 4, 10, 9));

        // Nothing is left of the deleted series, and the stopped one does not come back.
        for (const TaskItem& t : out.list) {
            QVERIFY(t.recurringSeriesId != deleted);
            QVERIFY(t.recurringSeriesId != both);
            QVERIFY(t.recurringSeriesId != stopped);
        }

        // The pass settles: run again, nothing changes.
        const TR::SeriesChanges again = TR::maintain(out.list, {stopped, both}, {deleted, both}, now + 3600, cal);
        QVERIFY(!again.changed);
        QVERIFY(again.dropped.isEmpty());
        QVERIFY(again.list.empty());
    }

    void maintainChangedFlagForEachStep()
    {
        const Calendar cal = nyCalendar();
        const Date now = at(2025, 4, 10, 9);

        // Only a stop: nothing dropped, but the list changed.
        TaskItem today = canonical(seriesA, QDate(2025, 4, 10));
        TR::SeriesChanges out = TR::maintain(std::vector<TaskItem>{today}, {seriesA}, {}, now, cal);
        QVERIFY(out.changed);
        QVERIFY(out.dropped.isEmpty());

        // Only a duplicate on today's date: dropped, nothing new.
        TaskItem copy = member(seriesA, at(2025, 4, 10, 6));
        out = TR::maintain(std::vector<TaskItem>{copy, today}, {}, {}, now, cal);
        QVERIFY(out.changed);
        QCOMPARE(out.dropped, QSet<QUuid>{copy.id});
        QCOMPARE(idList(out.list), std::vector<QUuid>{today.id});

        // Only a new occurrence.
        TaskItem yesterday = canonical(seriesA, QDate(2025, 4, 9));
        out = TR::maintain(std::vector<TaskItem>{yesterday}, {}, {}, now, cal);
        QVERIFY(out.changed);
        QVERIFY(out.dropped.isEmpty());
        QCOMPARE(ids(out.list), (QSet<QUuid>{yesterday.id, today.id}));
        QCOMPARE(out.list.front().id, today.id);
    }

    // The pass gives what its steps give run one after the other on copies, in any zone and
    // across a change of the clocks.
    void maintainMatchesItsStepsInTurn_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("now");
        QTest::newRow("New York, day after spring forward")
            << QByteArray("America/New_York") << QStringLiteral("2026-03-09T13:00:00Z");
        QTest::newRow("New York, day of fall back")
            << QByteArray("America/New_York") << QStringLiteral("2026-11-01T05:30:00Z");
        QTest::newRow("Lord Howe, half-hour change")
            << QByteArray("Australia/Lord_Howe") << QStringLiteral("2026-04-05T02:00:00Z");
        QTest::newRow("Auckland, month end")
            << QByteArray("Pacific/Auckland") << QStringLiteral("2026-03-31T20:00:00Z");
        QTest::newRow("UTC") << QByteArray("UTC") << QStringLiteral("2026-03-09T23:59:59Z");
    }
    void maintainMatchesItsStepsInTurn()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, now);
        const Calendar cal = TestEnvironment::calendar(zone);
        const Date at = Iso8601::parse(now).value();
        const QUuid stopped = QUuid::createUuid();
        const QUuid deleted = QUuid::createUuid();
        std::vector<TaskItem> list;
        const RepeatOption repeats[] = {RepeatOption::daily, RepeatOption::weekly, RepeatOption::monthly};
        for (int i = 0; i < 60; ++i) {
            const QUuid series = i % 20 == 3 ? stopped : i % 20 == 7 ? deleted : QUuid::createUuid();
            TaskItem t = member(series, at - 86400.0 * (i % 45) - 3517.25 * i, repeats[i % 3]);
            if (i % 2)
                t.dueDate = t.createdAt + 86400.0 * (i % 9) + 1800;
            if (i % 3 == 1)
                t.reminderDate = t.createdAt + 3600.0 * (i % 30);
            list.push_back(t);
            if (i % 10 == 5) { // another copy of the same day
                TaskItem copy = t;
                copy.id = QUuid::createUuid();
                copy.updatedAt += 5;
                list.push_back(copy);
            }
            if (i % 4 == 0) {
                TaskItem oneOff = t;
                oneOff.id = QUuid::createUuid();
                oneOff.recurringSeriesId.reset();
                list.push_back(oneOff);
            }
        }

        const TR::SeriesChanges first = TR::applySeriesChanges(list, {stopped}, {deleted}, at);
        const TR::DuplicateRemoval second = TR::removeDuplicateOccurrences(first.list, cal);
        std::vector<TaskItem> expected = TR::rollForward(second.list, {stopped, deleted}, at, cal);
        QVERIFY(!second.dropped.isEmpty());
        QVERIFY(!expected.empty());
        expected.insert(expected.end(), second.list.begin(), second.list.end());

        const TR::SeriesChanges out = TR::maintain(list, {stopped}, {deleted}, at, cal);
        QVERIFY(out.changed);
        QCOMPARE(out.dropped, first.dropped + second.dropped);
        QCOMPARE(out.list, expected);
    }
};

QTEST_GUILESS_MAIN(TestRecurrence)
#include "tst_recurrence.moc"
