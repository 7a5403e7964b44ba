#include "TestEnvironment.h"
#include "model/Calendar.h"
#include "model/Iso8601.h"
#include "model/SharedState.h"

#include <QtTest>

using TestEnvironment::at;

class TestCalendar : public QObject {
    Q_OBJECT
private slots:
    void springForwardGapResolvesToTheJump()
    {
        const Calendar cal = TestEnvironment::calendar();
        // 02:30 does not exist on 2025-03-09 in New York: the clocks jump from 02:00 EST to 03:00 EDT.
        const Date t = cal.date(QDate(2025, 3, 9), 2, 30);
        QCOMPARE(Iso8601::format(t), QStringLiteral("2025-03-09T07:00:00Z"));
        const LocalDateTime c = cal.components(t);
        QCOMPARE(c.hour, 3);
        QCOMPARE(c.minute, 0);
    }
    void fallBackRepeatedHourTakesFirstOccurrence()
    {
        const Calendar cal = TestEnvironment::calendar();
        const Date t = cal.date(QDate(2025, 11, 2), 1, 30);
        QCOMPARE(Iso8601::format(t), QStringLiteral("2025-11-02T05:30:00Z")); // 01:30 EDT
    }
    void dayIdsAcrossMidnightInTwoZones()
    {
        const Date t = Iso8601::parse(QStringLiteral("2026-12-07T03:30:00Z")).value();
        QCOMPARE(SharedState::dayIdFor(t, TestEnvironment::calendar("America/New_York")), 20261206);
        QCOMPARE(SharedState::dayIdFor(t, TestEnvironment::calendar("Europe/Berlin")), 20261207);
    }
};

QTEST_GUILESS_MAIN(TestCalendar)
#include "tst_calendar.moc"
