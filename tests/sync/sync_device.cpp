// A device in a process of its own, for the tests of real processes sharing one record store:
// a store on the given data folder and its sync on the given record store, a seeded series of
// edits with syncs in between, two final syncs, then every item's fingerprint on stdout.
//   sync_device <data folder> <record store setting> <seed> <edits>
#include "FakeNotificationCenter.h"
#include "RecordStoreHelpers.h"
#include "files/Defaults.h"
#include "platform/SystemEvents.h"
#include "store/StorageService.h"
#include "sync/RecordStoreConfig.h"
#include "sync/SyncService.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>
#include <random>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        QTextStream(stderr) << "usage: sync_device <data folder> <record store> <seed> <edits>\n";
        return 2;
    }
    const QString folder = args[1];
    QDir().mkpath(folder + QStringLiteral("/data"));
    std::mt19937 rng(args[3].toUInt());
    const int edits = args[4].toInt();
    const auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };

    const Clock& clock = SystemClock::instance();
    Defaults defaults(folder + QStringLiteral("/defaults.json"));
    FakeNotificationCenter notifications;
    SystemEvents events;
    StorageEnvironment environment;
    environment.clock = &clock;
    environment.calendar = [] { return Calendar::current(); };
    environment.defaults = &defaults;
    environment.notifications = &notifications;
    environment.events = &events;
    StorageService store(FileStore{folder + QStringLiteral("/data")}, environment);
    QString error;
    const std::unique_ptr<RecordStore> records = openRecordStore(RecordStoreChoice::parse(args[2], QString()), &error);
    if (!records) {
        QTextStream(stderr) << error << "\n";
        return 2;
    }
    SyncService sync(&store, defaults,
                     SyncEnvironment{records.get(), &clock, [] { return Calendar::current(); }, &events});
    store.core().setCloudSync(&sync);
    const auto run = [&sync] {
        sync.syncNow();
        return waitUntil([&sync] { return !sync.isSyncing(); }, 60000);
    };

    for (int i = 0; i < edits; ++i) {
        const QString title = QStringLiteral("%1-%2").arg(args[3]).arg(i);
        // Creations outnumber deletions, so the devices end with items to compare.
        switch (pick(7)) {
        case 0:
        case 1: {
            TaskItem t;
            t.id = QUuid::createUuid();
            t.title = title;
            t.time = TaskItem::anytime;
            t.createdAt = clock.now();
            store.todos().addTodo(t);
            break;
        }
        case 2:
            if (!store.todos().todos().empty()) {
                TaskItem t = store.todos().todos()[pick(int(store.todos().todos().size()))];
                t.title = title;
                store.todos().upsertTodo(t);
            }
            break;
        case 3:
            if (!store.todos().todos().empty())
                store.todos().deleteTodo(store.todos().todos()[pick(int(store.todos().todos().size()))]);
            break;
        case 4:
        case 5:
            store.notes().upsertNote(
                Note{QUuid::createUuid(), title, QStringLiteral("body"), clock.now(), clock.now()});
            break;
        default:
            if (!store.notes().notes().empty())
                store.notes().deleteNote(store.notes().notes()[pick(int(store.notes().notes().size()))].id);
            break;
        }
        if (pick(3) == 0 && !run())
            return 3;
    }
    if (!run() || !run())
        return 3;
    if (!sync.lastErrorText().isEmpty()) {
        QTextStream(stderr) << sync.lastErrorText() << "\n";
        return 1;
    }

    QStringList lines;
    for (const TaskItem& t : store.todos().todos())
        lines.append(SyncMerge::fingerprint(t));
    for (const Note& n : store.notes().notes())
        lines.append(SyncMerge::fingerprint(n));
    lines.sort();
    lines.append(QStringLiteral("pending %1")
                     .arg(sync.idSet(SyncService::pendingTaskDeletes).size() +
                          sync.idSet(SyncService::pendingNoteDeletes).size()));
    QTextStream(stdout) << lines.join(u'\n') << "\n";
    return 0;
}
