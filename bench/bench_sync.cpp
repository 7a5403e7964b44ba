// The sync with 10,000 to-dos (or as many as the first argument says) and 2,000 notes, on SQLite and on a private
// PostgreSQL server it starts itself: how long a run takes when nothing changed next to a bare read of the same
// records, what it reads and writes, and how long the main thread is held at most, in a run with
// nothing changed and in runs that carry a change made here or on another device; then accounts of
// 30,000, 50,000 and 100,000 to-dos on SQLite, and the largest record their runs write.
#include "CountingStore.h"
#include "Figure.h"
#include "NullNotifications.h"
#include "PostgresServer.h"
#include "files/Defaults.h"
#include "store/StorageService.h"
#include "sync/PostgresRecordStore.h"
#include "sync/RecordMapper.h"
#include "sync/SqliteRecordStore.h"
#include "sync/SyncService.h"
#include "system/MemoryReturn.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <memory>
#include <unistd.h>

namespace {

// Nanoseconds this thread has waited for a processor so far: the time the machine gave other
// processes (and our own workers) while the thread was ready to run.
qint64 runQueueWaitNs()
{
    static const int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    char text[128] = {};
    if (fd < 0 || ::pread(fd, text, sizeof text - 1, 0) <= 0)
        return 0;
    unsigned long long running = 0, waiting = 0;
    std::sscanf(text, "%llu %llu", &running, &waiting);
    return qint64(waiting);
}

// One run awaited the way the application does, in the event loop, while a 1 ms timer notes the
// longest stretch the main thread did not come back to it. On a shared machine a stretch also
// holds the time the thread waited for a processor; that time is taken out, as it is no work of
// ours (the raw figure is printed beside it).
struct RunFigures {
    bool ok = false;
    double ms = 0;
    double longestStallMs = 0;
    double longestRawStallMs = 0;
};

RunFigures runOnce(SyncService& sync)
{
    RunFigures figures;
    QElapsedTimer whole;
    whole.start();
    qint64 longestNs = 0;
    qint64 longestRawNs = 0;
    sync.syncNow();
    if (sync.isSyncing()) {
        QEventLoop loop;
        QElapsedTimer since;
        since.start();
        qint64 waitedBefore = runQueueWaitNs();
        const auto gap = [&] {
            const qint64 raw = since.nsecsElapsed();
            const qint64 waited = runQueueWaitNs();
            longestRawNs = std::max(longestRawNs, raw);
            longestNs = std::max(longestNs, raw - (waited - waitedBefore));
            waitedBefore = waited;
            since.start();
        };
        QTimer ticks;
        ticks.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticks, &QTimer::timeout, gap);
        ticks.start(1);
        QObject::connect(&sync, &SyncService::syncFinished, &loop, &QEventLoop::quit);
        loop.exec();
        gap();
    }
    figures.ms = whole.nsecsElapsed() / 1e6;
    figures.longestStallMs = longestNs / 1e6;
    figures.longestRawStallMs = longestRawNs / 1e6;
    figures.ok = sync.lastErrorText().isEmpty();
    if (!figures.ok)
        std::fprintf(stderr, "bench_sync: a run failed: %s\n", qPrintable(sync.lastErrorText()));
    return figures;
}

template <typename T> T median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Local data, a sync service on it, and the record store it talks to.
struct Device {
    QTemporaryDir folder;
    ManualClock clock{1796652000}; // 2026-12-07
    Calendar calendar{QTimeZone("America/New_York")};
    Defaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    Defaults knownIds{folder.filePath(QStringLiteral("sync-known-ids.json"))};
    NullNotifications notifications;
    std::unique_ptr<StorageService> store;
    CountingStore records;
    MemoryReleaser releaser; // as the application has one for the whole program
    std::unique_ptr<SyncService> sync;

