#include "StoreFixture.h"
#include "StoreTestSupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace StoreTest;

namespace {

Date dec(int day, int hour = 0, int minute = 0, int second = 0)
{
    return TestEnvironment::at(2026, 12, day, hour, minute, second);
}

const QString pendingNoteDeletesKey = QStringLiteral("sync.pendingNoteDeletes.v1");

} // namespace

class TestNoteStore : public QObject {
    Q_OBJECT

private slots:
    void savingANewNotePutsItFirst()
    {
        StoreFixture f;
        StorageService& store = f.make();
        FakeCloudSync sync(f.defaults);
        store.core().setCloudSync(&sync);
        const Note older = note(QStringLiteral("older"), dec(1));
        const Note old = note(QStringLiteral("old"), dec(3));
        QVERIFY(store.notes().replaceNotesFromSync({older, old}));
        store.core().waitForWrites();

        Note fresh = note(QStringLiteral("fresh"), dec(7, 9, 59) + 0.5);
        fresh.updatedAt = 0;
        f.clock.advance(0.75);
        store.notes().upsertNote(fresh);

        QCOMPARE(ids(store.notes().notes()), (QList<QUuid>{fresh.id, old.id, older.id}));
        QCOMPARE(ids(notesInFile(f.file(QStringLiteral("notes.json")))), (QList<QUuid>{fresh.id, old.id, older.id}));
        QCOMPARE(store.notes().notes().front().updatedAt, dec(7, 10));
        QCOMPARE(store.notes().notes().front().createdAt, fresh.createdAt);
        QCOMPARE(sync.pushes, 1);
    }

    void savingAnExistingNoteMovesItToTheTop()
    {
        StoreFixture f;
        StorageService& store = f.make();
        FakeCloudSync sync(f.defaults);
        store.core().setCloudSync(&sync);
        const Note a = note(QStringLiteral("a"), dec(5));
        const Note b = note(QStringLiteral("b"), dec(4));
        const Note c = note(QStringLiteral("c"), dec(3));
        QVERIFY(store.notes().replaceNotesFromSync({a, b, c}));
        store.core().waitForWrites();

        Note edited = c;
        edited.title = QStringLiteral("c, edited");
        edited.body = QString();
        f.clock.set(dec(7, 11, 12, 13) + 0.4);
        store.notes().upsertNote(edited);

        QCOMPARE(ids(store.notes().notes()), (QList<QUuid>{c.id, a.id, b.id}));
        const Note& stored = store.notes().notes().front();
        QCOMPARE(stored.createdAt, c.createdAt);
        QCOMPARE(stored.updatedAt, dec(7, 11, 12, 13));
        QCOMPARE(stored.title, QStringLiteral("c, edited"));
        QCOMPARE(stored.body, QString());
        QCOMPARE(store.notes().notes().size(), size_t(3));
        QCOMPARE(notesInFile(f.file(QStringLiteral("notes.json"))).front(), stored);
        QCOMPARE(sync.pushes, 1);
    }

    void notesSavedWithinOneSecond()
    {
        StoreFixture f;
        StorageService& store = f.make();
        const Note first = note(QStringLiteral("first"), dec(7, 9));
        const Note second = note(QStringLiteral("second"), dec(7, 9));
        store.notes().upsertNote(first);
        f.clock.advance(0.3);
        store.notes().upsertNote(second);
        // Both carry the same second; the later insert stays in front.
        QCOMPARE(store.notes().notes()[0].updatedAt, store.notes().notes()[1].updatedAt);
        QCOMPARE(ids(store.notes().notes()), (QList<QUuid>{second.id, first.id}));

        // An update within that second keeps its place among equals.
        f.clock.advance(0.3);
        Note edited = first;
        edited.body = QStringLiteral("more");
        store.notes().upsertNote(edited);
        QCOMPARE(ids(store.notes().notes()), (QList<QUuid>{second.id, first.id}));
        QCOMPARE(store.notes().notes()[1].body, QStringLiteral("more"));
    }

    void deleteNote()
    {
        StoreFixture f;
        StorageService& store = f.make();
        Defaults syncDefaults(f.folder.filePath(QStringLiteral("sync.json")));
        FakeCloudSync sync(syncDefaults);
        store.core().setCloudSync(&sync);
        const Note a = note(QStringLiteral("a"), dec(5));
        const Note b = note(QStringLiteral("b"), dec(4));
        const Note c = note(QStringLiteral("c"), dec(3));
        QVERIFY(store.notes().replaceNotesFromSync({a, b, c}));
        store.core().waitForWrites();

        store.notes().deleteNote(b.id);
        QCOMPARE(ids(store.notes().notes()), (QList<QUuid>{a.id, c.id}));
        QCOMPARE(ids(notesInFile(f.file(QStringLiteral("notes.json")))), (QList<QUuid>{a.id, c.id}));
        QCOMPARE(sync.deletedNotes, QList<QUuid>{b.id});
        QCOMPARE(sync.idSet(pendingNoteDeletesKey), QSet<QUuid>{b.id});
        QCOMPARE(sync.pushes, 1);
    }

    void deleteNoteWithUnknownId()
    {
        StoreFixture f;
        StorageService& store = f.make();
        FakeCloudSync sync(f.defaults);
        store.core().setCloudSync(&sync);
        const Note a = note(QStringLiteral("a"), dec(5));
        QVERIFY(store.notes().replaceNotesFromSync({a}));
        store.core().waitForWrites();
        const QByteArray before = readBytes(f.file(QStringLiteral("notes.json")));
        QVERIFY(QFile::remove(f.file(QStringLiteral("notes.json"))));

        const QUuid stranger = QUuid::createUuid();
        store.notes().deleteNote(stranger);
        QCOMPARE(ids(store.notes().notes()), QList<QUuid>{a.id});
        QCOMPARE(readBytes(f.file(QStringLiteral("notes.json"))), before);
        QCOMPARE(sync.idSet(pendingNoteDeletesKey), QSet<QUuid>{stranger});
        QCOMPARE(sync.pushes, 1);
    }

