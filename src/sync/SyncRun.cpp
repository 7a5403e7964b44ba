#include "sync/SyncRun.h"

#include "files/Defaults.h"
#include "model/Clock.h"
#include "model/Json.h"
#include "model/TaskRecurrence.h"
#include "store/StorageService.h"
#include "sync/RecordMapper.h"
#include "sync/SyncEnvironment.h"
#include "sync/SyncMerge.h"
#include "system/MemoryReturn.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(syncLog)

namespace {

template <typename T> QSet<QUuid> idsOf(const std::vector<T>& items)
{
    QSet<QUuid> ids;
    ids.reserve(qsizetype(items.size()));
    for (const T& item : items)
        ids.insert(item.id);
    return ids;
}

// Ids of local items that the manifest does not list: their records are fetched as well, so that
// an item is only ever dropped once its record is confirmed missing.
template <typename T> std::vector<QUuid> unlistedIds(const std::vector<T>& local, const QSet<QUuid>& inManifest)
{
    std::vector<QUuid> out;
    for (const T& item : local)
        if (!inManifest.contains(item.id))
            out.push_back(item.id);
    return out;
}

// The records of one kind, read as items; a record of another type, one with a field this version
// reads that it cannot decode, or one that cannot be read at all is logged and left out (it still
// counts as fetched, and is left as it is in the store).
template <typename T>
std::vector<T> readRecords(const std::vector<CloudRecord>& records, const QString& type,
                           std::optional<T> (*read)(const CloudRecord&), const QStringList& fields, const char* what)
{
    std::vector<T> items;
    items.reserve(records.size());
    for (const CloudRecord& record : records) {
        if (record.recordType() != type) {
            qCCritical(syncLog, "Skipping malformed %s record %s", what, qUtf8Printable(record.recordName()));
            continue;
        }
        // Read without such a field, the item would be saved back without it. Any other field is
        // never written here, so a save leaves it as it is.
        QStringList unreadable = record.unreadableKeys();
        unreadable.removeIf([&fields](const QString& key) { return !fields.contains(key); });
        if (!unreadable.isEmpty()) {
            qCCritical(syncLog, "Skipping %s record %s: its fields %s cannot be read here", what,
                       qUtf8Printable(record.recordName()), qUtf8Printable(unreadable.join(u',')));
            continue;
        }
        if (std::optional<T> item = read(record))
            items.push_back(std::move(*item));
    }
    return items;
}

// The items that differ from their fetched record (an unreadable one is left alone), as records to
// save: the fetched record where there is one, which carries the change tag a save needs and gets
// its stale fields cleared.
template <typename T>
void selectUploads(const std::vector<T>& items, const QSet<QUuid>& unreadable, const QHash<QUuid, T>& remoteById,
                   const QHash<QString, CloudRecord>& recordIndex, const QString& type,
                   void (*fill)(const T&, CloudRecord&), std::vector<CloudRecord>& upload)
{
    for (const T& item : items) {
        if (unreadable.contains(item.id))
            continue;
        if (const auto it = remoteById.constFind(item.id);
            it != remoteById.cend() && (item == *it || SyncMerge::fingerprint(item) == SyncMerge::fingerprint(*it)))
            continue;
        const QString name = uuidText(item.id);
        CloudRecord record = recordIndex.value(name, CloudRecord(type, name));
        fill(item, record);
        upload.push_back(std::move(record));
    }
}

// What an item reads as, for telling in memory whether it changed since: every field.
size_t digestOf(const TaskItem& t)
{
    size_t seed = qHashMulti(0, t.id, t.title, t.time, int(t.priority), t.isCompleted, t.dueDate.has_value(),
                             t.dueDate.value_or(0), t.createdAt, t.updatedAt, t.reminderDate.has_value(),
                             t.reminderDate.value_or(0), t.notes.has_value(), t.notes.value_or(QString()));
    seed = qHashMulti(seed, int(t.repeatOption), t.recurringSeriesId.has_value(), t.recurringSeriesId.value_or(QUuid()),
                      t.subtasks.size());
    for (const Subtask& s : t.subtasks)
        seed = qHashMulti(seed, s.id, s.title, s.isCompleted);
    return seed;
}

size_t digestOf(const Note& n)
{
    return qHashMulti(0, n.id, n.title, n.body, n.createdAt, n.updatedAt);
}

template <typename T> QHash<QUuid, size_t> digestsOf(const std::vector<T>& items)
{
    QHash<QUuid, size_t> digests;
    digests.reserve(qsizetype(items.size()));
    for (const T& item : items)
        digests.insert(item.id, digestOf(item));
    return digests;
}

// The items of `list` that read differently from `before`, and how many of `before` are still
// there; false when an id is listed twice or an item awaiting deletion is still listed.
template <typename List, typename T>
bool changedSince(const List& list, size_t from, size_t to, const QHash<QUuid, size_t>& before,
                  const QSet<QUuid>& pendingDeletes, std::vector<T>& changed, QHash<QUuid, size_t>& digests,
                  qsizetype& stillThere)
{
    for (size_t i = from; i < to; ++i) {
        const T& item = list[i];
        if (pendingDeletes.contains(item.id))
            return false;
        const size_t digest = digestOf(item);
        const auto it = before.constFind(item.id);
        if (it != before.cend())
            ++stillThere;
        if (it == before.cend() || *it != digest) {
            if (digests.contains(item.id))
                return false;
            digests.insert(item.id, digest);
            changed.push_back(item);
        }
    }
    return true;
}

// The same for the items of `ids` alone, found one by one: the store told which changed.
template <typename List, typename T>
bool changedAmong(const List& list, const QSet<QUuid>& ids, const QHash<QUuid, size_t>& before,
                  const QSet<QUuid>& pendingDeletes, std::vector<T>& changed, QHash<QUuid, size_t>& digests,
                  QSet<QUuid>& gone)
{
    for (const QUuid& id : ids) {
        const auto item = std::find_if(list.begin(), list.end(), [&id](const T& t) { return t.id == id; });
        const auto was = before.constFind(id);
        if (item == list.end()) {
            if (was != before.cend() && !pendingDeletes.contains(id))
                return false;
            if (was != before.cend())
                gone.insert(id);
            continue;
        }
        if (pendingDeletes.contains(id))
            return false;
        const size_t digest = digestOf(*item);
        if (was == before.cend() || *was != digest) {
            digests.insert(id, digest);
            changed.push_back(*item);
        }
    }
    return true;
}

// Whether a fetched copy would win over the local item in a merge: then this is no change made
// only here.
template <typename T> bool remoteWouldWin(const std::vector<T>& local, const std::vector<T>& remote)
{
    const QHash<QUuid, T> byId = SyncMerge::firstById(remote);
    for (const T& item : local) {
        const auto it = byId.constFind(item.id);
        if (it != byId.cend() && it->updatedAt >= item.updatedAt && !(*it == item))
            return true;
    }
    return false;
}

RecordError localFailure(const QString& text)
{
    return RecordError{RecordFailure::localWrite, text, {}, {}};
}

} // namespace

