// The record store requests of a run: the account key, the manifest, and the batched transfer of
// item records. Each throws the store's error unchanged; the run turns it into text and a retry.
#include "model/Json.h"
#include "platform/Defaults.h"
#include "sync/RecordMapper.h"
#include "sync/SyncService.h"

#include <QLoggingCategory>
#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(syncLog)

namespace {

QStringList sortedNames(const QSet<QUuid>& ids)
{
    QStringList names;
    names.reserve(ids.size());
    for (const QUuid& id : ids)
        names.append(uuidText(id));
    names.sort();
    return names;
}

// Logging stays out of the coroutines: GCC 12 cannot compile the function name the macros record.
void logInfo(const char* text)
{
    qCInfo(syncLog, "%s", text);
}

void logManifestRetry()
{
    qCInfo(syncLog, "Manifest changed on another device \u2014 retrying");
}

void logWarning(const char* text)
{
    qCWarning(syncLog, "%s", text);
}

const QString taskIdsField = QStringLiteral("taskIds");
const QString noteIdsField = QStringLiteral("noteIds");
const QString stoppedSeriesField = QStringLiteral("stoppedSeriesIds");
const QString deletedSeriesField = QStringLiteral("deletedSeriesIds");

QSet<QUuid> idsOf(const CloudRecord& record, const QString& key)
{
    const std::vector<QUuid> list = SyncService::parseIdList(record.string(key));
    return QSet<QUuid>(list.begin(), list.end());
}

RecordError malformedAnswer()
{
    return RecordError{
        RecordErrorCode::internalError, QString::fromUtf8("the record store answered out of order"), {}, {}};
}

} // namespace

QCoro::Task<> SyncService::checkAccountKey()
{
    const QString userName = co_await answer(m_env.recordStore->userRecordName());
    const QString key = m_env.environment + QLatin1Char('|') + userName;
    const std::optional<QString> stored = m_defaults.string(accountKeyKey);
    // Written on the writing thread: a first run must not hold the window for a whole-file write.
    const Defaults::Batch oneWrite(m_defaults, Defaults::Writing::inBackground);
    if (stored && *stored != key) {
        logInfo("Sync database or account changed \u2014 resetting sync history");
        // What this device knew of the old store says nothing about the new one. Deletions not yet
        // sent stay pending: they are applied to the new store, so an item deleted here does not
        // come back from a copy it holds.
        m_defaults.remove(knownTasksKey);
        m_defaults.remove(knownNotesKey);
    }
    m_defaults.set(accountKeyKey, key);
    m_accountKey = key;
}

// ---- the manifest

// The manifest as this device would save it: each field merged with what the stored one holds.
struct SyncService::ManifestMerge {
    CloudRecord record{manifestRecordType, manifestRecordName};
    bool stored = false;
    QSet<QUuid> taskIds, noteIds, removedTaskIds, removedNoteIds, stoppedSeriesIds, deletedSeriesIds;
    // A stored manifest that already reads so needs no write (most runs change nothing).
    bool unchanged = false;

    void run()
    {
        const CloudRecord before = record;
        record.setString(taskIdsField, idListText(mergedIdSet(idsOf(record, taskIdsField), taskIds, removedTaskIds)));
        record.setString(noteIdsField, idListText(mergedIdSet(idsOf(record, noteIdsField), noteIds, removedNoteIds)));
        record.setString(stoppedSeriesField, idListText(stoppedSeriesIds + idsOf(record, stoppedSeriesField)));
        record.setString(deletedSeriesField, idListText(deletedSeriesIds + idsOf(record, deletedSeriesField)));
        const auto same = [&](const QString& field) { return record.value(field) == before.value(field); };
        unchanged =
            stored && same(taskIdsField) && same(noteIdsField) && same(stoppedSeriesField) && same(deletedSeriesField);
    }
};