    void deleteNoteWithoutSync()
    {
        StoreFixture f;
        StorageService& store = f.make();
        const Note a = note(QStringLiteral("a"), dec(5));
        QVERIFY(store.notes().replaceNotesFromSync({a}));
        store.core().waitForWrites();
        store.notes().deleteNote(a.id);
        QVERIFY(store.notes().notes().empty());
        QVERIFY(notesInFile(f.file(QStringLiteral("notes.json"))).empty());
        QVERIFY(!f.defaults.contains(pendingNoteDeletesKey));
    }

    void failedWritesChangeNothing()
    {
        StoreFixture f;
        StorageService& store = f.make();
        FakeCloudSync sync(f.defaults);
        store.core().setCloudSync(&sync);
        const Note a = note(QStringLiteral("a"), dec(5));
        const Note b = note(QStringLiteral("b"), dec(4));
        QVERIFY(store.notes().replaceNotesFromSync({a, b}));
        store.core().waitForWrites();
        QVERIFY(blockFile(f.file(QStringLiteral("notes.json"))));

        const Note fresh = note(QStringLiteral("fresh"), dec(7, 9));
        QVERIFY(!store.notes().upsertNote(fresh));
        QCOMPARE(ids(store.notes().notes()), (QList<QUuid>{a.id, b.id}));
        QVERIFY(store.core().lastError());

        QVERIFY(!store.notes().deleteNote(a.id));
        QCOMPARE(ids(store.notes().notes()), (QList<QUuid>{a.id, b.id}));
        QVERIFY(sync.deletedNotes.isEmpty());
        QVERIFY(!f.defaults.contains(pendingNoteDeletesKey));
        QCOMPARE(sync.pushes, 0);

        QVERIFY(unblockFile(f.file(QStringLiteral("notes.json"))));
        f.clock.advance(1);
        QVERIFY(store.notes().upsertNote(fresh));
        QVERIFY(!store.core().lastError());
        QCOMPARE(ids(notesInFile(f.file(QStringLiteral("notes.json")))), (QList<QUuid>{fresh.id, a.id, b.id}));
    }

    void replaceFromSyncSortsNewestFirst()
    {
        StoreFixture f;
        StorageService& store = f.make();
        FakeCloudSync sync(f.defaults);
        store.core().setCloudSync(&sync);
        QVERIFY(blockFile(f.file(QStringLiteral("notes.json"))));
        store.notes().upsertNote(note(QStringLiteral("local"), dec(7)));
        QVERIFY(store.core().lastError());
        QVERIFY(unblockFile(f.file(QStringLiteral("notes.json"))));
        sync.pushes = 0;

        Note mid = note(QStringLiteral("mid"), dec(4));
        Note newest = note(QStringLiteral("newest"), dec(2));
        newest.updatedAt = dec(6) + 0.5; // the sync's stamps are taken as they come
        Note tieFirst = note(QStringLiteral("tie first"), dec(1));
        Note tieSecond = note(QStringLiteral("tie second"), dec(1));
        QSignalSpy changed(&store.notes(), &NoteStore::notesChanged);
        QVERIFY(store.notes().replaceNotesFromSync({tieFirst, mid, tieSecond, newest}));
        store.core().waitForWrites();

        const QList<QUuid> expected{newest.id, mid.id, tieFirst.id, tieSecond.id};
        QCOMPARE(ids(store.notes().notes()), expected);
        QCOMPARE(store.notes().notes().front().updatedAt, dec(6) + 0.5);
        QCOMPARE(ids(notesInFile(f.file(QStringLiteral("notes.json")))), expected);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(sync.pushes, 0);
        QVERIFY(!store.core().lastError());
    }

    void replaceFromSyncReportsAFailedWrite()
    {
        StoreFixture f;
        StorageService& store = f.make();
        const Note a = note(QStringLiteral("a"), dec(5));
        QVERIFY(store.notes().replaceNotesFromSync({a}));
        store.core().waitForWrites();
        QVERIFY(blockFile(f.file(QStringLiteral("notes.json"))));
        QSignalSpy changed(&store.notes(), &NoteStore::notesChanged);
        QSignalSpy failed(&store.core(), &StoreCore::backgroundWriteFailed);
        // What sync received stays here (its records hold it too) and the failure is reported.
        const Note b = note(QStringLiteral("b"), dec(6));
        QVERIFY(store.notes().replaceNotesFromSync({b}));
        store.core().waitForWrites();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(failed.count(), 1);
        QVERIFY(store.core().lastError() && store.core().lastError()->contains(QLatin1String("notes.json")));
        QCOMPARE(ids(store.notes().notes()), QList<QUuid>{b.id});
        QCOMPARE(changed.count(), 1);
    }

    void sortNotesIsStable()
    {
        std::vector<Note> list{note(QStringLiteral("a"), 10), note(QStringLiteral("b"), 30),
                               note(QStringLiteral("c"), 10), note(QStringLiteral("d"), 20),
                               note(QStringLiteral("e"), 30)};
        const QList<QUuid> expected{list[1].id, list[4].id, list[3].id, list[0].id, list[2].id};
        NoteStore::sortNotes(list);
        QCOMPARE(ids(list), expected);
    }
};

QTEST_GUILESS_MAIN(TestNoteStore)
#include "tst_note_store.moc"
