#include "Screenshots.h"
#include "StoreFixture.h"
#include "router/AppRouter.h"
#include "screens/todos/TaskEditorSheet.h"
#include "screens/todos/TodosView.h"
#include "ui/ChoiceDialog.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QMenu>
#include <QToolButton>

namespace {

Date ny(int y, int mo, int d, int h = 0, int mi = 0)
{
    return TestEnvironment::at(y, mo, d, h, mi);
}

TaskItem todo(const QString& title, Date created, TaskItem::Priority priority, const QString& time = TaskItem::anytime)
{
    TaskItem t;
    t.id = QUuid::createUuid();
    t.title = title;
    t.time = time;
    t.priority = priority;
    t.createdAt = created;
    t.updatedAt = created;
    return t;
}

Subtask step(const QString& title, bool done)
{
    return {QUuid::createUuid(), title, done};
}

struct Page {
    StoreFixture fixture;
    AppRouter router;
    AppContext context;

    Page()
    {
        fixture.make();
        context.storage = fixture.store.get();
        context.router = &router;
        context.clock = &fixture.clock;
        context.calendar = [this] { return fixture.calendar; };
    }
    StorageService& store() { return *fixture.store; }
};

void shootPage(Page& page, const QString& name, int shift = 0, bool expandEarlier = false)
{
    TodosView view(page.context);
    view.shiftDay(shift);
    if (expandEarlier)
        view.setShowEarlier(true);
    Screenshots::save(&view, name, QSize(860, 1100));
}

void shootEditor(Page& page, const std::optional<TaskItem>& todo, const QString& name,
                 const std::function<void(TaskEditorSheet&)>& edit = {})
{
    TaskEditorSheet::Inputs inputs;
    inputs.existingTodo = todo;
    inputs.selectedDate = page.fixture.clock.now();
    inputs.clock = &page.fixture.clock;
    inputs.calendar = page.context.calendar;
    inputs.reminders = &page.store().core().reminders();
    inputs.onSave = [](const TaskItem&) { return std::optional<QString>(); };
    if (todo)
        inputs.onDelete = [](const TaskItem&) {};
    TaskEditorSheet sheet(std::move(inputs));
    if (edit)
        edit(sheet);
    Screenshots::save(&sheet, name, sheet.size());
}

} // namespace

int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    const Date today = ny(2026, 12, 7, 8, 0);

    {
        Page empty;
        shootPage(empty, QStringLiteral("todos-today-empty"));
    }
    {
        Page busy;
        TaskItem report = todo(QStringLiteral("Finish the quarterly report"), today, TaskItem::Priority::high,
                               QStringLiteral("2:00 PM"));
        report.subtasks = {step(QStringLiteral("Collect the numbers"), true),
                           step(QStringLiteral("Draft the summary"), true), step(QStringLiteral("Charts"), false),
                           step(QStringLiteral("Send to Priya"), false)};
        busy.store().todos().addTodo(report);
        busy.store().todos().addTodo(
            todo(QStringLiteral("Call the dentist"), today, TaskItem::Priority::medium, QStringLiteral("11:30 AM")));
        busy.store().todos().addTodo(
            todo(QStringLiteral("Review the pull request from Sam"), today, TaskItem::Priority::low));
        TaskItem plants = todo(QStringLiteral("Water the plants"), today, TaskItem::Priority::medium);
        plants.repeatOption = RepeatOption::daily;
        busy.store().todos().addTodo(plants);
        TaskItem run = todo(QStringLiteral("Morning run"), today, TaskItem::Priority::medium);
        run.isCompleted = true;
        busy.store().todos().addTodo(run);
        busy.store().todos().addTodo(
            todo(QStringLiteral("Renew the library books"), ny(2026, 12, 3), TaskItem::Priority::medium));
        busy.store().todos().addTodo(
            todo(QStringLiteral("Reply to the landlord"), ny(2026, 12, 5), TaskItem::Priority::high));
        shootPage(busy, QStringLiteral("todos-today-busy"));
        shootPage(busy, QStringLiteral("todos-today-busy-earlier-open"), 0, true);

        TodosView view(busy.context);
        view.requestDelete(busy.store().todos().todos().back());
        Screenshots::save(view.deleteQuestion(), QStringLiteral("todos-delete-plain"));
        view.deleteQuestion()->choose(QStringLiteral("Cancel"));
        view.requestDelete(plants);
        Screenshots::save(view.deleteQuestion(), QStringLiteral("todos-delete-repeating"));
    }
    {
        Page done;
        for (const char* title : {"Morning run", "Answer the emails", "Book the train"}) {
            TaskItem t = todo(QString::fromUtf8(title), today, TaskItem::Priority::medium);
            t.isCompleted = true;
            done.store().todos().addTodo(t);
        }
        shootPage(done, QStringLiteral("todos-today-all-done"));
    }
    {
        Page other;
        const Date wednesday = ny(2026, 12, 9);
        other.store().todos().addTodo(
            todo(QStringLiteral("Dinner with Ana"), wednesday, TaskItem::Priority::high, QStringLiteral("7:30 PM")));
        TaskItem paid = todo(QStringLiteral("Pay the electricity bill"), wednesday, TaskItem::Priority::medium);
        paid.isCompleted = true;
        other.store().todos().addTodo(paid);
        shootPage(other, QStringLiteral("todos-another-day"), 2);
        shootPage(other, QStringLiteral("todos-another-day-empty"), 3);
    }
    {
        Page editors;
        shootEditor(editors, std::nullopt, QStringLiteral("editor-new"));

        TaskItem full =
            todo(QStringLiteral("Prepare the workshop"), today, TaskItem::Priority::high, QStringLiteral("3:30 PM"));
        full.dueDate = ny(2026, 12, 10);
        full.reminderDate = ny(2026, 12, 10, 15, 15);
        full.repeatOption = RepeatOption::weekly;
        full.recurringSeriesId = QUuid::createUuid();
        full.subtasks = {step(QStringLiteral("Book the room"), true), step(QStringLiteral("Print the handouts"), false),
                         step(QStringLiteral("Email the attendees"), false)};
        full.notes = QStringLiteral("Bring the spare projector cable; the room's one is unreliable.");
        shootEditor(editors, full, QStringLiteral("editor-due-reminder-steps"));
        shootEditor(editors, full, QStringLiteral("editor-reminder-menu"), [](TaskEditorSheet& sheet) {
            QMenu* menu = sheet.findChild<QToolButton*>(QStringLiteral("reminderMenuButton"))->menu();
            Screenshots::save(menu, QStringLiteral("editor-reminder-menu-open"));
            menu->hide();
            QMenu* repeat = sheet.findChild<QToolButton*>(QStringLiteral("repeatButton"))->menu();
            Screenshots::save(repeat, QStringLiteral("editor-repeat-menu-open"));
            repeat->hide();
        });

        TaskItem due = todo(QStringLiteral("Submit the tax form"), today, TaskItem::Priority::medium);
        due.dueDate = ny(2026, 12, 11);
        shootEditor(editors, due, QStringLiteral("editor-due-only"));

        TaskItem custom = todo(QStringLiteral("Pick up the parcel"), today, TaskItem::Priority::low);
        custom.reminderDate = ny(2026, 12, 7, 18, 0);
        shootEditor(editors, custom, QStringLiteral("editor-reminder-without-due"));

        editors.fixture.notifications.status = NotificationAuthorization::denied;
        shootEditor(editors, custom, QStringLiteral("editor-notifications-off"));
    }
    return Screenshots::exitCode();
}
