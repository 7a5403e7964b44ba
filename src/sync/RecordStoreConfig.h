#pragma once

#include "sync/RecordStore.h"

#include <memory>
#include <optional>

class Defaults;

// Which record store the sync talks to. The preference "sync.recordStore.v1" (overridden by the
// environment variable QUILLHARBOUR_RECORD_STORE) holds nothing or a file path for SQLite, or a
// "postgresql://" URL or "service=…" for PostgreSQL.
struct RecordStoreChoice {
    enum class Kind { sqlite, postgresql, invalid };
    Kind kind = Kind::invalid;
    QString location; // the SQLite path, or the libpq connection text as it will be used
    QString error;    // why an invalid choice was refused (never quotes a password)

    static inline const QString preferenceKey = QStringLiteral("sync.recordStore.v1");
    static inline const QString environmentVariable = QStringLiteral("QUILLHARBOUR_RECORD_STORE");

    static RecordStoreChoice parse(const QString& text, const QString& defaultSqlitePath);
    static RecordStoreChoice fromSettings(const Defaults& defaults);
};

// The chosen store, or none (with the reason) when the setting cannot be used.
std::unique_ptr<RecordStore> openRecordStore(const RecordStoreChoice& choice, QString* error = nullptr);