    Device(RecordStore& inner, int todoCount) : records(inner)
    {
        QDir().mkpath(folder.filePath(QStringLiteral("data")));
        StorageEnvironment environment;
        environment.clock = &clock;
        environment.calendar = [this] { return calendar; };
        environment.defaults = &defaults;
        environment.notifications = &notifications;
        store = std::make_unique<StorageService>(FileStore{folder.filePath(QStringLiteral("data"))}, environment);
        std::vector<TaskItem> todos;
        for (int i = 0; i < todoCount; ++i) {
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
            notes.push_back(Note{QUuid::createUuid(), QStringLiteral("Note %1").arg(i), QString(400, u'n'),
                                 clock.now() - i, clock.now() - i});
        store->todos().replaceTodosFromSync(todos);
        store->notes().replaceNotesFromSync(notes);
        store->core().waitForWrites();
        SyncEnvironment syncEnvironment{&records, &clock, [this] { return calendar; }};
        syncEnvironment.knownIds = &knownIds; // as the application keeps them
        syncEnvironment.releaser = &releaser;
        sync = std::make_unique<SyncService>(store.get(), defaults, syncEnvironment);
        store->core().setCloudSync(sync.get());
    }

    // Every file a run wrote or had written in the background is on disk.
    void waitForWrites()
    {
        store->core().waitForWrites();
        defaults.waitForWrites();
        knownIds.waitForWrites();
    }

    // Returns once what the runs so far handed over has been freed and given back. The thread
    // that frees stays: its end would sort its heap, and that cost would land in the next run.
    void waitForReleases()
    {
        std::promise<void> done;
        std::future<void> over = done.get_future();
        releaser.post([&done] { done.set_value(); });
        over.wait();
    }
};

// Every figure of one record store. False when a run failed.
bool measure(const char* backend, RecordStore& inner, int todoCount)
{
    auto label = [backend](const char* what) {
        return QStringLiteral("%1, %2").arg(QLatin1String(what), QLatin1String(backend)).toStdString();
    };
    Device device(inner, todoCount);
    std::printf("\n%s: %d to-dos and 2,000 notes\n", backend, todoCount);
    const RunFigures first = runOnce(*device.sync);
    if (!first.ok)
        return false;
    std::printf("first run, uploading every item: %.0f ms, longest main-thread stall %.1f ms (%.1f ms with the "
                "waits for a processor)\n",
                first.ms, first.longestStallMs, first.longestRawStallMs);
    // The run after the first reads what the first wrote, and leaves both sides in step.
    device.clock.advance(60);
    if (!runOnce(*device.sync).ok)
        return false;

    std::vector<double> times, stalls, rawStalls;
    int fetched = 0, written = 0;
    for (int i = 0; i < 15; ++i) {
        device.clock.advance(60);
        device.records.resetCounts();
        const RunFigures run = runOnce(*device.sync);
        if (!run.ok)
            return false;
        times.push_back(run.ms);
        stalls.push_back(run.longestStallMs);
        rawStalls.push_back(run.longestRawStallMs);
        fetched += device.records.fetched;
        written += device.records.written;
    }

    // The anchor: the same records read by name from the same store, in the sync's batches.
    QStringList names;
    for (const TaskItem& t : device.store->todos().todos())
        names.append(uuidText(t.id));
    for (const Note& n : device.store->notes().notes())
        names.append(uuidText(n.id));
    std::vector<double> bare;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer timer;
        timer.start();
        for (qsizetype start = 0; start < names.size(); start += SyncRun::fetchChunk)
            inner.fetch(names.mid(start, SyncRun::fetchChunk)).waitForFinished();
        bare.push_back(timer.nsecsElapsed() / 1e6);
    }
    const double bareMs = median(bare);
    benchFigure(label("no-change sync").c_str(), median(times), "ms", "bare read of the same records", bareMs, 3.0);
    std::printf("records read by 15 no-change runs: %d; records written: %d; longest stall with the waits for a "
                "processor: %.1f ms\n",
                fetched, written, *std::max_element(rawStalls.begin(), rawStalls.end()));
    benchAtMost(label("records written by 15 no-change runs").c_str(), written, "", 0);
    // What every change of a setting rewrites: the preferences file, with none of the known ids.
    device.defaults.waitForWrites();
    device.knownIds.waitForWrites();
    const double preferencesKiB = QFileInfo(device.defaults.path()).size() / 1024.0;
    std::printf("preferences file %.1f KiB; the known ids' own file %.1f KiB\n", preferencesKiB,
                QFileInfo(device.knownIds.path()).size() / 1024.0);
    benchAtMost(label("preferences file after runs (KiB)").c_str(), preferencesKiB, "KiB", 16);
    benchLimit(label("longest main-thread stall, no-change run").c_str(),
               *std::max_element(stalls.begin(), stalls.end()), "ms", 16.0);

