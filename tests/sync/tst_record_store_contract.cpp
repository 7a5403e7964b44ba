// One contract for every record store: the sync relies on exactly these answers, whichever
// database is behind them. Each case runs on the in-memory store, on SQLite and on a private
// PostgreSQL server that the test starts itself.
#include "PostgresServer.h"
#include "RecordStoreHelpers.h"
#include "sync/MemoryRecordStore.h"
#include "sync/PostgresRecordStore.h"
#include "sync/RecordFields.h"
#include "sync/RecordStoreConfig.h"
#include "sync/SqliteRecordStore.h"
#include "sync/SyncMerge.h"
#include "sync/SyncService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

CloudRecord note(const QString& name, const QString& title)
{
    CloudRecord r(QStringLiteral("QHNote"), name);
    r.setString(QStringLiteral("title"), title);
    return r;
}

ItemResult saveOne(RecordStore& store, const CloudRecord& record)
{
    const auto answer = waitFor(store.modify({record}, {}));
    if (answer.error)
        qFatal("save failed whole: %s", qPrintable(answer.error->description()));
    return answer.value.saves.at(0);
}

std::optional<CloudRecord> fetchOne(RecordStore& store, const QString& name)
{
    const auto answer = waitFor(store.fetch({name}));
    return answer.value.at(0).record;
}

// Every field of a record as "key=kind:value", sorted.
QString summary(const CloudRecord& record)
{
    QStringList out;
    for (const QString& key : record.keys()) {
        const CloudRecord::Value v = record.value(key);
        if (const auto* s = std::get_if<QString>(&v))
            out.append(key + QStringLiteral("=s:") + *s);
        else if (const auto* i = std::get_if<qint64>(&v))
            out.append(key + QStringLiteral("=i:") + QString::number(*i));
        else if (const auto* d = std::get_if<double>(&v))
            out.append(key + QStringLiteral("=d:") + QString::number(*d));
        else if (const auto* t = std::get_if<CloudRecord::DateValue>(&v))
            out.append(key + QStringLiteral("=t:") + QString::number(t->seconds));
    }
    out.sort();
    return out.join(u';');
}

} // namespace

// Opens the row's backend as `var`; a database that could not be started fails the row (it skips
// only where PostgreSQL is not installed).
#define OPEN_BACKEND(var)                                                                                              \
    QFETCH(QString, backend);                                                                                          \
    auto var = open(backend);                                                                                          \
    if (!var)                                                                                                          \
    QH_REQUIRE_POSTGRES(m_postgres, false)

class RecordStoreContract : public QObject {
    Q_OBJECT
    QTemporaryDir m_folder;
    PostgresServer m_postgres;
    int m_case = 0;
    struct stat m_tempBefore {};

    std::unique_ptr<RecordStore> open(const QString& backend)
    {
        ++m_case;
        if (backend == QLatin1String("memory"))
            return std::make_unique<MemoryRecordStore>();
        if (backend == QLatin1String("sqlite"))
            return std::make_unique<SqliteRecordStore>(m_folder.filePath(QStringLiteral("case%1.sqlite").arg(m_case)));
        if (!m_postgres.isRunning())
            return nullptr;
        return std::make_unique<PostgresRecordStore>(m_postgres.freshSchema(QStringLiteral("case%1").arg(m_case)));
    }

    // A second connection to the database the last open() made: another device; none in memory.
    std::unique_ptr<RecordStore> openAgain(const QString& backend)
    {
        if (backend == QLatin1String("sqlite"))
            return std::make_unique<SqliteRecordStore>(m_folder.filePath(QStringLiteral("case%1.sqlite").arg(m_case)));
        if (backend == QLatin1String("postgresql"))
            return std::make_unique<PostgresRecordStore>(
                m_postgres.connection(QStringLiteral("options='-c search_path=case%1'").arg(m_case)));
        return nullptr;
    }

