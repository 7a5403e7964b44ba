// The strict reader and writer of the data files' date form: ISO 8601, UTC, whole seconds,
// "2024-12-06T10:15:00Z".
#include "TestEnvironment.h"
#include "model/Iso8601.h"

#include <QtTest>
#include <cmath>

namespace {

// 2024-12-06T10:15:00Z
constexpr Date kDecember6 = 1733480100;

} // namespace

class TestIso8601 : public QObject {
    Q_OBJECT
private slots:
    // --- Writing -------------------------------------------------------------------------------

    void formatsUtcWholeSeconds()
    {
        QCOMPARE(Iso8601::format(kDecember6), QStringLiteral("2024-12-06T10:15:00Z"));
        QCOMPARE(Iso8601::format(0), QStringLiteral("1970-01-01T00:00:00Z"));
        QCOMPARE(Iso8601::format(951782400), QStringLiteral("2000-02-29T00:00:00Z"));
        QCOMPARE(Iso8601::format(4102444799), QStringLiteral("2099-12-31T23:59:59Z"));
    }

    void formatIgnoresTheLocalZone()
    {
        // Instants built from New York wall times are still written in UTC.
        QCOMPARE(Iso8601::format(TestEnvironment::at(2024, 12, 6, 5, 15)), QStringLiteral("2024-12-06T10:15:00Z"));
        QCOMPARE(Iso8601::format(TestEnvironment::at(2024, 7, 1, 20, 0)), QStringLiteral("2024-07-02T00:00:00Z"));
    }

