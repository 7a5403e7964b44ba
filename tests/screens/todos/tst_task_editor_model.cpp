#include "TestEnvironment.h"
#include "screens/todos/TaskEditorModel.h"

#include <QTest>
#include <functional>

using Edit = std::function<void(TaskEditorModel&)>;
using Check = std::function<void(const TaskItem&)>;
Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(Check)
Q_DECLARE_METATYPE(std::optional<TaskItem>)
Q_DECLARE_METATYPE(ReminderMode)
Q_DECLARE_METATYPE(RepeatOption)

namespace {

Date ny(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return TestEnvironment::at(y, mo, d, h, mi, s);
}

TaskItem stored(const QString& time, std::optional<Date> due, std::optional<Date> reminder = std::nullopt)
{
    TaskItem t;
    t.id = QUuid::createUuid();
    t.title = QStringLiteral("Water the plants");
    t.time = time;
    t.createdAt = ny(2026, 12, 1, 14, 0);
    t.updatedAt = t.createdAt;
    t.dueDate = due;
    t.reminderDate = reminder;
    return t;
}

} // namespace

class TaskEditorModelTest : public QObject {
    Q_OBJECT

    ManualClock clock{ny(2026, 12, 7, 10, 0)}; // a Monday
    Calendar calendar = TestEnvironment::calendar();

    TaskEditorModel editor(std::optional<TaskItem> todo, Date selected)
    {
        return TaskEditorModel(std::move(todo), selected, clock, [this] { return calendar; });
    }

private slots:
    void initialState_data();
    void initialState();
    void inference_data();
    void inference();
    void recompute_data();
    void recompute();
    void saveRules_data();
    void saveRules();
    void changeDetection_data();
    void changeDetection();
    void limits_data();
    void limits();
    void deleteAlert_data();
    void deleteAlert();
    void timeTextsReadBack_data();
    void timeTextsReadBack();
};

void TaskEditorModelTest::initialState_data()
{
    QTest::addColumn<bool>("isNew");
    QTest::addColumn<QString>("time");
    QTest::addColumn<Date>("selected");
    QTest::addColumn<bool>("hasTime");
    QTest::addColumn<Date>("dueTime");
    QTest::addColumn<Date>("reminderDate");

    const Date today = ny(2026, 12, 7, 10, 0), later = ny(2026, 12, 9, 16, 0);
    QTest::newRow("new, today: 23:59") << true << "" << today << false << ny(2026, 12, 7, 23, 59)
                                       << ny(2026, 12, 7, 23, 59);
    QTest::newRow("new, another day: 09:00")
        << true << "" << later << false << ny(2026, 12, 9, 9, 0) << ny(2026, 12, 9, 9, 0);
    QTest::newRow("Anytime") << false << "Anytime" << later << false << ny(2026, 12, 9, 9, 0) << ny(2026, 12, 9, 9, 0);
    QTest::newRow("blanks count as a time")
        << false << "   " << later << true << ny(2026, 12, 9, 9, 0) << ny(2026, 12, 9, 9, 0);
    QTest::newRow("3:30 PM lands on the current day")
        << false << "3:30 PM" << later << true << ny(2026, 12, 7, 15, 30) << ny(2026, 12, 9, 15, 30);
}

void TaskEditorModelTest::initialState()
{
    QFETCH(bool, isNew);
    QFETCH(QString, time);
    QFETCH(Date, selected);
    const TaskEditorModel m = editor(isNew ? std::nullopt : std::optional(stored(time, std::nullopt)), selected);
    QTEST(m.hasTime(), "hasTime");
    QTEST(m.dueTime(), "dueTime");
    QTEST(m.reminderDate(), "reminderDate");
    QVERIFY(!m.reminderMode());
    QCOMPARE(m.customReminderTime(), ny(2026, 12, 7, 9, 0));
}

