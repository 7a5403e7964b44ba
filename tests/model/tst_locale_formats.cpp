#include "TestEnvironment.h"

#include "model/LocaleFormats.h"

#include <QTest>

class TestLocaleFormats : public QObject {
    Q_OBJECT

private slots:
    void datesAndTimes_data();
    void datesAndTimes();
};

void TestLocaleFormats::datesAndTimes_data()
{
    // Monday 7 December 2026; 28 November for the short day; 9:30 and 17:05 for times.
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("dayLine");
    QTest::addColumn<QString>("dayMonth");
    QTest::addColumn<QString>("shortDate");
    QTest::addColumn<QString>("morning");
    QTest::addColumn<QString>("evening");
    QTest::addColumn<QString>("threeNames"); // in English, as the sentences around them
    // Times keep the locale's digits and order; AM and PM are said in English.
    QTest::newRow("C") << "C"
                       << "Monday, December 7"
                       << "Nov 28"
                       << "12/7/2026"
                       << "9:30 AM"
                       << "5:05 PM"
                       << "A, B, and C";
    QTest::newRow("en_US") << "en_US"
                           << "Monday, December 7"
                           << "Nov 28"
                           << "12/7/2026"
                           << "9:30 AM"
                           << "5:05 PM"
                           << "A, B, and C";
    QTest::newRow("de_DE") << "de_DE"
                           << "Montag, 7. Dezember"
                           << "28. Nov."
                           << "07.12.2026"
                           << "09:30"
                           << "17:05"
                           << "A, B, and C";
    QTest::newRow("fr_FR") << "fr_FR"
                           << "lundi 7 décembre"
                           << "28 nov."
                           << "07/12/2026"
                           << "09:30"
                           << "17:05"
                           << "A, B, and C";
    QTest::newRow("ja_JP") << "ja_JP"
                           << "12月7日月曜日"
                           << "11月28日"
                           << "2026/12/07"
                           << "9:30"
                           << "17:05"
                           << "A, B, and C";
    QTest::newRow("ko_KR") << "ko_KR"
                           << "12월 7일 월요일"
                           << "11월 28일"
                           << "2026. 12. 7."
                           << "9:30 AM"
                           << "5:05 PM"
                           << "A, B, and C";
    QTest::newRow("zh_CN") << "zh_CN"
                           << "12月7日星期一"
                           << "11月28日"
                           << "2026/12/7"
                           << "09:30"
                           << "17:05"
                           << "A, B, and C";
    QTest::newRow("ru_RU") << "ru_RU"
                           << "понедельник, 7 декабря"
                           << "28 нояб."
                           << "07.12.2026"
                           << "09:30"
                           << "17:05"
                           << "A, B, and C";
    QTest::newRow("pt_BR") << "pt_BR"
                           << "segunda-feira, 7 de dezembro"
                           << "28 de nov."
                           << "07/12/2026"
                           << "09:30"
                           << "17:05"
                           << "A, B, and C";
    QTest::newRow("ar_EG") << "ar_EG"
                           << "الاثنين، ٧ ديسمبر"
                           << "٢٨ نوفمبر"
                           << "٧\u200F/١٢\u200F/٢٠٢٦"
                           << "٩:٣٠ AM"
                           << "٥:٠٥ PM"
                           << "A, B, and C";
}

void TestLocaleFormats::datesAndTimes()
{
    QFETCH(QString, locale);
    const QLocale l(locale);
    const QLocale shown = LocaleFormats::effective(l);
    QTEST(LocaleFormats::dayLine(l, QDate(2026, 12, 7)), "dayLine");
    QTEST(shown.toString(QDate(2026, 11, 28), LocaleFormats::dayMonthPattern(l)), "dayMonth");
    QTEST(shown.toString(QDate(2026, 12, 7), LocaleFormats::shortDatePattern(l)), "shortDate");
    QTEST(LocaleFormats::shortTime(l, QTime(9, 30, 41)), "morning");
    QTEST(LocaleFormats::shortTime(l, QTime(17, 5)), "evening");
    QTEST(LocaleFormats::list({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}), "threeNames");
    // What the pickers show reads back as the same day and minute.
    QCOMPARE(shown.toDate(shown.toString(QDate(2026, 12, 7), LocaleFormats::shortDatePattern(l)),
                          LocaleFormats::shortDatePattern(l)),
             QDate(2026, 12, 7));
    QCOMPARE(shown.toTime(shown.toString(QTime(17, 5), LocaleFormats::shortTimePattern(l)),
                          LocaleFormats::shortTimePattern(l)),
             QTime(17, 5));
}

QTEST_GUILESS_MAIN(TestLocaleFormats)
#include "tst_locale_formats.moc"