QFuture<void> SyncRun::nextTurn() const
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> future = promise->future();
    promise->start();
    QTimer::singleShot(0, m_context.owner, [promise] { promise->finish(); });
    return future;
}

QFuture<void> SyncRun::onWorker(std::function<void()> work)
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, work = std::move(work)] {
        work();
        promise->finish();
    });
    return future;
}

// Reading, merging and the series pass of one run, from copies of what they need.
struct SyncRun::MergeWork {
    std::vector<CloudRecord> taskRecords, noteRecords;
    // What the store held when the merge began, and its revisions then: while they have not
    // moved, the merged lists can be taken in as they are.
    std::vector<TaskItem> localTodos;
    std::vector<Note> localNotes;
    quint64 todosRevision = 0, notesRevision = 0;
    QSet<QUuid> listedTaskIds, listedNoteIds, askedTaskIds, askedNoteIds, knownTaskIds, knownNoteIds;
    QSet<QUuid> pendingTaskDeletes, pendingNoteDeletes, stopped, deleted;
    bool manifestExists = false;
    Date now = 0;
    Calendar calendar;

    std::vector<TaskItem> remoteTodos;
    std::vector<Note> remoteNotes;
    QSet<QUuid> fetchedTaskIds, fetchedNoteIds, unreadableTaskIds, unreadableNoteIds;
    MergeResult<TaskItem> todos;
    MergeResult<Note> notes;
    TaskRecurrence::SeriesChanges series;
    // The merged to-dos as the store takes them in, when they changed.
    std::optional<TodoStore::SyncedTodos> syncedTodos;

    void takeLocal(LocalLists lists)
    {
        localTodos = std::move(lists.todos);
        localNotes = std::move(lists.notes);
        todosRevision = lists.todosRevision;
        notesRevision = lists.notesRevision;
    }
    void takeLocal(const StorageService& store)
    {
        localTodos = store.todos().todos().toVector();
        localNotes = store.notes().notes();
        todosRevision = store.todos().revision();
        notesRevision = store.notes().revision();
    }
    bool localChanged(const StorageService& store) const
    {
        return store.todos().revision() != todosRevision || store.notes().revision() != notesRevision;
    }

    std::vector<QUuid> unlistedTasks, unlistedNotes;

    // The ids the manifest lists, the local ones it does not, and all that are asked for.
    void list(const std::vector<QUuid>& taskIds, const std::vector<QUuid>& noteIds)
    {
        listedTaskIds = QSet<QUuid>(taskIds.begin(), taskIds.end());
        listedNoteIds = QSet<QUuid>(noteIds.begin(), noteIds.end());
        unlistedTasks = unlistedIds(localTodos, listedTaskIds);
        unlistedNotes = unlistedIds(localNotes, listedNoteIds);
        askedTaskIds = listedTaskIds + QSet<QUuid>(unlistedTasks.begin(), unlistedTasks.end());
        askedNoteIds = listedNoteIds + QSet<QUuid>(unlistedNotes.begin(), unlistedNotes.end());
    }

    void run()
    {
        remoteTodos = readRecords<TaskItem>(taskRecords, RecordMapper::taskRecordType, &RecordMapper::taskItem,
                                            RecordMapper::taskFields(), "task");
        remoteNotes = readRecords<Note>(noteRecords, RecordMapper::noteRecordType, &RecordMapper::note,
                                        RecordMapper::noteFields(), "note");
        fetchedTaskIds = recordIdSet(taskRecords);
        fetchedNoteIds = recordIdSet(noteRecords);
        unreadableTaskIds = fetchedTaskIds - idsOf(remoteTodos);
        unreadableNoteIds = fetchedNoteIds - idsOf(remoteNotes);
        // Only an id whose record was asked for and not found counts as deleted elsewhere.
        todos = SyncMerge::merge(localTodos, remoteTodos, fetchedTaskIds, knownTaskIds & askedTaskIds,
                                 pendingTaskDeletes, manifestExists);
        notes = SyncMerge::merge(localNotes, remoteNotes, fetchedNoteIds, knownNoteIds & askedNoteIds,
                                 pendingNoteDeletes, manifestExists);
        series = TaskRecurrence::maintain(todos.items, stopped, deleted, now, calendar);
        syncedTodos.reset();
        if (series.changed)
            syncedTodos = TodoStore::SyncedTodos::between(localTodos, todosRevision, std::move(series.list));
        else if (todos.changed)
            syncedTodos = TodoStore::SyncedTodos::between(localTodos, todosRevision, std::move(todos.items));
    }
};