void TaskEditorModelTest::inference_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<Date>("reminder");
    QTest::addColumn<ReminderMode>("mode");
    QTest::addColumn<QString>("menuLabel");
    QTest::addColumn<Date>("custom");

    const Date nine = ny(2026, 12, 7, 9, 0);
    // Due on 10 December.
    QTest::newRow("2 min after") << "3:30 PM" << ny(2026, 12, 10, 15, 32) << ReminderMode::byDueTime << "At due time"
                                 << nine;
    QTest::newRow("4 min before") << "3:30 PM" << ny(2026, 12, 10, 15, 26) << ReminderMode::byDueTime << "5 min before"
                                  << nine;
    QTest::newRow("66 min before") << "3:30 PM" << ny(2026, 12, 10, 14, 24) << ReminderMode::customTime << "At due time"
                                   << ny(2026, 12, 7, 14, 24);
    QTest::newRow("2.5 min before, at nine")
        << "9:10 AM" << ny(2026, 12, 10, 9, 7, 30) << ReminderMode::byDueDate << "On due date" << nine;
    QTest::newRow("09:45 the day before")
        << "3:30 PM" << ny(2026, 12, 9, 9, 45) << ReminderMode::byDueDate << "1 day before" << nine;
    QTest::newRow("after the due day at nine")
        << "3:30 PM" << ny(2026, 12, 11, 9, 0) << ReminderMode::customTime << "At due time" << nine;
}

void TaskEditorModelTest::inference()
{
    QFETCH(QString, time);
    QFETCH(Date, reminder);
    const TaskEditorModel m = editor(stored(time, ny(2026, 12, 10), reminder), ny(2026, 12, 7, 10, 0));
    QCOMPARE(m.reminderDate(), reminder); // taken exactly, whatever the inference
    QTEST(*m.reminderMode(), "mode");
    QTEST(m.reminderMenuLabel(), "menuLabel");
    QTEST(m.customReminderTime(), "custom");
}

void TaskEditorModelTest::recompute_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<Date>("reminder");

    const auto dueAt = [](QDate day, int h, int m, Edit then) -> Edit {
        return [=](TaskEditorModel& e) {
            e.setDueEnabled(true);
            e.dueDateChanged(TestEnvironment::at(day.year(), day.month(), day.day()));
            e.dueTimeChanged(ny(2026, 12, 7, h, m));
            e.setReminderEnabled(true);
            then(e);
        };
    };
    const auto preset = [](ReminderPreset p) -> Edit { return [p](TaskEditorModel& e) { e.selectReminderPreset(p); }; };
    const auto dayPreset = [](DueDateReminderPreset p) -> Edit {
        return [p](TaskEditorModel& e) { e.selectDueDateReminderPreset(p); };
    };

    QTest::newRow("two days before 1 March 2027")
        << dueAt({2027, 3, 1}, 15, 0, dayPreset(DueDateReminderPreset::twoDaysBefore)) << ny(2027, 2, 27, 9, 0);
    QTest::newRow("two days before 1 March 2028")
        << dueAt({2028, 3, 1}, 15, 0, dayPreset(DueDateReminderPreset::twoDaysBefore)) << ny(2028, 2, 28, 9, 0);
    QTest::newRow("5 min before 00:03") << dueAt({2026, 12, 10}, 0, 3, preset(ReminderPreset::fiveMinBefore))
                                        << ny(2026, 12, 9, 23, 58);
    QTest::newRow("15 min before, due time moved to 11") << dueAt({2026, 12, 10}, 10, 0, [](TaskEditorModel& e) {
        e.selectReminderPreset(ReminderPreset::fifteenMinBefore);
        e.dueTimeChanged(ny(2026, 12, 7, 11, 0));
    }) << ny(2026, 12, 10, 10, 45);
    // America/New_York springs forward at 02:00 on 8 March 2026 and falls back at 02:00 on 1 November.
    QTest::newRow("gap: 02:30 becomes 03:00")
        << dueAt({2026, 3, 8}, 2, 30, preset(ReminderPreset::atDueTime)) << ny(2026, 3, 8, 3, 0);
    QTest::newRow("gap: an hour before is 01:00")
        << dueAt({2026, 3, 8}, 2, 30, preset(ReminderPreset::oneHourBefore)) << ny(2026, 3, 8, 1, 0);
    QTest::newRow("fold: first 01:30, 15 min before")
        << dueAt({2026, 11, 1}, 1, 30, preset(ReminderPreset::fifteenMinBefore)) << ny(2026, 11, 1, 1, 15);
    QTest::newRow("day before the fall day at nine")
        << dueAt({2026, 11, 2}, 15, 0, dayPreset(DueDateReminderPreset::oneDayBefore)) << ny(2026, 11, 1, 9, 0);
    QTest::newRow("reminder on without due date: 09:00 of the day")
        << Edit([](TaskEditorModel& e) { e.setReminderEnabled(true); }) << ny(2026, 12, 9, 9, 0);
    QTest::newRow("due removed: custom time on the day shown") << dueAt({2026, 12, 12}, 15, 0, [](TaskEditorModel& e) {
        e.customReminderTimeChanged(ny(2026, 12, 7, 18, 20));
        e.setDueEnabled(false);
    }) << ny(2026, 12, 9, 18, 20);
    QTest::newRow("switched off and on: default again") << dueAt({2026, 12, 12}, 15, 0, [](TaskEditorModel& e) {
        e.selectDueDateReminderPreset(DueDateReminderPreset::twoDaysBefore);
        e.setReminderEnabled(false);
        e.setReminderEnabled(true);
    }) << ny(2026, 12, 12, 15, 0);
}

