// A run with nothing changed reads no record and writes none, on every record store; a change made
// only here costs the records it touches; and whatever did change since, here or on another
// device, is still seen by the next run.
#include "CountingStore.h"
#include "PostgresServer.h"
#include "SyncRig.h"
#include "sync/PostgresRecordStore.h"
#include "sync/RecordMapper.h"
#include "sync/SqliteRecordStore.h"

#include <QPromise>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool hasTodo(SyncDevice& device, const QString& title)
{
    const auto& todos = device.store().todos().todos();
    return std::any_of(todos.begin(), todos.end(), [&](const TaskItem& t) { return t.title == title; });
}

} // namespace

class SyncUnchanged : public QObject {
    Q_OBJECT
    QTemporaryDir m_folder;
    PostgresServer m_postgres;
    int m_case = 0;

    // Two connections to one new database: this device's and another device's.
    std::pair<std::unique_ptr<RecordStore>, std::unique_ptr<RecordStore>> open(const QString& backend)
    {
        ++m_case;
        if (backend == QLatin1String("sqlite")) {
            const QString path = m_folder.filePath(QStringLiteral("case%1.sqlite").arg(m_case));
            return {std::make_unique<SqliteRecordStore>(path), std::make_unique<SqliteRecordStore>(path)};
        }
        if (!m_postgres.isRunning())
            return {};
        const QString connection = m_postgres.freshSchema(QStringLiteral("case%1").arg(m_case));
        return {std::make_unique<PostgresRecordStore>(connection), std::make_unique<PostgresRecordStore>(connection)};
    }

private slots:
    void initTestCase() { m_postgres.start(); }
    void cleanupTestCase() { m_postgres.stop(); }