// The series pass over the to-dos of a series, only to learn whether it would change anything.
struct SyncRun::SeriesCheck {
    std::vector<TaskItem> series;
    QSet<QUuid> stopped, deleted;
    Date now = 0;
    Calendar calendar;
    bool changed = false;

    void run()
    {
        const TaskRecurrence::SeriesChanges pass = TaskRecurrence::maintain(series, stopped, deleted, now, calendar);
        changed = pass.changed || !pass.dropped.isEmpty();
    }
};

// The records to save: items that differ from their fetched record, encoded onto it.
struct SyncRun::UploadWork {
    std::shared_ptr<const MergeWork> merged;
    std::vector<TaskItem> todos;
    std::vector<Note> notes;
    std::vector<CloudRecord> upload;
    // What the manifest and the bookkeeping need of the lists: tens of thousands of ids.
    QSet<QUuid> todoIds, noteIds, missingTaskIds, missingNoteIds;
    QHash<QUuid, size_t> todoDigests, noteDigests;

    void run()
    {
        todoIds = idsOf(todos);
        noteIds = idsOf(notes);
        todoDigests = digestsOf(todos);
        noteDigests = digestsOf(notes);
        missingTaskIds = merged->listedTaskIds - merged->fetchedTaskIds;
        missingNoteIds = merged->listedNoteIds - merged->fetchedNoteIds;
        QHash<QString, CloudRecord> recordIndex;
        for (const std::vector<CloudRecord>* list : {&merged->taskRecords, &merged->noteRecords})
            for (const CloudRecord& record : *list)
                if (!recordIndex.contains(record.recordName()))
                    recordIndex.insert(record.recordName(), record);
        selectUploads(todos, merged->unreadableTaskIds, SyncMerge::firstById(merged->remoteTodos), recordIndex,
                      RecordMapper::taskRecordType, &RecordMapper::apply, upload);
        selectUploads(notes, merged->unreadableNoteIds, SyncMerge::firstById(merged->remoteNotes), recordIndex,
                      RecordMapper::noteRecordType, &RecordMapper::fillNoteRecord, upload);
    }
};

QSet<QUuid> SyncRun::recordIdSet(const std::vector<CloudRecord>& records)
{
    QSet<QUuid> ids;
    for (const CloudRecord& record : records)
        if (const auto id = parseUuid(record.recordName()))
            ids.insert(*id);
    return ids;
}

SyncRun::SyncRun(Context context)
    : m_context(std::move(context)), m_bookkeeping(*m_context.bookkeeping), m_memory(*m_context.memory)
{
}

void SyncRun::abandonIfGone() const
{
    // Checked before anything else is touched: the service may be gone.
    if (!*m_context.alive || !m_context.storage)
        throw Abandoned{};
}

RecordStore& SyncRun::recordStore() const
{
    return *m_context.env->recordStore;
}

Date SyncRun::now() const
{
    return m_context.env->clock->now();
}

void SyncRun::releaseLater(std::shared_ptr<void> data) const
{
    MemoryReleaser* releaser = m_context.releaser;
    QMetaObject::invokeMethod(
        m_context.owner, [releaser, data = std::move(data)]() mutable { releaser->release(std::move(data)); },
        Qt::QueuedConnection);
}

QCoro::Task<> SyncRun::perform()
{
    try {
        co_await steps();
    } catch (const Abandoned&) {
        co_return;
    } catch (const RecordError& error) {
        m_context.reports->runFailed(error);
    }
}

QCoro::Task<> SyncRun::steps()
{
    m_context.reports->runStarted();
    // 2. Account status.
    const int status = co_await answer(recordStore().accountStatus());
    m_context.reports->accountStatusRead(status);
    if (status != RecordStore::accountAvailable)
        co_return;
    // What an earlier run received but could not write here is written again.
    m_context.storage->retryUnwrittenFiles();

    // 3. The account key.
    co_await checkAccountKey();

    // Nothing written to the record store, and nothing changed here, since a run left both sides in
    // step: there is nothing to fetch, merge or send.
    const QString stamp = co_await answer(recordStore().changeStamp());
    if (!stamp.isEmpty())
        m_chain = stamp;
    const bool settled = co_await stillSettled(stamp);
    if (settled) {
        m_context.reports->runSucceeded(int(m_context.storage->todos().todos().size()),
                                        int(m_context.storage->notes().notes().size()), 0);
        co_return;
    }
    if (co_await sendLocalChanges(stamp))
        co_return;

    m_memory.readEverything = true;
    // 4. The manifest, and what this device knew and deleted.
    QStringList idSetKeys;
    idSetKeys << SyncBookkeeping::knownTasksKey << SyncBookkeeping::knownNotesKey << SyncBookkeeping::pendingTaskDeletes
              << SyncBookkeeping::pendingNoteDeletes;
    co_await readIdSets(std::move(idSetKeys));
    SyncManifest manifest = co_await fetchManifest();

    // 5. Deletions made here.
    DeletedIds firstPush = co_await pushPendingDeletes();

    // 6.–10. Fetched, merged and taken in. Moved along, never kept here: the last reference to the
    // merge's records is dropped on a worker.
    std::shared_ptr<MergeWork> merged = co_await fetchAndMerge(std::move(manifest));
    co_await takeIn(merged);
    co_await sendAndRecord(std::move(merged), std::move(firstPush), stamp);
}

