// Two complete devices on one record store, edited at random while they sync, with faults thrown
// in. After quiet runs both must hold the same items, each in its latest version, the store must
// hold exactly the listed records, no deleted item may come back, and nothing may stay pending.
// QH_SYNC_SEEDS sets the number of seeds (50 by default); a failure prints its seed and both logs.
#include "SyncRig.h"

#include <QtTest>
#include <algorithm>
#include <random>

using Op = MemoryRecordStore::Operation;
using Fault = MemoryRecordStore::Fault;

namespace {

struct World {
    explicit World(quint32 seed) : rng(seed)
    {
        devices[0] = std::make_unique<SyncDevice>(&records);
        devices[1] = std::make_unique<SyncDevice>(&records);
    }

    MemoryRecordStore records;
    std::unique_ptr<SyncDevice> devices[2];
    std::mt19937 rng;
    QStringList log;
    QHash<QUuid, QString> latest; // id -> fingerprint of its newest version
    QHash<QUuid, Date> latestAt;
    QSet<QUuid> deleted;
    int counter = 0;

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }

    void tick()
    {
        for (auto& d : devices)
            d->fixture.clock.advance(1);
    }

    template <typename T> void remember(const T& item)
    {
        const QString print = SyncMerge::fingerprint(item);
        const Date at = std::floor(item.updatedAt);
        if (!latest.contains(item.id) || latestAt.value(item.id) < at ||
            (latestAt.value(item.id) == at && SyncMerge::textLess(latest.value(item.id), print))) {
            latest.insert(item.id, print);
            latestAt.insert(item.id, at);
        }
    }

    // One random edit on one device: create, change or delete a to-do or a note.
    void edit()
    {
        tick();
        const int which = pick(2);
        SyncDevice& d = *devices[which];
        StorageService& store = d.store();
        const QString title = QStringLiteral("t%1").arg(++counter);
        const auto say = [&](const char* what, const QUuid& id) {
            log.append(QStringLiteral("%1 %2 %3 (%4)")
                           .arg(which ? u'B' : u'A')
                           .arg(QLatin1String(what), uuidText(id).left(8), title));
        };
        // Edits outnumber creations, so that few items see many concurrent changes.
        static const int kinds[] = {0, 1, 1, 1, 2, 3, 4, 4, 5};
        const int kind = kinds[pick(9)];
        if (((kind == 1 || kind == 2) && store.todos().todos().empty()) || (kind >= 4 && store.notes().notes().empty()))
            return;
        switch (kind) {
        case 0: {
            const QUuid id = d.addTodo(title).id;
            remember(*d.todo(id));
            return say("adds to-do", id);
        }
        case 1: {
            TaskItem t = store.todos().todos()[pick(int(store.todos().todos().size()))];
            t.title = title;
            t.isCompleted = chance(0.5);
            store.todos().upsertTodo(t);
            remember(*d.todo(t.id));
            return say("edits to-do", t.id);
        }
        case 2: {
            const TaskItem t = store.todos().todos()[pick(int(store.todos().todos().size()))];
            store.todos().deleteTodo(t);
            deleted.insert(t.id);
            return say("deletes to-do", t.id);
        }
        case 3: {
            const QUuid id = d.addNote(title).id;
            remember(store.notes().notes().front());
            return say("adds note", id);
        }
        case 4: {
            Note n = store.notes().notes()[pick(int(store.notes().notes().size()))];
            n.body = title;
            store.notes().upsertNote(n);
            remember(*std::find_if(store.notes().notes().begin(), store.notes().notes().end(),
                                   [&n](const Note& s) { return s.id == n.id; }));
            return say("edits note", n.id);
        }
        default: {
            const QUuid id = store.notes().notes()[pick(int(store.notes().notes().size()))].id;
            store.notes().deleteNote(id);
            deleted.insert(id);
            return say("deletes note", id);
        }
        }
    }

    std::optional<Fault> fault()
    {
        if (!chance(0.15))
            return std::nullopt;
        static const RecordFailure failures[] = {RecordFailure::connectionLost, RecordFailure::busy,
                                                 RecordFailure::startingUp, RecordFailure::internal};
        Fault f;
        f.kind = Fault::Kind(pick(4));
        f.error = RecordError{failures[pick(4)], QStringLiteral("injected"), std::nullopt, {}};
        f.item = pick(400);
        log.append(QStringLiteral("fault %1 failure %2 item %3").arg(int(f.kind)).arg(int(f.error.kind)).arg(f.item));
        return f;
    }