    // The stored fields of record `name` as the database holds them, on the last store open() made;
    // none in memory.
    QByteArray rawFields(const QString& backend, const QString& name)
    {
        QByteArray fields;
        if (backend == QLatin1String("sqlite")) {
            sqlite3* db = nullptr;
            const QByteArray path = QFile::encodeName(m_folder.filePath(QStringLiteral("case%1.sqlite").arg(m_case)));
            sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr);
            sqlite3_stmt* s = nullptr;
            sqlite3_prepare_v2(db, "SELECT fields FROM records WHERE name = ?1", -1, &s, nullptr);
            const QByteArray utf8 = name.toUtf8();
            sqlite3_bind_text(s, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(s) == SQLITE_ROW)
                fields =
                    QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), sqlite3_column_bytes(s, 0));
            sqlite3_finalize(s);
            sqlite3_close(db);
        } else if (backend == QLatin1String("postgresql")) {
            const QByteArray connection =
                m_postgres.connection(QStringLiteral("options='-c search_path=case%1'").arg(m_case)).toUtf8();
            PGconn* conn = PQconnectdb(connection.constData());
            const QByteArray utf8 = name.toUtf8();
            const char* values[] = {utf8.constData()};
            PGresult* r = PQexecParams(conn, "SELECT fields::text FROM qh_records WHERE name = $1", 1, nullptr, values,
                                       nullptr, nullptr, 0);
            if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1)
                fields = QByteArray(PQgetvalue(r, 0, 0), PQgetlength(r, 0, 0));
            PQclear(r);
            PQfinish(conn);
        }
        return fields;
    }

    static void addBackendColumn() { QTest::addColumn<QString>("backend"); }
    template <typename... Values> static void addRow(const char* name, Values... values)
    {
        for (const char* backend : {"memory", "sqlite", "postgresql"})
            ((QTest::addRow("%s/%s", backend, name) << QString::fromLatin1(backend)) << ... << values);
    }
    // One row per backend, for a case without further columns.
    static void backends()
    {
        addBackendColumn();
        addRow("store");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(::stat(QFile::encodeName(QDir::tempPath()).constData(), &m_tempBefore) == 0);
        m_postgres.start();
    }
    // The servers ran in folders of their own: the shared temporary folder is as it was.
    void cleanupTestCase()
    {
        m_postgres.stop();
        struct stat after {};
        QVERIFY(::stat(QFile::encodeName(QDir::tempPath()).constData(), &after) == 0);
        QCOMPARE(after.st_mode, m_tempBefore.st_mode);
        QCOMPARE(after.st_uid, m_tempBefore.st_uid);
    }

    // Stored fields come from a database anyone may have written: every well-formed pair reads the
    // same whichever way it is spelled, and anything else is left out.
    void storedFieldsRead_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("unread"); // the fields marked as not read, which a save would lose
        QTest::newRow("plain") << QByteArray(R"({"a":["s","x"],"b":["i",-5],"c":["t",1500],"e":["s",""]})")
                               << QStringLiteral("a=s:x;b=i:-5;c=t:1.5;e=s:") << QString();
        QTest::newRow("spaces and escapes")
            << QByteArray(" { \"a\" : [ \"s\" , \"q\\\"\\\\\\/\\n\\u00e9\\ud83d\\ude00\" ] } ")
            << QStringLiteral("a=s:q\"\\/\n\u00e9\U0001F600") << QString();
        QTest::newRow("raw text beyond ASCII")
            << QByteArray("{\"a\":[\"s\",\"caf\xc3\xa9\"]}") << QStringLiteral("a=s:caf\u00e9") << QString();
        QTest::newRow("whole numbers in other spellings")
            << QByteArray(R"({"a":["i",1e3],"b":["i",1.5],"c":["i",12345678901234567890],"d":["t",-1250]})")
            << QStringLiteral("a=i:1000;d=t:-1.25") << QStringLiteral("b,c");
        QTest::newRow("the extremes of 64 bits")
            << QByteArray(R"({"a":["i",-9223372036854775807],"b":["i",9223372036854775807]})")
            << QStringLiteral("a=i:-9223372036854775807;b=i:9223372036854775807") << QString();
        QTest::newRow("a real number") << QByteArray(R"({"a":["d",2.5],"b":["d","2.5"]})") << QStringLiteral("a=d:2.5")
                                       << QStringLiteral("b");
        QTest::newRow("malformed pairs")
            << QByteArray(R"({"a":["s",1],"b":["x","y"],"c":"bare","d":["s","ok","extra"],"e":[],"f":["s","ok"]})")
            << QStringLiteral("f=s:ok") << QStringLiteral("a,b,c,d,e");
        QTest::newRow("a kind a newer version writes")
            << QByteArray(R"({"title":["s","x"],"due":["w",{"zone":"Europe/Oslo"}]})") << QStringLiteral("title=s:x")
            << QStringLiteral("due");
        QTest::newRow("a text holding NULs, as pieces")
            << QByteArray(R"({"a":["z",["x","","y"]],"b":["z",[]],"c":["z",["x",1]],"d":["z","x"]})")
            << QStringLiteral("a=s:x") + QString(2, QChar(0)) + QStringLiteral("y") << QStringLiteral("b,c,d");
        QTest::newRow("a text holding NULs, plain")
            << QByteArray(R"({"a":["s","x\u0000\u0000y"],"b":["s","\u0000"]})")
            << QStringLiteral("a=s:x") + QString(2, QChar(0)) + QStringLiteral("y;b=s:") + QChar(0) << QString();
        QTest::newRow("invalid UTF-8") << QByteArray("{\"a\":[\"s\",\"\xff\"]}") << QString() << QString();
        QTest::newRow("not JSON") << QByteArray(R"({"a":["s","x"])") << QString() << QString();
        QTest::newRow("trailing text") << QByteArray(R"({"a":["s","x"]} x)") << QString() << QString();
    }
    void storedFieldsRead()
    {
        QFETCH(QByteArray, fields);
        const CloudRecord record =
            RecordFields::decode(QStringLiteral("T"), QStringLiteral("N"), QStringLiteral("1"), fields);
        QTEST(summary(record), "expected");
        QTEST(record.unreadableKeys().join(u','), "unread");
        QVERIFY(record.changedKeys().isEmpty());
    }

    // A save patches stored fields in place where their spelling allows, and leaves the rest to
    // the database's merge function: either way the record holds what that function would make.
    void patchOntoStoredFields_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("patch");
        QTest::addColumn<bool>("spliced");
        QTest::newRow("replace, remove, add") << QByteArray(R"({"a":["s","x"],"b":["i",1],"c":["s","y"]})")
                                              << QByteArray(R"({"b":null,"a":["s","z"],"d":["t",5]})") << true;
        QTest::newRow("spaces, escapes and UTF-8")
            << QByteArray(" { \"a\" : [ \"s\" , \"q\\\"\\\\\" ] ,\n\"b\":[\"s\",\"caf\xc3\xa9\"] } ")
            << QByteArray(R"({"b":["s","x"]})") << true;
        QTest::newRow("removing what is not there")
            << QByteArray(R"({"a":["s","x"]})") << QByteArray(R"({"z":null})") << true;
        QTest::newRow("an empty record") << QByteArray("{}") << QByteArray(R"({"a":["s","x"]})") << true;
        QTest::newRow("a kind a newer version writes")
            << QByteArray(R"({"due":["w",{"zone":"x","n":[1,-2.5e3,true,null]}],"a":["s","x"]})")
            << QByteArray(R"({"a":["s","y"]})") << true;
        QTest::newRow("an escaped key") << QByteArray(R"({"\u0061":["s","x"]})") << QByteArray(R"({"a":["s","y"]})")
                                        << false;
        QTest::newRow("a repeated key") << QByteArray(R"({"a":["s","x"],"a":["s","y"]})")
                                        << QByteArray(R"({"b":["s","y"]})") << false;
        QTest::newRow("an object to merge")
            << QByteArray(R"({"a":{"x":1}})") << QByteArray(R"({"a":{"y":2}})") << false;
        QTest::newRow("not JSON") << QByteArray(R"({"a":["s","x"])") << QByteArray(R"({"a":null})") << false;
    }
    void patchOntoStoredFields()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, patch);
        const std::optional<QByteArray> spliced = RecordFields::spliceFields(stored, patch);
        QTEST(spliced.has_value(), "spliced");
        if (spliced) {
            QVERIFY(!QJsonDocument::fromJson(*spliced).isNull());
            QCOMPARE(QJsonDocument::fromJson(*spliced),
                     QJsonDocument::fromJson(RecordFields::applyPatch(stored, patch)));
        }
    }

    // A save lands only on the version it was read as; a new record only on a free name.
    void saveNeedsTheStoredVersion_data()
    {
        addBackendColumn();
        QTest::addColumn<QString>("before"); // "", "stored", "deleted", "resaved"
        QTest::addColumn<QString>("tag");    // "none", "current", "stale", "made-up"
        QTest::addColumn<bool>("saved");
        addRow("new record on a free name", QString(), QStringLiteral("none"), true);
        addRow("new record on a taken name", QStringLiteral("stored"), QStringLiteral("none"), false);
        addRow("current tag", QStringLiteral("stored"), QStringLiteral("current"), true);
        addRow("tag of an older version", QStringLiteral("resaved"), QStringLiteral("stale"), false);
        addRow("tag of a deleted record", QStringLiteral("deleted"), QStringLiteral("stale"), false);
        addRow("tag never handed out", QStringLiteral("stored"), QStringLiteral("made-up"), false);
    }
    void saveNeedsTheStoredVersion()
    {
        QFETCH(QString, before);
        QFETCH(QString, tag);
        QFETCH(bool, saved);
        OPEN_BACKEND(store);
        const QString name = QStringLiteral("A");
        std::optional<QString> storedTag;
        if (!before.isEmpty()) {
            storedTag = saveOne(*store, note(name, QStringLiteral("first"))).record->changeTag();
            QVERIFY(storedTag);
        }
        if (before == QLatin1String("resaved")) {
            CloudRecord again = note(name, QStringLiteral("second"));
            again.setChangeTag(storedTag);
            QVERIFY(!saveOne(*store, again).error);
        }
        if (before == QLatin1String("deleted"))
            QVERIFY(waitFor(store->modify({}, {name})).value.deletes.at(0).error == std::nullopt);

        CloudRecord record = note(name, QStringLiteral("mine"));
        if (tag == QLatin1String("current") || tag == QLatin1String("stale"))
            record.setChangeTag(storedTag);
        else if (tag == QLatin1String("made-up"))
            record.setChangeTag(QStringLiteral("999999"));
        const ItemResult result = saveOne(*store, record);
        QCOMPARE(!result.error, saved);
        if (!saved)
            QCOMPARE(result.error->kind, RecordFailure::changedOnServer);
        else
            QVERIFY(result.record->changeTag() && result.record->changeTag() != storedTag);
        const std::optional<CloudRecord> now = fetchOne(*store, name);
        QCOMPARE(now.has_value(), before != QLatin1String("deleted") || saved);
        if (saved)
            QCOMPARE(now->string(QStringLiteral("title")), QStringLiteral("mine"));
    }

    // Each value keeps its type; only assigned keys change, "no value" removes, the rest stays.
    void fieldsRoundTrip_data() { backends(); }
    void fieldsRoundTrip()
    {
        OPEN_BACKEND(store);
        CloudRecord r(QStringLiteral("QHTask"), QStringLiteral("B"));
        r.setString(QStringLiteral("text"), QStringLiteral("1"));
        r.setString(QStringLiteral("unicode"), QStringLiteral("caf\u00e9 \U0001F600 \"q\" \\ /"));
        r.setString(QStringLiteral("empty"), QString());
        r.setInt64(QStringLiteral("big"), std::numeric_limits<qint64>::min() + 1);
        r.set(QStringLiteral("real"), 2.5);
        r.setDate(QStringLiteral("when"), -1.25); // before 1970, with milliseconds
        r.setString(QStringLiteral("other"), QStringLiteral("kept"));
        const ItemResult first = saveOne(*store, r);
        QVERIFY(!first.error);

        CloudRecord change(QStringLiteral("QHTask"), QStringLiteral("B"));
        change.setChangeTag(first.record->changeTag());
        change.setNoValue(QStringLiteral("text"));
        change.setString(QStringLiteral("empty"), QStringLiteral("filled"));
        QVERIFY(!saveOne(*store, change).error);

        const CloudRecord got = fetchOne(*store, QStringLiteral("B")).value();
        QCOMPARE(got.recordType(), QStringLiteral("QHTask"));
        QCOMPARE(summary(got), QStringLiteral("big=i:-9223372036854775807;empty=s:filled;other=s:kept;real=d:2.5;"
                                              "unicode=s:caf\u00e9 \U0001F600 \"q\" \\ /;when=t:-1.25"));
        QVERIFY(got.changedKeys().isEmpty());
    }

    // A text may hold U+0000 (a paste brings one): it comes back exactly, and the items saved
    // beside it land too. It is stored as a plain text, which every version reads, except where
    // the database cannot hold U+0000 (PostgreSQL): there as pieces.
    void nulInText_data()
    {
        addBackendColumn();
        QTest::addColumn<QString>("text");
        const QChar nul(0);
        addRow("inside", QStringLiteral("a") + nul + QStringLiteral("b"));
        addRow("at both ends", nul + QStringLiteral("x\\u0000") + nul);
        addRow("only NULs", QString(2, nul));
        addRow("beside text beyond ASCII", QStringLiteral("caf\u00e9") + nul + QStringLiteral("\U0001F600"));
    }
    void nulInText()
    {
        OPEN_BACKEND(store);
        QFETCH(QString, text);
        CloudRecord task(QStringLiteral("QHTask"), QStringLiteral("T"));
        task.setString(QStringLiteral("title"), text);
        CloudRecord body = note(QStringLiteral("N"), QStringLiteral("plain"));
        body.setString(QStringLiteral("body"), text);
        const auto saved = waitFor(store->modify({task, note(QStringLiteral("P"), QStringLiteral("plain")), body}, {}));
        QVERIFY2(!saved.error, qPrintable(saved.error ? saved.error->description() : QString()));
        for (const ItemResult& item : saved.value.saves)
            QVERIFY2(!item.error, qPrintable(item.name));
        QCOMPARE(fetchOne(*store, QStringLiteral("T"))->string(QStringLiteral("title")), text);
        QCOMPARE(fetchOne(*store, QStringLiteral("N"))->string(QStringLiteral("body")), text);
        QCOMPARE(fetchOne(*store, QStringLiteral("P"))->string(QStringLiteral("title")), QStringLiteral("plain"));

        const QByteArray raw = rawFields(backend, QStringLiteral("T"));
        const QJsonArray stored = QJsonDocument::fromJson(raw).object().value(QLatin1String("title")).toArray();
        if (backend == QLatin1String("sqlite")) {
            QCOMPARE(stored, (QJsonArray{QStringLiteral("s"), text}));
        } else if (backend == QLatin1String("postgresql")) {
            QStringList pieces;
            for (const QJsonValue piece : stored.at(1).toArray())
                pieces.append(piece.toString());
            QCOMPARE(stored.at(0).toString(), QStringLiteral("z"));
            QCOMPARE(pieces.join(QChar(0)), text);
        }
    }

    // Texts an earlier version stored as pieces in a SQLite file are made plain when the file is
    // opened, so that older copies sharing it read them; the record keeps its change tag (a copy
    // that fetched it can still save onto it) and every other field stays as it was.
    void piecesInASqliteFileAreMadePlain()
    {
        const QString backend = QStringLiteral("sqlite");
        auto first = open(backend);
        const ItemResult saved = saveOne(*first, note(QStringLiteral("A"), QStringLiteral("old")));
        QVERIFY(saved.record);
        const QString tag = saved.record->changeTag().value();
        sqlite3* db = nullptr;
        const QByteArray path = QFile::encodeName(m_folder.filePath(QStringLiteral("case%1.sqlite").arg(m_case)));
        QCOMPARE(sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              R"(UPDATE records SET fields = '{"title":["z",["a","b"]],"body":["z",["c"]],)"
                              R"("due":["w",1],"odd":["z",[1]]}' WHERE name = 'A')",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
        first.reset();

        const std::unique_ptr<RecordStore> again = openAgain(backend);
        const CloudRecord got = fetchOne(*again, QStringLiteral("A")).value();
        QCOMPARE(got.changeTag(), std::optional(tag));
        QCOMPARE(summary(got), QStringLiteral("body=s:c;title=s:a") + QChar(0) + QStringLiteral("b"));
        QCOMPARE(got.unreadableKeys(), QStringList({QStringLiteral("due"), QStringLiteral("odd")}));
        QCOMPARE(rawFields(backend, QStringLiteral("A")),
                 QByteArray(R"({"title":["s","a\u0000b"],"body":["s","c"],"due":["w",1],"odd":["z",[1]]})"));
        CloudRecord change = got;
        change.setString(QStringLiteral("title"), QStringLiteral("new"));
        QVERIFY(!saveOne(*again, change).error);
    }

    // Answers keep request order; missing names answer "unknown item"; limits fail as told; a
    // request made all or none applies nothing when one item fails.
    void batches_data() { backends(); }
    void batches()
    {
        OPEN_BACKEND(store);
        QVERIFY(!saveOne(*store, note(QStringLiteral("C"), QStringLiteral("c"))).error);
        QVERIFY(!saveOne(*store, note(QStringLiteral("A"), QStringLiteral("a"))).error);

        auto pending = store->fetch({QStringLiteral("C"), QStringLiteral("Z"), QStringLiteral("A")});
        // The worker stores may be done by now; the in-memory one shows that nobody may rely on it.
        if (backend == QLatin1String("memory"))
            QVERIFY2(!pending.isFinished(), "a store answers later, never inside the call");
        const auto fetched = waitFor(pending);
        QVERIFY(!fetched.error);
        QCOMPARE(fetched.value.size(), size_t(3));
        QCOMPARE(fetched.value[0].record->string(QStringLiteral("title")), QStringLiteral("c"));
        QCOMPARE(fetched.value[1].error->kind, RecordFailure::unknownItem);
        QCOMPARE(fetched.value[2].record->string(QStringLiteral("title")), QStringLiteral("a"));

        // One request: a too-large record fails alone, a taken name fails alone, the rest land.
        CloudRecord huge = note(QStringLiteral("H"), QString(RecordStore::maxRecordBytes, u'x'));
        const auto modified = waitFor(store->modify(
            {note(QStringLiteral("D"), QStringLiteral("d")), huge, note(QStringLiteral("A"), QStringLiteral("again"))},
            {QStringLiteral("Z"), QStringLiteral("C")}));
        QVERIFY(!modified.error);
        QVERIFY(!modified.value.saves[0].error);
        QCOMPARE(modified.value.saves[1].error->kind, RecordFailure::tooLarge);
        QCOMPARE(modified.value.saves[2].error->kind, RecordFailure::changedOnServer);
        QCOMPARE(modified.value.deletes[0].error->kind, RecordFailure::unknownItem);
        QVERIFY(!modified.value.deletes[1].error);
        QVERIFY(!fetchOne(*store, QStringLiteral("C")));
        QVERIFY(!fetchOne(*store, QStringLiteral("H")));
        QCOMPARE(fetchOne(*store, QStringLiteral("A"))->string(QStringLiteral("title")), QStringLiteral("a"));

        // All or none: one failing item leaves the store and its stamp as they were, and says which
        // item failed; without one, every item lands.
        const QString stamp = waitFor(store->changeStamp()).value;
        CloudRecord stale = *fetchOne(*store, QStringLiteral("A"));
        stale.setChangeTag(QStringLiteral("999999"));
        stale.setString(QStringLiteral("title"), QStringLiteral("stale"));
        const auto refused = waitFor(store->modify({note(QStringLiteral("E"), QStringLiteral("e")), stale},
                                                   {QStringLiteral("D")}, RecordStore::Batch::allOrNone));
        QVERIFY(!refused.error);
        QCOMPARE(refused.value.saves[0].error->kind, RecordFailure::batchFailed);
        QVERIFY(!refused.value.saves[0].record);
        QCOMPARE(refused.value.saves[1].error->kind, RecordFailure::changedOnServer);
        QCOMPARE(refused.value.deletes[0].error->kind, RecordFailure::batchFailed);
        QCOMPARE(refused.value.stampAfter, refused.value.stampBefore);
        QCOMPARE(waitFor(store->changeStamp()).value, stamp);
        QVERIFY(!fetchOne(*store, QStringLiteral("E")));
        QVERIFY(fetchOne(*store, QStringLiteral("D")));
        QCOMPARE(fetchOne(*store, QStringLiteral("A"))->string(QStringLiteral("title")), QStringLiteral("a"));
        CloudRecord current = *fetchOne(*store, QStringLiteral("A"));
        current.setString(QStringLiteral("title"), QStringLiteral("together"));
        const auto together = waitFor(store->modify({note(QStringLiteral("E"), QStringLiteral("e")), current},
                                                    {QStringLiteral("D")}, RecordStore::Batch::allOrNone));
        QVERIFY(!together.error);
        QVERIFY(together.value.saves[0].record && together.value.saves[1].record);
        QVERIFY(!together.value.deletes[0].error);
        QVERIFY(together.value.stampAfter != stamp);
        QVERIFY(fetchOne(*store, QStringLiteral("E")));
        QVERIFY(!fetchOne(*store, QStringLiteral("D")));
        QCOMPARE(fetchOne(*store, QStringLiteral("A"))->string(QStringLiteral("title")), QStringLiteral("together"));

        QStringList many;
        for (int i = 0; i <= RecordStore::maxItemsPerRequest; ++i)
            many.append(QString::number(i));
        QCOMPARE(waitFor(store->fetch(many)).error->kind, RecordFailure::tooLarge);
        QCOMPARE(waitFor(store->modify({}, many)).error->kind, RecordFailure::tooLarge);
        QVERIFY(fetchOne(*store, QStringLiteral("A")));
    }

    // The one manifest record at the most ids it holds before there are pages, with what an older
    // copy adds in the room left: every store keeps it, and reading that record gives every id.
    void oneManifestRecordAtItsLimit_data() { backends(); }
    void oneManifestRecordAtItsLimit()
    {
        OPEN_BACKEND(store);
        ManifestPages::IdFields ids;
        while (ids[0].size() < ManifestPages::defaultOneRecordBudget / 37)
            ids[0].insert(QUuid::createUuid());
        QCOMPARE(
            ManifestPages::pagesNeeded(ids, 1, ManifestPages::defaultPageBudget, ManifestPages::defaultOneRecordBudget),
            1);
        while (ids[0].size() * 37 < RecordStore::maxRecordBytes * 9 / 10) // an older copy's additions
            ids[0].insert(QUuid::createUuid());
        CloudRecord manifest(SyncService::manifestRecordType, SyncService::manifestRecordName);
        manifest.setString(QStringLiteral("taskIds"), SyncMerge::idListText(ids[0]));
        QVERIFY(!saveOne(*store, manifest).error);
        const std::vector<QUuid> read = SyncMerge::parseIdList(
            fetchOne(*store, SyncService::manifestRecordName)->string(QStringLiteral("taskIds")));
        QCOMPARE(QSet<QUuid>(read.begin(), read.end()), ids[0]);
    }

    // A service entry naming a remote server (here a loopback one under a name that is not
    // "local") gets its certificate checked: only a server the user trusts is talked to.
    void serviceChecksCertificate_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::newRow("certificate trusted") << true;
        QTest::newRow("certificate not trusted") << false;
    }
    void serviceChecksCertificate()
    {
        QFETCH(bool, trusted);
        PostgresServer server;
        QH_REQUIRE_POSTGRES(server, server.startWithTls(QStringLiteral("records.quill.test")));
        // A root the server's certificate does not chain to.
        const QString stranger = m_folder.filePath(QStringLiteral("stranger.crt"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=records.quill.test"), QStringLiteral("-keyout"),
                       m_folder.filePath(QStringLiteral("stranger.key")), QStringLiteral("-out"), stranger});
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        QFile services(m_folder.filePath(QStringLiteral("services.conf")));
        QVERIFY(services.open(QIODevice::WriteOnly | QIODevice::Truncate));
        services.write(QStringLiteral("[quill]\nhost=records.quill.test\nhostaddr=127.0.0.1\nport=%1\n"
                                      "dbname=postgres\nuser=postgres\nsslrootcert=%2\n")
                           .arg(server.port())
                           .arg(trusted ? server.certificate() : stranger)
                           .toUtf8());
        services.close();
        qputenv("PGSERVICEFILE", QFile::encodeName(services.fileName()));
        const std::unique_ptr<const char, void (*)(const char*)> unset("PGSERVICEFILE",
                                                                       [](const char* name) { qunsetenv(name); });

        const RecordStoreChoice choice = RecordStoreChoice::parse(QStringLiteral("service=quill"), QString());
        QVERIFY2(choice.error.isEmpty(), qPrintable(choice.error));
        QVERIFY(choice.location.contains(QLatin1String("sslmode='verify-full'")));
        PostgresRecordStore store(choice.location);
        const StoreAnswer<int> status = waitFor(store.accountStatus());
        if (trusted) {
            QVERIFY2(!status.error, qPrintable(status.error ? status.error->description() : QString()));
            return;
        }
        QVERIFY(status.error);
        QCOMPARE(status.error->kind, RecordFailure::untrustedServer);
        QVERIFY2(SyncService::userMessage(*status.error).contains(QLatin1String("certificate verify failed")),
                 qPrintable(SyncService::userMessage(*status.error)));
        QVERIFY(!SyncService::retryDelaySeconds(*status.error));
    }

    // The account: available, and a user name that stays the same for the same database.
    void account_data() { backends(); }
    void account()
    {
        OPEN_BACKEND(store);
        QCOMPARE(waitFor(store->accountStatus()).value, RecordStore::accountAvailable);
        const QString user = waitFor(store->userRecordName()).value;
        QVERIFY(!user.isEmpty());
        QCOMPARE(waitFor(store->userRecordName()).value, user);
    }

    // A server that restarted since the last request is reached again at the first request after,
    // over a new connection, not failed on the old one.
    void restartedServerAnswersTheFirstRequest()
    {
        auto store = open(QStringLiteral("postgresql"));
        if (!store)
            QSKIP(qPrintable(m_postgres.error()));
        QCOMPARE(waitFor(store->accountStatus()).value, RecordStore::accountAvailable);
        const QString user = waitFor(store->userRecordName()).value;
        for (int restart = 0; restart < 3; ++restart) {
            QVERIFY2(m_postgres.restart(), qPrintable(m_postgres.error()));
            const auto answer = waitFor(store->userRecordName());
            QVERIFY2(!answer.error, qPrintable(answer.error ? answer.error->message : QString()));
            QCOMPARE(answer.value, user);
        }
    }

    // The change stamp moves with every write that changed a record, whoever made it, and stays
    // put while only reads happen: a sync that finds it unchanged reads nothing else.
    void changeStamp_data()
    {
        addBackendColumn();
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("moves");
        addRow("reads only", QStringLiteral("read"), false);
        addRow("a new record", QStringLiteral("insert"), true);
        addRow("a record changed", QStringLiteral("modify"), true);
        addRow("a record deleted", QStringLiteral("delete"), true);
        addRow("a record written by another device", QStringLiteral("elsewhere"), true);
        addRow("a record deleted by another device", QStringLiteral("deleted elsewhere"), true);
    }
    void changeStamp()
    {
        OPEN_BACKEND(store);
        QFETCH(QString, step);
        QFETCH(bool, moves);
        const ItemResult first = saveOne(*store, note(QStringLiteral("A"), QStringLiteral("first")));
        QVERIFY(first.record);
        const StoreAnswer<QString> before = waitFor(store->changeStamp());
        QVERIFY(!before.error);
        QVERIFY(!before.value.isEmpty());

        if (step == QLatin1String("read")) {
            QVERIFY(fetchOne(*store, QStringLiteral("A")));
            QVERIFY(!waitFor(store->fetch({QStringLiteral("A"), QStringLiteral("B")})).error);
        } else if (step == QLatin1String("insert")) {
            QVERIFY(saveOne(*store, note(QStringLiteral("B"), QStringLiteral("new"))).record);
        } else if (step == QLatin1String("modify")) {
            CloudRecord changed = *first.record;
            changed.setString(QStringLiteral("title"), QStringLiteral("changed"));
            QVERIFY(saveOne(*store, changed).record);
        } else if (step == QLatin1String("delete")) {
            const auto answer = waitFor(store->modify({}, {QStringLiteral("A")}));
            QVERIFY(!answer.error && !answer.value.deletes.at(0).error);
        } else {
            const bool deleting = step == QLatin1String("deleted elsewhere");
            if (auto* memory = dynamic_cast<MemoryRecordStore*>(store.get())) {
                if (deleting)
                    memory->erase(QStringLiteral("A"));
                else
                    memory->plant(QStringLiteral("QHNote"), QStringLiteral("B"), R"({"title":["s","theirs"]})");
            } else {
                const std::unique_ptr<RecordStore> other = openAgain(backend);
                if (deleting)
                    QVERIFY(!waitFor(other->modify({}, {QStringLiteral("A")})).value.deletes.at(0).error);
                else
                    QVERIFY(saveOne(*other, note(QStringLiteral("B"), QStringLiteral("theirs"))).record);
            }
        }
        const StoreAnswer<QString> after = waitFor(store->changeStamp());
        QVERIFY(!after.error);
        QCOMPARE(after.value != before.value, moves);
        // Asked again with nothing written in between, it answers the same.
        QCOMPARE(waitFor(store->changeStamp()).value, after.value);
        // A write names the stamp just before it, which follows on from a stamp read earlier only
        // when nobody wrote in between, and the stamp it leaves.
        const StoreAnswer<ModifyResults> write =
            waitFor(store->modify({note(QStringLiteral("C"), QStringLiteral("mine"))}, {}));
        QVERIFY(!write.error);
        QCOMPARE(write.value.stampBefore, after.value);
        QCOMPARE(write.value.stampBefore == before.value, !moves);
        QCOMPARE(write.value.stampAfter, waitFor(store->changeStamp()).value);
    }
};

QTEST_GUILESS_MAIN(RecordStoreContract)
#include "tst_record_store_contract.moc"