QCoro::Task<std::shared_ptr<SyncRun::MergeWork>> SyncRun::fetchAndMerge(SyncManifest manifest)
{
    // 6. Every listed record, then the records of local items the manifest does not list.
    std::vector<CloudRecord> taskRecords = co_await fetchRecords(manifest.taskIds);
    std::vector<CloudRecord> noteRecords = co_await fetchRecords(manifest.noteIds);
    abandonIfGone();
    // The lists as they are now, for the merge; which of their ids the manifest lacks is worked out
    // on a worker (a set of tens of thousands of ids).
    auto merging = std::make_shared<MergeWork>();
    LocalLists local = co_await copyLocalLists();
    merging->takeLocal(std::move(local));
    QFuture<void> working = onWorker(
        [merging, taskIds = manifest.taskIds, noteIds = manifest.noteIds] { merging->list(taskIds, noteIds); });
    co_await working;
    abandonIfGone();
    std::vector<CloudRecord> unlistedTaskRecords = co_await fetchRecords(merging->unlistedTasks);
    std::vector<CloudRecord> unlistedNoteRecords = co_await fetchRecords(merging->unlistedNotes);
    std::move(unlistedTaskRecords.begin(), unlistedTaskRecords.end(), std::back_inserter(taskRecords));
    std::move(unlistedNoteRecords.begin(), unlistedNoteRecords.end(), std::back_inserter(noteRecords));

    // 7.–9. Read the records, merge them, and apply the repeating to-dos of the whole account: the
    // costly part of a run, done on a worker from values read here.
    StorageService& store = *m_context.storage;
    store.series().storeRecurringSeries(manifest.stoppedSeriesIds, manifest.deletedSeriesIds);
    merging->taskRecords = std::move(taskRecords);
    merging->noteRecords = std::move(noteRecords);
    merging->knownTaskIds = m_bookkeeping.idSet(SyncBookkeeping::knownTasksKey);
    merging->knownNoteIds = m_bookkeeping.idSet(SyncBookkeeping::knownNotesKey);
    merging->pendingTaskDeletes = m_bookkeeping.idSet(SyncBookkeeping::pendingTaskDeletes);
    merging->pendingNoteDeletes = m_bookkeeping.idSet(SyncBookkeeping::pendingNoteDeletes);
    merging->manifestExists = manifest.exists;
    merging->stopped = store.series().recurringSeriesIDs(SeriesPass::stoppedSeriesKey);
    merging->deleted = store.series().recurringSeriesIDs(SeriesPass::deletedSeriesKey);
    merging->now = now();
    merging->calendar = TaskRecurrence::maintenanceCalendar(m_context.env->calendar());
    working = onWorker([merging] { merging->run(); });
    co_await working;
    abandonIfGone();
    co_return merging;
}

QCoro::Task<> SyncRun::takeIn(std::shared_ptr<MergeWork> merging)
{
    StorageService& store = *m_context.storage;
    // The person may have changed something meanwhile: merge again from what the store holds now
    // (here at once after a few tries, so a busy person cannot hold the run off for ever).
    int tries = 1;
    bool replaced = false;
    for (;;) {
        while (merging->localChanged(store)) {
            merging->takeLocal(store);
            // A deletion made meanwhile is pending now: without it the merge would take the deleted
            // item back in as new from elsewhere.
            merging->pendingTaskDeletes = m_bookkeeping.idSet(SyncBookkeeping::pendingTaskDeletes);
            merging->pendingNoteDeletes = m_bookkeeping.idSet(SyncBookkeeping::pendingNoteDeletes);
            merging->stopped = store.series().recurringSeriesIDs(SeriesPass::stoppedSeriesKey);
            merging->deleted = store.series().recurringSeriesIDs(SeriesPass::deletedSeriesKey);
            if (++tries > 3) {
                merging->run();
                continue;
            }
            // (GCC 12 coroutines: temporaries and references are not held across a suspension.)
            QFuture<void> working = onWorker([merging] { merging->run(); });
            co_await working;
            abandonIfGone();
        }
        if (!merging->series.dropped.isEmpty())
            m_bookkeeping.addToIdSet(SyncBookkeeping::pendingTaskDeletes, merging->series.dropped);

        // 10. Local update. Each list's file is written in a turn of the event loop of its own, so
        // the window is not held for both; the notes then go in only if nothing changed meanwhile,
        // else the lists are merged again from what the store holds.
        // The merged to-dos go in by a swap: what they need was worked out on the worker.
        const bool todosChanged = merging->syncedTodos.has_value();
        if (todosChanged) {
            if (const FileWrite written = store.todos().takeTodosFromSync(*merging->syncedTodos); !written)
                throw localFailure(written.error);
            replaced = true;
            // The list the store held before, freed on a worker.
            releaseOnWorker(std::make_shared<TodoList>(std::move(merging->syncedTodos->list)));
            merging->syncedTodos.reset();
            merging->todos.changed = merging->series.changed = false;
            // The store now holds the merged to-dos: a change of them or of the notes from here on
            // is a local edit, and means merging again from what the store holds then.
            merging->todosRevision = store.todos().revision();
        }
        if (!merging->notes.changed)
            break;
        if (todosChanged) {
            QFuture<void> turn = nextTurn();
            co_await turn;
            abandonIfGone();
            if (merging->localChanged(store))
                continue;
        }
        if (const FileWrite written = store.notes().replaceNotesFromSync(merging->notes.items); !written)
            throw localFailure(written.error);
        replaced = true;
        break;
    }
    // Known ids that no longer name what the data files on disk still hold would make those items
    // look new here after a restart, and bring back what another device deleted.
    co_await confirmListsWritten();
    // Bookkeeping nobody waits for: the file (large with many ids) is written on a worker.
    std::vector<SyncBookkeeping::IdSetWrite> fetched;
    fetched.push_back({SyncBookkeeping::knownTasksKey, merging->fetchedTaskIds});
    fetched.push_back({SyncBookkeeping::knownNotesKey, merging->fetchedNoteIds});
    co_await writeIdSets(std::move(fetched));
    if (replaced) {
        // The lists are read again for the upload in a turn of their own, too.
        QFuture<void> turn = nextTurn();
        co_await turn;
        abandonIfGone();
    }
}

