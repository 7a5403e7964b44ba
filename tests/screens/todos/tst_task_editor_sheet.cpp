#include "AccessibleNames.h"
#include "StoreFixture.h"
#include "screens/todos/TaskEditorSheet.h"
#include "ui/ChoiceDialog.h"
#include "ui/ReturnKey.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>

using Act = std::function<void(TaskEditorSheet&)>;
Q_DECLARE_METATYPE(Act)
Q_DECLARE_METATYPE(NotificationAuthorization)

class TaskEditorSheetTest : public QObject {
    Q_OBJECT

    StoreFixture f;
    std::vector<TaskItem> saved, deleted;
    QString refusal; // what the store answers to a save; empty: it keeps the to-do

    std::unique_ptr<TaskEditorSheet> open(std::optional<TaskItem> todo, std::function<bool()> settings = {})
    {
        TaskEditorSheet::Inputs in;
        in.openNotificationSettings = std::move(settings);
        in.existingTodo = std::move(todo);
        in.selectedDate = f.clock.now();
        in.clock = &f.clock;
        in.calendar = [this] { return f.calendar; };
        in.reminders = &f.store->core().reminders();
        in.onSave = [this](const TaskItem& t) -> std::optional<QString> {
            if (!refusal.isEmpty())
                return refusal;
            saved.push_back(t);
            return std::nullopt;
        };
        in.onDelete = [this](const TaskItem& t) { deleted.push_back(t); };
        auto sheet = std::make_unique<TaskEditorSheet>(std::move(in));
        sheet->show();
        sheet->activateWindow();
        if (!QTest::qWaitForWindowActive(sheet.get()))
            qWarning("the sheet did not become active");
        return sheet;
    }
    static TaskItem existing()
    {
        TaskItem t;
        t.id = QUuid::createUuid();
        t.title = QStringLiteral("Buy milk");
        t.time = TaskItem::anytime;
        t.createdAt = t.updatedAt = TestEnvironment::at(2026, 12, 7);
        return t;
    }

private slots:
    void initTestCase()
    {
        f.make();
        ReturnKey::install(*qApp);
    }
    void init()
    {
        saved.clear();
        deleted.clear();
        refusal.clear();
        f.notifications.status = NotificationAuthorization::authorized;
        f.notifications.authorizationRequests = 0;
    }

    void questions_data();
    void questions();
    void reminderSwitchAsksOnce_data();
    void reminderSwitchAsksOnce();
    void turnOnLeadsSomewhere_data();
    void turnOnLeadsSomewhere();
    void emptyTitleCannotBeSaved();
    void repeatButtonSaysWhatItSets();
    void keyboardStaysInTheRow_data();
    void keyboardStaysInTheRow();
    void keyboard_data();
    void keyboard();
    void refusedSaveKeepsTheSheetOpen();
    void everyControlIsNamed_data();
    void everyControlIsNamed();
    void reminderOnAnotherDayShowsItsDay();
};

void TaskEditorSheetTest::reminderOnAnotherDayShowsItsDay()
{
    // Without a due date the reminder row shows a clock time; a reminder two days back says so.
    TaskItem todo = existing();
    todo.reminderDate = TestEnvironment::at(2026, 12, 5, 18, 0);
    auto sheet = open(todo);
    auto* day = sheet->findChild<QLabel*>("reminderDayText");
    QVERIFY(day->isVisible());
    QCOMPARE(day->text(), QStringLiteral("on Saturday, December 5"));
    // A time chosen now is for the day the editor was opened for: the day goes away.
    auto* picker = sheet->findChild<QTimeEdit*>("remindAtEdit");
    picker->setTime(QTime(19, 0));
    QVERIFY(!day->isVisible());
    QVERIFY(sheet->model().reminderDate() > f.clock.now());
}

