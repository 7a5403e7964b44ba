#include "StoreFixture.h"
#include "StoreTestSupport.h"

#include <QtTest>

using namespace StoreTest;

namespace {

Date dec(int day, int hour = 0, int minute = 0, int second = 0)
{
    return TestEnvironment::at(2026, 12, day, hour, minute, second);
}

TaskItem withReminder(const QString& title, Date reminder)
{
    TaskItem t = todo(title, dec(7, 8));
    t.reminderDate = reminder;
    return t;
}

QString key(const TaskItem& t)
{
    return Reminders::requestIdentifier(t.id);
}

std::optional<CalendarMinute> triggerOf(const FakeNotificationCenter& center, const TaskItem& t)
{
    if (!center.pending.contains(key(t)))
        return std::nullopt;
    return center.pending.value(key(t)).trigger;
}

} // namespace

class TestReminders : public QObject {
    Q_OBJECT

private slots:
    void scheduledForTheMinuteInTheUsersCalendar_data()
    {
        QTest::addColumn<Date>("reminder");
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::newRow("seconds are dropped") << dec(8, 9, 0, 45) << 2026 << 12 << 8 << 9 << 0;
        QTest::newRow("evening, already the next day in UTC") << dec(7, 21, 30) << 2026 << 12 << 7 << 21 << 30;
        QTest::newRow("after the spring clock change")
            << TestEnvironment::at(2027, 3, 15, 9, 15) << 2027 << 3 << 15 << 9 << 15;
    }

    void scheduledForTheMinuteInTheUsersCalendar()
    {
        QFETCH(Date, reminder);
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(int, hour);
        QFETCH(int, minute);
        StoreFixture f;
        StorageService& store = f.make();
        const TaskItem t = withReminder(QStringLiteral("Call the dentist"), reminder);
        store.todos().addTodo(t);

        QCOMPARE(f.notifications.pending.size(), 1);
        const NotificationRequest request = f.notifications.pending.first();
        QCOMPARE(request.identifier, QStringLiteral("todo-reminder-") + uuidText(t.id));
        QVERIFY(request.identifier.endsWith(uuidText(t.id).toUpper()));
        QCOMPARE(request.title, QStringLiteral("Quillharbour reminder"));
        QCOMPARE(request.body, QStringLiteral("Call the dentist"));
        QVERIFY(request.sound);
        QCOMPARE(request.trigger, std::optional<CalendarMinute>(CalendarMinute{year, month, day, hour, minute}));
    }

    void changingTheTimeLeavesOneRequest()
    {
        StoreFixture f;
        StorageService& store = f.make();
        TaskItem t = withReminder(QStringLiteral("x"), dec(8, 9));
        store.todos().addTodo(t);
        t.reminderDate = dec(9, 17, 45);
        store.todos().upsertTodo(t);
        QCOMPARE(f.notifications.pending.size(), 1);
        QCOMPARE(triggerOf(f.notifications, t), std::optional<CalendarMinute>(CalendarMinute{2026, 12, 9, 17, 45}));

        t.reminderDate.reset();
        store.todos().upsertTodo(t);
        QVERIFY(f.notifications.pending.isEmpty());
    }

    void onlyRemindersStrictlyAheadAreScheduled_data()
    {
        QTest::addColumn<double>("offset");
        QTest::addColumn<bool>("scheduled");
        QTest::newRow("a minute ago") << -60.0 << false;
        QTest::newRow("this very moment") << 0.0 << false;
        QTest::newRow("in a minute") << 60.0 << true;
    }

    void onlyRemindersStrictlyAheadAreScheduled()
    {
        QFETCH(double, offset);
        QFETCH(bool, scheduled);
        StoreFixture f;
        StorageService& store = f.make();
        TaskItem t = withReminder(QStringLiteral("x"), dec(8, 9));
        store.todos().addTodo(t);
        QVERIFY(f.notifications.pending.contains(key(t)));

        // A past reminder is dropped, and takes the pending one with it.
        t.reminderDate = f.clock.now() + offset;
        store.todos().upsertTodo(t);
        QCOMPARE(f.notifications.pending.contains(key(t)), scheduled);
    }

