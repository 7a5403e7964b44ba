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
        NoteStore& notes = f.makeNotes();
        FakeCloudSync& sync = f.attachSync();
        const Note older = note(QStringLiteral("older"), dec(1));
        const Note old = note(QStringLiteral("old"), dec(3));
        QVERIFY(notes.replaceNotesFromSync({older, old}));
        f.core->waitForWrites();

        Note fresh = note(QStringLiteral("fresh"), dec(7, 9, 59) + 0.5);
        fresh.updatedAt = 0;
        f.clock.advance(0.75);
        notes.upsertNote(fresh);

        QCOMPARE(ids(notes.notes()), (QList<QUuid>{fresh.id, old.id, older.id}));
        QCOMPARE(ids(notesInFile(f.file(QStringLiteral("notes.json")))), (QList<QUuid>{fresh.id, old.id, older.id}));
        QCOMPARE(notes.notes().front().updatedAt, dec(7, 10));
        QCOMPARE(notes.notes().front().createdAt, fresh.createdAt);
        QCOMPARE(sync.pushes, 1);
    }

    void savingAnExistingNoteMovesItToTheTop()
    {
        StoreFixture f;
        NoteStore& notes = f.makeNotes();
        FakeCloudSync& sync = f.attachSync();
        const Note a = note(QStringLiteral("a"), dec(5));
        const Note b = note(QStringLiteral("b"), dec(4));
        const Note c = note(QStringLiteral("c"), dec(3));
        QVERIFY(notes.replaceNotesFromSync({a, b, c}));
        f.core->waitForWrites();

        Note edited = c;
        edited.title = QStringLiteral("c, edited");
        edited.body = QString();
        f.clock.set(dec(7, 11, 12, 13) + 0.4);
        notes.upsertNote(edited);

        QCOMPARE(ids(notes.notes()), (QList<QUuid>{c.id, a.id, b.id}));
        const Note& stored = notes.notes().front();
        QCOMPARE(stored.createdAt, c.createdAt);
        QCOMPARE(stored.updatedAt, dec(7, 11, 12, 13));
        QCOMPARE(stored.title, QStringLiteral("c, edited"));
        QCOMPARE(stored.body, QString());
        QCOMPARE(notes.notes().size(), size_t(3));
        QCOMPARE(notesInFile(f.file(QStringLiteral("notes.json"))).front(), stored);
        QCOMPARE(sync.pushes, 1);
    }

    void notesSavedWithinOneSecond()
    {
        StoreFixture f;
        NoteStore& notes = f.makeNotes();
        const Note first = note(QStringLiteral("first"), dec(7, 9));
        const Note second = note(QStringLiteral("second"), dec(7, 9));
        notes.upsertNote(first);
        f.clock.advance(0.3);
        notes.upsertNote(second);
        // Both carry the same second; the later insert stays in front.
        QCOMPARE(notes.notes()[0].updatedAt, notes.notes()[1].updatedAt);
        QCOMPARE(ids(notes.notes()), (QList<QUuid>{second.id, first.id}));

        // An update within that second keeps its place among equals.
        f.clock.advance(0.3);
        Note edited = first;
        edited.body = QStringLiteral("more");
        notes.upsertNote(edited);
        QCOMPARE(ids(notes.notes()), (QList<QUuid>{second.id, first.id}));
        QCOMPARE(notes.notes()[1].body, QStringLiteral("more"));
    }

    void deleteNote()
    {
        StoreFixture f;
        NoteStore& notes = f.makeNotes();
        Defaults syncDefaults(f.folder.filePath(QStringLiteral("sync.json")));
        FakeCloudSync sync(syncDefaults);
        f.core->setCloudSync(&sync);
        const Note a = note(QStringLiteral("a"), dec(5));
        const Note b = note(QStringLiteral("b"), dec(4));
        const Note c = note(QStringLiteral("c"), dec(3));
        QVERIFY(notes.replaceNotesFromSync({a, b, c}));
        f.core->waitForWrites();

        notes.deleteNote(b.id);
        QCOMPARE(ids(notes.notes()), (QList<QUuid>{a.id, c.id}));
        QCOMPARE(ids(notesInFile(f.file(QStringLiteral("notes.json")))), (QList<QUuid>{a.id, c.id}));
        QCOMPARE(sync.deletedNotes, QList<QUuid>{b.id});
        QCOMPARE(sync.idSet(pendingNoteDeletesKey), QSet<QUuid>{b.id});
        QCOMPARE(sync.pushes, 1);
    }

    void deleteNoteWithUnknownId()
    {
        StoreFixture f;
        NoteStore& notes = f.makeNotes();
        FakeCloudSync& sync = f.attachSync();
        const Note a = note(QStringLiteral("a"), dec(5));
        QVERIFY(notes.replaceNotesFromSync({a}));
        f.core->waitForWrites();
        const QByteArray before = readBytes(f.file(QStringLiteral("notes.json")));
        QVERIFY(QFile::remove(f.file(QStringLiteral("notes.json"))));

        const QUuid stranger = QUuid::createUuid();
        notes.deleteNote(stranger);
        QCOMPARE(ids(notes.notes()), QList<QUuid>{a.id});
        QCOMPARE(readBytes(f.file(QStringLiteral("notes.json"))), before);
        QCOMPARE(sync.idSet(pendingNoteDeletesKey), QSet<QUuid>{stranger});
        QCOMPARE(sync.pushes, 1);
    }

    void deleteNoteWithoutSync()
    {
        StoreFixture f;
        NoteStore& notes = f.makeNotes();
        const Note a = note(QStringLiteral("a"), dec(5));
        QVERIFY(notes.replaceNotesFromSync({a}));
        f.core->waitForWrites();
        notes.deleteNote(a.id);
        QVERIFY(notes.notes().empty());
        QVERIFY(notesInFile(f.file(QStringLiteral("notes.json"))).empty());
        QVERIFY(!f.defaults.contains(pendingNoteDeletesKey));
    }

    void failedWritesChangeNothing()
    {
        StoreFixture f;
        NoteStore& notes = f.makeNotes();
        FakeCloudSync& sync = f.attachSync();
        const Note a = note(QStringLiteral("a"), dec(5));
        const Note b = note(QStringLiteral("b"), dec(4));
        QVERIFY(notes.replaceNotesFromSync({a, b}));
        f.core->waitForWrites();
        QVERIFY(blockFile(f.file(QStringLiteral("notes.json"))));

        const Note fresh = note(QStringLiteral("fresh"), dec(7, 9));
        QVERIFY(!notes.upsertNote(fresh));
        QCOMPARE(ids(notes.notes()), (QList<QUuid>{a.id, b.id}));
        QVERIFY(f.core->lastError());

        QVERIFY(!notes.deleteNote(a.id));
        QCOMPARE(ids(notes.notes()), (QList<QUuid>{a.id, b.id}));
        QVERIFY(sync.deletedNotes.isEmpty());
        QVERIFY(!f.defaults.contains(pendingNoteDeletesKey));
        QCOMPARE(sync.pushes, 0);

        QVERIFY(unblockFile(f.file(QStringLiteral("notes.json"))));
        f.clock.advance(1);
        QVERIFY(notes.upsertNote(fresh));
        QVERIFY(!f.core->lastError());
        QCOMPARE(ids(notesInFile(f.file(QStringLiteral("notes.json")))), (QList<QUuid>{fresh.id, a.id, b.id}));
    }

    void replaceFromSyncSortsNewestFirst()
    {
        StoreFixture f;
        NoteStore& notes = f.makeNotes();
        FakeCloudSync& sync = f.attachSync();
        QVERIFY(blockFile(f.file(QStringLiteral("notes.json"))));
        notes.upsertNote(note(QStringLiteral("local"), dec(7)));
        QVERIFY(f.core->lastError());
        QVERIFY(unblockFile(f.file(QStringLiteral("notes.json"))));
        sync.pushes = 0;

        Note mid = note(QStringLiteral("mid"), dec(4));
        Note newest = note(QStringLiteral("newest"), dec(2));
        newest.updatedAt = dec(6) + 0.5; // the sync's stamps are taken as they come
        Note tieFirst = note(QStringLiteral("tie first"), dec(1));
        Note tieSecond = note(QStringLiteral("tie second"), dec(1));
        QSignalSpy changed(&notes, &NoteStore::notesChanged);
        QVERIFY(notes.replaceNotesFromSync({tieFirst, mid, tieSecond, newest}));
        f.core->waitForWrites();

        const QList<QUuid> expected{newest.id, mid.id, tieFirst.id, tieSecond.id};
        QCOMPARE(ids(notes.notes()), expected);
        QCOMPARE(notes.notes().front().updatedAt, dec(6) + 0.5);
        QCOMPARE(ids(notesInFile(f.file(QStringLiteral("notes.json")))), expected);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(sync.pushes, 0);
        QVERIFY(!f.core->lastError());
    }

    void replaceFromSyncReportsAFailedWrite()
    {
        StoreFixture f;
        NoteStore& notes = f.makeNotes();
        const Note a = note(QStringLiteral("a"), dec(5));
        QVERIFY(notes.replaceNotesFromSync({a}));
        f.core->waitForWrites();
        QVERIFY(blockFile(f.file(QStringLiteral("notes.json"))));
        QSignalSpy changed(&notes, &NoteStore::notesChanged);
        QSignalSpy failed(f.core.get(), &StoreCore::backgroundWriteFailed);
        // What sync received stays here (its records hold it too) and the failure is reported.
        const Note b = note(QStringLiteral("b"), dec(6));
        QVERIFY(notes.replaceNotesFromSync({b}));
        f.core->waitForWrites();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(failed.count(), 1);
        QVERIFY(f.core->lastError() && f.core->lastError()->contains(QLatin1String("notes.json")));
        QCOMPARE(ids(notes.notes()), QList<QUuid>{b.id});
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