void TaskEditorSheetTest::questions_data()
{
    QTest::addColumn<Act>("act");
    QTest::addColumn<QStringList>("buttons"); // empty: no question, the sheet closed
    QTest::addColumn<QString>("choice");      // a button's text, or "Return:" and the button with the keyboard
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("deletes");

    const Act edit = [](TaskEditorSheet& s) {
        QTest::keyClicks(s.findChild<QLineEdit*>("newStepField"), QStringLiteral("Call back"));
    };
    const Act escape = [](TaskEditorSheet& s) { QTest::keyClick(&s, Qt::Key_Escape); };
    QTest::newRow("escape, no edits") << escape << QStringList() << "" << false << 0;
    QTest::newRow("escape after an edit, keep editing")
        << Act([=](TaskEditorSheet& s) { edit(s), escape(s); }) << QStringList{"Discard Changes", "Keep Editing"}
        << "Keep Editing" << true << 0;
    QTest::newRow("cancel after an edit, discard")
        << Act([=](TaskEditorSheet& s) { edit(s), s.cancel(); }) << QStringList{"Discard Changes", "Keep Editing"}
        << "Discard Changes" << false << 0;
    QTest::newRow("delete, keep") << Act(&TaskEditorSheet::requestDelete) << QStringList{"Delete", "Keep To-do"}
                                  << "Keep To-do" << true << 0;
    QTest::newRow("delete the record as handed in") << Act([](TaskEditorSheet& s) {
        s.model().setTitle(QStringLiteral("Edited"));
        s.requestDelete();
    }) << QStringList{"Delete", "Keep To-do"} << "Delete"
                                                    << false << 1;
    // Return presses the button with the keyboard, never the safe default in its place.
    QTest::newRow("delete, Return on Delete")
        << Act(&TaskEditorSheet::requestDelete) << QStringList{"Delete", "Keep To-do"} << "Return:Delete" << false << 1;
    QTest::newRow("cancel after an edit, Return on Discard Changes")
        << Act([=](TaskEditorSheet& s) { edit(s), s.cancel(); }) << QStringList{"Discard Changes", "Keep Editing"}
        << "Return:Discard Changes" << false << 0;
    QTest::newRow("delete, Return on the default")
        << Act(&TaskEditorSheet::requestDelete) << QStringList{"Delete", "Keep To-do"} << "Return:" << true << 0;
}

void TaskEditorSheetTest::questions()
{
    QFETCH(Act, act);
    QFETCH(QStringList, buttons);
    QFETCH(QString, choice);
    auto sheet = open(existing());
    act(*sheet);
    if (buttons.isEmpty()) {
        QVERIFY(!sheet->openQuestion());
    } else {
        QVERIFY(sheet->openQuestion());
        ChoiceDialog* question = sheet->openQuestion();
        QCOMPARE(question->buttonTexts(), buttons);
        if (choice.startsWith(QLatin1String("Return:"))) {
            for (QAbstractButton* b : question->findChildren<QAbstractButton*>())
                if (b->text() == choice.mid(7))
                    b->setFocus(Qt::TabFocusReason);
            QTest::keyClick(question->focusWidget(), Qt::Key_Return);
        } else {
            QVERIFY(question->choose(choice));
        }
    }
    QTEST(sheet->isVisible(), "open");
    QTEST(int(deleted.size()), "deletes");
    if (!deleted.empty())
        QCOMPARE(deleted.front().title, QStringLiteral("Buy milk"));
    QVERIFY(saved.empty());
}

void TaskEditorSheetTest::everyControlIsNamed_data()
{
    QTest::addColumn<bool>("isNew");
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("new, two steps alike") << true << QStringList{"Call", "Call"};
    QTest::newRow("existing, an untitled step among others") << false << QStringList{"Call", "", "Write"};
}

void TaskEditorSheetTest::everyControlIsNamed()
{
    // Each step's field, check and removal are told apart by a screen reader, and the keyboard
    // starts on the title, then goes down the steps in the order they show.
    QFETCH(bool, isNew);
    QFETCH(QStringList, steps);
    TaskItem todo = existing();
    for (const QString& title : steps) {
        Subtask step;
        step.id = QUuid::createUuid();
        step.title = title;
        todo.subtasks.push_back(step);
    }
    auto sheet = isNew ? open(std::nullopt) : open(todo);
    if (isNew)
        for (const QString& title : steps) {
            QTest::keyClicks(sheet->findChild<QLineEdit*>("newStepField"), title.isEmpty() ? " " : title);
            QTest::keyClick(sheet->findChild<QLineEdit*>("newStepField"), Qt::Key_Return);
        }
    QCoreApplication::processEvents();
    QCOMPARE(sheet->findChildren<QLineEdit*>(QStringLiteral("stepTitle")).size(), steps.size());
    const QStringList problems = AccessibleNames::problems(sheet.get());
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    if (!isNew)
        QCOMPARE(QApplication::focusWidget(), sheet->findChild<QLineEdit*>("titleField"));
    // From the last step's removal, Tab reaches "Add a step", and Shift+Tab from there the steps.
    QWidget* remove = sheet->findChildren<QToolButton*>(QStringLiteral("removeStepButton")).constLast();
    remove->setFocus(Qt::TabFocusReason);
    QTest::keyClick(remove, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), sheet->findChild<QLineEdit*>("newStepField"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), remove);
}

