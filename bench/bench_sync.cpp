// One sync run on the SQLite record store with 10,000 to-dos and 2,000 notes: how long a run takes
// when nothing changed next to a bare read of the same records, what it writes, how long the main
// thread was held at most, and what a run after one edit sends. Prints its own figures.
#include "NullNotifications.h"
#include "platform/Defaults.h"
#include "store/StorageService.h"
#include "sync/SqliteRecordStore.h"
#include "sync/SyncService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <algorithm>

namespace {

// Passes every request on and counts the records each save request carries.
class CountingStore : public RecordStore {
public:
    explicit CountingStore(RecordStore& inner) : m_inner(inner) {}
    QFuture<StoreAnswer<int>> accountStatus() override { return m_inner.accountStatus(); }
    QFuture<StoreAnswer<QString>> userRecordName() override { return m_inner.userRecordName(); }
    QFuture<StoreAnswer<std::vector<ItemResult>>> fetch(const QStringList& names) override
    {
        ++fetches;
        return m_inner.fetch(names);
    }
    QFuture<StoreAnswer<ModifyResults>> modify(const std::vector<CloudRecord>& saves,
                                               const QStringList& deletes) override
    {
        for (const CloudRecord& r : saves)
            saved.append(r.recordType());
        deleted += int(deletes.size());
        return m_inner.modify(saves, deletes);
    }
    int fetches = 0;
    QStringList saved;
    int deleted = 0;

private:
    RecordStore& m_inner;
};

// The longest stretch the event loop was held while the last run went on: a 1 ms timer notes
// the gaps between its ticks.
qint64 longestStallUs = 0;

// Waits for the run the way the application does: in the event loop, without polling.
bool finish(SyncService& sync)
{
    longestStallUs = 0;
    if (sync.isSyncing()) {
        QEventLoop loop;
        QElapsedTimer since;
        since.start();
        QTimer ticks;
        ticks.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            longestStallUs = std::max(longestStallUs, since.nsecsElapsed() / 1000);
            since.start();
        });
        ticks.start(1);
        QObject::connect(&sync, &SyncService::syncFinished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return sync.lastErrorText().isEmpty();
}

template <typename T> T median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A figure beside its anchor and their ratio.
void figure(QTextStream& out, const QString& what, double value, const QString& anchorName, double anchor,
            const QString& unit)
{
    out << what << ": " << QString::number(value, 'f', 1) << ' ' << unit << " | " << anchorName << ": "
        << QString::number(anchor, 'f', 1) << ' ' << unit << " | ratio " << QString::number(value / anchor, 'f', 2)
        << Qt::endl;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir folder;
    ManualClock clock(1796652000); // 2026-12-07
    const Calendar calendar(QTimeZone("America/New_York"));
    Defaults defaults(folder.filePath(QStringLiteral("defaults.json")));
    NullNotifications notifications;
    QDir().mkpath(folder.filePath(QStringLiteral("data")));
    StorageEnvironment environment;
    environment.clock = &clock;
    environment.calendar = [&calendar] { return calendar; };
    environment.defaults = &defaults;
    environment.notifications = &notifications;
    StorageService store(FileStore{folder.filePath(QStringLiteral("data"))}, environment);

    std::vector<TaskItem> todos;
    for (int i = 0; i < 10000; ++i) {
        TaskItem t;
        t.id = QUuid::createUuid();
        t.title = QStringLiteral("To-do number %1 with a title of usual length").arg(i);
        t.time = TaskItem::anytime;
        t.createdAt = t.updatedAt = clock.now() - i;
        t.subtasks = {Subtask{QUuid::createUuid(), QStringLiteral("a step"), false}};
        todos.push_back(t);
    }
    std::vector<Note> notes;
    for (int i = 0; i < 2000; ++i)
        notes.push_back(Note{QUuid::createUuid(), QStringLiteral("Note %1").arg(i), QString(400, u'n'), clock.now() - i,
                             clock.now() - i});
    store.replaceTodosFromSync(todos);
    store.replaceNotesFromSync(notes);

    SqliteRecordStore sqlite(folder.filePath(QStringLiteral("records.sqlite")));
    CountingStore records(sqlite);
    SyncService sync(&store, defaults, SyncEnvironment{&records, &clock, [&calendar] { return calendar; }});

    QElapsedTimer timer;
    timer.start();
    sync.syncNow();
    if (!finish(sync)) {
        out << "first run failed: " << sync.lastErrorText() << Qt::endl;
        return 1;
    }
    out << "first run, uploading " << records.saved.size() << " records: " << timer.elapsed() << " ms" << Qt::endl;

    std::vector<qint64> times;
    std::vector<qint64> stalls;
    int writes = 0;
    for (int i = 0; i < 15; ++i) {
        clock.advance(60);
        records.saved.clear();
        records.deleted = 0;
        timer.start();
        sync.syncNow();
        if (!finish(sync))
            return 1;
        times.push_back(timer.nsecsElapsed() / 1000);
        stalls.push_back(longestStallUs);
        writes += int(records.saved.size()) + records.deleted;
    }

    // The anchor: the same records read by name from the same store, nothing else.
    QStringList names;
    for (const TaskItem& t : store.todos())
        names.append(t.id.toString(QUuid::WithoutBraces).toUpper());
    for (const Note& n : store.notes())
        names.append(n.id.toString(QUuid::WithoutBraces).toUpper());
    std::vector<qint64> bare;
    for (int i = 0; i < 15; ++i) {
        timer.start();
        for (qsizetype start = 0; start < names.size(); start += SyncService::fetchChunk) {
            QFuture<StoreAnswer<std::vector<ItemResult>>> read =
                sqlite.fetch(names.mid(start, SyncService::fetchChunk));
            read.waitForFinished();
        }
        bare.push_back(timer.nsecsElapsed() / 1000);
    }
    figure(out, QStringLiteral("no-change sync, SQLite (10,000 to-dos, 2,000 notes), median"), median(times) / 1000.0,
           QStringLiteral("bare read of the same records"), median(bare) / 1000.0, QStringLiteral("ms"));
    out << "records written by 15 no-change runs: " << writes << " (goal 0)" << Qt::endl;
    figure(out, QStringLiteral("longest main-thread stall during a no-change run, median"), median(stalls) / 1000.0,
           QStringLiteral("one frame"), 16.0, QStringLiteral("ms"));

    clock.advance(60);
    TaskItem edited = store.todos()[1234];
    edited.title += QStringLiteral(" (edited)");
    store.upsertTodo(edited);
    records.saved.clear();
    timer.start();
    sync.syncNow();
    if (!finish(sync))
        return 1;
    out << "run after one edit: " << timer.elapsed() << " ms, saved " << records.saved.join(QStringLiteral(", "))
        << Qt::endl;
    return 0;
}