QCoro::Task<> SyncRun::sendAndRecord(std::shared_ptr<MergeWork> merging, DeletedIds firstPush, QString stamp)
{
    // 11.–13. The items that differ from their records, encoded on a worker.
    auto uploading = std::make_shared<UploadWork>();
    uploading->merged = merging;
    LocalLists uploadLists = co_await copyLocalLists();
    uploading->todos = std::move(uploadLists.todos);
    uploading->notes = std::move(uploadLists.notes);
    const quint64 uploadedFrom = uploadLists.localChanges;
    const quint64 uploadedRevision = uploadLists.todosRevision;
    const quint64 uploadedNotesRevision = uploadLists.notesRevision;
    QFuture<void> working = onWorker([uploading] { uploading->run(); });
    co_await working;
    abandonIfGone();
    const int storeTodoCount = int(uploading->todos.size());
    const int storeNoteCount = int(uploading->notes.size());
    std::vector<CloudRecord> upload = std::move(uploading->upload);
    const int uploaded = int(upload.size());
    QSet<QUuid> storeTodoIds = std::move(uploading->todoIds);
    QSet<QUuid> storeNoteIds = std::move(uploading->noteIds);
    QHash<QUuid, size_t> todoDigests = std::move(uploading->todoDigests);
    QHash<QUuid, size_t> noteDigests = std::move(uploading->noteDigests);
    const QSet<QUuid> missingTaskIds = uploading->missingTaskIds;
    const QSet<QUuid> missingNoteIds = uploading->missingNoteIds;
    const QSet<QUuid> stopped = merging->stopped;
    const QSet<QUuid> deleted = merging->deleted;
    const int unreadable = int(merging->unreadableTaskIds.size() + merging->unreadableNoteIds.size());
    // The records and the copies made of them are not needed any more: tens of thousands of small
    // blocks, freed on a worker.
    releaseOnWorker(std::move(uploading));
    releaseOnWorker(std::move(merging));

    // 14. Upload.
    co_await saveRecords(std::move(upload));

    // 15. Deletions again, with those this run made and those made meanwhile.
    const DeletedIds secondPush = co_await pushPendingDeletes();

    // 16. The manifest.
    co_await saveManifest(storeTodoIds, storeNoteIds, firstPush.tasks + secondPush.tasks + missingTaskIds,
                          firstPush.notes + secondPush.notes + missingNoteIds, stopped, deleted);

    // 17. Bookkeeping, written on a worker.
    co_await confirmListsWritten();
    std::vector<SyncBookkeeping::IdSetWrite> stored;
    stored.push_back({SyncBookkeeping::knownTasksKey, storeTodoIds});
    stored.push_back({SyncBookkeeping::knownNotesKey, storeNoteIds});
    co_await writeIdSets(std::move(stored));
    const Defaults::Batch oneWrite(m_bookkeeping.preferences(), Defaults::Writing::inBackground);
    m_bookkeeping.clearPendingDeletes(firstPush.tasks + secondPush.tasks, firstPush.notes + secondPush.notes);
    m_memory.unreadableItems = unreadable;
    m_context.reports->runSucceeded(storeTodoCount, storeNoteCount, uploaded);
    // A run that wrote moved the stamp itself: unless its writes followed on from the stamp it
    // read with nobody else's between, the next one reads everything once more.
    // The digests of the run before (one per item) are freed on a worker, as the run's records are.
    if (m_memory.settled)
        releaseOnWorker(std::make_shared<Settled>(std::move(*m_memory.settled)));
    m_memory.settled.reset();
    if (!stamp.isEmpty())
        m_memory.settled = Settled{m_memory.accountKey,
                                   m_chain.value_or(stamp),
                                   uploadedFrom,
                                   std::move(todoDigests),
                                   std::move(noteDigests),
                                   stopped,
                                   deleted,
                                   uploadedRevision,
                                   m_manifestPages,
                                   uploadedNotesRevision};
    releaseOnWorker(
        std::make_shared<std::pair<QSet<QUuid>, QSet<QUuid>>>(std::move(storeTodoIds), std::move(storeNoteIds)));
}

QCoro::Task<SyncRun::LocalLists> SyncRun::copyLocalLists()
{
    for (int attempt = 1;; ++attempt) {
        abandonIfGone();
        StorageService& store = *m_context.storage;
        LocalLists lists;
        lists.todosRevision = store.todos().revision();
        lists.notesRevision = store.notes().revision();
        lists.localChanges = m_memory.localChanges;
        lists.todos.reserve(store.todos().todos().size());
        bool changed = false;
        for (;;) {
            {
                // A slice also ends once it has taken an eighth of a frame: 4,000 to-dos copied into
                // fresh memory now and then held the window's thread 14-24 ms at 20,000 to-dos.
                QElapsedTimer slice;
                slice.start();
                const auto& todos = store.todos().todos();
                const size_t last = attempt > 2 ? todos.size() : std::min(todos.size(), lists.todos.size() + copySlice);
                while (lists.todos.size() < last) {
                    const size_t from = lists.todos.size();
                    const size_t to = std::min(last, from + copyStep);
                    lists.todos.insert(lists.todos.end(), todos.begin() + qsizetype(from),
                                       todos.begin() + qsizetype(to));
                    if (attempt <= 2 && slice.nsecsElapsed() >= copySliceNs)
                        break;
                }
                if (lists.todos.size() == todos.size())
                    break;
            }
            QFuture<void> turn = nextTurn();
            co_await turn;
            abandonIfGone();
            if (store.todos().revision() != lists.todosRevision || store.notes().revision() != lists.notesRevision) {
                changed = true;
                break;
            }
        }
        if (changed) {
            releaseOnWorker(std::make_shared<std::vector<TaskItem>>(std::move(lists.todos)));
            continue;
        }
        lists.notes = store.notes().notes();
        co_return lists;
    }
}

