#include "sync/DatabaseRecordStore.h"

#include "sync/RecordFields.h"

#include <QHash>
#include <QPromise>

namespace {

StoreAnswer<std::vector<ItemResult>> fetchFrom(RecordDatabase& db, const QStringList& names)
{
    StoreAnswer<std::vector<ItemResult>> answer;
    if ((answer.error = RecordStore::checkRequestSize(names.size())) || (answer.error = db.open()))
        return answer;
    const StoreAnswer<std::vector<CloudRecord>> stored = db.read(names);
    if ((answer.error = stored.error))
        return answer;
    QHash<QString, qsizetype> byName;
    for (qsizetype i = 0; i < qsizetype(stored.value.size()); ++i)
        byName.insert(stored.value[i].recordName(), i);
    for (const QString& name : names) {
        ItemResult item{name, std::nullopt, std::nullopt};
        if (const auto it = byName.constFind(name); it != byName.cend())
            item.record = stored.value[*it];
        else
            item.error = RecordStore::unknownItem();
        answer.value.push_back(std::move(item));
    }
    return answer;
}

// One transaction: a failure of the database undoes every item and fails the request whole.
StoreAnswer<ModifyResults> modifyIn(RecordDatabase& db, const std::vector<CloudRecord>& saves,
                                    const QStringList& deletes, RecordStore::Batch batch)
{
    StoreAnswer<ModifyResults> answer;
    if ((answer.error = RecordStore::checkRequestSize(qsizetype(saves.size()) + deletes.size())) ||
        (answer.error = db.open()) || (answer.error = db.begin()))
        return answer;
    for (const CloudRecord& record : saves) {
        ItemResult item{record.recordName(), std::nullopt, std::nullopt};
        const QByteArray patch = RecordFields::patch(record, db.nulText());
        item.error = RecordStore::checkSave(record, patch);
        if (!item.error) {
            StoreAnswer<std::optional<CloudRecord>> written = db.write(record, patch);
            if ((answer.error = written.error))
                break;
            item.record = std::move(written.value);
            if (!item.record)
                item.error = RecordStore::serverRecordChanged();
        }
        answer.value.saves.push_back(std::move(item));
    }
    for (qsizetype i = 0; !answer.error && i < deletes.size(); ++i) {
        const StoreAnswer<bool> removed = db.remove(deletes[i]);
        if ((answer.error = removed.error))
            break;
        ItemResult item{deletes[i], std::nullopt, std::nullopt};
        if (!removed.value)
            item.error = RecordStore::unknownItem();
        answer.value.deletes.push_back(std::move(item));
    }
    if (!answer.error && !db.stampAtBegin().isEmpty()) {
        const StoreAnswer<QString> after = db.changeStamp();
        if (!after.error) {
            answer.value.stampBefore = db.stampAtBegin();
            answer.value.stampAfter = after.value;
        }
    }
    if (!answer.error && batch == RecordStore::Batch::allOrNone && RecordStore::undoneWhole(answer.value)) {
        db.rollback();
        return answer;
    }
    if (!answer.error)
        answer.error = db.commit();
    if (answer.error) {
        db.rollback();
        answer.value = {};
    }
    return answer;
}

} // namespace

DatabaseRecordStore::DatabaseRecordStore(std::function<std::unique_ptr<RecordDatabase>()> open, QObject* parent)
    : RecordStore(parent)
{
    m_context.moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(&m_context, [this, open = std::move(open)] { m_database = open(); });
}

DatabaseRecordStore::~DatabaseRecordStore()
{
    // Requests already queued still run (and answer); then the connection closes on its own thread.
    QMetaObject::invokeMethod(
        &m_context, [this] { m_database.reset(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

template <typename T>
QFuture<StoreAnswer<T>> DatabaseRecordStore::call(std::function<StoreAnswer<T>(RecordDatabase&)> work)
{
    auto promise = std::make_shared<AnswerPromise<T>>();
    QFuture<StoreAnswer<T>> future = promise->future();
    QMetaObject::invokeMethod(&m_context,
                              [this, promise, work = std::move(work)] { promise->answer(work(*m_database)); });
    return future;
}

QFuture<StoreAnswer<int>> DatabaseRecordStore::accountStatus()
{
    return call<int>([](RecordDatabase& db) { return StoreAnswer<int>{db.open(), accountAvailable}; });
}

QFuture<StoreAnswer<QString>> DatabaseRecordStore::userRecordName()
{
    return call<QString>([](RecordDatabase& db) {
        StoreAnswer<QString> answer;
        if ((answer.error = db.open()))
            return answer;
        return db.account();
    });
}

QFuture<StoreAnswer<QString>> DatabaseRecordStore::changeStamp()
{
    return call<QString>([](RecordDatabase& db) {
        StoreAnswer<QString> answer;
        if ((answer.error = db.open()))
            return answer;
        return db.changeStamp();
    });
}

QFuture<StoreAnswer<std::vector<ItemResult>>> DatabaseRecordStore::fetch(const QStringList& names)
{
    return call<std::vector<ItemResult>>([names](RecordDatabase& db) { return fetchFrom(db, names); });
}

QFuture<StoreAnswer<ModifyResults>> DatabaseRecordStore::modify(const std::vector<CloudRecord>& saves,
                                                                const QStringList& deletes, Batch batch)
{
    return call<ModifyResults>(
        [saves, deletes, batch](RecordDatabase& db) { return modifyIn(db, saves, deletes, batch); });
}

QFuture<void> DatabaseRecordStore::releaseMemory()
{
    auto promise = std::make_shared<QPromise<void>>();
    QFuture<void> future = promise->future();
    promise->start();
    QMetaObject::invokeMethod(&m_context, [this, promise] {
        if (m_database)
            m_database->releaseMemory();
        promise->finish();
    });
    return future;
}
