// The record store requests of a run: the account key, the manifest, and the batched transfer of
// item records. Each throws the store's error unchanged; the service turns it into text and a retry.
#include "files/Defaults.h"
#include "model/Json.h"
#include "sync/ManifestPages.h"
#include "sync/RecordMapper.h"
#include "sync/SyncEnvironment.h"
#include "sync/SyncMerge.h"
#include "sync/SyncRun.h"

#include <QLoggingCategory>
#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(syncLog)

namespace {

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

const QString& taskIdsField = ManifestPages::fieldName(ManifestPages::taskIds);
const QString& noteIdsField = ManifestPages::fieldName(ManifestPages::noteIds);
const QString& stoppedSeriesField = ManifestPages::fieldName(ManifestPages::stoppedSeriesIds);
const QString& deletedSeriesField = ManifestPages::fieldName(ManifestPages::deletedSeriesIds);

QSet<QUuid> idsOf(const CloudRecord& record, const QString& key)
{
    const std::vector<QUuid> list = SyncMerge::parseIdList(record.string(key));
    return QSet<QUuid>(list.begin(), list.end());
}

RecordError malformedAnswer()
{
    return RecordError{RecordFailure::internal, QString::fromUtf8("the record store answered out of order"), {}, {}};
}

enum class IdInsert { notInForm, present, added };

// Adds `id` to an id list in the form a save writes (sorted, joined by ","), in place: a list of
// ten thousand ids is not read and written again for one more, nor compared with what it was.
// Unchanged when the text is not in that form.
IdInsert insertIntoIdList(QString& text, const QString& id)
{
    constexpr qsizetype width = 36;
    if (id.size() != width || (!text.isEmpty() && (text.size() + 1) % (width + 1) != 0))
        return IdInsert::notInForm;
    const qsizetype count = text.isEmpty() ? 0 : (text.size() + 1) / (width + 1);
    qsizetype low = 0, high = count;
    while (low < high) {
        const qsizetype middle = (low + high) / 2;
        const QStringView entry(text.constData() + middle * (width + 1), width);
        if (middle > 0 && text.at(middle * (width + 1) - 1) != u',')
            return IdInsert::notInForm;
        const int order = entry.compare(id);
        if (order == 0)
            return IdInsert::present;
        (order < 0 ? low : high) = order < 0 ? middle + 1 : middle;
    }
    if (count == 0)
        text = id;
    else if (low == count)
        text += u',' + id;
    else
        text.insert(low * (width + 1), id + u',');
    return IdInsert::added;
}

} // namespace

QCoro::Task<> SyncRun::checkAccountKey()
{
    const QString userName = co_await answer(recordStore().userRecordName());
    const QString key = m_context.env->environment + QLatin1Char('|') + userName;
    Defaults& preferences = m_bookkeeping.preferences();
    const std::optional<QString> stored = preferences.string(SyncBookkeeping::accountKeyKey);
    // Written on the writing thread: a first run must not hold the window for a whole-file write.
    const Defaults::Batch knownWrite(m_bookkeeping.known(), Defaults::Writing::inBackground);
    const Defaults::Batch oneWrite(preferences, Defaults::Writing::inBackground);
    if (stored && *stored != key) {
        logInfo("Sync database or account changed \u2014 resetting sync history");
        // What this device knew of the old store says nothing about the new one. Deletions not yet
        // sent stay pending: they are applied to the new store, so an item deleted here does not
        // come back from a copy it holds.
        m_bookkeeping.forgetKnownIds();
    }
    preferences.set(SyncBookkeeping::accountKeyKey, key);
    m_memory.accountKey = key;
}

// ---- the manifest

// The manifest as this device would save it: the ids of every stored page merged with what this
// device holds and removes, spread over as many pages as they need; only pages that would read
// differently are saved (most runs change nothing).
struct SyncRun::ManifestMerge {
    std::vector<std::optional<CloudRecord>> stored;
    ManifestPages::IdFields holding, removing;
    qsizetype budget = ManifestPages::defaultPageBudget;
    qsizetype oneRecordBudget = ManifestPages::defaultOneRecordBudget;
    std::vector<CloudRecord> changed;
    int pages = 0;

