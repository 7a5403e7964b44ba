#include "sync/SqliteRecordStore.h"

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

namespace {

RecordError failure(RecordErrorCode code, const QString& message, std::optional<double> retryAfter = std::nullopt)
{
    return RecordError{code, message, retryAfter, {}};
}

// SQLite's answer as one of the sync's error kinds.
RecordError mapError(int extended, const QString& message)
{
    switch (extended & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return failure(RecordErrorCode::requestRateLimited, message, 5);
    case SQLITE_FULL:
        return failure(RecordErrorCode::quotaExceeded, message);
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return failure(RecordErrorCode::permissionFailure, message);
    case SQLITE_CANTOPEN:
        return failure(RecordErrorCode::networkUnavailable, message);
    default:
        return failure(RecordErrorCode::internalError, message);
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

} // namespace

// One connection on the worker thread. Every write is one `BEGIN IMMEDIATE` transaction, so two
// copies never both read and then both write.
class SqliteRecordStore::Connection {
public:
    explicit Connection(QString path) : m_path(std::move(path)) {}
    ~Connection() { close(); }

    std::optional<RecordError> open()
    {
        if (m_db)
            return std::nullopt;
        const QString folder = QFileInfo(m_path).absolutePath();
        if (!QDir().mkpath(folder))
            return failure(RecordErrorCode::networkUnavailable, QStringLiteral("cannot create %1").arg(folder));
        if (isNetworkFileSystem(folder))
            return failure(
                RecordErrorCode::internalError,
                QStringLiteral("%1 is on a network file system; use a PostgreSQL store to share between machines")
                    .arg(m_path));
        // Made private before SQLite sees it; SQLite gives its side files the same mode.
        const QByteArray file = QFile::encodeName(m_path);
        const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return failure(RecordErrorCode::networkUnavailable, QStringLiteral("cannot open %1").arg(m_path));
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
                         .toUtf8());
        if (!e)
            e = exec("COMMIT");
        if (e) {
            exec("ROLLBACK");
            return closeWith(*e);
        }
        return std::nullopt;
    }

    StoreAnswer<QString> account()
    {
        StoreAnswer<QString> answer;
        if ((answer.error = open()))
            return answer;
        Statement s(m_db, "SELECT value FROM meta WHERE key='account'");
        if (s.rc != SQLITE_OK || s.step() != SQLITE_ROW)
            answer.error = lastError();
        else
            answer.value = QStringLiteral("sqlite:") + s.text(0);
        return answer;
    }

    StoreAnswer<std::vector<ItemResult>> fetch(const QStringList& names)
    {
        StoreAnswer<std::vector<ItemResult>> answer;
        if (names.size() > maxItemsPerRequest) {
            answer.error = failure(RecordErrorCode::limitExceeded, QStringLiteral("too many items in one request"));
            return answer;
        }
        if ((answer.error = open()))
            return answer;
        // One read transaction: the records answer as of one moment.
        if ((answer.error = exec("BEGIN")))
            return answer;
        Statement s(m_db, "SELECT type, tag, fields FROM records WHERE name = ?1");
        for (const QString& name : names) {
            ItemResult item{name, std::nullopt, std::nullopt};
            s.reset();
            s.bind(1, name);
            const int rc = s.step();
            if (rc == SQLITE_ROW)
                item.record = RecordFields::decode(s.text(0), name, s.text(1), s.blob(2));
            else if (rc == SQLITE_DONE)
                item.error = failure(RecordErrorCode::unknownItem, QStringLiteral("no such record"));
            else {
                answer.error = lastError();
                break;
            }
            answer.value.push_back(std::move(item));
        }
        s.finalize();
        exec("COMMIT");
        if (answer.error)
            answer.value.clear();
        return answer;
    }

    StoreAnswer<ModifyResults> modify(const std::vector<CloudRecord>& saves, const QStringList& deletes)
    {
        StoreAnswer<ModifyResults> answer;
        if (qsizetype(saves.size()) + deletes.size() > maxItemsPerRequest) {
            answer.error = failure(RecordErrorCode::limitExceeded, QStringLiteral("too many items in one request"));
            return answer;
        }
        if ((answer.error = open()))
            return answer;
        if ((answer.error = exec("BEGIN IMMEDIATE")))
            return answer;
        {
            Statement update(m_db, "UPDATE records SET fields = json_patch(fields, ?2), tag = ?3, modified = ?4 "
                                   "WHERE name = ?1 AND tag = ?5 RETURNING type, tag, fields");
            Statement insert(m_db, "INSERT INTO records(name, type, tag, fields, modified) "
                                   "VALUES(?1, ?6, ?3, json_patch('{}', ?2), ?4) "
                                   "ON CONFLICT(name) DO NOTHING RETURNING type, tag, fields");
            Statement remove(m_db, "DELETE FROM records WHERE name = ?1");
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            for (const CloudRecord& record : saves) {
                ItemResult item{record.recordName(), std::nullopt, std::nullopt};
                const QByteArray patch = RecordFields::patch(record);
                if (!RecordFields::isValidName(record.recordName()) || !RecordFields::isValidName(record.recordType()))
                    item.error = failure(RecordErrorCode::invalidArguments, QStringLiteral("bad record name or type"));
                else if (patch.size() > maxRecordBytes)
                    item.error = failure(RecordErrorCode::limitExceeded, QStringLiteral("record too large"));
                else {
                    Statement& s = record.changeTag() ? update : insert;
                    s.reset();
                    s.bind(1, record.recordName());
                    s.bind(2, patch);
                    s.bind(3, newTag());
                    s.bind(4, now);
                    if (record.changeTag())
                        s.bind(5, *record.changeTag());
                    else
                        s.bind(6, record.recordType());
                    const int rc = s.step();
                    if (rc == SQLITE_ROW)
                        item.record = RecordFields::decode(s.text(0), record.recordName(), s.text(1), s.blob(2));
                    else if (rc == SQLITE_DONE)
                        item.error = failure(RecordErrorCode::serverRecordChanged,
                                             QStringLiteral("the record changed on the server"));
                    else {
                        answer.error = lastError();
                        break;
                    }
                    // A RETURNING statement must run to its end before the next use.
                    while (rc == SQLITE_ROW && s.step() == SQLITE_ROW) {
                    }
                }
                answer.value.saves.push_back(std::move(item));
            }
            for (qsizetype i = 0; !answer.error && i < deletes.size(); ++i) {
                ItemResult item{deletes[i], std::nullopt, std::nullopt};
                remove.reset();
                remove.bind(1, deletes[i]);
                if (remove.step() != SQLITE_DONE) {
                    answer.error = lastError();
                    break;
                }
                if (sqlite3_changes(m_db) == 0)
                    item.error = failure(RecordErrorCode::unknownItem, QStringLiteral("no such record"));
                answer.value.deletes.push_back(std::move(item));
            }
        }
        if (!answer.error)
            answer.error = exec("COMMIT");
        if (answer.error) {
            exec("ROLLBACK");
            answer.value = {};
        }
        return answer;
    }

private:
    struct Statement {
        sqlite3_stmt* stmt = nullptr;
        int rc = SQLITE_OK;
        Statement(sqlite3* db, const char* sql) { rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr); }
        ~Statement() { finalize(); }
        void finalize()
        {
            sqlite3_finalize(stmt);
            stmt = nullptr;
        }
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
        int step() { return stmt ? sqlite3_step(stmt) : rc; }
        QString text(int column) const
        {
            return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                     sqlite3_column_bytes(stmt, column));
        }
        QByteArray blob(int column) const
        {
            return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                              sqlite3_column_bytes(stmt, column));
        }
    };

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
    std::optional<RecordError> exec(const QByteArray& sql) { return exec(sql.constData()); }

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
        if (m_db)
            sqlite3_close_v2(m_db);
        m_db = nullptr;
    }

    QString m_path;
    sqlite3* m_db = nullptr;
};

