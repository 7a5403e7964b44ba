#include "TestEnvironment.h"
#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/TaskItem.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QtTest>
#include <algorithm>

Q_DECLARE_METATYPE(TaskItem)
Q_DECLARE_METATYPE(RepeatOption)

using TestEnvironment::at;
using Priority = TaskItem::Priority;

namespace {

QUuid uuid(const char* text)
{
    return QUuid::fromString(QLatin1String(text));
}

TaskItem todo(const QString& time, Priority priority = Priority::medium, bool done = false,
              Date createdAt = at(2025, 6, 5, 9), QUuid id = QUuid::createUuid())
{
    TaskItem t;
    t.id = id;
    t.title = QStringLiteral("Water the plants");
    t.time = time;
    t.priority = priority;
    t.isCompleted = done;
    t.createdAt = createdAt;
    t.updatedAt = createdAt;
    return t;
}

std::vector<Subtask> steps(int done, int total)
{
    std::vector<Subtask> out;
    for (int i = 0; i < total; ++i)
        out.push_back({QUuid::createUuid(), QStringLiteral("step %1").arg(i + 1), i < done});
    return out;
}

// Newer locale data separates the time from AM/PM with a narrow no-break space; people read both
// as the same text.
QString plainSpaces(QString text)
{
    return text.replace(QChar(0x202F), u' ').replace(QChar(0x00A0), u' ');
}

} // namespace

class TestTodos : public QObject {
    Q_OBJECT
private slots:
    void timeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("minutes"); // -1: no time

        QTest::newRow("h:mm AM/PM") << "9:30 PM" << 21 * 60 + 30;
        QTest::newRow("h:mm am/pm lower case, no blank") << "9:30pm" << 21 * 60 + 30;
        QTest::newRow("h:mmAM upper case") << "7:05AM" << 7 * 60 + 5;
        QTest::newRow("h:mm am lower case with blank") << "7:05 am" << 7 * 60 + 5;
        QTest::newRow("HH:mm") << "21:30" << 1290;
        QTest::newRow("HH:mm with leading zero") << "09:05" << 9 * 60 + 5;
        QTest::newRow("H:mm") << "9:30" << 9 * 60 + 30;
        QTest::newRow("h AM/PM") << "9 PM" << 21 * 60;
        QTest::newRow("ha lower case") << "9pm" << 21 * 60;
        QTest::newRow("ha upper case") << "11AM" << 11 * 60;
        QTest::newRow("midnight in 12-hour form") << "12 AM" << 0;
        QTest::newRow("noon in 12-hour form") << "12:00 PM" << 12 * 60;
        QTest::newRow("just after midnight") << "12:15 am" << 15;
        QTest::newRow("first minute of the day") << "0:00" << 0;
        QTest::newRow("last minute of the day") << "23:59" << 1439;
        QTest::newRow("blanks and line breaks around") << "  \t7:45 AM \n" << 7 * 60 + 45;
        QTest::newRow("hour 0 on a 12-hour clock, morning") << "0:30 AM" << 30;
        QTest::newRow("hour 0 on a 12-hour clock, afternoon") << "00:30 PM" << 12 * 60 + 30;
        QTest::newRow("mixed case") << "9:41 Pm" << 21 * 60 + 41;

