#pragma once

#include "model/Note.h"
#include "model/TaskItem.h"
#include "sync/ManifestPages.h"
#include "sync/RecordStore.h"
#include "sync/SyncBookkeeping.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class MemoryReleaser;
class StorageService;
struct SyncEnvironment;

// The manifest as read, every page of it: whether it exists, the listed item ids (each once), and
// the series every device stopped or deleted.
struct SyncManifest {
    bool exists = false;
    std::vector<QUuid> taskIds;
    std::vector<QUuid> noteIds;
    QSet<QUuid> stoppedSeriesIds;
    QSet<QUuid> deletedSeriesIds;
};

// One complete two-way run: check the account, read the manifest, send local deletions, fetch
// every listed record, merge, apply the repeating to-dos of the whole account, hand changes to the
// store, upload what differs, send deletions again, rewrite the manifest, and keep the
// bookkeeping. SyncService makes one for each run and chooses every text from what it reports.
class SyncRun {
public:
    static constexpr int deleteChunk = 200;
    static constexpr int fetchChunk = 100;
    static constexpr int saveChunk = 200;
    // To-dos copied for a run in one turn of the event loop, at most, and within how long.
    static constexpr size_t copySlice = 4000;
    static constexpr qint64 copySliceNs = 2'000'000;
    static constexpr size_t copyStep = 256;
    // Changes of the store looked up one by one; more are found by reading every item.
    static constexpr qsizetype fewChanges = 32;
    static inline const QString manifestRecordName = QStringLiteral("qh-sync-manifest");
    static inline const QString manifestRecordType = QStringLiteral("QHSyncManifest");

    // Where a run left both sides in step: the record store's change stamp read before its reads,
    // and the count of local changes when it took the lists it uploaded from. While neither moved,
    // a run has nothing to fetch, merge or send.
    struct Settled {
        QString accountKey;
        QString stamp;
        quint64 localChanges = 0;
        // What each item read as then (a hash of its fields), and the series sets then: a run that
        // finds only local changes since sends just the items that read differently now.
        QHash<QUuid, size_t> todoDigests, noteDigests;
        QSet<QUuid> stopped, deleted;
        quint64 todosRevision = 0; // of the to-dos the digests were taken from
        int manifestPages = 0;     // as the run saved the manifest; 0: not known
        quint64 notesRevision = 0; // of the notes the digests were taken from
    };
    // What runs remember from one to the next, in memory only (a start reads everything). The
    // service counts the local changes and forgets `settled` when something a run reads changes.
    struct Memory {
        std::optional<Settled> settled;
        quint64 localChanges = 0; // every change of the store's to-dos or notes
        QString accountKey;       // as the last account check found it
        // Records the last full run fetched and could not read: still there while it is settled.
        int unreadableItems = 0;
        // While above 0, a change of the known sets is a run's own and does not unsettle it.
        int ownWrites = 0;
        // Set by a run that went on to read every record: it made and freed the bulk of the heap.
        bool readEverything = false;
        // Whether what a run freed is to be given back after the next one too.
        bool giveBackOwed = false;
        // The to-dos of a series as the store held them at `revision`: a run after a change of a
        // few to-dos looks again at those few, not at every to-do.
        struct SeriesTodos {
            quint64 revision = 0;
            std::vector<TaskItem> todos;
        };
        std::optional<SeriesTodos> seriesTodos;
    };
    struct OwnWrites {
        explicit OwnWrites(Memory& memory) : m_memory(memory) { ++m_memory.ownWrites; }
        ~OwnWrites() { --m_memory.ownWrites; }
        OwnWrites(const OwnWrites&) = delete;
        OwnWrites& operator=(const OwnWrites&) = delete;
        Memory& m_memory;
    };

    // What a run tells the service as it goes.
    class Reports {
    public:
        virtual void runStarted() = 0;
        // Any status but available ends the run here.
        virtual void accountStatusRead(int status) = 0;
        virtual void runSucceeded(int tasks, int notes, int uploaded) = 0;
        virtual void runFailed(const RecordError& error) = 0;