QCoro::Task<bool> SyncRun::stillSettled(QString stamp)
{
    const std::optional<Settled>& settled = m_memory.settled;
    if (!settled || stamp.isEmpty() || settled->stamp != stamp || settled->accountKey != m_memory.accountKey ||
        settled->localChanges != m_memory.localChanges || m_context.storage->unwrittenLists() ||
        !m_bookkeeping.idSet(SyncBookkeeping::pendingTaskDeletes).isEmpty() ||
        !m_bookkeeping.idSet(SyncBookkeeping::pendingNoteDeletes).isEmpty())
        co_return false;
    const bool seriesChange = co_await seriesWouldChange();
    co_return !seriesChange && m_memory.settled && m_memory.settled->localChanges == m_memory.localChanges;
}

QCoro::Task<bool> SyncRun::seriesWouldChange()
{
    // Time alone can make the next occurrence of a repeating to-do due: the series pass must find
    // nothing to do either. It only ever looks at to-dos of a series.
    const StorageService& store = *m_context.storage;
    const TodoStore& list = store.todos();
    std::optional<Memory::SeriesTodos>& kept = m_memory.seriesTodos;
    const std::optional<QSet<QUuid>> touched = kept ? list.changedSince(kept->revision) : std::nullopt;
    if (touched && touched->size() <= fewChanges) {
        std::erase_if(kept->todos, [&touched](const TaskItem& t) { return touched->contains(t.id); });
        for (const QUuid& id : *touched) {
            const auto it =
                std::find_if(list.todos().begin(), list.todos().end(), [&id](const TaskItem& t) { return t.id == id; });
            if (it != list.todos().end() && it->recurringSeriesId)
                kept->todos.push_back(*it);
        }
    } else {
        kept = Memory::SeriesTodos{};
        for (const TaskItem& todo : list.todos())
            if (todo.recurringSeriesId)
                kept->todos.push_back(todo);
    }
    kept->revision = list.revision();
    auto check = std::make_shared<SeriesCheck>();
    // Whether the pass would change anything does not hang on the order of the list.
    check->series = kept->todos;
    check->stopped = store.series().recurringSeriesIDs(SeriesPass::stoppedSeriesKey);
    check->deleted = store.series().recurringSeriesIDs(SeriesPass::deletedSeriesKey);
    check->now = now();
    check->calendar = TaskRecurrence::maintenanceCalendar(m_context.env->calendar());
    QFuture<void> working = onWorker([check] { check->run(); });
    co_await working;
    abandonIfGone();
    co_return check->changed;
}

void SyncRun::chain(const ModifyResults& results)
{
    if (m_chain && !results.stampBefore.isEmpty() && results.stampBefore == *m_chain)
        m_chain = results.stampAfter;
    else
        m_chain.reset();
}