    bool runBoth()
    {
        tick();
        devices[0]->sync->syncNow();
        devices[1]->sync->syncNow();
        return waitUntil([this] { return !devices[0]->sync->isSyncing() && !devices[1]->sync->isSyncing(); });
    }

    template <typename List> static QMap<QString, QString> prints(const List& items)
    {
        QMap<QString, QString> out;
        for (const auto& item : items)
            out.insert(uuidText(item.id), SyncMerge::fingerprint(item));
        return out;
    }

    QStringList problems()
    {
        QStringList out;
        SyncDevice& a = *devices[0];
        SyncDevice& b = *devices[1];
        const auto todosA = prints(a.store().todos().todos());
        const auto notesA = prints(a.store().notes().notes());
        if (todosA != prints(b.store().todos().todos()))
            out.append(QStringLiteral("the devices hold different to-dos"));
        if (notesA != prints(b.store().notes().notes()))
            out.append(QStringLiteral("the devices hold different notes"));
        for (SyncDevice* d : {&a, &b}) {
            if (!d->sync->lastErrorText().isEmpty())
                out.append(QStringLiteral("a device still reports: ") + d->sync->lastErrorText());
            if (!d->sync->idSet(SyncService::pendingTaskDeletes).isEmpty() ||
                !d->sync->idSet(SyncService::pendingNoteDeletes).isEmpty())
                out.append(QStringLiteral("deletes still pending"));
        }
        QHash<QString, QStringList> stored; // record type -> names
        for (const QString& name : records.names())
            stored[records.peek(name)->recordType()].append(name);
        const QStringList taskRecords = stored.value(QStringLiteral("QHTask"));
        const QStringList noteRecords = stored.value(QStringLiteral("QHNote"));
        if (listedIds(records, "taskIds") != taskRecords || QStringList(todosA.keys()) != taskRecords)
            out.append(QStringLiteral("to-do records, the manifest and the devices disagree"));
        if (listedIds(records, "noteIds") != noteRecords || QStringList(notesA.keys()) != noteRecords)
            out.append(QStringLiteral("note records, the manifest and the devices disagree"));
        for (const auto* items : {&todosA, &notesA})
            for (auto it = items->begin(); it != items->end(); ++it) {
                const QUuid id = parseUuid(it.key()).value();
                if (deleted.contains(id))
                    out.append(QStringLiteral("deleted item %1 came back").arg(it.key()));
                else if (latest.value(id) != it.value())
                    out.append(QStringLiteral("item %1 is not in its latest version").arg(it.key()));
            }
        for (auto it = latest.begin(); it != latest.end(); ++it)
            if (!deleted.contains(it.key()) && !todosA.contains(uuidText(it.key())) &&
                !notesA.contains(uuidText(it.key())))
                out.append(QStringLiteral("item %1 was lost").arg(uuidText(it.key())));
        return out;
    }
};

} // namespace

class SyncConvergence : public QObject {
    Q_OBJECT

private slots:
    void converges_data()
    {
        QTest::addColumn<quint32>("seed");
        const int seeds =
            qEnvironmentVariableIsSet("QH_SYNC_SEEDS") ? qEnvironmentVariableIntValue("QH_SYNC_SEEDS") : 50;
        for (int seed = 1; seed <= seeds; ++seed)
            QTest::addRow("seed %d", seed) << quint32(seed);
    }
    void converges()
    {
        QFETCH(quint32, seed);
        World world(seed);
        world.records.beforeRequest = [&world](Op) {
            if (world.chance(0.5))
                world.edit();
        };
        world.records.faultChooser = [&world](Op) { return world.fault(); };
        for (int round = 0; round < 12; ++round)
            QVERIFY(world.runBoth());

        world.records.beforeRequest = nullptr;
        world.records.faultChooser = nullptr;
        world.log.append(QStringLiteral("-- quiet"));
        for (int round = 0; round < 3; ++round)
            for (auto& d : world.devices) {
                world.tick();
                QVERIFY(d->run());
            }

        const QStringList problems = world.problems();
        if (!problems.isEmpty()) {
            qWarning().noquote() << "seed" << seed << "\n"
                                 << world.log.join(u'\n') << "\n-- store\n"
                                 << world.records.log().join(u'\n');
            QFAIL(qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(problems.join(QStringLiteral("; ")))));
        }
    }
};

QTEST_GUILESS_MAIN(SyncConvergence)
#include "tst_sync_convergence.moc"
