#pragma once

#include "sync/RecordFields.h"
#include "sync/RecordStore.h"

#include <QThread>
#include <functional>
#include <memory>

// One database connection behind a record store, used only on the store's worker thread. It reads
// and writes rows; the request rules (sizes, names, answer order, which failure an item gets, one
// transaction per request) are DatabaseRecordStore's, the same for every database.
class RecordDatabase {
public:
    virtual ~RecordDatabase() = default;
    // Connects and makes the tables if need be; an open connection answers at once.
    virtual std::optional<RecordError> open() = 0;
    virtual StoreAnswer<QString> account() = 0;
    // Grows with every committed write of any connection (see RecordStore::changeStamp).
    virtual StoreAnswer<QString> changeStamp() = 0;
    // The stored records among `names`, in any order, all as of one moment.
    virtual StoreAnswer<std::vector<CloudRecord>> read(const QStringList& names) = 0;
    // A write request runs between begin() and commit() or rollback().
    virtual std::optional<RecordError> begin() = 0;
    // The change stamp as the request begun last found it, before any writer after it; empty
    // when this database cannot tell.
    virtual QString stampAtBegin() const { return {}; }
    // Merges a checked save onto the version it was fetched as (a free name when it has no tag);
    // no record when that version is not the stored one.
    virtual StoreAnswer<std::optional<CloudRecord>> write(const CloudRecord& record, const QByteArray& patch) = 0;
    // False when there was no such record.
    virtual StoreAnswer<bool> remove(const QString& name) = 0;
    virtual std::optional<RecordError> commit() = 0;
    virtual void rollback() = 0;
    // Frees the connection's caches; the next request fills them again.
    virtual void releaseMemory() {}
    // How this database is given a text holding U+0000: plain wherever it can hold one.
    virtual RecordFields::NulText nulText() const { return RecordFields::NulText::plain; }
};

// A record store whose database connection lives on a thread of its own and runs its requests
// one after another, so the main thread never waits on a disk or a network.
class DatabaseRecordStore : public RecordStore {
    Q_OBJECT
public:
    ~DatabaseRecordStore() override;

    QFuture<StoreAnswer<int>> accountStatus() override;
    QFuture<StoreAnswer<QString>> userRecordName() override;
    QFuture<StoreAnswer<std::vector<ItemResult>>> fetch(const QStringList& names) override;
    QFuture<StoreAnswer<ModifyResults>> modify(const std::vector<CloudRecord>& saves, const QStringList& deletes,
                                               Batch batch = Batch::eachItem) override;
    QFuture<StoreAnswer<QString>> changeStamp() override;
    QFuture<void> releaseMemory() override;

protected:
    // `open` runs on the worker thread, so the connection is made and closed there.
    DatabaseRecordStore(std::function<std::unique_ptr<RecordDatabase>()> open, QObject* parent);

private:
    template <typename T> QFuture<StoreAnswer<T>> call(std::function<StoreAnswer<T>(RecordDatabase&)> work);

    QThread m_thread;
    QObject m_context;
    std::unique_ptr<RecordDatabase> m_database;
};