    protected:
        ~Reports() = default;
    };

    // What a run is given: the service's store, record store and bookkeeping, and `alive`, which
    // turns false when they go; a run resumed after that ends without touching them.
    struct Context {
        QPointer<StorageService> storage;
        const SyncEnvironment* env = nullptr; // with a record store
        SyncBookkeeping* bookkeeping = nullptr;
        Memory* memory = nullptr;
        Reports* reports = nullptr;
        QObject* owner = nullptr; // where work handed to the releaser is queued
        MemoryReleaser* releaser = nullptr;
        std::shared_ptr<bool> alive;
    };

    explicit SyncRun(Context context);

    // Never throws: the outcome goes to the reports.
    QCoro::Task<> perform();

private:
    struct DeletedIds {
        QSet<QUuid> tasks;
        QSet<QUuid> notes;
    };
    // The store's lists as one moment saw them, with their revisions and the count of local
    // changes then.
    struct LocalLists {
        std::vector<TaskItem> todos;
        std::vector<Note> notes;
        quint64 todosRevision = 0, notesRevision = 0, localChanges = 0;
    };
    struct MergeWork;
    struct UploadWork;
    struct SeriesCheck;
    struct ManifestMerge;
    // Thrown when the service or its store went away while the run was suspended: it just ends.
    struct Abandoned {};

    // ---- the steps (SyncRun.cpp)
    QCoro::Task<> steps();
    // Steps 6 to 10: the records fetched, merged with the local lists, and the result taken in.
    QCoro::Task<std::shared_ptr<MergeWork>> fetchAndMerge(SyncManifest manifest);
    QCoro::Task<> takeIn(std::shared_ptr<MergeWork> merging);
    // Steps 11 to 17: what differs uploaded, deletions sent again, the manifest saved, and the
    // bookkeeping written.
    QCoro::Task<> sendAndRecord(std::shared_ptr<MergeWork> merging, DeletedIds firstPush, QString stamp);
    QCoro::Task<bool> stillSettled(QString stamp);
    QCoro::Task<bool> seriesWouldChange();
    // Steps 5 to 17 for a record store nobody wrote to since the run that settled: only the items
    // that read differently from then are fetched and sent, and the manifest's pages that list
    // new or deleted ids. False (having sent nothing) when it cannot tell what changed here.
    QCoro::Task<bool> sendLocalChanges(QString stamp);
    // The manifest pages that list a few ids added and removed, with the change made on them.
    struct PagePatch {
        std::vector<CloudRecord> changed; // to save; none when the pages list the ids as asked already
        int count = 0;                    // the pages the manifest has
    };
    // Fetches the pages that list `adding` and `removing` and changes them in memory; none when that
    // cannot be done in place (no manifest, a page would outgrow its record).
    QCoro::Task<std::optional<PagePatch>> patchedPages(ManifestPages::IdFields adding,
                                                       ManifestPages::IdFields removing);
    // Adds and removes a few ids on the manifest pages that list them; false (nothing saved) when
    // that cannot be done in place (as above, or a conflict: `conflicted` tells).
    QCoro::Task<bool> patchManifest(ManifestPages::IdFields adding, ManifestPages::IdFields removing,
                                    std::shared_ptr<bool> conflicted);
    // Notes a write request's answer: whether the run's requests still follow on from the stamp it read.
    void chain(const ModifyResults& results);
    // Copies the lists a slice of to-dos per turn of the event loop, so that no turn holds the main
    // thread for all of them; a copy the store changed under starts over (the third time, it is
    // made in one turn).
    QCoro::Task<LocalLists> copyLocalLists();
    // Reads the id sets of `keys` not read yet on a worker: tens of thousands of texts each.
    QCoro::Task<> readIdSets(QStringList keys);
    QCoro::Task<> writeIdSets(std::vector<SyncBookkeeping::IdSetWrite> writes);
    // Waits for the store's files to be written, and fails the run with the reason when one was
    // not: what is known of the record store is kept only once what came from it is on disk.
    QCoro::Task<> confirmListsWritten();