    void run()
    {
        using namespace ManifestPages;
        IdFields all;
        for (const std::optional<CloudRecord>& page : stored)
            if (page)
                for (int field = 0; field < fieldCount; ++field)
                    all[size_t(field)] += idsOf(*page, fieldName(field));
        for (int field = 0; field < fieldCount; ++field)
            all[size_t(field)] =
                SyncMerge::mergedIdSet(all[size_t(field)], holding[size_t(field)], removing[size_t(field)]);
        const bool firstStored = !stored.empty() && stored.front();
        pages = pagesNeeded(all, firstStored ? storedPageCount(stored.front()->int64(pageCountField)) : 1, budget,
                            oneRecordBudget);
        std::vector<IdFields> shares = split(all, pages);
        all = {};
        for (int page = 0; page < pages; ++page) {
            const bool wasStored = size_t(page) < stored.size() && stored[size_t(page)];
            CloudRecord record = wasStored ? std::move(*stored[size_t(page)])
                                           : CloudRecord(page == 0 ? manifestRecordType : pageRecordType,
                                                         pageName(manifestRecordName, page));
            bool same = wasStored;
            for (int field = 0; field < fieldCount; ++field) {
                const QString text = SyncMerge::idListText(shares[size_t(page)][size_t(field)]);
                same = same && record.value(fieldName(field)) == CloudRecord::Value(text);
                record.setString(fieldName(field), text);
            }
            if (page == 0 && pages > 1) {
                same = same && record.int64(pageCountField) == qint64(pages);
                record.setInt64(pageCountField, pages);
            } else if (page == 0 && record.has(pageCountField)) {
                same = false;
                record.setNoValue(pageCountField);
            }
            if (!same)
                changed.push_back(std::move(record));
        }
        // Back in one record: pages no longer read are emptied, so that none lists stale ids
        // should the account grow into pages again.
        for (size_t page = size_t(pages); page < stored.size(); ++page) {
            if (!stored[page])
                continue;
            CloudRecord record = std::move(*stored[page]);
            bool empty = true;
            for (int field = 0; field < fieldCount; ++field) {
                empty = empty && record.string(fieldName(field)).value_or(QString()).isEmpty();
                record.setString(fieldName(field), QString());
            }
            if (!empty)
                changed.push_back(std::move(record));
        }
    }
};

QCoro::Task<std::vector<std::optional<CloudRecord>>> SyncRun::fetchManifestPages()
{
    std::vector<std::optional<CloudRecord>> pages;
    std::vector<ItemResult> first = co_await answer(recordStore().fetch(QStringList(manifestRecordName)));
    if (first.size() != 1 || first.front().name != manifestRecordName)
        throw malformedAnswer();
    if (first.front().error) {
        if (first.front().error->kind == RecordFailure::unknownItem)
            co_return pages;
        throw *first.front().error;
    }
    if (!first.front().record)
        throw malformedAnswer();
    pages.push_back(std::move(first.front().record));
    const int count = ManifestPages::storedPageCount(pages.front()->int64(ManifestPages::pageCountField));
    for (int start = 1; start < count; start += fetchChunk) {
        QStringList names;
        for (int page = start; page < std::min(count, start + fetchChunk); ++page)
            names.append(ManifestPages::pageName(manifestRecordName, page));
        std::vector<ItemResult> more = co_await answer(recordStore().fetch(names));
        if (more.size() != size_t(names.size()))
            throw malformedAnswer();
        for (qsizetype i = 0; i < names.size(); ++i) {
            ItemResult& item = more[size_t(i)];
            if (item.error && item.error->kind != RecordFailure::unknownItem)
                throw *item.error;
            if (!item.error && (!item.record || item.record->recordName() != names[i]))
                throw malformedAnswer();
            pages.push_back(std::move(item.record)); // a page not stored reads as no ids
        }
    }
    co_return pages;
}