void TaskEditorSheetTest::reminderSwitchAsksOnce_data()
{
    QTest::addColumn<NotificationAuthorization>("status");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("notice");
    QTest::newRow("never asked") << NotificationAuthorization::notDetermined << 1 << false;
    QTest::newRow("denied") << NotificationAuthorization::denied << 0 << true;
    QTest::newRow("allowed") << NotificationAuthorization::authorized << 0 << false;
}

void TaskEditorSheetTest::reminderSwitchAsksOnce()
{
    QFETCH(NotificationAuthorization, status);
    f.notifications.status = status;
    auto sheet = open(std::nullopt);
    auto* notice = sheet->findChild<QWidget*>("notificationsNotice");
    QVERIFY(!notice->isVisible()); // no reminder, no notice
    sheet->findChild<QPushButton*>("addReminderButton")->click();
    QTEST(f.notifications.authorizationRequests, "requests");
    QTEST(notice->isVisible(), "notice");
    QVERIFY(sheet->model().reminderEnabled()); // a refusal does not switch the reminder off
    sheet->findChild<QToolButton*>("removeReminderButton")->click();
    QVERIFY(!notice->isVisible());
}

// "Turn on" shows only where the desktop has settings to open, and goes once they cannot start.
void TaskEditorSheetTest::turnOnLeadsSomewhere_data()
{
    QTest::addColumn<int>("settings"); // 0: none known, 1: they open, 2: their program does not start
    QTest::addColumn<bool>("offered");
    QTest::addColumn<bool>("offeredAfterPress");
    QTest::newRow("no settings known") << 0 << false << false;
    QTest::newRow("settings open") << 1 << true << true;
    QTest::newRow("settings fail to start") << 2 << true << false;
}

void TaskEditorSheetTest::turnOnLeadsSomewhere()
{
    QFETCH(int, settings);
    f.notifications.status = NotificationAuthorization::denied;
    int opened = 0;
    std::function<bool()> opener;
    if (settings > 0)
        opener = [&opened, settings] {
            ++opened;
            return settings == 1;
        };
    auto sheet = open(std::nullopt, opener);
    sheet->findChild<QPushButton*>("addReminderButton")->click();
    QVERIFY(sheet->findChild<QWidget*>("notificationsNotice")->isVisible());
    auto* turnOn = sheet->findChild<QAbstractButton*>("turnOnButton");
    QTEST(turnOn && turnOn->isVisible(), "offered");
    if (!turnOn)
        return;
    turnOn->click();
    QCOMPARE(opened, 1);
    QTEST(turnOn->isVisible(), "offeredAfterPress");
}