QCoro::Task<SyncManifest> SyncService::fetchManifest()
{
    std::vector<ItemResult> results = co_await answer(m_env.recordStore->fetch(QStringList(manifestRecordName)));
    if (results.size() != 1 || results.front().name != manifestRecordName)
        throw malformedAnswer();
    const ItemResult& item = results.front();
    SyncManifest manifest;
    if (item.error) {
        if (item.error->code == RecordErrorCode::unknownItem)
            co_return manifest;
        throw *item.error;
    }
    // Tens of thousands of ids read from text: on a worker.
    struct Reading {
        CloudRecord record;
        SyncManifest manifest;
    };
    const std::shared_ptr<bool> alive = m_alive;
    if (!item.record)
        throw malformedAnswer();
    auto reading = std::make_shared<Reading>();
    reading->record = std::move(*results.front().record);
    const QFuture<void> working = onWorker([reading] {
        const CloudRecord& record = reading->record;
        SyncManifest& read = reading->manifest;
        read.exists = true;
        read.taskIds = parseIdList(record.string(taskIdsField));
        read.noteIds = parseIdList(record.string(noteIdsField));
        read.stoppedSeriesIds = idsOf(record, stoppedSeriesField);
        read.deletedSeriesIds = idsOf(record, deletedSeriesField);
    });
    co_await working;
    if (!*alive)
        throw RunAbandoned{};
    SyncManifest read = std::move(reading->manifest);
    // The record's long id texts go on a worker: see saveManifest.
    releaseOnWorker(std::move(reading));
    co_return read;
}

QCoro::Task<> SyncService::saveManifest(QSet<QUuid> taskIds, QSet<QUuid> noteIds, QSet<QUuid> removedTaskIds,
                                        QSet<QUuid> removedNoteIds, QSet<QUuid> stoppedSeriesIds,
                                        QSet<QUuid> deletedSeriesIds)
{
    const std::shared_ptr<bool> alive = m_alive;
    bool mayRetry = true;
    for (;;) {
        std::vector<ItemResult> fetched = co_await answer(m_env.recordStore->fetch(QStringList(manifestRecordName)));
        if (fetched.size() != 1 || fetched.front().name != manifestRecordName)
            throw malformedAnswer();
        auto merging = std::make_shared<ManifestMerge>();
        merging->stored = fetched.front().record.has_value();
        // Moved, not shared: its long id texts are freed with the merge, on a worker. Freeing a
        // block that large here would make the allocator sort through every small block the run
        // freed, while the window waits.
        if (fetched.front().record)
            merging->record =
                std::move(*fetched.front().record); // its change tag makes the save fail if another device saved since
        else if (fetched.front().error->code != RecordErrorCode::unknownItem)
            throw *fetched.front().error;
        merging->taskIds = taskIds;
        merging->noteIds = noteIds;
        merging->removedTaskIds = removedTaskIds;
        merging->removedNoteIds = removedNoteIds;
        merging->stoppedSeriesIds = stoppedSeriesIds;
        merging->deletedSeriesIds = deletedSeriesIds;
        // Thousands of ids read, merged, sorted and written as text: on a worker.
        const QFuture<void> working = onWorker([merging] { merging->run(); });
        co_await working;
        if (!*alive)
            throw RunAbandoned{};
        const bool unchanged = merging->unchanged;
        // The merged sets and texts are large: freed on a worker, as is everything holding them.
        auto saving = std::make_shared<std::vector<CloudRecord>>();
        if (!unchanged)
            saving->push_back(merging->record);
        releaseOnWorker(std::move(merging));
        if (unchanged)
            co_return;

        auto saved =
            std::make_shared<ModifyResults>(co_await answer(m_env.recordStore->modify(*saving, QStringList())));
        releaseOnWorker(std::move(saving));
        if (saved->saves.size() != 1)
            throw malformedAnswer();
        const std::optional<RecordError> error = saved->saves.front().error;
        releaseOnWorker(std::move(saved));
        if (!error)
            co_return;
        if (error->code == RecordErrorCode::serverRecordChanged && mayRetry) {
            mayRetry = false;
            logManifestRetry();
            continue;
        }
        throw *error;
    }
}