    // A store that cannot tell whether anything changed: every run reads everything.
    device.records.stampKnown = false;
    std::vector<double> fullTimes, fullStalls;
    int fullWrites = 0;
    for (int i = 0; i < 5; ++i) {
        device.clock.advance(60);
        device.records.resetCounts();
        const RunFigures run = runOnce(*device.sync);
        if (!run.ok)
            return false;
        fullTimes.push_back(run.ms);
        fullStalls.push_back(run.longestStallMs);
        fullWrites += device.records.written;
    }
    device.records.stampKnown = true;
    // No goal of its own: every store here can tell; this is the cost when one cannot.
    benchFigure(label("no-change sync reading every record").c_str(), median(fullTimes), "ms",
                "bare read of the same records", bareMs, 0);
    benchLimit(label("longest main-thread stall, run reading every record").c_str(),
               *std::max_element(fullStalls.begin(), fullStalls.end()), "ms", 16.0);
    std::printf("records written by 5 runs reading every record: %d\n", fullWrites);

    // One to-do edited here, saved by the next run; then one to-do and one note edited on
    // another device, taken in by the next. Five of each: one run's longest stall on a shared
    // machine says as much about the machine as about the run.
    std::vector<double> localStalls, localRawStalls, remoteStalls, remoteRawStalls;
    bool seen = true;
    for (int round = 0; round < 5; ++round) {
        device.clock.advance(60);
        TaskItem edited = device.store->todos().todos()[1234 + round];
        edited.title += QStringLiteral(" (edited)");
        device.store->todos().upsertTodo(edited);
        device.records.resetCounts();
        const RunFigures local = runOnce(*device.sync);
        if (!local.ok || device.records.written != 1)
            return false;
        localStalls.push_back(local.longestStallMs);
        localRawStalls.push_back(local.longestRawStallMs);

        device.clock.advance(60);
        const QString todoName = uuidText(device.store->todos().todos()[4321 + round].id);
        const QString noteName = uuidText(device.store->notes().notes()[321 + round].id);
        auto fetchedRecords = inner.fetch({todoName, noteName});
        fetchedRecords.waitForFinished();
        std::vector<CloudRecord> changed;
        const QString title = QStringLiteral("changed elsewhere %1").arg(round);
        for (const ItemResult& item : fetchedRecords.result().value) {
            CloudRecord record = item.record.value();
            record.setString(QStringLiteral("title"), title);
            record.setDate(QStringLiteral("updatedAt"), device.clock.now() + 30);
            changed.push_back(record);
        }
        auto saved = inner.modify(changed, {});
        saved.waitForFinished();
        if (saved.result().error)
            return false;
        const RunFigures remote = runOnce(*device.sync);
        seen = seen && remote.ok && device.store->todos().todos()[4321 + round].title == title;
        remoteStalls.push_back(remote.longestStallMs);
        remoteRawStalls.push_back(remote.longestRawStallMs);
    }
    const auto range = [](const std::vector<double>& v) {
        return QStringLiteral("%1–%2")
            .arg(*std::min_element(v.begin(), v.end()), 0, 'f', 1)
            .arg(*std::max_element(v.begin(), v.end()), 0, 'f', 1)
            .toStdString();
    };
    std::printf("5 runs after an edit here: longest stalls %s ms (%s ms with the waits for a processor)\n",
                range(localStalls).c_str(), range(localRawStalls).c_str());
    benchLimit(label("longest main-thread stall, run after an edit here (median of 5)").c_str(), median(localStalls),
               "ms", 16.0);
    std::printf("5 runs after another device's edit: %s; longest stalls %s ms (%s ms with the waits for a "
                "processor)\n",
                seen ? "all taken in" : "NOT ALL TAKEN IN", range(remoteStalls).c_str(),
                range(remoteRawStalls).c_str());
    benchLimit(label("longest main-thread stall, run after an edit elsewhere (median of 5)").c_str(),
               median(remoteStalls), "ms", 16.0);
    return seen;
}

// CPU time of the whole process (the main thread and the workers) so far, in ms.
double processCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Bytes the known ids' files were given since `since`: the whole main file when it was replaced,
// and whatever its journal grew by.
struct KnownFiles {
    QString main, journal;
    QDateTime mainWritten;
    qint64 journalSize = 0;
    explicit KnownFiles(const QString& path) : main(path), journal(path + QStringLiteral(".journal")) { mark(); }
    void mark()
    {
        mainWritten = QFileInfo(main).lastModified();
        journalSize = QFileInfo(journal).size();
    }
    qint64 writtenSinceMark() const
    {
        const QFileInfo m(main), j(journal);
        qint64 bytes = m.lastModified() != mainWritten ? m.size() : 0;
        bytes += j.size() >= journalSize ? j.size() - journalSize : j.size();
        return bytes;
    }
};