SqliteRecordStore::SqliteRecordStore(const QString& path, QObject* parent)
    : RecordStore(parent), m_worker([path] { return std::make_unique<Connection>(path); })
{
}

SqliteRecordStore::~SqliteRecordStore() = default;

QString SqliteRecordStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillharbour/records.sqlite");
}

QFuture<StoreAnswer<int>> SqliteRecordStore::accountStatus()
{
    return m_worker.call<int>([](Connection& c) {
        StoreAnswer<int> answer;
        answer.error = c.open();
        answer.value = accountAvailable;
        return answer;
    });
}

QFuture<StoreAnswer<QString>> SqliteRecordStore::userRecordName()
{
    return m_worker.call<QString>([](Connection& c) { return c.account(); });
}

QFuture<StoreAnswer<std::vector<ItemResult>>> SqliteRecordStore::fetch(const QStringList& names)
{
    return m_worker.call<std::vector<ItemResult>>([names](Connection& c) { return c.fetch(names); });
}

QFuture<StoreAnswer<ModifyResults>> SqliteRecordStore::modify(const std::vector<CloudRecord>& saves,
                                                              const QStringList& deletes)
{
    return m_worker.call<ModifyResults>([saves, deletes](Connection& c) { return c.modify(saves, deletes); });
}
