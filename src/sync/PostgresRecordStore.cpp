#include "sync/PostgresRecordStore.h"

#include "sync/RecordFields.h"

#include <QUuid>

#include <libpq-fe.h>
#include <poll.h>

namespace {

// The server's SQLSTATE as one of the sync's error kinds.
RecordError mapState(const QByteArray& state, const QString& message)
{
    if (state == "40001" || state == "40P01" || state == "55P03" || state == "57014")
        return RecordError::busy(message);
    if (state == "57P03") // the server is starting up
        return RecordError::of(RecordFailure::startingUp, message);
    if (state == "53100")
        return RecordError::of(RecordFailure::storageFull, message);
    if (state == "42501")
        return RecordError::of(RecordFailure::notPermitted, message);
    if (state.startsWith("08"))
        return RecordError::of(RecordFailure::connectionLost, message);
    // Data the server cannot hold fails the same way every time it is sent.
    if (state.startsWith("22"))
        return RecordError::of(RecordFailure::invalidRecord, message);
    if (state.startsWith("54"))
        return RecordError::of(RecordFailure::tooLarge, message);
    return RecordError::of(RecordFailure::internal, message);
}

struct Result {
    PGresult* r = nullptr;
    explicit Result(PGresult* result) : r(result) {}
    ~Result() { PQclear(r); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ExecStatusType status() const { return PQresultStatus(r); }
    int rows() const { return PQntuples(r); }
    QString text(int row, int column) const
    {
        return QString::fromUtf8(PQgetvalue(r, row, column), PQgetlength(r, row, column));
    }
    QByteArray bytes(int row, int column) const
    {
        return QByteArray(PQgetvalue(r, row, column), PQgetlength(r, row, column));
    }
};

class PostgresDatabase : public RecordDatabase {
public:
    explicit PostgresDatabase(QString connection) : m_connection(std::move(connection)) {}
    ~PostgresDatabase() override
    {
        if (m_conn)
            PQfinish(m_conn);
    }