QCoro::Task<bool> SyncRun::sendLocalChanges(QString stamp)
{
    StorageService& store = *m_context.storage;
    const auto settledHere = [&] {
        const std::optional<Settled>& s = m_memory.settled;
        return s && !stamp.isEmpty() && s->stamp == stamp && s->accountKey == m_memory.accountKey &&
               !store.unwrittenLists() &&
               s->stopped == store.series().recurringSeriesIDs(SeriesPass::stoppedSeriesKey) &&
               s->deleted == store.series().recurringSeriesIDs(SeriesPass::deletedSeriesKey);
    };
    if (!settledHere())
        co_return false;
    // Awaited in a statement of its own, and the service looked for at once: awaited inside `||`,
    // a run resumed after the service was gone went on to read the service's memory.
    const bool seriesChange = co_await seriesWouldChange();
    abandonIfGone();
    if (seriesChange || !settledHere())
        co_return false;

    // Which items read differently from then: the lists hashed a slice per turn of the event loop,
    // over again when the store changes meanwhile.
    std::vector<TaskItem> todos;
    std::vector<Note> notes;
    QHash<QUuid, size_t> todoDigests, noteDigests;
    QSet<QUuid> goneTasks, goneNotes;
    quint64 scannedAt = 0, scannedRevision = 0, scannedNotesRevision = 0;
    for (int attempt = 1;; ++attempt) {
        if (!settledHere())
            co_return false;
        const Settled& settled = *m_memory.settled;
        const quint64 todosRevision = store.todos().revision(), notesRevision = store.notes().revision();
        scannedAt = m_memory.localChanges;
        todos.clear();
        notes.clear();
        todoDigests.clear();
        noteDigests.clear();
        const QSet<QUuid> pendingTasks = m_bookkeeping.idSet(SyncBookkeeping::pendingTaskDeletes);
        const QSet<QUuid> pendingNotes = m_bookkeeping.idSet(SyncBookkeeping::pendingNoteDeletes);
        qsizetype todosThere = 0, notesThere = 0;
        bool moved = false;
        scannedRevision = todosRevision;
        goneTasks.clear();
        const std::optional<QSet<QUuid>> touched = store.todos().changedSince(settled.todosRevision);
        const bool told = touched && touched->size() + pendingTasks.size() <= fewChanges;
        if (told && !changedAmong(store.todos().todos(), *touched + pendingTasks, settled.todoDigests, pendingTasks,
                                  todos, todoDigests, goneTasks))
            co_return false;
        for (size_t from = 0; !told && from < store.todos().todos().size(); from += 5 * copySlice) {
            if (from > 0 && attempt < 3) {
                QFuture<void> turn = nextTurn();
                co_await turn;
                abandonIfGone();
                if ((moved = store.todos().revision() != todosRevision || store.notes().revision() != notesRevision))
                    break;
            }
            const size_t to = std::min(store.todos().todos().size(), from + 5 * copySlice);
            if (!changedSince(store.todos().todos(), from, to, m_memory.settled->todoDigests, pendingTasks, todos,
                              todoDigests, todosThere))
                co_return false;
        }
        if (moved)
            continue;
        // Notes untouched since are not read again: each is hashed whole, body and all.
        scannedNotesRevision = notesRevision;
        if (notesRevision == settled.notesRevision)
            notesThere = settled.noteDigests.size();
        else if (!changedSince(store.notes().notes(), 0, store.notes().notes().size(), settled.noteDigests,
                               pendingNotes, notes, noteDigests, notesThere))
            co_return false;
        // What left the lists since must be deletions still to send: anything else is no change
        // made only here.
        if (!told) {
            goneTasks = pendingTasks;
            goneTasks.removeIf([&settled](const QUuid& id) { return !settled.todoDigests.contains(id); });
            if (goneTasks.size() != settled.todoDigests.size() - todosThere)
                co_return false;
        }
        goneNotes = pendingNotes;
        goneNotes.removeIf([&settled](const QUuid& id) { return !settled.noteDigests.contains(id); });
        if (goneNotes.size() != settled.noteDigests.size() - notesThere)
            co_return false;
        break;
    }

    // 6.–7. The records of the changed items. The record store is as the settled run left it, so
    // each is what this device last sent or took in.
    std::vector<QUuid> taskIds, noteIds;
    for (const TaskItem& t : todos)
        taskIds.push_back(t.id);
    for (const Note& n : notes)
        noteIds.push_back(n.id);
    const std::vector<CloudRecord> taskRecords = co_await fetchRecords(taskIds);
    const std::vector<CloudRecord> noteRecords = co_await fetchRecords(noteIds);
    abandonIfGone();
    if (!settledHere())
        co_return false;
    const std::vector<TaskItem> remoteTodos = readRecords<TaskItem>(
        taskRecords, RecordMapper::taskRecordType, &RecordMapper::taskItem, RecordMapper::taskFields(), "task");
    const std::vector<Note> remoteNotes = readRecords<Note>(noteRecords, RecordMapper::noteRecordType,
                                                            &RecordMapper::note, RecordMapper::noteFields(), "note");
    if (remoteWouldWin(todos, remoteTodos) || remoteWouldWin(notes, remoteNotes))
        co_return false;
    const QSet<QUuid> fetchedTasks = recordIdSet(taskRecords), fetchedNotes = recordIdSet(noteRecords);
    // An item known in the record store whose record is gone is for the full merge to judge. The
    // known sets are looked into, not kept: a copy held while the upload notes one more id would
    // make that note copy the whole set.
    const auto knownButGone = [this](const QString& key, const std::vector<QUuid>& ids, const QSet<QUuid>& fetched) {
        const QSet<QUuid> known = m_bookkeeping.idSet(key);
        return std::any_of(ids.begin(), ids.end(),
                           [&](const QUuid& id) { return known.contains(id) && !fetched.contains(id); });
    };
    if (knownButGone(SyncBookkeeping::knownTasksKey, taskIds, fetchedTasks) ||
        knownButGone(SyncBookkeeping::knownNotesKey, noteIds, fetchedNotes))
        co_return false;

    // 11.–13. What differs from its record, onto the record.
    QHash<QString, CloudRecord> recordIndex;
    for (const std::vector<CloudRecord>* list : {&taskRecords, &noteRecords})
        for (const CloudRecord& record : *list)
            if (!recordIndex.contains(record.recordName()))
                recordIndex.insert(record.recordName(), record);
    std::vector<CloudRecord> upload;
    selectUploads(todos, fetchedTasks - idsOf(remoteTodos), SyncMerge::firstById(remoteTodos), recordIndex,
                  RecordMapper::taskRecordType, &RecordMapper::apply, upload);
    selectUploads(notes, fetchedNotes - idsOf(remoteNotes), SyncMerge::firstById(remoteNotes), recordIndex,
                  RecordMapper::noteRecordType, &RecordMapper::fillNoteRecord, upload);
    ManifestPages::IdFields adding, removing;
    for (const QUuid& id : taskIds)
        if (!m_memory.settled->todoDigests.contains(id))
            adding[ManifestPages::taskIds].insert(id);
    for (const QUuid& id : noteIds)
        if (!m_memory.settled->noteDigests.contains(id))
            adding[ManifestPages::noteIds].insert(id);

    // 5., 14., 15. Deletions, the upload, and deletions made meanwhile.
    const DeletedIds firstPush = co_await pushPendingDeletes();
    // What is sent is noted as known in the record store, which holds only for what the data files
    // on disk hold too.
    co_await confirmListsWritten();
    // An item deleted while the run was fetching is not sent back: its deletion is sent instead.
    const QSet<QUuid> deletedMeanwhile = m_bookkeeping.idSet(SyncBookkeeping::pendingTaskDeletes) +
                                         m_bookkeeping.idSet(SyncBookkeeping::pendingNoteDeletes);
    std::erase_if(upload, [&deletedMeanwhile](const CloudRecord& record) {
        return deletedMeanwhile.contains(parseUuid(record.recordName()).value_or(QUuid()));
    });
    const int uploaded = int(upload.size());
    // New items go in one request with the pages that list them, unless deletions are under way:
    // one write to the record store instead of two. Anything of it failing saves nothing, and
    // the two writes are made instead, where each failure is handled as usual.
    bool listed = false;
    auto conflicted = std::make_shared<bool>(false);
    if ((!adding[ManifestPages::taskIds].isEmpty() || !adding[ManifestPages::noteIds].isEmpty()) &&
        deletedMeanwhile.isEmpty() && upload.size() <= saveChunk) {
        const ManifestPages::IdFields none;
        std::optional<PagePatch> pages = co_await patchedPages(adding, none);
        if (pages && !pages->changed.empty())
            listed = co_await saveListed(upload, std::move(*pages), conflicted);
    }
    if (!listed)
        co_await saveRecords(std::move(upload));
    else
        adding = ManifestPages::IdFields();
    const DeletedIds secondPush = co_await pushPendingDeletes(firstPush);
    const QSet<QUuid> pushedTasks = firstPush.tasks + secondPush.tasks;
    const QSet<QUuid> pushedNotes = firstPush.notes + secondPush.notes;
    // Removal beats addition: an item deleted during the run is not listed.
    removing[ManifestPages::taskIds] = pushedTasks;
    removing[ManifestPages::noteIds] = pushedNotes;
    adding[ManifestPages::taskIds] -= pushedTasks;
    adding[ManifestPages::noteIds] -= pushedNotes;

    // 16. The manifest: only the pages that list what came or went. A page found changed above is
    // not patched again: the full save is the one retry.
    if (!adding[ManifestPages::taskIds].isEmpty() || !adding[ManifestPages::noteIds].isEmpty() ||
        !pushedTasks.isEmpty() || !pushedNotes.isEmpty()) {
        if (*conflicted || !co_await patchManifest(adding, removing, conflicted))
            co_await saveManifest(adding[ManifestPages::taskIds], adding[ManifestPages::noteIds], pushedTasks,
                                  pushedNotes, store.series().recurringSeriesIDs(SeriesPass::stoppedSeriesKey),
                                  store.series().recurringSeriesIDs(SeriesPass::deletedSeriesKey), !*conflicted);
    }

    // 17. Bookkeeping: the saved ids went into the known sets with the save, the deleted ones leave
    // them now. The run's own writes do not unsettle it.
    std::optional<Settled> settled = std::move(m_memory.settled);
    m_memory.settled.reset();
    std::vector<SyncBookkeeping::IdSetWrite> whole;
    const OwnWrites own(m_memory);
    for (const auto& [key, gone] : {std::pair{SyncBookkeeping::knownTasksKey, pushedTasks},
                                    std::pair{SyncBookkeeping::knownNotesKey, pushedNotes}})
        if (!m_bookkeeping.journalHolds(gone.size()) || !m_bookkeeping.noteKnown(key, {}, gone) ||
            m_bookkeeping.journalDue())
            whole.push_back({key, m_bookkeeping.idSet(key) - gone, false, true});
    if (!whole.empty())
        co_await writeIdSets(std::move(whole));
    {
        const Defaults::Batch oneWrite(m_bookkeeping.preferences(), Defaults::Writing::inBackground);
        m_bookkeeping.clearPendingDeletes(pushedTasks, pushedNotes);
    }
    if (settled && m_chain) {
        settled->stamp = *m_chain;
        settled->localChanges = scannedAt;
        settled->todosRevision = scannedRevision;
        settled->notesRevision = scannedNotesRevision;
        if (m_manifestPages > 0)
            settled->manifestPages = m_manifestPages;
        for (auto it = todoDigests.cbegin(); it != todoDigests.cend(); ++it)
            settled->todoDigests.insert(it.key(), it.value());
        for (auto it = noteDigests.cbegin(); it != noteDigests.cend(); ++it)
            settled->noteDigests.insert(it.key(), it.value());
        for (const QUuid& id : pushedTasks)
            settled->todoDigests.remove(id);
        for (const QUuid& id : pushedNotes)
            settled->noteDigests.remove(id);
        m_memory.settled = std::move(settled);
    }
    m_context.reports->runSucceeded(int(store.todos().todos().size()), int(store.notes().notes().size()), uploaded);
    co_return true;
}