QCoro::Task<SyncManifest> SyncRun::fetchManifest()
{
    // Tens of thousands of ids read from text: on a worker.
    struct Reading {
        std::vector<std::optional<CloudRecord>> pages;
        SyncManifest manifest;
    };
    auto reading = std::make_shared<Reading>();
    reading->pages = co_await fetchManifestPages();
    if (reading->pages.empty())
        co_return SyncManifest{};
    const QFuture<void> working = onWorker([reading] {
        SyncManifest& read = reading->manifest;
        read.exists = true;
        // An id listed on two pages (an older copy writes every id onto the first) is read once.
        QSet<QUuid> seenTasks, seenNotes;
        const auto readList = [](const CloudRecord& page, const QString& field, QSet<QUuid>& seen,
                                 std::vector<QUuid>& out) {
            for (const QUuid& id : SyncMerge::parseIdList(page.string(field)))
                if (!seen.contains(id)) {
                    seen.insert(id);
                    out.push_back(id);
                }
        };
        for (const std::optional<CloudRecord>& page : reading->pages) {
            if (!page)
                continue;
            readList(*page, taskIdsField, seenTasks, read.taskIds);
            readList(*page, noteIdsField, seenNotes, read.noteIds);
            read.stoppedSeriesIds += idsOf(*page, stoppedSeriesField);
            read.deletedSeriesIds += idsOf(*page, deletedSeriesField);
        }
    });
    co_await working;
    abandonIfGone();
    SyncManifest read = std::move(reading->manifest);
    // The records' long id texts go on a worker: see saveManifest.
    releaseOnWorker(std::move(reading));
    co_return read;
}

QCoro::Task<> SyncRun::saveManifest(QSet<QUuid> taskIds, QSet<QUuid> noteIds, QSet<QUuid> removedTaskIds,
                                    QSet<QUuid> removedNoteIds, QSet<QUuid> stoppedSeriesIds,
                                    QSet<QUuid> deletedSeriesIds, bool mayRetry)
{
    for (;;) {
        auto merging = std::make_shared<ManifestMerge>();
        // Moved, not shared: their long id texts are freed with the merge, on a worker. Freeing a
        // block that large here would make the allocator sort through every small block the run
        // freed, while the window waits. Their change tags make a save fail if another device
        // saved since.
        merging->stored = co_await fetchManifestPages();
        merging->holding = {taskIds, noteIds, stoppedSeriesIds, deletedSeriesIds};
        merging->removing[ManifestPages::taskIds] = removedTaskIds;
        merging->removing[ManifestPages::noteIds] = removedNoteIds;
        merging->budget = m_context.env->manifestPageBudget;
        merging->oneRecordBudget = m_context.env->manifestOneRecordBudget;
        // Thousands of ids read, merged, sorted and written as text: on a worker.
        const QFuture<void> working = onWorker([merging] { merging->run(); });
        co_await working;
        abandonIfGone();
        // The merged sets and texts are large: freed on a worker, as is everything holding them.
        auto saving = std::make_shared<std::vector<CloudRecord>>(std::move(merging->changed));
        const int pages = merging->pages;
        releaseOnWorker(std::move(merging));
        m_manifestPages = 0;
        if (saving->empty()) {
            m_manifestPages = pages;
            co_return;
        }

        auto saved = std::make_shared<ModifyResults>(co_await answer(recordStore().modify(*saving, QStringList())));
        chain(*saved);
        const size_t sent = saving->size();
        releaseOnWorker(std::move(saving));
        if (saved->saves.size() != sent)
            throw malformedAnswer();
        std::optional<RecordError> conflict, failure;
        for (const ItemResult& item : saved->saves) {
            if (item.error && item.error->kind == RecordFailure::changedOnServer)
                conflict = conflict ? conflict : item.error;
            else if (item.error)
                failure = failure ? failure : item.error;
        }
        releaseOnWorker(std::move(saved));
        if (failure)
            throw *failure;
        if (!conflict) {
            m_manifestPages = pages;
            co_return;
        }
        if (mayRetry) {
            mayRetry = false;
            logManifestRetry();
            continue;
        }
        throw *conflict;
    }
}