void TaskEditorSheetTest::emptyTitleCannotBeSaved()
{
    auto sheet = open(std::nullopt);
    QTest::keyClicks(sheet->findChild<QLineEdit*>("titleField"), QStringLiteral("   "));
    auto* save = sheet->findChild<QAbstractButton*>("saveButton");
    QVERIFY(!save->isEnabled());
    // Its label is the word alone; the keys beside it are drawn small, not part of it.
    QCOMPARE(save->text(), QStringLiteral("Add"));
    QCOMPARE(save->accessibleName(), QStringLiteral("Add"));
    QTest::keyClick(sheet.get(), Qt::Key_Return, Qt::ControlModifier);
    QVERIFY(saved.empty() && sheet->isVisible());
    QTest::keyClicks(sheet->findChild<QLineEdit*>("titleField"), QStringLiteral("Tea"));
    QTest::keyClick(sheet.get(), Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(saved.size(), size_t(1));
    QCOMPARE(saved.front().title, QStringLiteral("Tea"));
    QVERIFY(!sheet->isVisible());
}

void TaskEditorSheetTest::repeatButtonSaysWhatItSets()
{
    auto sheet = open(std::nullopt);
    auto* repeat = sheet->findChild<QToolButton*>("repeatButton");
    QCOMPARE(repeat->accessibleName(), QStringLiteral("Repeat: Never"));
    QAction* last = repeat->menu()->actions().constLast();
    last->trigger();
    QVERIFY(repeat->text() != QStringLiteral("Never"));
    QCOMPARE(repeat->accessibleName(), QStringLiteral("Repeat: ") + repeat->text());
}

void TaskEditorSheetTest::keyboardStaysInTheRow_data()
{
    QTest::addColumn<QStringList>("pressed"); // buttons pressed in turn
    QTest::addColumn<QString>("focused");     // what has the keyboard then
    QTest::newRow("add a due date") << QStringList{"addDueButton"} << "dueDateEdit";
    QTest::newRow("remove the due date") << QStringList{"addDueButton", "removeDueButton"} << "addDueButton";
    QTest::newRow("add a reminder, no due date") << QStringList{"addReminderButton"} << "remindAtEdit";
    QTest::newRow("add a reminder to a due date")
        << QStringList{"addDueButton", "addReminderButton"} << "reminderMenuButton";
    QTest::newRow("remove the reminder") << QStringList{"addReminderButton", "removeReminderButton"}
                                         << "addReminderButton";
}

void TaskEditorSheetTest::keyboardStaysInTheRow()
{
    // A button that gives way to the fields it adds (or takes away) hands them the keyboard.
    QFETCH(QStringList, pressed);
    auto sheet = open(std::nullopt);
    for (const QString& name : pressed) {
        auto* button = sheet->findChild<QAbstractButton*>(name);
        QVERIFY2(button && button->isVisible(), qPrintable(name));
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Space);
    }
    QVERIFY(QApplication::focusWidget());
    QTEST(QApplication::focusWidget()->objectName(), "focused");
}

// The keyboard never adds to a description or answers a question unasked: Tab leaves the field,
// and Return, Space and Escape on "Discard your changes?" all keep editing.
void TaskEditorSheetTest::keyboard_data()
{
    QTest::addColumn<int>("key"); // pressed on the discard question; 0: Tab in the description
    QTest::newRow("Tab leaves the description") << 0;
    QTest::newRow("Return on the question") << int(Qt::Key_Return);
    QTest::newRow("Space on the question") << int(Qt::Key_Space);
    QTest::newRow("Escape on the question") << int(Qt::Key_Escape);
}

void TaskEditorSheetTest::keyboard()
{
    QFETCH(int, key);
    auto sheet = open(existing());
    auto* notes = sheet->findChild<QPlainTextEdit*>("descriptionField");
    notes->setFocus();
    QTest::keyClicks(notes, QStringLiteral("Ask"));
    if (!key) {
        QTest::keyClick(notes, Qt::Key_Tab);
        QVERIFY(sheet->focusWidget() != notes);
    } else {
        QTest::keyClick(sheet.get(), Qt::Key_Escape);
        QVERIFY(sheet->openQuestion());
        QTest::keyClick(sheet->openQuestion()->focusWidget(), Qt::Key(key));
        QVERIFY(!sheet->openQuestion() && sheet->isVisible());
    }
    QTest::keyClick(sheet.get(), Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(saved.size(), size_t(1));
    QCOMPARE(saved.front().notes, QStringLiteral("Ask"));
}

// A to-do the store did not keep is not lost with the sheet: it stays open with what was typed,
// says why, and saves once the store takes it.
void TaskEditorSheetTest::refusedSaveKeepsTheSheetOpen()
{
    refusal = QStringLiteral("“todos.json” could not be saved: No space left on device");
    auto sheet = open(std::nullopt);
    QTest::keyClicks(sheet->findChild<QLineEdit*>("titleField"), QStringLiteral("Call the bank"));
    sheet->save();
    QVERIFY(sheet->isVisible());
    QVERIFY(saved.empty());
    QVERIFY(sheet->openQuestion());
    QVERIFY(sheet->openQuestion()->findChildren<QLabel*>().size() > 0);
    bool says = false;
    for (const QLabel* label : sheet->openQuestion()->findChildren<QLabel*>())
        says = says || label->text() == refusal;
    QVERIFY(says);
    QVERIFY(sheet->openQuestion()->choose(QStringLiteral("OK")));
    QTRY_VERIFY(!sheet->openQuestion());

    refusal.clear();
    sheet->save();
    QCOMPARE(saved.size(), size_t(1));
    QCOMPARE(saved.front().title, QStringLiteral("Call the bank"));
    QVERIFY(!sheet->isVisible());
}

QTEST_MAIN(TaskEditorSheetTest)
#include "tst_task_editor_sheet.moc"
