#include "StoreFixture.h"
#include "StoreTestSupport.h"
#include "model/TaskRecurrence.h"

#include <QSignalSpy>
#include <QtTest>
#include <climits>

using namespace StoreTest;

namespace {

// The fixture's clock stands on Monday 2026-12-07, 10:00 in New York.
Date dec(int day, int hour = 0, int minute = 0, int second = 0)
{
    return TestEnvironment::at(2026, 12, day, hour, minute, second);
}

bool containsId(const std::vector<TaskItem>& list, const QUuid& id)
{
    return std::any_of(list.begin(), list.end(), [&id](const TaskItem& t) { return t.id == id; });
}

} // namespace

class TestTodoStore : public QObject {
    Q_OBJECT

private slots:
    // ------------------------------------------------------------ queries

    void dayMembership_data()
    {
        QTest::addColumn<int>("createdDay"); // offset from today
        QTest::addColumn<int>("createdHour");
        QTest::addColumn<int>("dueDay"); // INT_MIN: no due date
        QTest::addColumn<bool>("completed");
        QTest::addColumn<bool>("repeating");
        QTest::addColumn<bool>("inToday");
        QTest::addColumn<bool>("inEarlier");

        const int none = INT_MIN;
        QTest::newRow("created today") << 0 << 9 << none << false << false << true << false;
        QTest::newRow("created at midnight today") << 0 << 0 << none << false << false << true << false;
        QTest::newRow("created yesterday") << -1 << 9 << none << false << false << false << true;
        QTest::newRow("created yesterday 23:00") << -1 << 23 << none << false << false << false << true;
        QTest::newRow("created three days ago, due tomorrow") << -3 << 9 << 1 << false << false << true << false;
        QTest::newRow("created last week, due today") << -6 << 9 << 0 << false << false << true << false;
        QTest::newRow("created today, due yesterday") << 0 << 9 << -1 << false << false << false << true;
        QTest::newRow("seven days old") << -7 << 0 << none << false << false << false << true;
        QTest::newRow("eight days old") << -8 << 23 << none << false << false << false << false;
        QTest::newRow("due seven days ago") << -9 << 9 << -7 << false << false << false << true;
        QTest::newRow("created tomorrow") << 1 << 9 << none << false << false << false << false;
        QTest::newRow("completed today") << 0 << 9 << none << true << false << true << false;
        QTest::newRow("completed yesterday") << -1 << 9 << none << true << false << false << false;
        QTest::newRow("repeating, from yesterday") << -1 << 0 << none << false << true << false << false;
        QTest::newRow("repeating, today") << 0 << 0 << none << false << true << true << false;
    }

    void dayMembership()
    {
        QFETCH(int, createdDay);
        QFETCH(int, createdHour);
        QFETCH(int, dueDay);
        QFETCH(bool, completed);
        QFETCH(bool, repeating);
        QFETCH(bool, inToday);
        QFETCH(bool, inEarlier);

        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        const Calendar& cal = f.calendar;
        TaskItem t =
            todo(QStringLiteral("x"), cal.addDays(dec(7, createdHour, createdHour == 23 ? 59 : 0), createdDay));
        if (dueDay != INT_MIN)
            t.dueDate = cal.addDays(dec(7, 16, 30), dueDay);
        t.isCompleted = completed;
        if (repeating) {
            t.repeatOption = RepeatOption::daily;
            t.recurringSeriesId = QUuid::createUuid();
        }
        // Installed as the sync would, so no roll-over or stamping interferes.
        QVERIFY(todos.replaceTodosFromSync({t}));
        f.core->waitForWrites();

        QCOMPARE(containsId(todos.todayTodos(), t.id), inToday);
        QCOMPARE(containsId(todos.openTodos(), t.id), inToday && !completed);
        QCOMPARE(containsId(todos.earlierTodos(), t.id), inEarlier);
        QCOMPARE(containsId(todos.todos(f.clock.now()), t.id), inToday);
    }

    void earlierWindowCountsCalendarDaysAcrossTheClockChange()
    {
        StoreFixture f;
        f.clock.set(TestEnvironment::at(2026, 11, 5, 0, 30)); // the clocks went back on 1 November
        TodoStore& todos = f.makeTodos();
        const TaskItem weekOld = todo(QStringLiteral("week old"), TestEnvironment::at(2026, 10, 29, 0, 10));
        const TaskItem tooOld = todo(QStringLiteral("too old"), TestEnvironment::at(2026, 10, 28, 23, 50));
        QVERIFY(todos.replaceTodosFromSync({weekOld, tooOld}));
        f.core->waitForWrites();
        QCOMPARE(ids(todos.earlierTodos()), QList<QUuid>{weekOld.id});
    }

