#include "sync/SqliteRecordStore.h"

#include "files/FileSafety.h"
#include "sync/RecordFields.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QUuid>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace {

// SQLite's answer as one of the sync's error kinds.
RecordError mapError(int extended, const QString& message)
{
    switch (extended & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return RecordError::busy(message);
    case SQLITE_FULL:
        return RecordError::of(RecordFailure::storageFull, message);
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return RecordError::of(RecordFailure::notPermitted, message);
    case SQLITE_CANTOPEN:
        return RecordError::of(RecordFailure::unreachable, message);
    default:
        return RecordError::of(RecordFailure::internal, message);
    }
}

// WAL needs shared memory on one host: a database on a network file system is refused.
bool isNetworkFileSystem(const QString& folder)
{
    struct statfs info {};
    if (::statfs(QFile::encodeName(folder).constData(), &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x65735546UL: // FUSE (sshfs and the like)
        return true;
    default:
        return false;
    }
}

QString newTag()
{
    return QString::number(QRandomGenerator::system()->generate64(), 16);
}

// One connection on the worker thread. Every write is one `BEGIN IMMEDIATE` transaction, so two
// copies never both read and then both write.
class SqliteDatabase : public RecordDatabase {
public:
    explicit SqliteDatabase(QString path) : m_path(std::move(path)) {}
    ~SqliteDatabase() override { close(); }

    std::optional<RecordError> open() override
    {
        if (m_db)
            return std::nullopt;
        const QString folder = QFileInfo(m_path).absolutePath();
        if (!FileSafety::makeFolder(folder))
            return RecordError::of(RecordFailure::unreachable, QStringLiteral("cannot create %1").arg(folder));
        if (isNetworkFileSystem(folder))
            return RecordError::of(
                RecordFailure::internal,
                QStringLiteral("%1 is on a network file system; use a PostgreSQL store to share between machines")
                    .arg(m_path));
        // Made private before SQLite sees it; SQLite gives its side files the same mode.
        const QByteArray file = QFile::encodeName(m_path);
        const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return RecordError::of(RecordFailure::unreachable, QStringLiteral("cannot open %1").arg(m_path));
        ::fchmod(fd, 0600);
        ::close(fd);

        sqlite3* db = nullptr;
        const int rc = sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            const RecordError e = mapError(rc, QString::fromUtf8(sqlite3_errstr(rc)));
            sqlite3_close(db);
            return e;
        }
        m_db = db;
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, 3000); // first: the pragmas below may already meet a lock
        if (auto e = exec("PRAGMA journal_mode=WAL"); e)
            return closeWith(*e);
        if (auto e = exec("PRAGMA synchronous=FULL"); e)
            return closeWith(*e);
        // A save's undo copy for its own statement (the change-counting trigger needs one) stays in
        // memory: for a manifest page it is a quarter of a megabyte, which would otherwise go
        // through a temporary file page by page. Crash safety is the WAL's, not this copy's.
        if (auto e = exec("PRAGMA temp_store=MEMORY"); e)
            return closeWith(*e);
        if (auto e = exec("BEGIN IMMEDIATE"); e)
            return closeWith(*e);
        std::optional<RecordError> e =
            exec("CREATE TABLE IF NOT EXISTS records(name TEXT PRIMARY KEY, type TEXT NOT NULL, tag TEXT NOT NULL, "
                 "fields TEXT NOT NULL, modified INTEGER NOT NULL)");
        if (!e)
            e = exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)");
        if (!e)
            e = exec(QStringLiteral("INSERT OR IGNORE INTO meta(key, value) VALUES('account', '%1')")
                         .arg(QUuid::createUuid().toString(QUuid::WithoutBraces))
                         .toUtf8()
                         .constData());
        // The change counter lives in the database, so every writer counts, older copies of this
        // program and other tools included.
        if (!e)
            e = exec("INSERT OR IGNORE INTO meta(key, value) VALUES('changes', '0')");
        for (const char* event : {"INSERT", "UPDATE", "DELETE"}) {
            if (!e)
                e = exec(QStringLiteral("CREATE TRIGGER IF NOT EXISTS records_counted_%1 AFTER %2 ON records BEGIN "
                                        "UPDATE meta SET value = CAST(value AS INTEGER) + 1 WHERE key = 'changes'; END")
                             .arg(QString::fromLatin1(event).toLower(), QLatin1String(event))
                             .toUtf8()
                             .constData());
        }
        if (!e)
            e = makeTextsPlain();
        if (!e)
            e = exec("COMMIT");
        if (e) {
            exec("ROLLBACK");
            return closeWith(*e);
        }
        return std::nullopt;
    }

    StoreAnswer<QString> changeStamp() override
    {
        StoreAnswer<QString> answer;
        Statement& s = prepared("SELECT value FROM meta WHERE key='changes'");
        if (s.step() != SQLITE_ROW)
            answer.error = lastError();
        else
            answer.value = s.text(0);
        s.reset();
        return answer;
    }

    StoreAnswer<QString> account() override
    {
        StoreAnswer<QString> answer;
        Statement& s = prepared("SELECT value FROM meta WHERE key='account'");
        if (s.step() != SQLITE_ROW)
            answer.error = lastError();
        else
            answer.value = QStringLiteral("sqlite:") + s.text(0);
        s.reset();
        return answer;
    }

    StoreAnswer<std::vector<CloudRecord>> read(const QStringList& names) override
    {
        StoreAnswer<std::vector<CloudRecord>> answer;
        // One read transaction: the records answer as of one moment.
        if ((answer.error = run("BEGIN")))
            return answer;
        Statement& s = prepared("SELECT type, tag, fields FROM records WHERE name = ?1");
        for (const QString& name : names) {
            s.reset();
            s.bind(1, name);
            const int rc = s.step();
            if (rc == SQLITE_ROW)
                answer.value.push_back(RecordFields::decode(s.text(0), name, s.text(1), s.view(2)));
            else if (rc != SQLITE_DONE) {
                answer.error = lastError();
                break;
            }
        }
        s.reset();
        run("COMMIT");
        return answer;
    }

    std::optional<RecordError> begin() override
    {
        if (auto e = run("BEGIN IMMEDIATE"))
            return e;
        m_update = &prepared("UPDATE records SET fields = json_patch(fields, ?2), tag = ?3, modified = ?4 "
                             "WHERE name = ?1 AND tag = ?5 RETURNING type, tag, fields");
        m_insert = &prepared("INSERT INTO records(name, type, tag, fields, modified) "
                             "VALUES(?1, ?6, ?3, json_patch('{}', ?2), ?4) "
                             "ON CONFLICT(name) DO NOTHING RETURNING type, tag, fields");
        m_remove = &prepared("DELETE FROM records WHERE name = ?1");
        m_stored = &prepared("SELECT type, fields FROM records WHERE name = ?1 AND tag = ?2");
        m_replace = &prepared("UPDATE records SET fields = ?2, tag = ?3, modified = ?4 WHERE name = ?1");
        m_now = QDateTime::currentMSecsSinceEpoch();
        // No other writer gets in until this transaction ends.
        const StoreAnswer<QString> stamp = changeStamp();
        m_stampAtBegin = stamp.error ? QString() : stamp.value;
        return std::nullopt;
    }

    QString stampAtBegin() const override { return m_stampAtBegin; }

    StoreAnswer<std::optional<CloudRecord>> write(const CloudRecord& record, const QByteArray& patch) override
    {
        StoreAnswer<std::optional<CloudRecord>> answer;
        if (record.changeTag() && spliced(record, patch, answer))
            return answer;
        Statement& s = record.changeTag() ? *m_update : *m_insert;
        s.reset();
        s.bind(1, record.recordName());
        s.bind(2, patch);
        s.bind(3, newTag());
        s.bind(4, m_now);
        if (record.changeTag())
            s.bind(5, *record.changeTag());
        else
            s.bind(6, record.recordType());
        const int rc = s.step();
        if (rc == SQLITE_ROW)
            answer.value = RecordFields::decode(s.text(0), record.recordName(), s.text(1), s.view(2));
        else if (rc != SQLITE_DONE)
            answer.error = lastError();
        // A RETURNING statement must run to its end before the next use.
        while (rc == SQLITE_ROW && s.step() == SQLITE_ROW) {
        }
        return answer;
    }

    StoreAnswer<bool> remove(const QString& name) override
    {
        StoreAnswer<bool> answer;
        m_remove->reset();
        m_remove->bind(1, name);
        if (m_remove->step() != SQLITE_DONE)
            answer.error = lastError();
        else
            answer.value = sqlite3_changes(m_db) != 0;
        return answer;
    }

    std::optional<RecordError> commit() override
    {
        finishBatch();
        return run("COMMIT");
    }

    void rollback() override
    {
        finishBatch();
        run("ROLLBACK");
    }

    void releaseMemory() override
    {
        if (m_db)
            sqlite3_db_release_memory(m_db);
    }