    void changesAreSeen_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("reads");
        QTest::addColumn<bool>("writes");
        QTest::addColumn<bool>("onlyWhatChanged");
        for (const char* backend : {"sqlite", "postgresql"}) {
            const auto row = [backend](const char* name, const char* change, bool reads, bool writes,
                                       bool onlyWhatChanged = false) {
                QTest::addRow("%s/%s", backend, name) << QString::fromLatin1(backend) << QString::fromLatin1(change)
                                                      << reads << writes << onlyWhatChanged;
            };
            row("nothing changed", "none", false, false);
            row("first run of this device", "first run", true, false);
            row("a to-do added elsewhere", "insert", true, false);
            row("a to-do changed elsewhere", "modify", true, false);
            row("a to-do deleted elsewhere", "delete", true, false);
            row("a to-do changed here", "edit here", true, true, true);
            row("a to-do added here", "add here", true, true, true);
            row("a note deleted here", "delete here", true, true, true);
            row("a note changed here", "note here", true, true, true);
            row("a repeating to-do due a day later", "day passes", true, true);
            row("a repeating to-do sent alone, due a day later", "repeating here, day passes", true, true);
            row("a store that cannot tell", "unknown stamp", true, false);
        }
    }
    void changesAreSeen()
    {
        QFETCH(QString, backend);
        QFETCH(QString, change);
        QFETCH(bool, reads);
        QFETCH(bool, writes);
        QFETCH(bool, onlyWhatChanged);
        auto [mine, theirs] = open(backend);
        if (!mine)
            QH_REQUIRE_POSTGRES(m_postgres, false);
        CountingStore counted(*mine);
        SyncDevice here(&counted);
        SyncDevice elsewhere(theirs.get());
        const TaskItem kept = here.addTodo(QStringLiteral("kept"));
        here.addTodo(QStringLiteral("to delete"));
        const Note note = here.addNote(QStringLiteral("a note"));
        const auto addDaily = [&here] {
            TaskItem daily;
            daily.id = QUuid::createUuid();
            daily.title = QStringLiteral("daily");
            daily.time = TaskItem::anytime;
            daily.repeatOption = RepeatOption::daily;
            daily.createdAt = here.fixture.clock.now();
            return here.store().todos().addTodo(daily);
        };
        const bool dayPasses = change.endsWith(QLatin1String("day passes"));
        if (change == QLatin1String("day passes"))
            QVERIFY(addDaily());
        // Uploads; the other device takes it all in; the next run reads what the first wrote.
        QVERIFY(here.run() && elsewhere.run() && here.run());
        QCOMPARE(here.sync->lastErrorText(), QString());
        QCOMPARE(elsewhere.store().todos().todos().size(), here.store().todos().todos().size());

        counted.fetched = counted.written = 0;
        QVERIFY(here.run());
        QCOMPARE(counted.fetched, 0);
        QCOMPARE(counted.written, 0);

        if (change == QLatin1String("first run")) {
            here.connectTo(&counted);
        } else if (change == QLatin1String("insert")) {
            elsewhere.addTodo(QStringLiteral("theirs"));
        } else if (change == QLatin1String("modify") || change == QLatin1String("delete")) {
            elsewhere.fixture.clock.advance(60);
            TaskItem t = elsewhere.todo(kept.id).value();
            if (change == QLatin1String("delete")) {
                QVERIFY(elsewhere.store().todos().deleteTodo(t));
            } else {
                t.title = QStringLiteral("changed elsewhere");
                QVERIFY(elsewhere.store().todos().upsertTodo(t));
            }
        } else if (change == QLatin1String("edit here")) {
            here.fixture.clock.advance(60);
            TaskItem t = kept;
            t.title = QStringLiteral("changed here");
            QVERIFY(here.store().todos().upsertTodo(t));
        } else if (change == QLatin1String("add here")) {
            here.addTodo(QStringLiteral("added here"));
        } else if (change == QLatin1String("delete here")) {
            QVERIFY(here.store().notes().deleteNote(note.id));
        } else if (change == QLatin1String("note here")) {
            here.fixture.clock.advance(60);
            Note n = note;
            n.title = QStringLiteral("changed here");
            n.updatedAt = here.fixture.clock.now();
            QVERIFY(here.store().notes().upsertNote(n));
        } else if (change == QLatin1String("day passes")) {
            here.fixture.clock.advance(86400);
        } else if (change == QLatin1String("repeating here, day passes")) {
            // Sent by a run that reads only what changed: the next one still knows it repeats.
            QVERIFY(addDaily());
            QVERIFY(here.run());
            here.fixture.clock.advance(86400);
        } else if (change == QLatin1String("unknown stamp")) {
            counted.stampKnown = false;
        }
        if (onlyWhatChanged) {
            // The item's record and the manifest's page that lists it; then in step at once.
            QVERIFY(here.run());
            QVERIFY2(counted.fetched <= 2 && counted.written <= 2,
                     qPrintable(QStringLiteral("%1 read, %2 written").arg(counted.fetched).arg(counted.written)));
            QVERIFY(counted.written > 0);
            counted.fetched = counted.written = 0;
        }
        QVERIFY(elsewhere.run());
        QCOMPARE(elsewhere.sync->lastErrorText(), QString());

        counted.fetched = counted.written = 0;
        const qsizetype todosBefore = here.store().todos().todos().size();
        QVERIFY(here.run());
        QCOMPARE(here.sync->lastErrorText(), QString());
        QCOMPARE(counted.fetched > 0, reads && !onlyWhatChanged);
        QCOMPARE(counted.written > 0, writes && !onlyWhatChanged);
        if (change == QLatin1String("insert"))
            QVERIFY(hasTodo(here, QStringLiteral("theirs")));
        if (change == QLatin1String("modify"))
            QCOMPARE(here.todo(kept.id)->title, QStringLiteral("changed elsewhere"));
        if (change == QLatin1String("delete"))
            QVERIFY(!here.todo(kept.id));
        if (dayPasses)
            QCOMPARE(here.store().todos().todos().size(), todosBefore + 1);

        // What this device sent reaches the other one.
        QVERIFY(elsewhere.run());
        if (change == QLatin1String("edit here"))
            QCOMPARE(elsewhere.todo(kept.id)->title, QStringLiteral("changed here"));
        if (change == QLatin1String("add here"))
            QVERIFY(hasTodo(elsewhere, QStringLiteral("added here")));
        if (change == QLatin1String("delete here"))
            QVERIFY(elsewhere.store().notes().notes().empty());
        if (change == QLatin1String("note here"))
            QCOMPARE(elsewhere.store().notes().notes().at(0).title, QStringLiteral("changed here"));
        if (dayPasses)
            QCOMPARE(elsewhere.store().todos().todos().size(), here.store().todos().todos().size());

        // Quiet again once both sides are in step (a store that cannot tell is read every time).
        QVERIFY(here.run() && here.run());
        counted.fetched = counted.written = 0;
        QVERIFY(here.run());
        QCOMPARE(counted.fetched > 0, change == QLatin1String("unknown stamp"));
        QCOMPARE(counted.written, 0);
    }
};

QTEST_GUILESS_MAIN(SyncUnchanged)
#include "tst_sync_unchanged.moc"