void TaskEditorModelTest::recompute()
{
    QFETCH(Edit, edit);
    TaskEditorModel m = editor(std::nullopt, ny(2026, 12, 9, 16, 0));
    edit(m);
    QTEST(m.reminderDate(), "reminder");
}

void TaskEditorModelTest::saveRules_data()
{
    QTest::addColumn<std::optional<TaskItem>>("todo");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<Check>("check");

    const auto nothing = Edit([](TaskEditorModel&) {});
    const auto title = [](TaskEditorModel& e) { e.setTitle(QStringLiteral("  Call the plumber  ")); };

    QTest::newRow("new, plain") << std::optional<TaskItem>() << Edit(title) << Check([=](const TaskItem& t) {
        QCOMPARE(t.createdAt, ny(2026, 12, 9));
        QCOMPARE(t.updatedAt, t.createdAt);
        QCOMPARE(t.title, QStringLiteral("Call the plumber"));
        QCOMPARE(t.time, QStringLiteral("Anytime"));
        QVERIFY(!t.dueDate && !t.reminderDate && !t.recurringSeriesId && !t.notes && !t.isCompleted && !t.id.isNull());
    });
    QTest::newRow("new, due before the day shown") << std::optional<TaskItem>() << Edit([](TaskEditorModel& e) {
        e.setDueEnabled(true);
        e.dueDateChanged(ny(2026, 12, 5, 16, 0));
    }) << Check([](const TaskItem& t) { QCOMPARE(t.createdAt, ny(2026, 12, 5)); });

    TaskItem tenth = stored(QStringLiteral("Anytime"), ny(2026, 3, 10, 14, 0));
    tenth.createdAt = ny(2026, 3, 10, 14, 0);
    QTest::newRow("due moved before creation")
        << std::optional(tenth) << Edit([](TaskEditorModel& e) { e.dueDateChanged(ny(2026, 3, 8, 14, 0)); })
        << Check([](const TaskItem& t) { QCOMPARE(t.createdAt, ny(2026, 3, 8)); });
    QTest::newRow("due removed: no time")
        << std::optional(stored(QStringLiteral("3:30 PM"), ny(2026, 12, 10)))
        << Edit([](TaskEditorModel& e) { e.setDueEnabled(false); })
        << Check([](const TaskItem& t) { QCOMPARE(t.time, QStringLiteral("Anytime")); });
    QTest::newRow("time without due date survives")
        << std::optional(stored(QStringLiteral("3:30 PM"), std::nullopt)) << nothing
        << Check([](const TaskItem& t) { QCOMPARE(t.time, QStringLiteral("3:30 PM")); });
    QTest::newRow("unreadable time survives")
        << std::optional(stored(QStringLiteral("after lunch"), ny(2026, 12, 10)))
        << Edit([](TaskEditorModel& e) { e.setTitle(QStringLiteral("Renamed")); })
        << Check([](const TaskItem& t) { QCOMPARE(t.time, QStringLiteral("after lunch")); });
    QTest::newRow("unreadable time, date changed: picker's time")
        << std::optional(stored(QStringLiteral("after lunch"), ny(2026, 12, 10)))
        << Edit([](TaskEditorModel& e) { e.dueDateChanged(ny(2026, 12, 11)); })
        << Check([](const TaskItem& t) { QCOMPARE(t.time, QStringLiteral("9:00 AM")); });
    QTest::newRow("daily on the spring-forward day") << std::optional<TaskItem>() << Edit([](TaskEditorModel& e) {
        e.setDueEnabled(true);
        e.dueDateChanged(ny(2026, 3, 8));
        e.dueTimeChanged(ny(2026, 12, 7, 2, 30));
        e.selectRepeatOption(RepeatOption::daily);
    }) << Check([](const TaskItem& t) {
        QCOMPARE(t.time, QStringLiteral("3:00 AM"));
        QCOMPARE(*t.dueDate, ny(2026, 3, 8));
        QCOMPARE(t.createdAt, ny(2026, 3, 8));
        QVERIFY(t.recurringSeriesId && !t.recurringSeriesId->isNull());
    });

    TaskItem series = stored(QStringLiteral("Anytime"), std::nullopt);
    series.repeatOption = RepeatOption::weekly;
    series.recurringSeriesId = QUuid::createUuid();
    series.isCompleted = true;
    QTest::newRow("series kept, completion kept")
        << std::optional(series) << nothing << Check([id = *series.recurringSeriesId](const TaskItem& t) {
               QCOMPARE(t.recurringSeriesId, std::optional(id));
               QVERIFY(t.isCompleted);
           });
    QTest::newRow("repeat switched off") << std::optional(series)
                                         << Edit([](TaskEditorModel& e) { e.selectRepeatOption(RepeatOption::none); })
                                         << Check([](const TaskItem& t) { QVERIFY(!t.recurringSeriesId); });
    QTest::newRow("steps and description") << std::optional<TaskItem>() << Edit([](TaskEditorModel& e) {
        for (const char* step : {"  ", " kept with blanks ", "third"}) {
            e.setNewStep(QString::fromUtf8(step) + QStringLiteral("x"));
            e.addStep();
        }
        e.setStepTitle(QStringLiteral("   "), 0);
        e.setStepTitle(QStringLiteral(" kept with blanks "), 1);
        e.setNewStep(QStringLiteral("  typed, not added  "));
        e.setNotes(QStringLiteral("  "));
    }) << Check([](const TaskItem& t) {
        QCOMPARE(t.subtasks.size(), size_t(3));
        QCOMPARE(t.subtasks[0].title, QStringLiteral(" kept with blanks "));
        QCOMPARE(t.subtasks[2].title, QStringLiteral("typed, not added"));
        QVERIFY(!t.subtasks[2].isCompleted);
        QCOMPARE(t.notes, std::optional(QStringLiteral("  ")));
    });
}