    void formatDropsFractionsTowardNegativeInfinity_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0.999") << 0.999 << QStringLiteral("1970-01-01T00:00:00Z");
        QTest::newRow("0.5") << 0.5 << QStringLiteral("1970-01-01T00:00:00Z");
        QTest::newRow("1e-9") << 1e-9 << QStringLiteral("1970-01-01T00:00:00Z");
        QTest::newRow("-1e-9") << -1e-9 << QStringLiteral("1969-12-31T23:59:59Z");
        QTest::newRow("-0.5") << -0.5 << QStringLiteral("1969-12-31T23:59:59Z");
        QTest::newRow("-1") << -1.0 << QStringLiteral("1969-12-31T23:59:59Z");
        QTest::newRow("-1.5") << -1.5 << QStringLiteral("1969-12-31T23:59:58Z");
        QTest::newRow("-86400.25") << -86400.25 << QStringLiteral("1969-12-30T23:59:59Z");
        QTest::newRow("dec6 + 0.999") << kDecember6 + 0.999 << QStringLiteral("2024-12-06T10:15:00Z");
        QTest::newRow("dec6 - 0.001") << kDecember6 - 0.001 << QStringLiteral("2024-12-06T10:14:59Z");
        QTest::newRow("before midnight") << 1733529599.75 << QStringLiteral("2024-12-06T23:59:59Z");
        QTest::newRow("1900") << -2208988800.5 << QStringLiteral("1899-12-31T23:59:59Z");
    }
    void formatDropsFractionsTowardNegativeInfinity()
    {
        QFETCH(double, t);
        QFETCH(QString, expected);
        QCOMPARE(Iso8601::format(t), expected);
    }

    // --- Reading -------------------------------------------------------------------------------

    void roundTrip()
    {
        const std::optional<Date> t = Iso8601::parse(QStringLiteral("2024-12-06T10:15:00Z"));
        QVERIFY(t.has_value());
        QCOMPARE(*t, kDecember6);
        QCOMPARE(Iso8601::format(*t), QStringLiteral("2024-12-06T10:15:00Z"));
    }

    void roundTripOfWrittenInstants_data()
    {
        QTest::addColumn<double>("t");
        QTest::newRow("epoch") << 0.0;
        QTest::newRow("dec6") << kDecember6;
        QTest::newRow("fractional") << kDecember6 + 0.75;
        QTest::newRow("before 1970") << -0.5;
        QTest::newRow("1969 whole") << -31536000.0;
        QTest::newRow("leap day") << 1709208000.0; // 2024-02-29T12:00:00Z
        QTest::newRow("2100") << 4102444800.0;
    }
    void roundTripOfWrittenInstants()
    {
        QFETCH(double, t);
        const std::optional<Date> back = Iso8601::parse(Iso8601::format(t));
        QVERIFY(back.has_value());
        QCOMPARE(*back, std::floor(t));
    }

    void acceptsOffsets_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("Z") << QStringLiteral("2024-12-06T10:15:00Z") << kDecember6;
        QTest::newRow("+01:00") << QStringLiteral("2024-12-06T11:15:00+01:00") << kDecember6;
        QTest::newRow("-05:00") << QStringLiteral("2024-12-06T05:15:00-05:00") << kDecember6;
        QTest::newRow("+05:30") << QStringLiteral("2024-12-06T15:45:00+05:30") << kDecember6;
        QTest::newRow("+00:00") << QStringLiteral("2024-12-06T10:15:00+00:00") << kDecember6;
        QTest::newRow("-00:00") << QStringLiteral("2024-12-06T10:15:00-00:00") << kDecember6;
        QTest::newRow("+14:00") << QStringLiteral("2024-12-07T00:15:00+14:00") << kDecember6;
        QTest::newRow("-12:00") << QStringLiteral("2024-12-05T22:15:00-12:00") << kDecember6;
        QTest::newRow("offset crosses the day")
            << QStringLiteral("2024-12-06T00:30:00+01:00") << kDecember6 - 38700; // 2024-12-05T23:30:00Z
        QTest::newRow("offset crosses the year") << QStringLiteral("2024-12-31T22:00:00-03:00") << 1735693200.0;
        QTest::newRow("before 1970") << QStringLiteral("1969-12-31T23:59:59Z") << -1.0;
        QTest::newRow("leap day") << QStringLiteral("2024-02-29T12:00:00Z") << 1709208000.0;
    }
    void acceptsOffsets()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        const std::optional<Date> t = Iso8601::parse(text);
        QVERIFY2(t.has_value(), qPrintable(text));
        QCOMPARE(*t, expected);
    }

    void offsetFormsAgreeWithUtc()
    {
        const std::optional<Date> utc = Iso8601::parse(QStringLiteral("2024-12-05T23:30:00Z"));
        const std::optional<Date> plus = Iso8601::parse(QStringLiteral("2024-12-06T00:30:00+01:00"));
        QVERIFY(utc && plus);
        QCOMPARE(*plus, *utc);
        // Whatever the offset read, the writer gives back UTC.
        QCOMPARE(Iso8601::format(*plus), QStringLiteral("2024-12-05T23:30:00Z"));
    }

    void refusesEverythingElse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("blank") << QStringLiteral(" ");
        QTest::newRow("date only") << QStringLiteral("2024-12-06");
        QTest::newRow("zone-less") << QStringLiteral("2024-12-06T10:15:00");
        QTest::newRow("zone-less, no seconds") << QStringLiteral("2024-12-06T10:15");
        QTest::newRow("no seconds") << QStringLiteral("2024-12-06T10:15Z");
        QTest::newRow("fraction") << QStringLiteral("2024-12-06T10:15:00.5Z");
        QTest::newRow("fraction millis") << QStringLiteral("2024-12-06T10:15:00.000Z");
        QTest::newRow("fraction comma") << QStringLiteral("2024-12-06T10:15:00,5Z");
        QTest::newRow("fraction with offset") << QStringLiteral("2024-12-06T11:15:00.250+01:00");
        QTest::newRow("lower-case t") << QStringLiteral("2024-12-06t10:15:00Z");
        QTest::newRow("lower-case z") << QStringLiteral("2024-12-06T10:15:00z");
        QTest::newRow("lower-case both") << QStringLiteral("2024-12-06t10:15:00z");
        QTest::newRow("space for T") << QStringLiteral("2024-12-06 10:15:00Z");
        QTest::newRow("Feb 30") << QStringLiteral("2024-02-30T10:15:00Z");
        QTest::newRow("Feb 29, not a leap year") << QStringLiteral("2023-02-29T10:15:00Z");
        QTest::newRow("Feb 29, 1900") << QStringLiteral("1900-02-29T00:00:00Z");
        QTest::newRow("Apr 31") << QStringLiteral("2024-04-31T10:15:00Z");
        QTest::newRow("day 0") << QStringLiteral("2024-12-00T10:15:00Z");
        QTest::newRow("day 32") << QStringLiteral("2024-12-32T10:15:00Z");
        QTest::newRow("month 0") << QStringLiteral("2024-00-06T10:15:00Z");
        QTest::newRow("month 13") << QStringLiteral("2024-13-06T10:15:00Z");
        QTest::newRow("hour 24") << QStringLiteral("2024-12-06T24:00:00Z");
        QTest::newRow("hour 25") << QStringLiteral("2024-12-06T25:15:00Z");
        QTest::newRow("minute 60") << QStringLiteral("2024-12-06T10:60:00Z");
        QTest::newRow("one-digit month") << QStringLiteral("2024-1-06T10:15:00Z");
        QTest::newRow("one-digit hour") << QStringLiteral("2024-12-06T1:15:00Z");
        QTest::newRow("basic form") << QStringLiteral("20241206T101500Z");
        QTest::newRow("two-digit year") << QStringLiteral("24-12-06T10:15:00Z");
        QTest::newRow("offset hours only") << QStringLiteral("2024-12-06T11:15:00+01");
        QTest::newRow("offset hour 24") << QStringLiteral("2024-12-06T10:15:00+24:00");
        QTest::newRow("offset minute 60") << QStringLiteral("2024-12-06T10:15:00+01:60");
        QTest::newRow("Z and offset") << QStringLiteral("2024-12-06T10:15:00Z+01:00");
        QTest::newRow("zone name") << QStringLiteral("2024-12-06T10:15:00 UTC");
        QTest::newRow("leading space") << QStringLiteral(" 2024-12-06T10:15:00Z");
        QTest::newRow("trailing space") << QStringLiteral("2024-12-06T10:15:00Z ");
        QTest::newRow("trailing newline") << QStringLiteral("2024-12-06T10:15:00Z\n");
        QTest::newRow("leading newline") << QStringLiteral("\n2024-12-06T10:15:00Z");
        QTest::newRow("trailing garbage") << QStringLiteral("2024-12-06T10:15:00Zabc");
        QTest::newRow("signed year") << QStringLiteral("+2024-12-06T10:15:00Z");
        QTest::newRow("number") << QStringLiteral("1733480100");
        QTest::newRow("fullwidth digits") << QStringLiteral("\uFF12\uFF10\uFF12\uFF14-12-06T10:15:00Z");
        QTest::newRow("Arabic-Indic digits") << QStringLiteral(
            "\u0662\u0660\u0662\u0664-\u0661\u0662-\u0660\u0666T\u0661\u0660:\u0661\u0665:\u0660\u0660Z");
        QTest::newRow("Devanagari seconds") << QStringLiteral("2024-12-06T10:15:\u0966\u0966Z");
        QTest::newRow("Unicode digit in offset") << QStringLiteral("2024-12-06T11:15:00+\u0660\u0661:00");
        QTest::newRow("fullwidth Z") << QStringLiteral("2024-12-06T10:15:00\uFF3A");
        QTest::newRow("Unicode minus offset") << QStringLiteral("2024-12-06T05:15:00\u221205:00");
        QTest::newRow("en dash in date") << QStringLiteral("2024\u201312-06T10:15:00Z");
    }
    void refusesEverythingElse()
    {
        QFETCH(QString, text);
        const std::optional<Date> t = Iso8601::parse(text);
        QVERIFY2(!t.has_value(),
                 qPrintable(QStringLiteral("accepted \"%1\" as %2").arg(text).arg(t.value_or(0), 0, 'f')));
    }

    void acceptsLeapDaysOfLeapYears()
    {
        QVERIFY(Iso8601::parse(QStringLiteral("2000-02-29T00:00:00Z")).has_value());
        QVERIFY(Iso8601::parse(QStringLiteral("2024-02-29T23:59:59Z")).has_value());
        QCOMPARE(Iso8601::parse(QStringLiteral("2024-12-31T23:59:59Z")).value_or(-1), 1735689599.0);
    }
};

QTEST_GUILESS_MAIN(TestIso8601)
#include "tst_iso8601.moc"