// ---- item records

QCoro::Task<SyncService::DeletedIds> SyncService::pushPendingDeletes()
{
    const QSet<QUuid> tasks = idSet(pendingTaskDeletes);
    const QSet<QUuid> notes = idSet(pendingNoteDeletes);
    const QStringList names = sortedNames(tasks + notes);
    // Only ids whose record is gone leave the pending sets: a delete that failed is tried again.
    QSet<QUuid> gone;
    for (qsizetype start = 0; start < names.size(); start += deleteChunk) {
        const QStringList chunk = names.mid(start, deleteChunk);
        const ModifyResults results = co_await answer(m_env.recordStore->modify(std::vector<CloudRecord>(), chunk));
        if (results.deletes.size() != size_t(chunk.size()))
            throw malformedAnswer();
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            const std::optional<RecordError>& error = results.deletes[i].error;
            if (error && error->code != RecordErrorCode::unknownItem)
                throw *error;
            gone.insert(parseUuid(chunk[i]).value());
        }
    }
    co_return DeletedIds{tasks & gone, notes & gone};
}

QCoro::Task<std::vector<CloudRecord>> SyncService::fetchRecords(std::vector<QUuid> ids)
{
    std::vector<CloudRecord> records;
    for (size_t start = 0; start < ids.size(); start += fetchChunk) {
        QStringList chunk;
        for (size_t i = start; i < std::min(ids.size(), start + fetchChunk); ++i)
            chunk.append(uuidText(ids[i]));
        std::vector<ItemResult> results = co_await answer(m_env.recordStore->fetch(chunk));
        if (results.size() != size_t(chunk.size()))
            throw malformedAnswer();
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            ItemResult& item = results[i];
            if (item.error) {
                if (item.error->code == RecordErrorCode::unknownItem)
                    continue;
                throw *item.error;
            }
            if (!item.record || item.record->recordName() != chunk[i]) {
                logWarning("Skipping a record the store returned under another name");
                continue;
            }
            records.push_back(std::move(*item.record));
        }
    }
    co_return records;
}

QCoro::Task<> SyncService::saveRecords(std::vector<CloudRecord> records)
{
    // Saved records count as present in the store, also when the run fails later: if another
    // device deletes one, this device drops it too. They are noted once, after the last chunk or
    // the failing one, not once a chunk.
    QSet<QUuid> savedTasks;
    QSet<QUuid> savedNotes;
    std::optional<RecordError> failure;
    try {
        for (size_t start = 0; start < records.size() && !failure; start += saveChunk) {
            const std::vector<CloudRecord> chunk(records.begin() + start,
                                                 records.begin() + std::min(records.size(), start + saveChunk));
            const ModifyResults results = co_await answer(m_env.recordStore->modify(chunk, QStringList()));
            if (results.saves.size() != chunk.size())
                throw malformedAnswer();
            for (size_t i = 0; i < chunk.size(); ++i) {
                if (const std::optional<RecordError>& error = results.saves[i].error) {
                    if (!failure)
                        failure = error;
                    continue;
                }
                const QUuid id = parseUuid(chunk[i].recordName()).value_or(QUuid());
                (chunk[i].recordType() == RecordMapper::taskRecordType ? savedTasks : savedNotes).insert(id);
            }
        }
    } catch (const RecordError& error) {
        failure = error;
    }
    std::vector<IdSetWrite> known;
    if (!savedTasks.isEmpty())
        known.push_back({knownTasksKey, std::move(savedTasks), true});
    if (!savedNotes.isEmpty())
        known.push_back({knownNotesKey, std::move(savedNotes), true});
    if (!known.empty())
        co_await writeIdSets(std::move(known));
    if (records.size() > saveChunk)
        releaseOnWorker(std::make_shared<std::vector<CloudRecord>>(std::move(records)));
    if (failure)
        throw *failure;
}