void TaskEditorModelTest::saveRules()
{
    QFETCH(std::optional<TaskItem>, todo);
    QFETCH(Edit, edit);
    QFETCH(Check, check);
    TaskEditorModel m = editor(todo, ny(2026, 12, 9, 16, 0));
    edit(m);
    check(m.save());
}

void TaskEditorModelTest::changeDetection_data()
{
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<bool>("changed");

    QTest::newRow("nothing") << Edit([](TaskEditorModel&) {}) << false;
    QTest::newRow("step typed, not added")
        << Edit([](TaskEditorModel& e) { e.setNewStep(QStringLiteral("a")); }) << true;
    QTest::newRow("description edited and restored") << Edit([](TaskEditorModel& e) {
        e.setNotes(QStringLiteral("other"));
        e.setNotes(QStringLiteral("notes"));
    }) << false;
    QTest::newRow("step removed and added again") << Edit([](TaskEditorModel& e) {
        e.removeStep(1);
        e.setNewStep(QStringLiteral("b"));
        e.addStep();
    }) << false;
    QTest::newRow("removing a step that is gone") << Edit([](TaskEditorModel& e) {
        e.removeStep(2);
        e.removeStep(-1);
    }) << false;
    // Joined into one text, both step lists would read "abfalse|bfalse": compare them as parts.
    QTest::newRow("same joined text, other steps") << Edit([](TaskEditorModel& e) {
        e.removeStep(1);
        e.setStepTitle(QStringLiteral("abfalse|b"), 0);
    }) << true;
    QTest::newRow("another preset, same moment") << Edit([](TaskEditorModel& e) {
        e.setDueEnabled(true);
        e.dueTimeChanged(ny(2026, 12, 7, 9, 0));
        e.setReminderEnabled(true);
        e.selectReminderPreset(ReminderPreset::atDueTime);
        e.markShown();
        e.selectDueDateReminderPreset(DueDateReminderPreset::onDueDate);
    }) << false;
}

