// Opening the Notes page on 2,000 and 20,000 notes, and one autosave (the atomic write of the
// notes file and the list following the edited note).
// `make bench` runs it; it is a benchmark, not a test.
#include "StoreFixture.h"
#include "router/AppContext.h"
#include "router/AppRouter.h"
#include "screens/notes/NoteEditorPane.h"
#include "screens/notes/NotesView.h"

#include <QTest>

class BenchNotes : public QObject {
    Q_OBJECT

    static void counts()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("2,000 notes") << 2000;
        QTest::newRow("20,000 notes") << 20000;
    }

private slots:
    void initTestCase()
    {
        m_store = &m_f.make();
        m_context.storage = m_store;
        m_context.router = &m_router;
        m_context.clock = &m_f.clock;
        m_context.calendar = [this] { return m_f.calendar; };
    }

    void openPage_data() { counts(); }
    void openPage()
    {
        QFETCH(int, count);
        seed(count);
        QBENCHMARK
        {
            NotesView view(m_context);
            view.resize(1100, 720);
            view.show();
            QCoreApplication::processEvents();
            QVERIFY(view.editor());
        }
    }

    void autosave_data() { counts(); }
    void autosave()
    {
        QFETCH(int, count);
        seed(count);
        NotesView view(m_context);
        view.resize(1100, 720);
        view.show();
        int i = 0;
        QBENCHMARK
        {
            view.editor()->state().bodyChanged(QStringLiteral("changed %1").arg(++i));
            view.editor()->state().autosaveNow();
        }
        QVERIFY(!m_store->core().lastError());
    }

private:
    void seed(int count)
    {
        if (int(m_store->notes().notes().size()) == count)
            return;
        std::vector<Note> notes;
        for (int i = 0; i < count; ++i)
            notes.push_back(
                Note{QUuid::createUuid(), QStringLiteral("Note number %1 about something").arg(i),
                     QStringLiteral("A first line of text for the preview of note %1\nand more.\n").arg(i).repeated(4),
                     m_f.clock.now() - i * 3600, m_f.clock.now() - i * 3600});
        QVERIFY(m_store->notes().replaceNotesFromSync(notes));
        m_store->core().waitForWrites();
    }

    StoreFixture m_f;
    StorageService* m_store = nullptr;
    AppRouter m_router;
    AppContext m_context;
};

QTEST_MAIN(BenchNotes)
#include "bench_notes.moc"