    void listsAreInDisplayOrder()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        TaskItem doneHigh = todo(QStringLiteral("done high"), dec(7, 1));
        doneHigh.priority = TaskItem::Priority::high;
        doneHigh.isCompleted = true;
        TaskItem low = todo(QStringLiteral("low"), dec(7, 1));
        low.priority = TaskItem::Priority::low;
        TaskItem mediumAnytime = todo(QStringLiteral("medium anytime"), dec(7, 1));
        mediumAnytime.time = TaskItem::anytime;
        TaskItem mediumAtNine = todo(QStringLiteral("medium at nine"), dec(7, 2));
        mediumAtNine.time = QStringLiteral("9:00 AM");
        TaskItem mediumEarlier = todo(QStringLiteral("medium earlier"), dec(7, 0));
        TaskItem high = todo(QStringLiteral("high"), dec(7, 3));
        high.priority = TaskItem::Priority::high;
        QVERIFY(todos.replaceTodosFromSync({doneHigh, low, mediumAnytime, mediumAtNine, mediumEarlier, high}));
        f.core->waitForWrites();

        const QList<QUuid> open{high.id, mediumAtNine.id, mediumEarlier.id, mediumAnytime.id, low.id};
        QCOMPARE(ids(todos.openTodos()), open);
        QCOMPARE(ids(todos.todayTodos()), open + QList<QUuid>{doneHigh.id});
        // The stored order is not touched by the queries.
        QCOMPARE(todos.todos().front().id, doneHigh.id);
    }

    void focusFollowsOpenTodosOfToday()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        TaskItem a = todo(QStringLiteral("A"), dec(7, 1));
        a.priority = TaskItem::Priority::high;
        TaskItem b = todo(QStringLiteral("B"), dec(7, 2));
        TaskItem c = todo(QStringLiteral("C"), dec(7, 3));
        c.priority = TaskItem::Priority::low;
        TaskItem done = todo(QStringLiteral("done"), dec(7, 0));
        done.isCompleted = true;
        QVERIFY(todos.replaceTodosFromSync({c, done, b, a}));
        f.core->waitForWrites();

        QCOMPARE(todos.focusTodo()->id, a.id); // nothing chosen: the first open one
        QVERIFY(!todos.focusTodoID());

        todos.setFocusTodoID(c.id);
        QCOMPARE(todos.focusTodo()->id, c.id);
        todos.advanceFocus(); // after the last one the focus wraps around
        QCOMPARE(todos.focusTodoID(), std::optional<QUuid>(a.id));
        todos.advanceFocus();
        QCOMPARE(todos.focusTodoID(), std::optional<QUuid>(b.id));

        // A focus naming a completed to-do falls back to the first open one and is left as it is.
        todos.setFocusTodoID(done.id);
        QCOMPARE(todos.focusTodo()->id, a.id);
        QCOMPARE(todos.focusTodoID(), std::optional<QUuid>(done.id));
        todos.advanceFocus();
        QCOMPARE(todos.focusTodoID(), std::optional<QUuid>(b.id));

        // Completing the focused to-do does not clear the choice.
        todos.toggleTodo(b.id);
        QCOMPARE(todos.focusTodoID(), std::optional<QUuid>(b.id));
        QCOMPARE(todos.focusTodo()->id, a.id);

        // With a single open to-do there is nowhere to move.
        todos.toggleTodo(c.id);
        todos.advanceFocus();
        QCOMPARE(todos.focusTodoID(), std::optional<QUuid>(b.id));
        todos.toggleTodo(a.id);
        QVERIFY(!todos.focusTodo());
        todos.advanceFocus();
        QCOMPARE(todos.focusTodoID(), std::optional<QUuid>(b.id));
    }

    // ------------------------------------------------------------ operations

    void addTodoInsertsAtTheFrontStampedAndSaved()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        FakeCloudSync& sync = f.attachSync();
        const TaskItem first = todo(QStringLiteral("first"), dec(7, 9));
        todos.addTodo(first);
        TaskItem second = todo(QStringLiteral("second"), dec(7, 9, 30) + 0.25);
        second.updatedAt = 0;
        f.clock.set(dec(7, 10, 15, 3) + 0.7);
        todos.addTodo(second);

        QCOMPARE(ids(todos.todos()), (QList<QUuid>{second.id, first.id}));
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), (QList<QUuid>{second.id, first.id}));
        QCOMPARE(todos.todos().front().updatedAt, dec(7, 10, 15, 3));
        QCOMPARE(todos.todos().front().createdAt, second.createdAt);
        QCOMPARE(todos.todos().front().title, QStringLiteral("second"));
        QVERIFY(!todos.todos().front().recurringSeriesId);
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 2);
    }

    void addingARepeatingTodoStartsASeries()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        TaskItem fresh = todo(QStringLiteral("stretch"), dec(7, 8));
        fresh.repeatOption = RepeatOption::daily;
        TaskItem another = fresh;
        another.id = QUuid::createUuid();
        TaskItem carried = todo(QStringLiteral("from the phone"), dec(7, 8));
        carried.repeatOption = RepeatOption::weekly;
        const QUuid series = QUuid::createUuid();
        carried.recurringSeriesId = series;

        todos.addTodo(fresh);
        todos.addTodo(another);
        todos.addTodo(carried);
        const std::vector<TaskItem> list = todos.todos().toVector();
        QCOMPARE(list[0].recurringSeriesId, std::optional<QUuid>(series));
        QVERIFY(list[1].recurringSeriesId && list[2].recurringSeriesId);
        QVERIFY(!list[1].recurringSeriesId->isNull());
        QVERIFY(*list[1].recurringSeriesId != *list[2].recurringSeriesId);
        QVERIFY(*list[1].recurringSeriesId != series);
        QCOMPARE(todosInFile(f.file(QStringLiteral("todos.json")))[2].recurringSeriesId, list[2].recurringSeriesId);
    }

    void toggleTodoFlipsAndStamps()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        FakeCloudSync& sync = f.attachSync();
        const TaskItem t = todo(QStringLiteral("call"), dec(7, 8));
        QVERIFY(todos.replaceTodosFromSync({t}));
        f.core->waitForWrites();

        f.clock.set(dec(7, 11, 0, 0) + 0.999);
        todos.toggleTodo(t.id);
        QVERIFY(todos.todos().front().isCompleted);
        QCOMPARE(todos.todos().front().updatedAt, dec(7, 11));
        QVERIFY(todosInFile(f.file(QStringLiteral("todos.json"))).front().isCompleted);
        f.clock.advance(5);
        todos.toggleTodo(t.id);
        QVERIFY(!todos.todos().front().isCompleted);
        QCOMPARE(todos.todos().front().updatedAt, dec(7, 11, 0, 5));
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 2);

        // Two changes within one second carry the same stamp.
        f.clock.set(dec(7, 11, 0, 7) + 0.1);
        todos.toggleTodo(t.id);
        f.clock.advance(0.8);
        todos.addTodo(todo(QStringLiteral("other"), dec(7, 8)));
        QCOMPARE(todos.todos().back().updatedAt, dec(7, 11, 0, 7));
        QCOMPARE(todos.todos().front().updatedAt, todos.todos().back().updatedAt);
    }

    void toggleSubtaskFlipsOneStep()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        FakeCloudSync& sync = f.attachSync();
        TaskItem t = todo(QStringLiteral("move"), dec(7, 8));
        t.subtasks = {{QUuid::createUuid(), QStringLiteral("boxes"), false},
                      {QUuid::createUuid(), QStringLiteral("van"), true}};
        t.reminderDate = dec(7, 18);
        QVERIFY(todos.replaceTodosFromSync({t}));
        f.core->waitForWrites();
        const int requestsBefore = f.notifications.authorizationRequests;

        f.clock.advance(42.5);
        todos.toggleSubtask(t.id, t.subtasks[1].id);
        const TaskItem& stored = todos.todos().front();
        QCOMPARE(stored.subtasks[0].isCompleted, false);
        QCOMPARE(stored.subtasks[1].isCompleted, false);
        QCOMPARE(stored.updatedAt, dec(7, 10, 0, 42));
        QCOMPARE(todosInFile(f.file(QStringLiteral("todos.json"))).front().subtasks[1].isCompleted, false);
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 1);
        // The reminder is not re-derived for a step.
        QCOMPARE(f.notifications.authorizationRequests, requestsBefore);
        QVERIFY(f.notifications.pending.contains(Reminders::requestIdentifier(t.id)));
    }

    // A toggle the disk refuses is undone in memory, the file keeps what it held, nothing is
    // pushed, and the same toggle succeeds once the disk takes it; also right after a load, when
    // the file's own text is what the save starts from.
    void refusedToggleIsUndone_data()
    {
        QTest::addColumn<bool>("step");
        QTest::addColumn<bool>("reloaded");
        QTest::newRow("a to-do") << false << false;
        QTest::newRow("a step") << true << false;
        QTest::newRow("a to-do, first change after a load") << false << true;
        QTest::newRow("a step, first change after a load") << true << true;
    }
    void refusedToggleIsUndone()
    {
        QFETCH(bool, step);
        QFETCH(bool, reloaded);
        StoreFixture f;
        TodoStore* todos = &f.makeTodos();
        TaskItem t = todo(QStringLiteral("move"), dec(7, 8));
        t.subtasks = {{QUuid::createUuid(), QStringLiteral("boxes"), false}};
        const TaskItem other = todo(QStringLiteral("other"), dec(7, 9));
        QVERIFY(todos->replaceTodosFromSync({other, t}));
        f.core->waitForWrites();
        if (reloaded)
            todos = &f.makeTodos();
        FakeCloudSync& sync = f.attachSync();
        const std::vector<TaskItem> before = todos->todos().toVector();
        const QByteArray fileBefore = readBytes(f.file(QStringLiteral("todos.json")));
        const auto toggle = [&] {
            return step ? todos->toggleSubtask(t.id, t.subtasks[0].id) : todos->toggleTodo(t.id);
        };

        f.failing = QStringList{QStringLiteral("todos.json")};
        f.clock.advance(60);
        // Shown at once; taken back when the writing thread's refusal comes.
        QSignalSpy takenBack(f.core.get(), &StoreCore::writeTakenBack);
        QVERIFY(toggle());
        f.core->waitForWrites();
        QCOMPARE(takenBack.size(), 1);
        QVERIFY(todos->todos() == before);
        QCOMPARE(readBytes(f.file(QStringLiteral("todos.json"))), fileBefore);
        QCOMPARE(sync.pushes, 0);

        f.failing.clear();
        QVERIFY(toggle());
        f.core->waitForWrites();
        const std::vector<TaskItem> inFile = todosInFile(f.file(QStringLiteral("todos.json")));
        QVERIFY(inFile == todos->todos());
        QCOMPARE(step ? inFile[1].subtasks[0].isCompleted : inFile[1].isCompleted, true);
        QVERIFY(inFile[0] == other);
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 1);
    }

    void unknownIdsAreIgnored()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        FakeCloudSync& sync = f.attachSync();
        TaskItem t = todo(QStringLiteral("known"), dec(5, 8));
        t.subtasks = {{QUuid::createUuid(), QStringLiteral("step"), false}};
        QVERIFY(todos.replaceTodosFromSync({t}));
        f.core->waitForWrites();
        QVERIFY(QFile::remove(f.file(QStringLiteral("todos.json"))));
        const std::vector<TaskItem> before = todos.todos().toVector();
        QSignalSpy changed(&todos, &TodoStore::todosChanged);

        const QUuid stranger = QUuid::createUuid();
        todos.toggleTodo(stranger);
        todos.toggleSubtask(stranger, t.subtasks[0].id);
        todos.toggleSubtask(t.id, stranger);
        todos.moveTodosToToday({stranger});
        TaskItem unknown = todo(QStringLiteral("never added"), dec(7, 9));
        unknown.recurringSeriesId = QUuid::createUuid();
        todos.upsertTodo(unknown);

        QVERIFY(todos.todos() == before);
        QCOMPARE(changed.count(), 0);
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 0);
        QVERIFY(!QFile::exists(f.file(QStringLiteral("todos.json"))));
        QVERIFY(!f.defaults.contains(SeriesPass::stoppedSeriesKey));
    }

    void upsertReplacesInPlace()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        FakeCloudSync& sync = f.attachSync();
        const TaskItem a = todo(QStringLiteral("a"), dec(7, 8));
        const TaskItem b = todo(QStringLiteral("b"), dec(7, 8));
        const TaskItem c = todo(QStringLiteral("c"), dec(7, 8));
        QVERIFY(todos.replaceTodosFromSync({a, b, c}));
        f.core->waitForWrites();

        TaskItem edited = b;
        edited.title = QStringLiteral("b, edited");
        edited.priority = TaskItem::Priority::high;
        edited.recurringSeriesId = QUuid::createUuid(); // a one-off carries no series id
        f.clock.advance(61.3);
        todos.upsertTodo(edited);

        QCOMPARE(ids(todos.todos()), (QList<QUuid>{a.id, b.id, c.id}));
        const TaskItem& stored = todos.todos()[1];
        QCOMPARE(stored.title, QStringLiteral("b, edited"));
        QCOMPARE(stored.priority, TaskItem::Priority::high);
        QVERIFY(!stored.recurringSeriesId);
        QCOMPARE(stored.updatedAt, dec(7, 10, 1, 1));
        QCOMPARE(todosInFile(f.file(QStringLiteral("todos.json")))[1].title, QStringLiteral("b, edited"));
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 1);
        QVERIFY(!f.defaults.contains(SeriesPass::stoppedSeriesKey));
    }

    void upsertKeepsTheSeriesOfARepeatingTodo()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        const QUuid series = QUuid::createUuid();
        const TaskItem today = occurrence(QStringLiteral("run"), series, dec(7));
        QVERIFY(todos.replaceTodosFromSync({today}));
        f.core->waitForWrites();
        TaskItem edited = today;
        edited.repeatOption = RepeatOption::weekly;
        edited.title = QStringLiteral("run far");
        todos.upsertTodo(edited);
        QCOMPARE(todos.todos().front().recurringSeriesId, std::optional<QUuid>(series));
        QCOMPARE(todos.todos().front().repeatOption, RepeatOption::weekly);
        QVERIFY(f.series->recurringSeriesIDs(SeriesPass::stoppedSeriesKey).isEmpty());
    }

    void switchingRepeatOffStopsTheWholeSeries()
    {
        StoreFixture f;
        StorageService& store = f.make();
        f.attachSync();
        const QUuid series = QUuid::createUuid();
        const QUuid other = QUuid::createUuid();
        TaskItem past = occurrence(QStringLiteral("water plants"), series, dec(5));
        past.isCompleted = true;
        const TaskItem yesterday = occurrence(QStringLiteral("water plants"), series, dec(6));
        const TaskItem today = occurrence(QStringLiteral("water plants"), series, dec(7));
        const TaskItem otherToday = occurrence(QStringLiteral("read"), other, dec(7));
        const TaskItem oneOff = todo(QStringLiteral("one-off"), dec(7, 8));
        QVERIFY(store.todos().replaceTodosFromSync({today, otherToday, yesterday, oneOff, past}));
        store.core().waitForWrites();

        TaskItem edited = today;
        edited.repeatOption = RepeatOption::none;
        edited.title = QStringLiteral("water the plants");
        f.clock.advance(0.5);
        store.todos().upsertTodo(edited);

        for (const TaskItem& t : store.todos().todos()) {
            if (t.id == otherToday.id) {
                QCOMPARE(t.recurringSeriesId, std::optional<QUuid>(other));
                QCOMPARE(t.updatedAt, otherToday.updatedAt);
                continue;
            }
            if (t.id == oneOff.id)
                continue;
            QCOMPARE(t.repeatOption, RepeatOption::none);
            QVERIFY(!t.recurringSeriesId);
            QCOMPARE(t.updatedAt, dec(7, 10));
        }
        QCOMPARE(ids(store.todos().todos()), (QList<QUuid>{today.id, otherToday.id, yesterday.id, oneOff.id, past.id}));
        QCOMPARE(store.todos().todos().front().title, QStringLiteral("water the plants"));
        QVERIFY(store.todos().todos().back().isCompleted);
        QCOMPARE(store.series().recurringSeriesIDs(SeriesPass::stoppedSeriesKey), QSet<QUuid>{series});
        QVERIFY(!f.defaults.contains(SeriesPass::deletedSeriesKey));
        for (const TaskItem& t : todosInFile(f.file(QStringLiteral("todos.json"))))
            QVERIFY(t.id == otherToday.id || !t.recurringSeriesId);

        // The next day brings an occurrence of the other series only.
        f.clock.set(dec(8, 7));
        emit f.events.dayChanged();
        QTRY_COMPARE(store.todos().todos().size(), size_t(6));
        QCOMPARE(store.todos().todos().front().recurringSeriesId, std::optional<QUuid>(other));
    }

    void moveTodoToToday_data()
    {
        QTest::addColumn<Date>("now");
        QTest::addColumn<Date>("created");
        QTest::addColumn<Date>("due");      // NaN: none
        QTest::addColumn<Date>("reminder"); // NaN: none
        QTest::addColumn<Date>("movedCreated");
        QTest::addColumn<Date>("movedDue");
        QTest::addColumn<Date>("movedReminder");

        const Date none = qQNaN();
        using TestEnvironment::at;
        QTest::newRow("Monday's to-do due Wednesday, moved on Friday")
            << dec(11, 10) << dec(7, 8) << dec(9, 14, 30) << dec(9, 9) << dec(11) << dec(13, 14, 30) << dec(13, 9);
        QTest::newRow("reminder falls in the past")
            << dec(7, 10) << dec(5, 8) << none << dec(5, 8, 30) << dec(7) << none << none;
        QTest::newRow("reminder later today")
            << dec(7, 10) << dec(5, 8) << none << dec(5, 18) << dec(7) << none << dec(7, 18);
        QTest::newRow("due before it was created")
            << dec(7, 10) << dec(5, 9) << dec(4, 16, 15) << none << dec(7) << dec(7, 16, 15) << none;
        QTest::newRow("due seconds dropped")
            << dec(7, 10) << dec(6, 9) << dec(6, 16, 15, 40) << none << dec(7) << dec(7, 16, 15) << none;
        QTest::newRow("no due date") << dec(7, 10) << dec(3, 22) << none << none << dec(7) << none << none;
        QTest::newRow("across the autumn clock change")
            << at(2026, 11, 3, 10) << at(2026, 10, 30, 8) << at(2026, 10, 31, 14, 30) << at(2026, 10, 31, 13)
            << at(2026, 11, 3) << at(2026, 11, 4, 14, 30) << at(2026, 11, 4, 13);
        QTest::newRow("due time inside the spring gap")
            << at(2026, 3, 8, 10) << at(2026, 3, 6, 8) << at(2026, 3, 6, 2, 30) << none << at(2026, 3, 8)
            << at(2026, 3, 8, 3, 0) << none;
    }

    void moveTodoToToday()
    {
        QFETCH(Date, now);
        QFETCH(Date, created);
        QFETCH(Date, due);
        QFETCH(Date, reminder);
        QFETCH(Date, movedCreated);
        QFETCH(Date, movedDue);
        QFETCH(Date, movedReminder);
        const auto optional = [](Date d) { return qIsNaN(d) ? std::nullopt : std::optional<Date>(d); };

        StoreFixture f;
        f.clock.set(now);
        TodoStore& todos = f.makeTodos();
        FakeCloudSync& sync = f.attachSync();
        TaskItem t = todo(QStringLiteral("left over"), created);
        t.dueDate = optional(due);
        t.reminderDate = optional(reminder);
        const TaskItem first = todo(QStringLiteral("before"), created);
        QVERIFY(todos.replaceTodosFromSync({first, t}));
        f.core->waitForWrites();

        todos.moveTodosToToday({t.id});
        const TaskItem& moved = todos.todos()[1];
        QCOMPARE(moved.id, t.id);
        QCOMPARE(moved.createdAt, movedCreated);
        QCOMPARE(moved.dueDate, optional(movedDue));
        QCOMPARE(moved.reminderDate, optional(movedReminder));
        QCOMPARE(moved.updatedAt, wholeSeconds(now));
        QVERIFY(todosInFile(f.file(QStringLiteral("todos.json")))[1] == moved);
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 1);
        QCOMPARE(f.notifications.pending.contains(Reminders::requestIdentifier(t.id)), moved.reminderDate.has_value());
        QVERIFY(containsId(todos.todayTodos(), t.id));
    }

    // Moving the whole past week is one change, however long it is: a save and a push per to-do
    // held the window for minutes at twenty thousand. Each comes out as moving it alone would.
    void moveSeveralToTodayAtOnce_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("one") << 1;
        QTest::newRow("a few") << 3;
        QTest::newRow("hundreds") << 400;
    }
    void moveSeveralToTodayAtOnce()
    {
        QFETCH(int, count);
        std::vector<TaskItem> left{todo(QStringLiteral("stays"), dec(4, 9))};
        std::vector<QUuid> ids;
        for (int i = 0; i < count; ++i) {
            TaskItem t = todo(QStringLiteral("left %1").arg(i), dec(3 + i % 4, 9));
            if (i % 2)
                t.dueDate = dec(5 + i % 2, 14, 30);
            if (i % 3 == 0)
                t.reminderDate = dec(6, 8 + i % 12);
            left.push_back(t);
            ids.push_back(t.id);
        }
        std::vector<std::vector<TaskItem>> results;
        for (const bool together : {true, false}) {
            StoreFixture f;
            f.clock.set(dec(7, 10));
            TodoStore& todos = f.makeTodos();
            FakeCloudSync& sync = f.attachSync();
            QVERIFY(todos.replaceTodosFromSync(left));
            f.core->waitForWrites();
            if (together) {
                QVERIFY(todos.moveTodosToToday(ids));
                f.core->waitForWrites();
                QCOMPARE(sync.pushes, 1);
            } else {
                for (const QUuid& id : ids)
                    QVERIFY(todos.moveTodosToToday({id}));
            }
            f.core->waitForWrites();
            QVERIFY(todosInFile(f.file(QStringLiteral("todos.json"))) == todos.todos());
            results.push_back(todos.todos().toVector());
        }
        QVERIFY(results[0] == results[1]);
        QCOMPARE(results[0].front().createdAt, dec(4, 9));
        QVERIFY(std::all_of(results[0].begin() + 1, results[0].end(),
                            [](const TaskItem& t) { return t.createdAt == dec(7); }));
    }

    // ------------------------------------------------------------ deleting

    void deleteOneOffTodo()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        // The sync keeps its key sets in its own preferences; the store must write there.
        Defaults syncDefaults(f.folder.filePath(QStringLiteral("sync.json")));
        const QUuid earlier = QUuid::createUuid();
        syncDefaults.setStringArray(pendingTaskDeletesKey, {uuidText(earlier), QStringLiteral("junk")});
        FakeCloudSync sync(syncDefaults);
        f.core->setCloudSync(&sync);
        const TaskItem a = todo(QStringLiteral("a"), dec(7, 8));
        const TaskItem b = todo(QStringLiteral("b"), dec(7, 8));
        const TaskItem c = todo(QStringLiteral("c"), dec(7, 8));
        QVERIFY(todos.replaceTodosFromSync({a, b, c}));
        f.core->waitForWrites();

        todos.deleteTodo(b);
        QCOMPARE(ids(todos.todos()), (QList<QUuid>{a.id, c.id}));
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), (QList<QUuid>{a.id, c.id}));
        const QStringList pending = syncDefaults.stringArray(pendingTaskDeletesKey).value_or(QStringList());
        QCOMPARE(idSet(pending), (QSet<QUuid>{earlier, b.id}));
        QVERIFY(pending.contains(uuidText(b.id)));
        QVERIFY(pending.contains(uuidText(b.id).toUpper()));
        QVERIFY(!f.defaults.contains(pendingTaskDeletesKey));
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 1);
        QVERIFY(!f.defaults.contains(SeriesPass::deletedSeriesKey));
    }

    void deleteASeries()
    {
        StoreFixture f;
        StorageService& store = f.make();
        Defaults syncDefaults(f.folder.filePath(QStringLiteral("sync.json")));
        FakeCloudSync sync(syncDefaults);
        store.core().setCloudSync(&sync);
        const QUuid series = QUuid::createUuid();
        TaskItem past = occurrence(QStringLiteral("gym"), series, dec(5));
        past.isCompleted = true;
        const TaskItem today = occurrence(QStringLiteral("gym"), series, dec(7));
        const TaskItem keep = todo(QStringLiteral("keep"), dec(7, 8));
        QVERIFY(store.todos().replaceTodosFromSync({today, keep, past}));
        store.core().waitForWrites();

        store.todos().deleteTodo(today);
        QCOMPARE(ids(store.todos().todos()), QList<QUuid>{keep.id});
        QCOMPARE(store.series().recurringSeriesIDs(SeriesPass::deletedSeriesKey), QSet<QUuid>{series});
        QVERIFY(!f.defaults.contains(SeriesPass::stoppedSeriesKey));
        store.core().waitForWrites();
        QCOMPARE(sync.idSet(pendingTaskDeletesKey), (QSet<QUuid>{today.id, past.id}));
        store.core().waitForWrites();
        QCOMPARE(sync.pushes, 1);

        // No later day brings the series back.
        f.clock.set(dec(9, 8));
        emit f.events.dayChanged();
        QCoreApplication::processEvents();
        QCOMPARE(ids(store.todos().todos()), QList<QUuid>{keep.id});
    }

    void deleteATodoThatIsNotStored()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        Defaults syncDefaults(f.folder.filePath(QStringLiteral("sync.json")));
        FakeCloudSync sync(syncDefaults);
        f.core->setCloudSync(&sync);
        const TaskItem kept = todo(QStringLiteral("kept"), dec(7, 8));
        QVERIFY(todos.replaceTodosFromSync({kept}));
        f.core->waitForWrites();
        QVERIFY(QFile::remove(f.file(QStringLiteral("todos.json"))));

        TaskItem ghost = todo(QStringLiteral("ghost"), dec(7, 8));
        ghost.recurringSeriesId = QUuid::createUuid();
        todos.deleteTodo(ghost);
        QCOMPARE(ids(todos.todos()), QList<QUuid>{kept.id});
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), QList<QUuid>{kept.id});
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 1);
        QCOMPARE(f.series->recurringSeriesIDs(SeriesPass::deletedSeriesKey), QSet<QUuid>{*ghost.recurringSeriesId});
        QVERIFY(!sync.idSet(pendingTaskDeletesKey).contains(ghost.id));
    }

    void deleteWithoutSyncRecordsNothingForTheCloud()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        const TaskItem a = todo(QStringLiteral("a"), dec(7, 8));
        QVERIFY(todos.replaceTodosFromSync({a}));
        f.core->waitForWrites();
        todos.deleteTodo(a);
        QVERIFY(todos.todos().empty());
        QVERIFY(todosInFile(f.file(QStringLiteral("todos.json"))).empty());
        QVERIFY(!f.defaults.contains(pendingTaskDeletesKey));
    }

    void deleteWhoseWriteFails()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        Defaults syncDefaults(f.folder.filePath(QStringLiteral("sync.json")));
        FakeCloudSync sync(syncDefaults);
        f.core->setCloudSync(&sync);
        const TaskItem a = todo(QStringLiteral("a"), dec(7, 8));
        const TaskItem b = todo(QStringLiteral("b"), dec(7, 8));
        const TaskItem c = todo(QStringLiteral("c"), dec(7, 8));
        QVERIFY(todos.replaceTodosFromSync({a, b, c}));
        f.core->waitForWrites();
        QVERIFY(blockFile(f.file(QStringLiteral("todos.json"))));

        // Taken back to its own place, between the others.
        QVERIFY(todos.deleteTodo(b));
        f.core->waitForWrites();
        QCOMPARE(ids(todos.todos()), (QList<QUuid>{a.id, b.id, c.id}));
        QVERIFY(f.core->lastError());
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 0);
        QVERIFY(sync.idSet(pendingTaskDeletesKey).isEmpty());
    }

    // ------------------------------------------------------------ the sync's list

    void replaceFromSyncTakesTheListAsItIs()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        FakeCloudSync& sync = f.attachSync();
        QVERIFY(blockFile(f.file(QStringLiteral("todos.json"))));
        todos.addTodo(todo(QStringLiteral("local"), dec(7, 8)));
        f.core->waitForWrites();
        QVERIFY(f.core->lastError());
        QVERIFY(unblockFile(f.file(QStringLiteral("todos.json"))));
        sync.pushes = 0;

        TaskItem low = todo(QStringLiteral("low"), dec(7, 9) + 0.5);
        low.priority = TaskItem::Priority::low;
        low.updatedAt = dec(7, 9, 30) + 0.25;
        const TaskItem high = todo(QStringLiteral("high"), dec(7, 7));
        QSignalSpy changed(&todos, &TodoStore::todosChanged);
        QVERIFY(todos.replaceTodosFromSync({low, high}));
        f.core->waitForWrites();

        QCOMPARE(ids(todos.todos()), (QList<QUuid>{low.id, high.id}));
        QCOMPARE(todos.todos().front().updatedAt, low.updatedAt);
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), (QList<QUuid>{low.id, high.id}));
        QCOMPARE(changed.count(), 1);
        f.core->waitForWrites();
        QCOMPARE(sync.pushes, 0);
        QVERIFY(!f.core->lastError());
    }

    void replaceFromSyncReportsAFailedWrite()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        const TaskItem a = todo(QStringLiteral("a"), dec(7, 8));
        QVERIFY(todos.replaceTodosFromSync({a}));
        f.core->waitForWrites();
        QVERIFY(blockFile(f.file(QStringLiteral("todos.json"))));
        QSignalSpy changed(&todos, &TodoStore::todosChanged);

        QSignalSpy failed(f.core.get(), &StoreCore::backgroundWriteFailed);
        // What sync received stays here (its records hold it too) and the failure is reported.
        const TaskItem b = todo(QStringLiteral("b"), dec(7, 8));
        QVERIFY(todos.replaceTodosFromSync({b}));
        f.core->waitForWrites();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(failed.count(), 1);
        QVERIFY(f.core->lastError() && f.core->lastError()->contains(QLatin1String("todos.json")));
        QCOMPARE(ids(todos.todos()), QList<QUuid>{b.id});
        QCOMPARE(changed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTodoStore)
#include "tst_todo_store.moc"