void TaskEditorModelTest::changeDetection()
{
    QFETCH(Edit, edit);
    TaskItem todo = stored(QStringLiteral("Anytime"), std::nullopt);
    todo.notes = QStringLiteral("notes");
    todo.subtasks = {{QUuid::createUuid(), QStringLiteral("ab"), false},
                     {QUuid::createUuid(), QStringLiteral("b"), false}};
    TaskEditorModel m = editor(todo, ny(2026, 12, 9, 16, 0));
    QVERIFY(!m.hasChanges()); // not yet shown: cancel never asks
    m.markShown();
    edit(m);
    QTEST(m.hasChanges(), "changed");

    TaskEditorModel fresh = editor(std::nullopt, ny(2026, 12, 9, 16, 0));
    fresh.markShown();
    fresh.setDueEnabled(true);
    fresh.setDueEnabled(false);
    QVERIFY(fresh.hasChanges()); // switching the due date on leaves a time behind
}

void TaskEditorModelTest::limits_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("kept");

    const QString family = QStringLiteral("👨‍👩‍👧");
    const QString flag = QStringLiteral("🇫🇷");
    const QString a149 = QString(149, u'a'), a150 = QString(150, u'a');
    QTest::newRow("title: emoji as the 150th") << 0 << a149 + family + QStringLiteral("zz") << a149 + family;
    QTest::newRow("title: emoji past the limit") << 0 << a150 + family << a150;
    QTest::newRow("step: flag as the 100th") << 1 << QString(99, u'b') + flag + flag << QString(99, u'b') + flag;
    QTest::newRow("step: combining mark stays")
        << 1 << QString(99, u'c') + QStringLiteral("e\u0301") << QString(99, u'c') + QStringLiteral("e\u0301");
    QTest::newRow("new step: 150 pasted") << 2 << QString(150, u'n') << QString(100, u'n');
    QTest::newRow("description: surrogate pair at the end")
        << 3 << QString(399, u'd') + QStringLiteral("😀😀") << QString(399, u'd') + QStringLiteral("😀");
}

void TaskEditorModelTest::limits()
{
    QFETCH(int, field);
    QFETCH(QString, input);
    TaskItem todo = stored(QStringLiteral("Anytime"), std::nullopt);
    todo.subtasks = {{QUuid::createUuid(), QStringLiteral("s"), false}};
    TaskEditorModel m = editor(todo, ny(2026, 12, 9));
    const std::function<QString()> fields[] = {
        [&] { return m.setTitle(input), m.title(); },
        [&] { return m.setStepTitle(input, 0), m.stepTitle(0); },
        [&] { return m.setNewStep(input), m.newStep(); },
        [&] { return m.setNotes(input), m.notes(); },
    };
    QTEST(fields[field](), "kept");
}

void TaskEditorModelTest::deleteAlert_data()
{
    QTest::addColumn<RepeatOption>("repeat");
    QTest::addColumn<bool>("inSeries");
    QTest::addColumn<QString>("button");

    QTest::newRow("plain") << RepeatOption::none << false << "Delete";
    QTest::newRow("monthly, no series yet") << RepeatOption::monthly << false << "Delete All";
    // Repeat switched off earlier but still in its series: the store deletes the whole series.
    QTest::newRow("stopped copy of a series") << RepeatOption::none << true << "Delete All";
}

void TaskEditorModelTest::deleteAlert()
{
    QFETCH(RepeatOption, repeat);
    QFETCH(bool, inSeries);
    TaskItem todo = stored(QStringLiteral("Anytime"), std::nullopt);
    todo.repeatOption = repeat;
    if (inSeries)
        todo.recurringSeriesId = QUuid::createUuid();
    TaskEditorModel m = editor(todo, ny(2026, 12, 9));
    m.selectRepeatOption(RepeatOption::none); // the alert follows the stored record
    QTEST(m.deleteButtonTitle(), "button");
}

void TaskEditorModelTest::timeTextsReadBack_data()
{
    QTest::addColumn<QString>("locale");
    for (const char* name : {"C", "de_DE", "ar_EG", "fi_FI", "ko_KR"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TaskEditorModelTest::timeTextsReadBack()
{
    QFETCH(QString, locale);
    const QLocale before;
    QLocale::setDefault(QLocale(locale));
    for (const auto& [h, m] : {std::pair{0, 0}, {0, 3}, {9, 5}, {12, 30}, {15, 30}, {23, 59}}) {
        const QString text = TaskEditorModel::formatTime(h, m);
        const std::optional<QTime> read = TaskItem::parseTime(text);
        QVERIFY2(read && *read == QTime(h, m), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral(":00:")) && text.count(u':') <= 1, qPrintable(text));
    }
    QLocale::setDefault(before);
}

QTEST_GUILESS_MAIN(TaskEditorModelTest)
#include "tst_task_editor_model.moc"
