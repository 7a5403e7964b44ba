#pragma once

#include "sync/RecordStore.h"
#include "sync/StoreWorker.h"

// The record store of one machine: a SQLite file that every running copy shares, whatever its data
// folder. libsqlite3 directly (QtSql drops the extended result codes), on a worker thread.
class SqliteRecordStore : public RecordStore {
    Q_OBJECT
public:
    explicit SqliteRecordStore(const QString& path, QObject* parent = nullptr);
    ~SqliteRecordStore() override;

    // $XDG_DATA_HOME/Quillharbour/records.sqlite: outside any one data folder on purpose.
    static QString defaultPath();

    QFuture<StoreAnswer<int>> accountStatus() override;
    QFuture<StoreAnswer<QString>> userRecordName() override;
    QFuture<StoreAnswer<std::vector<ItemResult>>> fetch(const QStringList& names) override;
    QFuture<StoreAnswer<ModifyResults>> modify(const std::vector<CloudRecord>& saves,
                                               const QStringList& deletes) override;

    class Connection;

private:
    StoreWorker<Connection> m_worker;
};