QCoro::Task<std::optional<SyncRun::PagePatch>> SyncRun::patchedPages(ManifestPages::IdFields adding,
                                                                     ManifestPages::IdFields removing)
{
    using namespace ManifestPages;
    // Page 0 is read for the count of pages unless the settled run saw it (nobody wrote since), and
    // whenever ids go: an older copy writes every id it holds there.
    const bool removes = !removing[taskIds].isEmpty() || !removing[noteIds].isEmpty();
    int count = m_memory.settled && !removes ? m_memory.settled->manifestPages : 0;
    std::vector<CloudRecord> pages;
    std::vector<int> numbers;
    if (count == 0) {
        std::vector<ItemResult> first = co_await answer(recordStore().fetch(QStringList(manifestRecordName)));
        if (first.size() != 1 || first.front().error || !first.front().record)
            co_return std::nullopt;
        count = storedPageCount(first.front().record->int64(pageCountField));
        pages.push_back(std::move(*first.front().record));
        numbers.push_back(0);
    }
    if (count > 1 || pages.empty()) {
        QSet<int> wanted;
        for (const int field : {int(taskIds), int(noteIds)})
            for (const QSet<QUuid>* ids : {&adding[size_t(field)], &removing[size_t(field)]})
                for (const QUuid& id : *ids)
                    wanted.insert(pageOf(id, count));
        if (!pages.empty())
            wanted.remove(0);
        QStringList names;
        for (const int page : wanted) {
            numbers.push_back(page);
            names.append(pageName(manifestRecordName, page));
        }
        if (!names.isEmpty()) {
            std::vector<ItemResult> more = co_await answer(recordStore().fetch(names));
            if (more.size() != size_t(names.size()))
                throw malformedAnswer();
            for (ItemResult& item : more) {
                if (item.error || !item.record)
                    co_return std::nullopt;
                pages.push_back(std::move(*item.record));
            }
        }
    }
    std::vector<CloudRecord> changed;
    for (size_t i = 0; i < pages.size(); ++i) {
        CloudRecord& page = pages[i];
        bool differs = false;
        qsizetype bytes = 0;
        for (int field = 0; field < fieldCount; ++field) {
            const QString name = fieldName(field);
            if (removing[size_t(field)].isEmpty()) {
                const std::optional<QString> text = page.string(name);
                bool inPlace = text.has_value() || !page.has(name);
                bool added = false;
                QString list = text.value_or(QString());
                for (const QUuid& id : adding[size_t(field)]) {
                    if (inPlace && (count == 1 || pageOf(id, count) == numbers[i])) {
                        const IdInsert result = insertIntoIdList(list, uuidText(id));
                        inPlace = result != IdInsert::notInForm;
                        added = added || result == IdInsert::added;
                    }
                }
                if (inPlace) {
                    if (added) {
                        page.setString(name, list);
                        differs = true;
                    }
                    bytes += list.size();
                    continue;
                }
            }
            QSet<QUuid> ids = idsOf(page, name);
            const QSet<QUuid> before = ids;
            ids -= removing[size_t(field)];
            for (const QUuid& id : adding[size_t(field)])
                if (count == 1 || pageOf(id, count) == numbers[i])
                    ids.insert(id);
            if (ids != before) {
                page.setString(name, SyncMerge::idListText(ids));
                differs = true;
            }
            bytes += page.string(name).value_or(QString()).size();
        }
        // A page that would outgrow its share is split by the full save.
        const qsizetype budget =
            count == 1 ? m_context.env->manifestOneRecordBudget : m_context.env->manifestPageBudget;
        if (bytes > budget)
            co_return std::nullopt;
        if (differs)
            changed.push_back(std::move(page));
    }
    co_return PagePatch{std::move(changed), count};
}

QCoro::Task<bool> SyncRun::patchManifest(ManifestPages::IdFields adding, ManifestPages::IdFields removing,
                                         std::shared_ptr<bool> conflicted)
{
    std::optional<PagePatch> pages = co_await patchedPages(std::move(adding), std::move(removing));
    if (!pages)
        co_return false;
    const int count = pages->count;
    if (pages->changed.empty()) {
        m_manifestPages = count;
        co_return true;
    }
    const std::vector<CloudRecord> changed = std::move(pages->changed);
    const size_t sent = changed.size();
    const ModifyResults saved = co_await answer(recordStore().modify(changed, QStringList()));
    chain(saved);
    if (saved.saves.size() != sent)
        throw malformedAnswer();
    for (const ItemResult& item : saved.saves) {
        if (item.error && item.error->kind == RecordFailure::changedOnServer) {
            logManifestRetry();
            *conflicted = true;
            co_return false;
        }
        if (item.error)
            throw *item.error;
    }
    m_manifestPages = count;
    co_return true;
}

// ---- item records

