#pragma once

#include "sync/DatabaseRecordStore.h"

// The record store for several machines: one PostgreSQL database, through libpq directly on a
// worker thread. The connection text is a libpq URL or "service=…"; passwords come only from
// ~/.pgpass or the service file.
class PostgresRecordStore : public DatabaseRecordStore {
    Q_OBJECT
public:
    explicit PostgresRecordStore(const QString& connection, QObject* parent = nullptr);
    ~PostgresRecordStore() override;
};
