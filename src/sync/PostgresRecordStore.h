#pragma once

#include "sync/RecordStore.h"
#include "sync/StoreWorker.h"

// The record store for several machines: one PostgreSQL database, through libpq directly on a
// worker thread. The connection text is a libpq URL or "service=…"; passwords come only from
// ~/.pgpass or the service file.
class PostgresRecordStore : public RecordStore {
    Q_OBJECT
public:
    explicit PostgresRecordStore(const QString& connection, QObject* parent = nullptr);
    ~PostgresRecordStore() override;

    QFuture<StoreAnswer<int>> accountStatus() override;
    QFuture<StoreAnswer<QString>> userRecordName() override;
    QFuture<StoreAnswer<std::vector<ItemResult>>> fetch(const QStringList& names) override;
    QFuture<StoreAnswer<ModifyResults>> modify(const std::vector<CloudRecord>& saves,
                                               const QStringList& deletes) override;

    class Connection;

private:
    StoreWorker<Connection> m_worker;
};