QCoro::Task<SyncRun::DeletedIds> SyncRun::pushPendingDeletes(DeletedIds alreadySent)
{
    const QSet<QUuid> tasks = m_bookkeeping.idSet(SyncBookkeeping::pendingTaskDeletes) - alreadySent.tasks;
    const QSet<QUuid> notes = m_bookkeeping.idSet(SyncBookkeeping::pendingNoteDeletes) - alreadySent.notes;
    const QStringList names = SyncMerge::sortedIdTexts(tasks + notes);
    // Only ids whose record is gone leave the pending sets: a delete that failed is tried again.
    QSet<QUuid> gone;
    for (qsizetype start = 0; start < names.size(); start += deleteChunk) {
        const QStringList chunk = names.mid(start, deleteChunk);
        const ModifyResults results = co_await answer(recordStore().modify(std::vector<CloudRecord>(), chunk));
        chain(results);
        if (results.deletes.size() != size_t(chunk.size()))
            throw malformedAnswer();
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            const std::optional<RecordError>& error = results.deletes[i].error;
            if (error && error->kind != RecordFailure::unknownItem)
                throw *error;
            gone.insert(parseUuid(chunk[i]).value());
        }
    }
    co_return DeletedIds{(tasks & gone) + alreadySent.tasks, (notes & gone) + alreadySent.notes};
}

QCoro::Task<std::vector<CloudRecord>> SyncRun::fetchRecords(std::vector<QUuid> ids)
{
    std::vector<CloudRecord> records;
    for (size_t start = 0; start < ids.size(); start += fetchChunk) {
        QStringList chunk;
        for (size_t i = start; i < std::min(ids.size(), start + fetchChunk); ++i)
            chunk.append(uuidText(ids[i]));
        std::vector<ItemResult> results = co_await answer(recordStore().fetch(chunk));
        if (results.size() != size_t(chunk.size()))
            throw malformedAnswer();
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            ItemResult& item = results[i];
            if (item.error) {
                if (item.error->kind == RecordFailure::unknownItem)
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

QCoro::Task<> SyncRun::saveRecords(std::vector<CloudRecord> records)
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
            const ModifyResults results = co_await answer(recordStore().modify(chunk, QStringList()));
            chain(results);
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
    co_await noteSaved(std::move(savedTasks), std::move(savedNotes));
    if (records.size() > saveChunk)
        releaseOnWorker(std::make_shared<std::vector<CloudRecord>>(std::move(records)));
    if (failure)
        throw *failure;
}

QCoro::Task<bool> SyncRun::saveListed(std::vector<CloudRecord> records, PagePatch pages,
                                      std::shared_ptr<bool> conflicted)
{
    const size_t count = records.size();
    records.insert(records.end(), std::make_move_iterator(pages.changed.begin()),
                   std::make_move_iterator(pages.changed.end()));
    const ModifyResults results =
        co_await answer(recordStore().modify(records, QStringList(), RecordStore::Batch::allOrNone));
    chain(results);
    if (results.saves.size() != records.size())
        throw malformedAnswer();
    if (std::any_of(results.saves.begin(), results.saves.end(), [](const ItemResult& r) { return r.error; })) {
        for (size_t i = count; i < records.size(); ++i)
            if (results.saves[i].error->kind == RecordFailure::changedOnServer)
                *conflicted = true;
        if (*conflicted)
            logManifestRetry();
        co_return false;
    }
    m_manifestPages = pages.count;
    QSet<QUuid> tasks, notes;
    for (size_t i = 0; i < count; ++i)
        (records[i].recordType() == RecordMapper::taskRecordType ? tasks : notes)
            .insert(parseUuid(records[i].recordName()).value_or(QUuid()));
    co_await noteSaved(std::move(tasks), std::move(notes));
    co_return true;
}

QCoro::Task<> SyncRun::noteSaved(QSet<QUuid> savedTasks, QSet<QUuid> savedNotes)
{
    // Noted in the known sets' journal; written whole when it cannot be, or is due to be folded in.
    std::vector<SyncBookkeeping::IdSetWrite> known;
    for (auto& [key, saved] : {std::pair{SyncBookkeeping::knownTasksKey, std::move(savedTasks)},
                               std::pair{SyncBookkeeping::knownNotesKey, std::move(savedNotes)}}) {
        if (saved.isEmpty() && !m_bookkeeping.journalDue())
            continue;
        const OwnWrites own(m_memory);
        if ((!saved.isEmpty() && !m_bookkeeping.journalHolds(saved.size())) || !m_bookkeeping.noteKnown(key, saved, {}))
            known.push_back({key, saved, true});
        else if (m_bookkeeping.journalDue())
            known.push_back({key, m_bookkeeping.idSet(key), false, true});
    }
    if (!known.empty())
        co_await writeIdSets(std::move(known));
}
