#pragma once

#include "sync/DatabaseRecordStore.h"

// The record store of one machine: a SQLite file that every running copy shares, whatever its data
// folder. libsqlite3 directly (QtSql drops the extended result codes), on a worker thread.
class SqliteRecordStore : public DatabaseRecordStore {
    Q_OBJECT
public:
    explicit SqliteRecordStore(const QString& path, QObject* parent = nullptr);
    ~SqliteRecordStore() override;

    // $XDG_DATA_HOME/Quillharbour/records.sqlite: outside any one data folder on purpose.
    static QString defaultPath();
};