// An account far larger than usual: its runs complete, no record written comes near the store's
// limit for one record, and a run that carries one new to-do costs about what one that carries
// nothing does, in CPU and in bookkeeping written.
bool measureLarge(RecordStore& inner, int todoCount)
{
    Device device(inner, todoCount);
    const RunFigures first = runOnce(*device.sync);
    device.clock.advance(60);
    TaskItem edited = device.store->todos().todos()[todoCount / 2];
    edited.title += QStringLiteral(" (edited)");
    device.store->todos().upsertTodo(edited);
    const RunFigures second = first.ok ? runOnce(*device.sync) : RunFigures{};
    std::printf("\nSQLite, %d to-dos and 2,000 notes: first run %s in %.0f ms, the run after an edit %s in %.0f ms\n",
                todoCount, first.ok ? "completed" : "FAILED", first.ms, second.ok ? "completed" : "FAILED", second.ms);
    const std::string what =
        QStringLiteral("largest record written, %1k to-dos, SQLite").arg(todoCount / 1000).toStdString();
    benchLimit(what.c_str(), device.records.largestSave / 1024.0, "KiB", RecordStore::maxRecordBytes / 4 / 1024.0);
    if (!first.ok || !second.ok)
        return false;

    // Settled first: the run after an edit moved the store's stamp itself.
    device.clock.advance(60);
    if (!runOnce(*device.sync).ok)
        return false;
    device.store->core().waitForWrites();
    device.knownIds.waitForWrites();
    // A run that read every record of so large an account leaves over a hundred thousand blocks to
    // free, which takes the freeing thread a while: each figure is what a run costs, not that tail
    // landing in the heap the run allocates from.
    device.waitForReleases();
    std::vector<double> quiet, oneChange;
    qint64 bookkeeping = 0;
    int written = 0;
    KnownFiles known(device.knownIds.path());
    device.records.measureSaves = false;
    // Each run's figure holds the files it has written in the background (both kinds of run note
    // their success), and nothing of the run or the edit before it.
    for (int round = 0; round < 5; ++round) {
        device.clock.advance(60);
        double before = processCpuMs();
        if (!runOnce(*device.sync).ok)
            return false;
        device.waitForWrites();
        quiet.push_back(processCpuMs() - before);

        device.clock.advance(60);
        TaskItem added;
        added.id = QUuid::createUuid();
        added.title = QStringLiteral("Added while measuring %1").arg(round);
        added.time = TaskItem::anytime;
        added.createdAt = device.clock.now();
        device.store->todos().addTodo(added);
        device.waitForWrites();
        known.mark();
        device.records.resetCounts();
        before = processCpuMs();
        if (!runOnce(*device.sync).ok)
            return false;
        device.waitForWrites();
        oneChange.push_back(processCpuMs() - before);
        bookkeeping = std::max(bookkeeping, known.writtenSinceMark());
        written = std::max(written, device.records.written);
    }
    const int k = todoCount / 1000;
    std::printf("SQLite, %dk to-dos: no-change runs %.1f ms CPU (median of 5), one-new-to-do runs %.1f ms CPU; "
                "records written by one such run: %d (with the manifest's)\n",
                k, median(quiet), median(oneChange), written);
    benchFigure(QStringLiteral("one-change sync CPU, %1k to-dos, SQLite").arg(k).toStdString().c_str(),
                median(oneChange), "ms", "no-change sync CPU", median(quiet), 3.0);
    benchAtMost(QStringLiteral("known-id bytes written for one change, %1k").arg(k).toStdString().c_str(),
                double(bookkeeping), "B", 512);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // The heaps as the application sets them up: how freed blocks are kept decides what a free or
    // a large allocation on the main thread costs.
    MemoryReturn::setAllocatorPolicy();
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("Sync.info=false"));
    const int todoCount = argc > 1 ? std::max(QByteArray(argv[1]).toInt(), 5000) : 10000;
    bool ok = true;
    {
        QTemporaryDir folder;
        SqliteRecordStore sqlite(folder.filePath(QStringLiteral("records.sqlite")));
        ok = measure("SQLite", sqlite, todoCount) && ok;
    }
    for (const int large : {30000, 50000, 100000}) {
        QTemporaryDir folder;
        SqliteRecordStore sqlite(folder.filePath(QStringLiteral("records.sqlite")));
        ok = measureLarge(sqlite, large) && ok;
    }
    PostgresServer server;
    if (!server.start()) {
        std::printf("\nPostgreSQL: not measured, the server did not start: %s\n", qPrintable(server.error()));
        return ok ? 0 : 1;
    }
    {
        PostgresRecordStore postgres(server.connection());
        ok = measure("PostgreSQL", postgres, todoCount) && ok;
    }
    return ok ? 0 : 1;
}
