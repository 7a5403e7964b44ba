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
    void localDaysAgreeWithTheCalendar_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("first");
        QTest::addColumn<QDate>("last");
        QTest::newRow("spring forward") << QByteArray("America/New_York") << QDate(2025, 3, 9) << QDate(2025, 3, 9);
        QTest::newRow("fall back") << QByteArray("America/New_York") << QDate(2025, 11, 2) << QDate(2025, 11, 2);
        QTest::newRow("gap at midnight") << QByteArray("America/Sao_Paulo") << QDate(2018, 11, 4) << QDate(2018, 11, 4);
        QTest::newRow("midnight repeated")
            << QByteArray("America/Sao_Paulo") << QDate(2019, 2, 16) << QDate(2019, 2, 16);
        QTest::newRow("day after the repeat")
            << QByteArray("America/Sao_Paulo") << QDate(2019, 2, 17) << QDate(2019, 2, 17);
        QTest::newRow("skipped day") << QByteArray("Pacific/Apia") << QDate(2011, 12, 30) << QDate(2011, 12, 30);
        QTest::newRow("week over the skipped day")
            << QByteArray("Pacific/Apia") << QDate(2011, 12, 26) << QDate(2012, 1, 1);
        QTest::newRow("UTC+14") << QByteArray("Pacific/Kiritimati") << QDate(2026, 12, 7) << QDate(2026, 12, 7);
        QTest::newRow("UTC-11") << QByteArray("Pacific/Pago_Pago") << QDate(2026, 12, 7) << QDate(2026, 12, 7);
        QTest::newRow("week over a change")
            << QByteArray("Europe/Berlin") << QDate(2025, 10, 20) << QDate(2025, 10, 26);
        QTest::newRow("half-hour change")
            << QByteArray("Australia/Lord_Howe") << QDate(2025, 4, 6) << QDate(2025, 4, 6);
        QTest::newRow("change far ahead, by the zone's rule")
            << QByteArray("America/New_York") << QDate(2091, 3, 11) << QDate(2091, 3, 11);
        QTest::newRow("UTC") << QByteArray("UTC") << QDate(2026, 12, 7) << QDate(2026, 12, 13);
    }
    void localDaysAgreeWithTheCalendar()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, first);
        QFETCH(QDate, last);
        const Calendar cal = TestEnvironment::calendar(zone.constData());
        const LocalDays days(cal, first, last);
        const Date from = QDateTime(first.addDays(-4), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
        const Date to = QDateTime(last.addDays(5), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
        // Every whole minute and the seconds on both sides of it, so each midnight and each change is met.
        for (Date t = from; t < to; t += 60) {
            for (const Date at : {t - 1, t, t + 0.5}) {
                const QDate day = cal.localDate(at);
                const int expected = day < first ? -1 : day > last ? 1 : 0;
                if (days.compare(at) != expected)
                    QFAIL(qPrintable(QStringLiteral("%1: %2").arg(Iso8601::format(at)).arg(days.compare(at))));
            }
        }
    }
    void dayIdsAcrossMidnightInTwoZones()
    {
        const Date t = Iso8601::parse(QStringLiteral("2026-12-07T03:30:00Z")).value();
        QCOMPARE(SharedState::dayIdFor(t, TestEnvironment::calendar("America/New_York")), 20261206);
        QCOMPARE(SharedState::dayIdFor(t, TestEnvironment::calendar("Europe/Berlin")), 20261207);
    }

    // A remembering calendar answers as the zone does, the first time and from memory after.
    void rememberingAnswersAsTheZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("instant");
        QTest::newRow("spring-forward gap") << QByteArray("America/New_York") << QStringLiteral("2026-03-08T06:30:00Z");
        QTest::newRow("repeated hour") << QByteArray("America/New_York") << QStringLiteral("2026-11-01T05:30:00Z");
        QTest::newRow("half-hour shift") << QByteArray("Australia/Lord_Howe") << QStringLiteral("2026-04-04T14:45:10Z");
        QTest::newRow("month end, east of UTC")
            << QByteArray("Pacific/Auckland") << QStringLiteral("2026-01-31T11:00:00Z");
        QTest::newRow("before 1970") << QByteArray("Europe/Berlin") << QStringLiteral("1950-06-30T22:59:59Z");
    }
    void rememberingAnswersAsTheZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, instant);
        const Calendar plain = TestEnvironment::calendar(zone);
        const Calendar remembering = plain.remembering();
        const Date base = Iso8601::parse(instant).value();
        for (int pass = 0; pass < 2; ++pass) {
            for (const Date t : {base, base + 0.25, base - 3600, base + 86400 * 3, base - 86400 * 40}) {
                const LocalDateTime a = plain.components(t);
                const LocalDateTime b = remembering.components(t);
                QCOMPARE(b.date, a.date);
                QCOMPARE(std::make_tuple(b.hour, b.minute, b.second, b.fraction),
                         std::make_tuple(a.hour, a.minute, a.second, a.fraction));
                QCOMPARE(remembering.offsetFromUtc(t), plain.offsetFromUtc(t));
                QCOMPARE(remembering.startOfDay(t), plain.startOfDay(t));
                QCOMPARE(remembering.addDays(t, 1), plain.addDays(t, 1));
                QCOMPARE(remembering.addMonths(t, -1), plain.addMonths(t, -1));
                QCOMPARE(remembering.date(a.date, 2, 30), plain.date(a.date, 2, 30));
            }
        }
    }

    // Over years of a zone's changes, and beyond what it reads at once, it still answers as the
    // zone does; a zone that cannot list its changes is asked each time.
    void rememberingAgreesOverYears_data()
    {
        QTest::addColumn<QTimeZone>("zone");
        QTest::addColumn<QString>("first");
        QTest::newRow("daylight saving") << QTimeZone("America/New_York") << QStringLiteral("2026-12-07T12:00:00Z");
        QTest::newRow("a day left out") << QTimeZone("Pacific/Apia") << QStringLiteral("2012-06-01T00:00:00Z");
        QTest::newRow("half hours") << QTimeZone("Australia/Lord_Howe") << QStringLiteral("2026-04-04T14:45:10Z");
        QTest::newRow("UTC") << QTimeZone::utc() << QStringLiteral("2026-12-07T12:00:00Z");
        QTest::newRow("fixed offset") << QTimeZone(5 * 3600 + 1800) << QStringLiteral("2026-12-07T12:00:00Z");
    }
    void rememberingAgreesOverYears()
    {
        QFETCH(QTimeZone, zone);
        QFETCH(QString, first);
        const Calendar plain(zone);
        const Calendar remembering = plain.remembering();
        const Date start = Iso8601::parse(first).value();
        QVERIFY(zone.isValid());
        const auto agree = [&](Date t) {
            const LocalDateTime a = plain.components(t);
            const LocalDateTime b = remembering.components(t);
            return b.date == a.date && std::tie(b.hour, b.minute, b.second) == std::tie(a.hour, a.minute, a.second) &&
                   remembering.offsetFromUtc(t) == plain.offsetFromUtc(t) &&
                   remembering.startOfDay(t) == plain.startOfDay(t) &&
                   remembering.date(a.date, 2, 30) == plain.date(a.date, 2, 30);
        };
        for (Date t = start; t > start - 3 * 365 * 86400.0; t -= 22033.25)
            QVERIFY2(agree(t), qPrintable(Iso8601::format(t)));
        for (const double years : {-40.4, 11.0, 60.5})
            QVERIFY2(agree(start + years * 365.25 * 86400), qPrintable(QString::number(years)));
    }
};

QTEST_GUILESS_MAIN(TestCalendar)
#include "tst_calendar.moc"