    // ---- the record store's requests (SyncTransfer.cpp); each throws the store's error
    QCoro::Task<> checkAccountKey();
    QCoro::Task<SyncManifest> fetchManifest();
    // The manifest's records, page 0 first, a page not stored as none; none at all: no manifest.
    QCoro::Task<std::vector<std::optional<CloudRecord>>> fetchManifestPages();
    // `mayRetry` false: a conflict was met already in this run's save of the manifest.
    QCoro::Task<> saveManifest(QSet<QUuid> taskIds, QSet<QUuid> noteIds, QSet<QUuid> removedTaskIds,
                               QSet<QUuid> removedNoteIds, QSet<QUuid> stoppedSeriesIds, QSet<QUuid> deletedSeriesIds,
                               bool mayRetry = true);
    // `alreadySent`: sent by this run already, and not again.
    QCoro::Task<DeletedIds> pushPendingDeletes(DeletedIds alreadySent = {});
    QCoro::Task<std::vector<CloudRecord>> fetchRecords(std::vector<QUuid> ids);
    QCoro::Task<> saveRecords(std::vector<CloudRecord> records);
    // Saves a few records and the manifest pages that list them in one request, all or none. False
    // when any of it failed, and nothing was saved (`conflicted`: a page had changed).
    QCoro::Task<bool> saveListed(std::vector<CloudRecord> records, PagePatch pages, std::shared_ptr<bool> conflicted);
    // Notes saved items as present in the record store.
    QCoro::Task<> noteSaved(QSet<QUuid> tasks, QSet<QUuid> notes);
    // Awaits one answer of the record store: its value, or its error thrown to the run.
    template <typename T> QCoro::Task<T> answer(QFuture<StoreAnswer<T>> future);

    // Throws Abandoned once the service or its store is gone.
    void abandonIfGone() const;
    RecordStore& recordStore() const;
    Date now() const;
    // Drops what `data` holds on the releaser's worker: freeing a run's records takes the main
    // thread too long, and the pages are given back only once it is done. Handed over a turn
    // later: until a step's scope ends its frame may still hold copies (of the arguments of what
    // it awaited), and the last reference must not be the one dropped here.
    template <typename T> void releaseOnWorker(std::shared_ptr<T> data) const
    {
        releaseLater(std::shared_ptr<void>(std::move(data)));
    }
    void releaseLater(std::shared_ptr<void> data) const;
    static QSet<QUuid> recordIdSet(const std::vector<CloudRecord>& records);
    // Runs `work` on a worker thread; the run resumes on its own thread once it is done.
    static QFuture<void> onWorker(std::function<void()> work);
    // Finishes in the next turn of this thread's event loop: what follows runs in a slice of its own.
    // The turn belongs to the run's owner: one still pending when the application ends is dropped
    // with the owner, not among the application's last events, where dropping it would deadlock.
    QFuture<void> nextTurn() const;

    Context m_context;
    SyncBookkeeping& m_bookkeeping;
    Memory& m_memory;
    // The stamp after this run's last write, while only this run wrote since it read the stamp.
    std::optional<QString> m_chain;
    int m_manifestPages = 0; // as this run last saved (or found) the manifest; 0: not known
};

template <typename T> QCoro::Task<T> SyncRun::answer(QFuture<StoreAnswer<T>> future)
{
    // Waited for without copying the answer: it is taken out of the future, which would otherwise
    // free its own copy on this thread later.
    const QFuture<void> done(future);
    co_await done;
    abandonIfGone();
    StoreAnswer<T> reply = future.takeResult();
    if (reply.error)
        throw *reply.error;
    co_return std::move(reply.value);
}