private:
    struct Statement {
        sqlite3_stmt* stmt = nullptr;
        int rc = SQLITE_OK;
        Statement(sqlite3* db, const char* sql) { rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr); }
        ~Statement() { sqlite3_finalize(stmt); }
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;
        void reset()
        {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
        void bind(int i, const QString& text)
        {
            const QByteArray utf8 = text.toUtf8();
            sqlite3_bind_text(stmt, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        void bind(int i, const QByteArray& text)
        {
            sqlite3_bind_text(stmt, i, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        }
        void bind(int i, qint64 n) { sqlite3_bind_int64(stmt, i, n); }
        // Not copied: `text` must stay as it is until the statement is reset.
        void bindStatic(int i, const QByteArray& text)
        {
            sqlite3_bind_text(stmt, i, text.constData(), int(text.size()), SQLITE_STATIC);
        }
        int step() { return stmt ? sqlite3_step(stmt) : rc; }
        QString text(int column) const
        {
            return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                     sqlite3_column_bytes(stmt, column));
        }
        // Valid until the statement steps again or is reset.
        QByteArrayView view(int column) const
        {
            const char* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
            return QByteArrayView(data, sqlite3_column_bytes(stmt, column));
        }
        QByteArray blob(int column) const
        {
            return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                              sqlite3_column_bytes(stmt, column));
        }
    };

    // Texts holding U+0000 that an earlier version wrote here as pieces (a form only PostgreSQL
    // needs, and older versions cannot read) are written plain again. The record keeps its change
    // tag: its content is the same, so a copy that fetched it may still save onto it.
    std::optional<RecordError> makeTextsPlain()
    {
        std::vector<std::pair<QString, QByteArray>> patches;
        {
            Statement s(m_db, "SELECT name, fields FROM records WHERE instr(fields, '[\"z\",') > 0");
            int rc = SQLITE_ROW;
            while ((rc = s.step()) == SQLITE_ROW)
                if (std::optional<QByteArray> patch = RecordFields::plainTextsPatch(s.blob(1)))
                    patches.emplace_back(s.text(0), std::move(*patch));
            if (rc != SQLITE_DONE)
                return lastError();
        }
        Statement update(m_db, "UPDATE records SET fields = json_patch(fields, ?2) WHERE name = ?1");
        for (const auto& [name, patch] : patches) {
            update.reset();
            update.bind(1, name);
            update.bind(2, patch);
            if (update.step() != SQLITE_DONE)
                return lastError();
        }
        return std::nullopt;
    }

    // A save onto a stored record, its fields patched here rather than by the database's merge
    // function, which reads and writes every field as JSON: a manifest page is a quarter of a
    // megabyte of one text, and a change to it adds or removes one id. False when the fields are
    // not in a form spliced here; the merge function then does the whole save.
    bool spliced(const CloudRecord& record, const QByteArray& patch, StoreAnswer<std::optional<CloudRecord>>& answer)
    {
        Statement& stored = *m_stored;
        stored.reset();
        stored.bind(1, record.recordName());
        stored.bind(2, *record.changeTag());
        const int rc = stored.step();
        if (rc == SQLITE_DONE)
            return true; // no record of that version: "changed on the server"
        if (rc != SQLITE_ROW) {
            answer.error = lastError();
            return true;
        }
        const QString type = stored.text(0);
        std::optional<QByteArray> fields = RecordFields::spliceFields(stored.view(1), QByteArrayView(patch));
        stored.reset();
        if (!fields)
            return false;
        const QString tag = newTag();
        Statement& replace = *m_replace;
        replace.reset();
        replace.bind(1, record.recordName());
        replace.bindStatic(2, *fields);
        replace.bind(3, tag);
        replace.bind(4, m_now);
        if (replace.step() != SQLITE_DONE)
            answer.error = lastError();
        else
            answer.value = RecordFields::decode(type, record.recordName(), tag, *fields);
        replace.reset();
        return true;
    }

    // Made once for the connection and kept: making one costs more than running it, and a run
    // of the sync uses a dozen. Each is reset after use, so none holds a read open.
    Statement& prepared(const char* sql)
    {
        for (const auto& [text, statement] : m_prepared)
            if (std::strcmp(text, sql) == 0 && statement->stmt)
                return *statement;
        std::erase_if(m_prepared, [sql](const auto& p) { return std::strcmp(p.first, sql) == 0; });
        // One that failed to be made (a lock met while reading the schema) is made again next time.
        return *m_prepared.emplace_back(sql, std::make_unique<Statement>(m_db, sql)).second;
    }

    // A statement without rows or parameters, such as the ends of a transaction.
    std::optional<RecordError> run(const char* sql)
    {
        Statement& s = prepared(sql);
        const int rc = s.step();
        std::optional<RecordError> e;
        if (rc != SQLITE_DONE && rc != SQLITE_ROW)
            e = lastError();
        s.reset();
        return e;
    }

    // The write statements are done with before the transaction ends.
    void finishBatch()
    {
        for (Statement* s : {m_stored, m_replace, m_update, m_insert, m_remove})
            if (s)
                s->reset();
        m_stored = m_replace = m_update = m_insert = m_remove = nullptr;
    }

    std::optional<RecordError> exec(const char* sql)
    {
        char* message = nullptr;
        const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
        if (rc == SQLITE_OK)
            return std::nullopt;
        RecordError e =
            mapError(sqlite3_extended_errcode(m_db), QString::fromUtf8(message ? message : sqlite3_errstr(rc)));
        sqlite3_free(message);
        return e;
    }

    RecordError lastError() const
    {
        return mapError(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
    }

    RecordError closeWith(const RecordError& e)
    {
        close();
        return e;
    }
    void close()
    {
        finishBatch();
        m_prepared.clear();
        if (m_db)
            sqlite3_close_v2(m_db);
        m_db = nullptr;
    }

    QString m_path;
    sqlite3* m_db = nullptr;
    std::vector<std::pair<const char*, std::unique_ptr<Statement>>> m_prepared;
    Statement *m_update = nullptr, *m_insert = nullptr, *m_remove = nullptr, *m_stored = nullptr, *m_replace = nullptr;
    qint64 m_now = 0;
    QString m_stampAtBegin;
};

} // namespace

SqliteRecordStore::SqliteRecordStore(const QString& path, QObject* parent)
    : DatabaseRecordStore([path] { return std::make_unique<SqliteDatabase>(path); }, parent)
{
}

SqliteRecordStore::~SqliteRecordStore() = default;

QString SqliteRecordStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillharbour/records.sqlite");
}