    void completingAndReopening()
    {
        StoreFixture f;
        StorageService& store = f.make();
        const TaskItem t = withReminder(QStringLiteral("x"), dec(7, 15));
        store.todos().addTodo(t);
        store.todos().toggleTodo(t.id);
        QVERIFY(!f.notifications.pending.contains(key(t)));
        store.todos().toggleTodo(t.id);
        QVERIFY(f.notifications.pending.contains(key(t)));

        store.todos().toggleTodo(t.id);
        f.clock.set(dec(7, 15, 0, 1));
        store.todos().toggleTodo(t.id);
        QVERIFY(!f.notifications.pending.contains(key(t)));
    }

    void deletingRemovesReminders()
    {
        StoreFixture f;
        StorageService& store = f.make();
        const TaskItem a = withReminder(QStringLiteral("a"), dec(8, 9));
        const TaskItem b = withReminder(QStringLiteral("b"), dec(8, 10));
        store.todos().addTodo(a);
        store.todos().addTodo(b);
        store.todos().deleteTodo(a);
        QVERIFY(!f.notifications.pending.contains(key(a)));
        QVERIFY(f.notifications.pending.contains(key(b)));

        // A delete the disk refuses is taken back: the to-do stays, and so does its reminder.
        QVERIFY(blockFile(f.file(QStringLiteral("todos.json"))));
        QVERIFY(store.todos().deleteTodo(b));
        store.core().waitForWrites();
        QVERIFY(store.core().lastError());
        QCOMPARE(store.todos().todos().size(), size_t(1));
        QVERIFY(f.notifications.pending.contains(key(b)));
    }

    void deletingASeriesRemovesEveryOccurrencesReminder()
    {
        StoreFixture f;
        StorageService& store = f.make();
        const QUuid series = QUuid::createUuid();
        TaskItem today = withReminder(QStringLiteral("today"), dec(7, 18));
        today.repeatOption = RepeatOption::daily;
        today.recurringSeriesId = series;
        TaskItem tomorrow = withReminder(QStringLiteral("tomorrow"), dec(8, 18));
        tomorrow.repeatOption = RepeatOption::daily;
        tomorrow.recurringSeriesId = series;
        const TaskItem other = withReminder(QStringLiteral("other"), dec(8, 9));
        QVERIFY(store.todos().replaceTodosFromSync({today, tomorrow, other}));
        QCOMPARE(f.notifications.pending.size(), 3);

        store.todos().deleteTodo(today);
        QCOMPARE(f.notifications.pending.keys(), QStringList{key(other)});
    }

    void syncReplacementKeepsRemindersInStep()
    {
        StoreFixture f;
        StorageService& store = f.make();
        TaskItem kept = withReminder(QStringLiteral("kept"), dec(8, 9));
        const TaskItem dropped = withReminder(QStringLiteral("dropped"), dec(8, 10));
        QVERIFY(store.todos().replaceTodosFromSync({kept, dropped}));
        QCOMPARE(f.notifications.pending.size(), 2);

        kept.reminderDate = dec(8, 11, 5);
        QVERIFY(store.todos().replaceTodosFromSync({kept}));
        QCOMPARE(f.notifications.pending.keys(), QStringList{key(kept)});
        QCOMPARE(triggerOf(f.notifications, kept), std::optional<CalendarMinute>(CalendarMinute{2026, 12, 8, 11, 5}));
    }

    void lateAuthorisationAnswersDoNotResurrectReminders()
    {
        StoreFixture f;
        StorageService& store = f.make();
        f.notifications.deferAnswers = true;

        // Set a reminder, then complete the to-do before the answer arrives.
        TaskItem t = withReminder(QStringLiteral("x"), dec(8, 9));
        store.todos().addTodo(t);
        store.todos().toggleTodo(t.id);
        f.notifications.answerAll();
        QVERIFY(f.notifications.pending.isEmpty());

        // Two quick time changes: only the latest survives.
        store.todos().toggleTodo(t.id);
        t.isCompleted = false;
        t.reminderDate = dec(8, 12);
        store.todos().upsertTodo(t);
        f.notifications.answerAll();
        QCOMPARE(f.notifications.pending.size(), 1);
        QCOMPARE(triggerOf(f.notifications, t), std::optional<CalendarMinute>(CalendarMinute{2026, 12, 8, 12, 0}));

        // A change, then a delete, then the answer.
        t.reminderDate = dec(8, 13);
        store.todos().upsertTodo(t);
        store.todos().deleteTodo(t);
        f.notifications.answerAll();
        QVERIFY(f.notifications.pending.isEmpty());

        // A change, then the sync drops the to-do, then the answer.
        const TaskItem u = withReminder(QStringLiteral("u"), dec(8, 14));
        store.todos().addTodo(u);
        QVERIFY(store.todos().replaceTodosFromSync({}));
        f.notifications.answerAll();
        QVERIFY(f.notifications.pending.isEmpty());

        // The store has gone by the time the answer comes.
        store.todos().addTodo(withReminder(QStringLiteral("late"), dec(8, 15)));
        f.store.reset();
        f.notifications.answerAll();
    }