    std::optional<RecordError> open() override
    {
        if (m_conn && stillUp())
            return std::nullopt;
        if (m_conn)
            PQfinish(m_conn);
        m_conn = nullptr;
        const QByteArray info = m_connection.toUtf8();
        PGconn* conn = PQconnectStart(info.constData());
        if (!conn)
            return RecordError::of(RecordFailure::unreachable, QStringLiteral("out of memory"));
        // How far the handshake got tells a refused login from a server that cannot be reached.
        bool reachedServer = false;
        bool inTls = false;
        PostgresPollingStatusType poll = PGRES_POLLING_WRITING;
        while (poll != PGRES_POLLING_OK && poll != PGRES_POLLING_FAILED) {
            pollfd fd{PQsocket(conn), short(poll == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
            if (fd.fd < 0 || ::poll(&fd, 1, 15000) <= 0)
                break;
            inTls = PQstatus(conn) == CONNECTION_SSL_STARTUP;
            poll = PQconnectPoll(conn);
            const ConnStatusType stage = PQstatus(conn);
            if (stage == CONNECTION_AWAITING_RESPONSE || stage == CONNECTION_AUTH_OK || stage == CONNECTION_SETENV ||
                stage == CONNECTION_CHECK_WRITABLE || stage == CONNECTION_CONSUME)
                reachedServer = true;
        }
        if (poll != PGRES_POLLING_OK) {
            // The message may name the host, never a password (we never hold one).
            const QString message = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
            const bool untrusted = inTls && poll == PGRES_POLLING_FAILED;
            PQfinish(conn);
            // A handshake that ended before TLS was up is a server we refused to trust (or could
            // not check), not a network that may come back.
            if (untrusted)
                return RecordError::of(RecordFailure::untrustedServer, message);
            return RecordError::of(reachedServer ? RecordFailure::notAuthenticated : RecordFailure::unreachable,
                                   message);
        }
        m_conn = conn;
        // The schema is made with IF NOT EXISTS at every connection: its notices are no news.
        if (auto e = exec("SET statement_timeout = '30s'; SET client_min_messages = warning"); e)
            return closeWith(*e);
        if (auto e = createSchema(); e)
            return closeWith(*e);
        return std::nullopt;
    }

    // Between requests nothing comes on the socket, unless the server ended the session (it
    // restarted, or shut the connection down): then it has said so and closed its end already.
    // Read that now, so the next statement goes over a new connection instead of failing on this.
    bool stillUp()
    {
        for (int reads = 0; reads < 4 && PQstatus(m_conn) == CONNECTION_OK; ++reads) {
            pollfd fd{PQsocket(m_conn), POLLIN, 0};
            if (fd.fd < 0 || ::poll(&fd, 1, 0) <= 0)
                break;
            if (!PQconsumeInput(m_conn))
                return false;
        }
        return PQstatus(m_conn) == CONNECTION_OK;
    }

    StoreAnswer<QString> account() override
    {
        StoreAnswer<QString> answer;
        Result r(PQexec(m_conn, "SELECT value FROM qh_meta WHERE key = 'account'"));
        if (r.status() != PGRES_TUPLES_OK || r.rows() != 1)
            answer.error = error(r.r);
        else
            answer.value = QStringLiteral("postgresql:") + r.text(0, 0);
        return answer;
    }

    // One statement for the whole batch.
    StoreAnswer<std::vector<CloudRecord>> read(const QStringList& names) override
    {
        StoreAnswer<std::vector<CloudRecord>> answer;
        QByteArray array = "{";
        for (qsizetype i = 0; i < names.size(); ++i) {
            QByteArray quoted = names[i].toUtf8();
            quoted.replace("\\", "\\\\").replace("\"", "\\\"");
            array += (i ? ",\"" : "\"") + quoted + "\"";
        }
        array += "}";
        const char* values[] = {array.constData()};
        Result r(PQexecParams(m_conn,
                              "SELECT name, type, tag, fields::text FROM qh_records WHERE name = ANY($1::text[])", 1,
                              nullptr, values, nullptr, nullptr, 0));
        if (r.status() != PGRES_TUPLES_OK) {
            answer.error = error(r.r);
            return answer;
        }
        for (int row = 0; row < r.rows(); ++row)
            answer.value.push_back(
                RecordFields::decode(r.text(row, 1), r.text(row, 0), r.text(row, 2), r.bytes(row, 3)));
        return answer;
    }

    StoreAnswer<QString> changeStamp() override
    {
        StoreAnswer<QString> answer;
        Result r(PQexec(m_conn, "SELECT value FROM qh_meta WHERE key = 'changes'"));
        if (r.status() != PGRES_TUPLES_OK || r.rows() != 1)
            answer.error = error(r.r);
        else
            answer.value = r.text(0, 0);
        return answer;
    }

    // The counter row is taken first: writers then queue on it in one order and never deadlock
    // over it and their records, and its value grows in the order they commit.
    std::optional<RecordError> begin() override
    {
        m_stampAtBegin.clear();
        std::optional<RecordError> e = exec("BEGIN");
        if (!e) {
            // What the counter read before this writer took it.
            Result r(PQexec(m_conn, "UPDATE qh_meta SET value = (value::bigint + 1)::text WHERE key = 'changes' "
                                    "RETURNING (value::bigint - 1)::text"));
            if (r.status() != PGRES_TUPLES_OK || r.rows() != 1)
                e = error(r.r);
            else
                m_stampAtBegin = r.text(0, 0);
        }
        if (e)
            exec("ROLLBACK");
        return e;
    }

    QString stampAtBegin() const override { return m_stampAtBegin; }

    StoreAnswer<std::optional<CloudRecord>> write(const CloudRecord& record, const QByteArray& patch) override
    {
        StoreAnswer<std::optional<CloudRecord>> answer;
        const QByteArray name = record.recordName().toUtf8();
        const QByteArray third = record.changeTag() ? record.changeTag()->toUtf8() : record.recordType().toUtf8();
        const char* values[] = {name.constData(), patch.constData(), third.constData()};
        Result r(PQexecParams(m_conn,
                              record.changeTag()
                                  ? "UPDATE qh_records SET fields = jsonb_strip_nulls(fields || $2::jsonb), "
                                    "tag = nextval('qh_record_tags')::text, modified = now() WHERE name = $1 AND "
                                    "tag = $3 RETURNING type, tag, fields::text"
                                  : "INSERT INTO qh_records(name, type, tag, fields) VALUES($1, $3, "
                                    "nextval('qh_record_tags')::text, jsonb_strip_nulls($2::jsonb)) "
                                    "ON CONFLICT (name) DO NOTHING RETURNING type, tag, fields::text",
                              3, nullptr, values, nullptr, nullptr, 0));
        if (r.status() != PGRES_TUPLES_OK)
            answer.error = error(r.r);
        else if (r.rows() == 1)
            answer.value = RecordFields::decode(r.text(0, 0), record.recordName(), r.text(0, 1), r.bytes(0, 2));
        return answer;
    }

    StoreAnswer<bool> remove(const QString& name) override
    {
        StoreAnswer<bool> answer;
        const QByteArray utf8 = name.toUtf8();
        const char* values[] = {utf8.constData()};
        Result r(
            PQexecParams(m_conn, "DELETE FROM qh_records WHERE name = $1", 1, nullptr, values, nullptr, nullptr, 0));
        if (r.status() != PGRES_COMMAND_OK)
            answer.error = error(r.r);
        else
            answer.value = QByteArray(PQcmdTuples(r.r)) != "0";
        return answer;
    }

    std::optional<RecordError> commit() override { return exec("COMMIT"); }
    void rollback() override { exec("ROLLBACK"); }
    // jsonb refuses U+0000 in any text.
    RecordFields::NulText nulText() const override { return RecordFields::NulText::pieces; }

private:
    // Every copy may be the first to connect: the tables are made once, under a lock.
    std::optional<RecordError> createSchema()
    {
        std::optional<RecordError> e = exec("BEGIN");
        for (const char* sql :
             {"SELECT pg_advisory_xact_lock(7146317001)",
              "CREATE TABLE IF NOT EXISTS qh_records(name text PRIMARY KEY, type text NOT NULL, tag text NOT NULL, "
              "fields jsonb NOT NULL, modified timestamptz NOT NULL DEFAULT now())",
              "CREATE TABLE IF NOT EXISTS qh_meta(key text PRIMARY KEY, value text NOT NULL)",
              "CREATE SEQUENCE IF NOT EXISTS qh_record_tags"}) {
            if (e)
                break;
            e = exec(sql);
        }
        if (!e) {
            const QByteArray account = QUuid::createUuid().toString(QUuid::WithoutBraces).toUtf8();
            const char* values[] = {account.constData()};
            Result r(PQexecParams(m_conn,
                                  "INSERT INTO qh_meta(key, value) VALUES('account', $1) ON CONFLICT DO NOTHING", 1,
                                  nullptr, values, nullptr, nullptr, 0));
            if (r.status() != PGRES_COMMAND_OK)
                e = error(r.r);
        }
        // Every writer counts, also one that does not take the counter first (another tool).
        if (!e)
            e = exec("INSERT INTO qh_meta(key, value) VALUES('changes', '0') ON CONFLICT DO NOTHING");
        // Made once: replacing a trigger locks the table against every writer.
        bool counted = false;
        if (!e) {
            Result r(PQexec(m_conn, "SELECT 1 FROM pg_trigger WHERE tgrelid = 'qh_records'::regclass "
                                    "AND tgname = 'qh_records_counted'"));
            if (r.status() != PGRES_TUPLES_OK)
                e = error(r.r);
            counted = r.rows() > 0;
        }
        if (!e && !counted)
            e = exec(
                "CREATE OR REPLACE FUNCTION qh_count_change() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                "EXECUTE format('UPDATE %I.qh_meta SET value = (value::bigint + 1)::text WHERE key = ''changes''', "
                "TG_TABLE_SCHEMA); RETURN NULL; END $$");
        if (!e && !counted)
            e = exec("CREATE TRIGGER qh_records_counted AFTER INSERT OR UPDATE OR DELETE ON qh_records "
                     "FOR EACH STATEMENT EXECUTE FUNCTION qh_count_change()");
        if (!e)
            e = exec("COMMIT");
        if (e)
            exec("ROLLBACK");
        return e;
    }

    std::optional<RecordError> exec(const char* sql)
    {
        Result r(PQexec(m_conn, sql));
        if (r.status() == PGRES_COMMAND_OK || r.status() == PGRES_TUPLES_OK)
            return std::nullopt;
        return error(r.r);
    }

    RecordError error(const PGresult* result) const
    {
        const QString message =
            QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn)).trimmed();
        if (PQstatus(m_conn) != CONNECTION_OK)
            return RecordError::of(RecordFailure::connectionLost, message);
        return mapState(QByteArray(result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr), message);
    }

    RecordError closeWith(const RecordError& e)
    {
        PQfinish(m_conn);
        m_conn = nullptr;
        return e;
    }

    QString m_connection;
    PGconn* m_conn = nullptr;
    QString m_stampAtBegin;
};

} // namespace

PostgresRecordStore::PostgresRecordStore(const QString& connection, QObject* parent)
    : DatabaseRecordStore([connection] { return std::make_unique<PostgresDatabase>(connection); }, parent)
{
}

PostgresRecordStore::~PostgresRecordStore() = default;