QCoro::Task<> SyncRun::confirmListsWritten()
{
    const QFuture<void> written = m_context.storage->whenListsWritten();
    co_await written;
    abandonIfGone();
    if (const std::optional<QString> why = m_context.storage->unwrittenLists())
        throw localFailure(*why);
}

QCoro::Task<> SyncRun::readIdSets(QStringList keys)
{
    std::shared_ptr<SyncBookkeeping::Reading> reading = m_bookkeeping.startReading(keys);
    if (reading->sets.empty())
        co_return;
    const QFuture<void> working = onWorker([reading] { SyncBookkeeping::parse(*reading); });
    co_await working;
    abandonIfGone();
    m_bookkeeping.finishReading(*reading);
    releaseOnWorker(std::move(reading));
}

QCoro::Task<> SyncRun::writeIdSets(std::vector<SyncBookkeeping::IdSetWrite> writes)
{
    std::shared_ptr<SyncBookkeeping::Writing> writing = m_bookkeeping.startWriting(std::move(writes));
    const QFuture<void> working = onWorker([writing] { SyncBookkeeping::encode(*writing); });
    co_await working;
    abandonIfGone();
    {
        const OwnWrites own(m_memory);
        m_bookkeeping.finishWriting(*writing);
    }
    releaseOnWorker(std::move(writing));
}