    void deniedAuthorisationAddsNothing()
    {
        StoreFixture f;
        f.notifications.status = NotificationAuthorization::denied;
        StorageService& store = f.make();
        const TaskItem t = withReminder(QStringLiteral("x"), dec(8, 9));
        store.todos().addTodo(t);
        QCOMPARE(f.notifications.authorizationRequests, 1);
        QVERIFY(f.notifications.pending.isEmpty());

        std::optional<bool> denied;
        store.core().reminders().notificationAuthorizationStatus([&denied](bool d) { denied = d; });
        QCOMPARE(denied, std::optional<bool>(true));
    }

    void authorisationStatus_data()
    {
        QTest::addColumn<NotificationAuthorization>("status");
        QTest::addColumn<bool>("denied");
        QTest::newRow("not determined") << NotificationAuthorization::notDetermined << false;
        QTest::newRow("authorised") << NotificationAuthorization::authorized << false;
        QTest::newRow("denied") << NotificationAuthorization::denied << true;
    }

    void authorisationStatus()
    {
        QFETCH(NotificationAuthorization, status);
        QFETCH(bool, denied);
        StoreFixture f;
        f.notifications.status = status;
        StorageService& store = f.make();
        std::optional<bool> answer;
        store.core().reminders().notificationAuthorizationStatus([&answer](bool d) { answer = d; });
        QCOMPARE(answer, std::optional<bool>(denied));
        QCOMPARE(f.notifications.authorizationRequests, 0);
    }

    void urgentBreakNoticesNeverReplaceEachOther()
    {
        StoreFixture f;
        StorageService& store = f.make();
        store.core().reminders().postUrgentBreakEndedNotice(QStringLiteral("Example"));
        store.core().reminders().postUrgentBreakEndedNotice(QStringLiteral("Example"));

        QCOMPARE(f.notifications.delivered.size(), size_t(2));
        QVERIFY(f.notifications.pending.isEmpty());
        QCOMPARE(f.notifications.authorizationRequests, 0);
        QVERIFY(f.notifications.delivered[0].identifier != f.notifications.delivered[1].identifier);
        for (const NotificationRequest& notice : f.notifications.delivered) {
            QVERIFY(notice.identifier.startsWith(QLatin1String("urgent-break-ended-")));
            const QString id = notice.identifier.mid(int(qstrlen("urgent-break-ended-")));
            QVERIFY(parseUuid(id));
            QCOMPARE(id, id.toUpper());
            QCOMPARE(notice.title, QStringLiteral("Urgent break ended"));
            QCOMPARE(notice.body, QStringLiteral("Example is blocked again after 10 minutes of active use."));
            QVERIFY(notice.sound);
            QVERIFY(!notice.trigger);
        }
    }

    void occurrencesFromTheRollOverGetTheirReminders()
    {
        StoreFixture f;
        StorageService& store = f.make();
        TaskItem morning = todo(QStringLiteral("pills"), dec(7));
        morning.repeatOption = RepeatOption::daily;
        morning.reminderDate = dec(7, 8, 15);
        TaskItem early = todo(QStringLiteral("alarm"), dec(7));
        early.repeatOption = RepeatOption::daily;
        early.reminderDate = dec(7, 6);
        store.todos().addTodo(morning);
        store.todos().addTodo(early);

        f.clock.set(dec(8, 7));
        emit f.events.dayChanged();
        QTRY_COMPARE(store.todos().todos().size(), size_t(4));

        for (const TaskItem& t : store.todos().todos()) {
            if (t.createdAt != dec(8))
                continue;
            if (t.title == QLatin1String("pills"))
                QCOMPARE(triggerOf(f.notifications, t),
                         std::optional<CalendarMinute>(CalendarMinute{2026, 12, 8, 8, 15}));
            else // its time has passed on the new day
                QVERIFY(!f.notifications.pending.contains(key(t)));
        }
    }
};

QTEST_GUILESS_MAIN(TestReminders)
#include "tst_reminders.moc"