        QTest::newRow("Anytime") << "Anytime" << -1;
        QTest::newRow("Anytime with blanks") << "  Anytime\t\n" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("only blanks") << " \n " << -1;
        QTest::newRow("anytime lower case") << "anytime" << -1;
        QTest::newRow("ANYTIME upper case") << "ANYTIME" << -1;
        QTest::newRow("words") << "after lunch" << -1;
        QTest::newRow("hour out of range") << "25:00" << -1;
        QTest::newRow("minute out of range") << "9:75" << -1;
        QTest::newRow("bare number") << "930" << -1;
        QTest::newRow("24-hour time with a half of the day") << "13:00 PM" << -1;
        QTest::newRow("hour 24") << "24:00" << -1;
        QTest::newRow("three-digit hour") << "123:00" << -1;
        QTest::newRow("one-digit minute") << "9:5" << -1;
        QTest::newRow("three-digit minute") << "9:415" << -1;
        QTest::newRow("seconds") << "9:41:00" << -1;
        QTest::newRow("two blanks before the half") << "9:41  PM" << -1;
        QTest::newRow("dotted half") << "9:41 P.M." << -1;
        QTest::newRow("more after the half") << "9:41 AMX" << -1;
        QTest::newRow("Arabic-Indic digits") << QStringLiteral("\u0669:\u0664\u0661") << -1;
    }
    void timeText()
    {
        QFETCH(QString, text);
        QFETCH(int, minutes);

        // The same in every locale: the locale's own short form is tried first, with its own
        // separators, clock and digits.
        const QLocale before;
        const auto restore = qScopeGuard([&before] { QLocale::setDefault(before); });
        for (const char* name : {"C", "en_US", "de_DE", "fi_FI", "ko_KR", "ar_EG", "hi_IN", "zh_CN"}) {
            QLocale::setDefault(QLocale(QString::fromLatin1(name)));
            const std::optional<QTime> parsed = TaskItem::parseTime(text);
            const std::optional<int> got = TaskItem::minutesOfDay(text);
            if (minutes < 0) {
                QVERIFY2(!parsed, qPrintable(name + QStringLiteral(": ") + (parsed ? parsed->toString() : QString())));
                QVERIFY2(!got, name);
                continue;
            }
            QVERIFY2(parsed, name);
            QCOMPARE(parsed->hour() * 60 + parsed->minute(), minutes);
            QVERIFY2(got, name);
            QCOMPARE(*got, minutes);
        }
    }

    void displayOrder_data()
    {
        // Each row: `first` must be shown before `second`, and not the other way round. Wherever a
        // later key disagrees with the deciding one, the row sets it against the expected result.
        QTest::addColumn<TaskItem>("first");
        QTest::addColumn<TaskItem>("second");

        const QUuid small = uuid("{0A000000-0000-4000-8000-000000000000}");
        const QUuid large = uuid("{F0000000-0000-4000-8000-000000000000}");
        const Date early = at(2025, 6, 5, 8);
        const Date late = at(2025, 6, 5, 18);

        QTest::newRow("open before done") << todo("11:00 PM", Priority::low, false, late, large)
                                          << todo("6:00 AM", Priority::high, true, early, small);
        QTest::newRow("high before medium") << todo("11:00 PM", Priority::high, false, late, large)
                                            << todo("6:00 AM", Priority::medium, false, early, small);
        QTest::newRow("medium before low") << todo("Anytime", Priority::medium, false, late, large)
                                           << todo("6:00 AM", Priority::low, false, early, small);
        QTest::newRow("priority also orders done to-dos")
            << todo("", Priority::high, true, late, large) << todo("6:00 AM", Priority::low, true, early, small);
        QTest::newRow("timed before Anytime created earlier") << todo("8:00 AM", Priority::high, false, late, large)
                                                              << todo("Anytime", Priority::high, false, early, small);
        QTest::newRow("late evening before empty time")
            << todo("11:59 PM", Priority::low, false, late, large) << todo("", Priority::low, false, early, small);
        QTest::newRow("timed before unreadable time") << todo("23:00", Priority::medium, false, late, large)
                                                      << todo("after lunch", Priority::medium, false, early, small);
        QTest::newRow("times compare as clock times, not texts")
            << todo("9:00 AM", Priority::medium, false, late, large)
            << todo("10:00", Priority::medium, false, early, small);
        QTest::newRow("same time in two spellings: createdAt decides")
            << todo("21:30", Priority::medium, false, early, large)
            << todo("9:30 PM", Priority::medium, false, late, small);
        QTest::newRow("Anytime, empty and unreadable tie: createdAt decides")
            << todo("after lunch", Priority::medium, false, early, large)
            << todo("Anytime", Priority::medium, false, late, small);
        QTest::newRow("empty and Anytime tie: createdAt decides")
            << todo("", Priority::medium, false, early, large) << todo("Anytime", Priority::medium, false, late, small);
        QTest::newRow("earlier createdAt first") << todo("7:00", Priority::medium, false, early, large)
                                                 << todo("7:00", Priority::medium, false, early + 0.5, small);
        QTest::newRow("everything equal: id text decides")
            << todo("7:00", Priority::low, true, early, uuid("{9FFFFFFF-FFFF-4FFF-BFFF-FFFFFFFFFFFF}"))
            << todo("7:00", Priority::low, true, early, uuid("{A0000000-0000-4000-8000-000000000000}"));
        // QUuid's own ordering looks at the variant first and would put the second one first.
        QTest::newRow("id text, not the uuid's own ordering")
            << todo("Anytime", Priority::high, false, early, uuid("{0A000000-0000-4000-8000-000000000000}"))
            << todo("Anytime", Priority::high, false, early, uuid("{F0000000-0000-4000-0000-000000000000}"));
    }
    void displayOrder()
    {
        QFETCH(TaskItem, first);
        QFETCH(TaskItem, second);
        QVERIFY(TaskItem::isOrderedBefore(first, second));
        QVERIFY(!TaskItem::isOrderedBefore(second, first));
        QVERIFY(!TaskItem::isOrderedBefore(first, first));
        QVERIFY(!TaskItem::isOrderedBefore(second, second));
    }

    void sameIdIsNeverBefore()
    {
        // An edited copy of the same to-do is neither before nor after the original when only the
        // identity is left to tell them apart.
        TaskItem a = todo("Anytime", Priority::medium, false, at(2025, 6, 5, 9));
        TaskItem b = a;
        b.title = QStringLiteral("Renamed");
        b.updatedAt += 60;
        QVERIFY(!TaskItem::isOrderedBefore(a, b));
        QVERIFY(!TaskItem::isOrderedBefore(b, a));
    }

    void sortForDisplayAgreesWithTheOrder()
    {
        const QStringList times{QStringLiteral("Anytime"),     QString(),
                                QStringLiteral("after lunch"), QStringLiteral("8:00 AM"),
                                QStringLiteral("08:00"),       QStringLiteral("9pm"),
                                QStringLiteral("21:00"),       QStringLiteral("12 AM")};
        const Date created[] = {at(2025, 6, 4, 23), at(2025, 6, 5, 9), at(2025, 6, 5, 9, 0, 1)};
        QRandomGenerator rng(20250605);
        std::vector<TaskItem> list;
        for (int i = 0; i < 120; ++i) {
            list.push_back(todo(times[rng.bounded(int(times.size()))], Priority(rng.bounded(3)), rng.bounded(2) == 1,
                                created[rng.bounded(3)]));
        }

        std::vector<TaskItem> expected = list;
        std::sort(expected.begin(), expected.end(), TaskItem::isOrderedBefore);
        const std::vector<TaskItem> sorted = TaskItem::sortedForDisplay(list);

        QCOMPARE(sorted.size(), list.size());
        for (size_t i = 0; i < sorted.size(); ++i)
            QCOMPARE(sorted[i].id, expected[i].id);
        for (size_t i = 0; i + 1 < sorted.size(); ++i)
            QVERIFY(TaskItem::isOrderedBefore(sorted[i], sorted[i + 1]));

        std::vector<TaskItem> inPlace = list;
        TaskItem::sortForDisplay(inPlace);
        QCOMPARE(inPlace, sorted);
    }

    // The first entries in display order are those of a whole sort; ties on everything keep the
    // given order, and many time texts outgrow the quick table.
    void firstForDisplayIsTheSortedPrefix_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("first"); // -1: all
        QTest::addColumn<bool>("twins");
        QTest::addColumn<bool>("ownTimes");
        QTest::newRow("none") << 200 << 0 << false << false;
        QTest::newRow("a screenful of many") << 2000 << 97 << false << false;
        QTest::newRow("more than there are") << 200 << 1000 << false << false;
        QTest::newRow("twins, a screenful") << 300 << 41 << true << false;
        QTest::newRow("twins, all") << 300 << -1 << true << false;
        QTest::newRow("many time texts") << 1500 << -1 << false << true;
    }
    void firstForDisplayIsTheSortedPrefix()
    {
        QFETCH(int, count);
        QFETCH(int, first);
        QFETCH(bool, twins);
        QFETCH(bool, ownTimes);
        const QStringList times{QStringLiteral("Anytime"), QString(), QStringLiteral("after lunch"),
                                QStringLiteral("8:00 AM"), QStringLiteral("9pm")};
        QRandomGenerator rng(quint32(count + first));
        std::vector<TaskItem> list;
        for (int i = 0; i < count; ++i) {
            TaskItem t = todo(ownTimes ? QStringLiteral("%1:%2").arg(i / 60 % 24).arg(i % 60)
                                       : times[rng.bounded(int(times.size()))],
                              Priority(rng.bounded(3)), rng.bounded(4) == 0, at(2025, 6, 4 + rng.bounded(2), 9));
            list.insert(list.end(), twins ? 2 : 1, t);
        }
        std::vector<const TaskItem*> items;
        for (const TaskItem& t : list)
            items.push_back(&t);
        const std::vector<TaskItem> whole = TaskItem::sortedForDisplay(list);
        const std::vector<TaskItem> got = TaskItem::firstForDisplay(items, size_t(first));
        QCOMPARE(got,
                 std::vector<TaskItem>(whole.begin(), whole.begin() + qsizetype(std::min(got.size(), whole.size()))));
        QCOMPARE(got.size(), std::min(list.size(), size_t(first)));
    }

    void visibility_data()
    {
        QTest::addColumn<Date>("createdAt");
        QTest::addColumn<bool>("hasDue");
        QTest::addColumn<Date>("due");
        QTest::addColumn<Date>("day");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<bool>("visible");

        const Date created = at(2025, 6, 5, 14);
        const QByteArray ny("America/New_York");
        auto row = [&](const char* name, bool hasDue, Date due, Date day, bool visible, const QByteArray& zone) {
            QTest::newRow(name) << created << hasDue << due << day << zone << visible;
        };
        row("no due date: day before", false, 0, at(2025, 6, 4, 23, 59, 59), false, ny);
        row("no due date: start of creation day", false, 0, at(2025, 6, 5), true, ny);
        row("no due date: end of creation day", false, 0, at(2025, 6, 5, 23, 59, 59), true, ny);
        row("no due date: next day", false, 0, at(2025, 6, 6), false, ny);
        row("due 7th: creation day", true, at(2025, 6, 7, 9), at(2025, 6, 5, 1), true, ny);
        row("due 7th: day between", true, at(2025, 6, 7, 9), at(2025, 6, 6, 12), true, ny);
        row("due 7th: due day after the due time", true, at(2025, 6, 7, 9), at(2025, 6, 7, 23, 30), true, ny);
        row("due 7th: day after", true, at(2025, 6, 7, 9), at(2025, 6, 8), false, ny);
        row("due 7th: day before creation", true, at(2025, 6, 7, 9), at(2025, 6, 4, 12), false, ny);
        row("due 3rd: due day", true, at(2025, 6, 3, 9), at(2025, 6, 3, 12), false, ny);
        row("due 3rd: day between", true, at(2025, 6, 3, 9), at(2025, 6, 4, 12), false, ny);
        row("due 3rd: creation day", true, at(2025, 6, 3, 9), at(2025, 6, 5, 15), false, ny);
        row("due earlier on the creation day", true, at(2025, 6, 5, 8), at(2025, 6, 5, 20), true, ny);

        // The days are those of the calendar passed in: 02:00 UTC is still the 4th in New York.
        const Date lateUtc = Iso8601::parse(QStringLiteral("2025-06-05T02:00:00Z")).value_or(0);
        QTest::newRow("New York day of a UTC instant")
            << lateUtc << false << Date(0) << at(2025, 6, 4, 12) << ny << true;
        QTest::newRow("Berlin day of the same instant")
            << lateUtc << false << Date(0) << at(2025, 6, 5, 12, 0, 0, "Europe/Berlin") << QByteArray("Europe/Berlin")
            << true;
        QTest::newRow("Berlin: not the New York day")
            << lateUtc << false << Date(0) << at(2025, 6, 4, 12, 0, 0, "Europe/Berlin") << QByteArray("Europe/Berlin")
            << false;

        // The 23-hour day of the spring change still counts as one whole day.
        QTest::newRow("across the spring change")
            << at(2025, 3, 8, 20) << true << at(2025, 3, 10, 0, 30) << at(2025, 3, 9, 23, 30) << ny << true;
    }
    void visibility()
    {
        QFETCH(Date, createdAt);
        QFETCH(bool, hasDue);
        QFETCH(Date, due);
        QFETCH(Date, day);
        QFETCH(QByteArray, zone);
        QFETCH(bool, visible);

        TaskItem t = todo(QStringLiteral("Anytime"), Priority::medium, false, createdAt);
        if (hasDue)
            t.dueDate = due;
        QCOMPARE(t.isVisible(day, TestEnvironment::calendar(zone.constData())), visible);
    }

    void displayTime_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("shown");

        QTest::newRow("locale form") << "9:30 AM"
                                     << "9:30 AM";
        QTest::newRow("24-hour form") << "21:30"
                                      << "9:30 PM";
        QTest::newRow("hour only, lower case") << "9pm"
                                               << "9:00 PM";
        QTest::newRow("midnight") << "0:00"
                                  << "12:00 AM";
        QTest::newRow("surrounding blanks") << "  7:05am "
                                            << "7:05 AM";
        QTest::newRow("Anytime stays") << "Anytime"
                                       << "Anytime";
        QTest::newRow("empty stays") << ""
                                     << "";
        QTest::newRow("unreadable stays") << "after lunch"
                                          << "after lunch";
    }
    void displayTime()
    {
        QFETCH(QString, time);
        QFETCH(QString, shown);
        QCOMPARE(plainSpaces(todo(time).displayTime()), shown);
    }

    void stepsProgressText_data()
    {
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        QTest::addColumn<QString>("text"); // null: no text

        QTest::newRow("no steps") << 0 << 0 << QString();
        QTest::newRow("none done") << 0 << 3 << "0 of 3 steps";
        QTest::newRow("one of one keeps the plural") << 1 << 1 << "1 of 1 steps";
        QTest::newRow("some done") << 2 << 5 << "2 of 5 steps";
        QTest::newRow("double digits") << 12 << 12 << "12 of 12 steps";
    }
    void stepsProgressText()
    {
        QFETCH(int, done);
        QFETCH(int, total);
        QFETCH(QString, text);

        TaskItem t = todo(QStringLiteral("Anytime"));
        t.subtasks = steps(done, total);
        // Only the count of done steps matters, not where they are.
        std::reverse(t.subtasks.begin(), t.subtasks.end());
        const std::optional<QString> got = t.stepsProgressText();
        if (text.isNull()) {
            QVERIFY(!got);
            return;
        }
        QVERIFY(got);
        QCOMPARE(*got, text);
    }

    void focusMetaText_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<RepeatOption>("repeat");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        QTest::addColumn<QString>("text"); // null: no text

        QTest::newRow("Anytime, weekly, two steps") << "Anytime" << RepeatOption::weekly << 0 << 2 << "Weekly";
        QTest::newRow("Anytime, no repeat, two open steps")
            << "Anytime" << RepeatOption::none << 0 << 2 << "0 of 2 steps";
        QTest::newRow("Anytime, no repeat, no steps") << "Anytime" << RepeatOption::none << 0 << 0 << QString();
        QTest::newRow("empty time, daily") << "" << RepeatOption::daily << 1 << 3 << "Daily";
        QTest::newRow("empty time, monthly") << "" << RepeatOption::monthly << 0 << 0 << "Monthly";
        QTest::newRow("empty time, no repeat, steps") << "" << RepeatOption::none << 1 << 3 << "1 of 3 steps";
        QTest::newRow("time wins over repeat and steps") << "21:30" << RepeatOption::weekly << 1 << 2 << "9:30 PM";
        QTest::newRow("unreadable time shown as typed")
            << "after lunch" << RepeatOption::none << 0 << 0 << "after lunch";
        QTest::newRow("unreadable time wins over repeat")
            << "after lunch" << RepeatOption::daily << 0 << 2 << "after lunch";
    }
    void focusMetaText()
    {
        QFETCH(QString, time);
        QFETCH(RepeatOption, repeat);
        QFETCH(int, done);
        QFETCH(int, total);
        QFETCH(QString, text);

        TaskItem t = todo(time);
        t.repeatOption = repeat;
        t.subtasks = steps(done, total);
        const std::optional<QString> got = t.focusMetaText();
        if (text.isNull()) {
            QVERIFY(!got);
            return;
        }
        QVERIFY(got);
        QCOMPARE(plainSpaces(*got), text);
    }
};

QTEST_GUILESS_MAIN(TestTodos)
#include "tst_todos.moc"
