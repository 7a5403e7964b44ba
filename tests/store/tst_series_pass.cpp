#include "StoreFixture.h"
#include "StoreTestSupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace StoreTest;

namespace {

// The fixture's clock stands on Monday 2026-12-07, 10:00 in New York.
Date dec(int day, int hour = 0, int minute = 0, int second = 0)
{
    return TestEnvironment::at(2026, 12, day, hour, minute, second);
}

} // namespace

class TestSeriesPass : public QObject {
    Q_OBJECT

private slots:
    // ------------------------------------------------------------ series sets

    void recurringSeriesIDs_data()
    {
        const QUuid valid = QUuid::fromString(QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427"));
        QTest::addColumn<QJsonValue>("stored"); // undefined: no entry
        QTest::addColumn<QSet<QUuid>>("expected");

        QTest::newRow("no entry") << QJsonValue(QJsonValue::Undefined) << QSet<QUuid>{};
        QTest::newRow("a text that is not a UUID and a valid one")
            << QJsonValue(
                   QJsonArray{QStringLiteral("not-a-uuid"), QStringLiteral("1B4E28BA-2FA1-11D2-883F-0016D3CCA427")})
            << QSet<QUuid>{valid};
        QTest::newRow("lower-case text") << QJsonValue(
                                                QJsonArray{QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427")})
                                         << QSet<QUuid>{valid};
        QTest::newRow("braced text") << QJsonValue(QJsonArray{QStringLiteral("{1b4e28ba-2fa1-11d2-883f-0016d3cca427}")})
                                     << QSet<QUuid>{};
        QTest::newRow("duplicates") << QJsonValue(QJsonArray{QStringLiteral("1B4E28BA-2FA1-11D2-883F-0016D3CCA427"),
                                                             QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427")})
                                    << QSet<QUuid>{valid};
        QTest::newRow("a text instead of an array")
            << QJsonValue(QStringLiteral("1B4E28BA-2FA1-11D2-883F-0016D3CCA427")) << QSet<QUuid>{};
        QTest::newRow("an array that is not all texts")
            << QJsonValue(QJsonArray{QStringLiteral("1B4E28BA-2FA1-11D2-883F-0016D3CCA427"), 7}) << QSet<QUuid>{};
    }

    void recurringSeriesIDs()
    {
        QFETCH(QJsonValue, stored);
        QFETCH(QSet<QUuid>, expected);
        StoreFixture f;
        SeriesPass& series = f.makeSeries();
        if (!stored.isUndefined())
            f.defaults.set(SeriesPass::deletedSeriesKey, stored);
        QCOMPARE(series.recurringSeriesIDs(SeriesPass::deletedSeriesKey), expected);
        QVERIFY(series.recurringSeriesIDs(SeriesPass::stoppedSeriesKey).isEmpty());
    }

    void storeRecurringSeriesWritesSortedUpperCaseTexts()
    {
        StoreFixture f;
        SeriesPass& series = f.makeSeries();
        const QUuid a = QUuid::fromString(QStringLiteral("0a000000-0000-4000-8000-000000000000"));
        const QUuid b = QUuid::fromString(QStringLiteral("0b000000-0000-4000-8000-000000000000"));
        const QUuid c = QUuid::fromString(QStringLiteral("0c000000-0000-4000-8000-000000000000"));
        f.defaults.setStringArray(SeriesPass::stoppedSeriesKey,
                                  {QStringLiteral("0c000000-0000-4000-8000-000000000000"), QStringLiteral("junk")});
        // An empty argument leaves its entry alone, malformed as it is.
        f.defaults.setStringArray(SeriesPass::deletedSeriesKey, {QStringLiteral("junk")});

        series.storeRecurringSeries({b, a}, {});
        QCOMPARE(f.defaults.stringArray(SeriesPass::stoppedSeriesKey),
                 std::optional<QStringList>(QStringList{uuidText(a), uuidText(b), uuidText(c)}));
        QCOMPARE(f.defaults.stringArray(SeriesPass::deletedSeriesKey),
                 std::optional<QStringList>(QStringList{QStringLiteral("junk")}));

        series.storeRecurringSeries({a}, {c});
        QCOMPARE(f.defaults.stringArray(SeriesPass::stoppedSeriesKey),
                 std::optional<QStringList>(QStringList{uuidText(a), uuidText(b), uuidText(c)}));
        QCOMPARE(f.defaults.stringArray(SeriesPass::deletedSeriesKey),
                 std::optional<QStringList>(QStringList{uuidText(c)}));
        QCOMPARE(uuidText(a), QStringLiteral("0A000000-0000-4000-8000-000000000000"));

        series.storeRecurringSeries({}, {});
        QCOMPARE(f.defaults.stringArray(SeriesPass::deletedSeriesKey),
                 std::optional<QStringList>(QStringList{uuidText(c)}));
        // Kept across restarts: they live in the preferences, not the data folder.
        Defaults reread(f.defaults.path());
        QCOMPARE(reread.stringArray(SeriesPass::deletedSeriesKey),
                 std::optional<QStringList>(QStringList{uuidText(c)}));
    }

    // ------------------------------------------------------------ repeating series

    void rollOverAtStartUpWritesButDoesNotPush()
    {
        StoreFixture f;
        const QUuid series = QUuid::createUuid();
        const QUuid deletedSeries = QUuid::createUuid();
        const TaskItem yesterday = occurrence(QStringLiteral("journal"), series, dec(6));
        const TaskItem gone = occurrence(QStringLiteral("gone"), deletedSeries, dec(6));
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(f.file(QStringLiteral("todos.json")), todosJson({yesterday, gone})));
        f.defaults.setStringArray(SeriesPass::deletedSeriesKey, {uuidText(deletedSeries)});

        TodoStore& todos = f.makeTodos();
        FakeCloudSync& sync = f.attachSync();
        const TaskItem expected = occurrence(QStringLiteral("journal"), series, dec(7));
        QCOMPARE(ids(todos.todos()), (QList<QUuid>{expected.id, yesterday.id}));
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), (QList<QUuid>{expected.id, yesterday.id}));
        QCOMPARE(sync.pushes, 0);
        QVERIFY(!f.defaults.contains(pendingTaskDeletesKey));
        QVERIFY(!f.core->lastError());
    }

    // A roll-over the disk refuses (at start-up or at midnight) makes nothing, says so, and gives
    // the sync nothing to send; the next one after the disk recovers makes the occurrences.
    void rollOverTheDiskRefusesIsNotMade_data()
    {
        QTest::addColumn<bool>("atStartUp");
        QTest::newRow("start-up, write refused") << true;
        QTest::newRow("midnight, bytes lost") << false;
    }
    void rollOverTheDiskRefusesIsNotMade()
    {
        QFETCH(bool, atStartUp);
        StoreFixture f;
        const TaskItem latest = occurrence(QStringLiteral("journal"), QUuid::createUuid(), atStartUp ? dec(6) : dec(7));
        QDir().mkpath(f.dataPath());
        QVERIFY(writeBytes(f.file(QStringLiteral("todos.json")), todosJson({latest})));
        f.failing = QStringList{QStringLiteral("todos.json")};
        f.make();
        f.failing.clear();
        FakeCloudSync sync(f.defaults);
        f.store->core().setCloudSync(&sync);
        if (!atStartUp) {
            f.losing = QStringList{QStringLiteral("todos.json")};
            f.clock.set(dec(8, 0, 0, 5));
            f.store->handleClockEvent();
        }
        QCOMPARE(ids(f.store->todos().todos()), QList<QUuid>{latest.id});
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), QList<QUuid>{latest.id});
        QVERIFY(f.store->core().lastError()->contains(QLatin1String("todos.json")));
        QCOMPARE(sync.pushes, 0);

        f.losing.clear();
        f.clock.advance(60);
        f.store->handleClockEvent();
        QVERIFY(!f.store->core().lastError() && sync.pushes == 1);
        QCOMPARE(f.store->todos().todos().size(), size_t(2));
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), ids(f.store->todos().todos()));
    }

    void dayChangeRollsTheSeriesForward()
    {
        StoreFixture f;
        StorageService& store = f.make();
        FakeCloudSync& sync = f.attachSync();
        TaskItem t = todo(QStringLiteral("stretch"), dec(7));
        t.repeatOption = RepeatOption::daily;
        t.reminderDate = dec(7, 9, 30);
        store.todos().addTodo(t);
        const QUuid series = *store.todos().todos().front().recurringSeriesId;
        sync.pushes = 0;

        f.clock.set(dec(8, 0, 0, 5));
        emit f.events.dayChanged();
        QCOMPARE(store.todos().todos().size(), size_t(1)); // queued: nothing runs inside the signal
        QTRY_COMPARE(store.todos().todos().size(), size_t(2));

        const TaskItem& next = store.todos().todos().front();
        QCOMPARE(next.id, occurrence(QString(), series, dec(8)).id);
        QCOMPARE(next.createdAt, dec(8));
        QCOMPARE(next.recurringSeriesId, std::optional<QUuid>(series));
        QVERIFY(!next.isCompleted);
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), ids(store.todos().todos()));
        QCOMPARE(sync.pushes, 1);
        QVERIFY(f.notifications.pending.contains(Reminders::requestIdentifier(next.id)));
        QCOMPARE(store.blocking().state().dayId, 20261208);
    }

    void rollOverWithNothingToDo()
    {
        StoreFixture f;
        StorageService& store = f.make();
        FakeCloudSync& sync = f.attachSync();
        const QUuid series = QUuid::createUuid();
        QVERIFY(store.todos().replaceTodosFromSync(
            {occurrence(QStringLiteral("today's"), series, dec(7)), todo(QStringLiteral("one-off"), dec(7, 8))}));
        store.core().waitForWrites();
        QVERIFY(QFile::remove(f.file(QStringLiteral("todos.json"))));
        QSignalSpy changed(&store.todos(), &TodoStore::todosChanged);

        QVERIFY(!store.todos().rollOverRecurringTodos(f.clock.now()));
        f.clock.advance(3600);
        emit f.events.clockChanged();
        emit f.events.timeZoneChanged();
        emit f.events.didWake();
        QCoreApplication::processEvents();
        QCOMPARE(changed.count(), 0);
        QVERIFY(!QFile::exists(f.file(QStringLiteral("todos.json"))));
        QCOMPARE(sync.pushes, 0);
    }

    void deletedSeriesComingBackIsRemovedAgain()
    {
        StoreFixture f;
        StorageService& store = f.make();
        Defaults syncDefaults(f.folder.filePath(QStringLiteral("sync.json")));
        FakeCloudSync sync(syncDefaults);
        store.core().setCloudSync(&sync);
        const QUuid series = QUuid::createUuid();
        TaskItem today = occurrence(QStringLiteral("practise"), series, dec(7));
        today.reminderDate = dec(7, 18);
        const TaskItem keep = todo(QStringLiteral("keep"), dec(7, 8));
        QVERIFY(store.todos().replaceTodosFromSync({today, keep}));
        store.core().waitForWrites();
        store.todos().deleteTodo(today);
        syncDefaults.remove(pendingTaskDeletesKey); // as if the sync had uploaded the delete
        sync.pushes = 0;

        // The phone had not heard of the delete yet.
        QVERIFY(store.todos().replaceTodosFromSync({today, keep}));
        store.core().waitForWrites();
        QVERIFY(f.notifications.pending.contains(Reminders::requestIdentifier(today.id)));

        emit f.events.clockChanged();
        QTRY_COMPARE(store.todos().todos().size(), size_t(1));
        QCOMPARE(store.todos().todos().front().id, keep.id);
        QVERIFY(!f.notifications.pending.contains(Reminders::requestIdentifier(today.id)));
        QCOMPARE(sync.idSet(pendingTaskDeletesKey), QSet<QUuid>{today.id});
        QCOMPARE(ids(todosInFile(f.file(QStringLiteral("todos.json")))), QList<QUuid>{keep.id});
        QCOMPARE(sync.pushes, 1);
    }

    void stoppedSeriesIsNeverExtended()
    {
        StoreFixture f;
        StorageService& store = f.make();
        const QUuid series = QUuid::createUuid();
        store.series().storeRecurringSeries({series}, {});
        // Another device still sends the old repeat option.
        const TaskItem stale = occurrence(QStringLiteral("floss"), series, dec(6));
        QVERIFY(store.todos().replaceTodosFromSync({stale}));
        store.core().waitForWrites();

        emit f.events.didWake();
        QTRY_VERIFY(!store.todos().todos().front().recurringSeriesId);
        QCOMPARE(store.todos().todos().size(), size_t(1));
        QCOMPARE(store.todos().todos().front().repeatOption, RepeatOption::none);
        QCOMPARE(store.todos().todos().front().id, stale.id);

        f.clock.set(dec(9, 8));
        emit f.events.dayChanged();
        QCoreApplication::processEvents();
        QCOMPARE(store.todos().todos().size(), size_t(1));
    }

    void duplicateOccurrencesAreDropped()
    {
        StoreFixture f;
        TodoStore& todos = f.makeTodos();
        Defaults syncDefaults(f.folder.filePath(QStringLiteral("sync.json")));
        FakeCloudSync sync(syncDefaults);
        f.core->setCloudSync(&sync);
        const QUuid series = QUuid::createUuid();
        const TaskItem canonical = occurrence(QStringLiteral("walk"), series, dec(7));
        TaskItem copy = canonical;
        copy.id = QUuid::createUuid();
        copy.reminderDate = dec(7, 20);
        // Others around them keep their order: the pass reads the list where the store holds it.
        const TaskItem before = todo(QStringLiteral("before"), dec(6)), after = todo(QStringLiteral("after"), dec(5));
        QVERIFY(todos.replaceTodosFromSync({before, copy, canonical, after}));
        f.core->waitForWrites();
        QVERIFY(f.notifications.pending.contains(Reminders::requestIdentifier(copy.id)));

        QVERIFY(todos.rollOverRecurringTodos(f.clock.now()));
        QCOMPARE(ids(todos.todos()), (QList<QUuid>{before.id, canonical.id, after.id}));
        QVERIFY(!f.notifications.pending.contains(Reminders::requestIdentifier(copy.id)));
        QCOMPARE(sync.idSet(pendingTaskDeletesKey), QSet<QUuid>{copy.id});
    }
};

QTEST_GUILESS_MAIN(TestSeriesPass)
#include "tst_series_pass.moc"
