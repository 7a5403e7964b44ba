#include "StoreFixture.h"
#include "TestEnvironment.h"
#include "router/AppContext.h"
#include "router/AppRouter.h"
#include "screens/notes/NoteDates.h"
#include "screens/notes/NoteEditorPane.h"
#include "screens/notes/NoteEditorState.h"
#include "screens/notes/NoteListModel.h"
#include "screens/notes/NotesPageState.h"
#include "screens/notes/NotesView.h"
#include "ui/ChoiceDialog.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <algorithm>

namespace {

Note makeNote(const QString& title, const QString& body, Date updated)
{
    return Note{QUuid::createUuid(), title, body, updated, updated};
}

// A store with `count` notes five seconds apart, "n0" the oldest.
StorageService& addNotes(StoreFixture& f, int count)
{
    StorageService& store = f.make();
    for (int i = 0; i < count; ++i, f.clock.advance(5))
        store.notes().upsertNote(makeNote(QStringLiteral("n%1").arg(i), {}, 0));
    return store;
}

// The page on a store with two notes, "Alpha" (older) and "Beta".
struct PageRig {
    StoreFixture f;
    StorageService& store = f.make();
    AppRouter router;
    AppContext context;
    Note alpha = makeNote(QStringLiteral("Alpha"), QStringLiteral("first"), 0);
    Note beta = makeNote(QStringLiteral("Beta"), QStringLiteral("second"), 0);
    std::unique_ptr<NotesView> view;

    PageRig()
    {
        store.notes().upsertNote(alpha);
        f.clock.advance(60);
        store.notes().upsertNote(beta);
        context.storage = &store;
        context.router = &router;
        context.clock = &f.clock;
        context.calendar = [this] { return f.calendar; };
        view = std::make_unique<NotesView>(context);
        view->resize(1100, 700);
        view->show();
    }
    const Note* stored(const QUuid& id) const
    {
        const auto it = std::ranges::find(store.notes().notes(), id, &Note::id);
        return it == store.notes().notes().end() ? nullptr : &*it;
    }
    void clickRow(const QUuid& id)
    {
        auto* model = static_cast<NoteListModel*>(view->list()->model());
        const QRect rect = view->list()->visualRect(model->index(*model->rowOf(id)));
        QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    QString fileText() const
    {
        QFile file(f.file(NoteStore::fileName));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

} // namespace

class TestNotesPage : public QObject {
    Q_OBJECT
private slots:
    void editorSaves_data();
    void editorSaves();
    void dateLabels_data();
    void dateLabels();
    void newItemRequests_data();
    void newItemRequests();
    void savesOfOlderEditorsSelectNothing();
    void deletedNoteThatReturnsCanBeEditedAgain();
    void confirmedDeletionSelectsNewestRemaining_data();
    void confirmedDeletionSelectsNewestRemaining();
    void nothingTypedIsLost();
    void deleteDialog();
    void oneFocusedObjectAtATime();
};

void TestNotesPage::editorSaves_data()
{
    QTest::addColumn<bool>("stored"); // else a new note
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("outcome"); // "title|body" saved, "emptied", or "" for nothing
    struct Row {
        const char* name;
        bool stored;
        QString title, body, outcome;
    };
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"); // one character
    const QString a119(119, u'a'), a120(120, u'a'), b4999(4999, u'b');
    const Row rows[] = {
        {"new note, trimmed", false, "  Groceries \n", "\n milk\n eggs  ", "Groceries|milk\n eggs"},
        {"new note, only spaces", false, "   ", " \n\t ", ""},
        {"stored, trailing spaces only", true, "Plan  ", "Body\n", ""},
        {"stored, changed body", true, "Plan", "Body and more", "Plan|Body and more"},
        {"stored, cleared to whitespace", true, " ", "\n", "emptied"},
        // Limits cut at whole characters.
        {"title 200", false, QString(200, u'a'), "", a120 + u'|'},
        {"title 120 fits", false, a120, "", a120 + u'|'},
        {"title, family at the edge", false, a119 + family + family, "", a119 + family + u'|'},
        {"body 6000", false, "", QString(6000, u'b'), u'|' + b4999 + u'b'},
        {"body of 5000 families", false, "", family.repeated(5000), u'|' + family.repeated(5000)},
        {"body, accent kept whole", false, "", b4999 + QStringLiteral("e\u0301x"),
         u'|' + b4999 + QStringLiteral("e\u0301")},
    };
    for (const Row& r : rows)
        QTest::newRow(r.name) << r.stored << r.title << r.body << r.outcome;
}

void TestNotesPage::editorSaves()
{
    QFETCH(bool, stored);
    QFETCH(QString, title);
    QFETCH(QString, body);
    QFETCH(QString, outcome);
    // An editor on the page's callbacks, counting what reaches them.
    ManualClock clock{TestEnvironment::at(2026, 12, 7, 10, 0, 0)};
    QList<Note> saved, emptied;
    NoteEditorState editor(
        stored ? std::optional(makeNote(QStringLiteral("Plan"), QStringLiteral("Body"), 100)) : std::nullopt, clock,
        [&saved](const Note& n) {
            saved.append(n);
            return true;
        },
        [](const Note&) {}, [&emptied](const Note& n) { emptied.append(n); });

    editor.titleChanged(title);
    editor.bodyChanged(body);
    QVERIFY(editor.isAutosavePending());
    clock.advance(0.8);
    editor.autosaveNow();

    const bool cleared = outcome == QLatin1String("emptied");
    QCOMPARE(emptied.size(), int(cleared));
    QCOMPARE(saved.size(), int(!cleared && !outcome.isEmpty()));
    if (!saved.isEmpty()) {
        const Note& n = saved.last();
        QCOMPARE(QString(n.title + u'|' + n.body), outcome);
        QCOMPARE(n.updatedAt, clock.now());
        if (!stored)
            QCOMPARE(n.createdAt, clock.now());
    }
    // The field keeps what was typed, untrimmed, only cut at the limit; an emptied editor saves
    // nothing more, ever.
    QCOMPARE(editor.title(), title.size() > 120 ? saved.last().title : title);
    if (cleared) {
        QVERIFY(!editor.savedNote());
        editor.titleChanged(QStringLiteral("again"));
        editor.flush();
        QCOMPARE(saved.size(), 0);
        QCOMPARE(emptied.size(), 1);
    }
}

void TestNotesPage::dateLabels_data()
{
    QTest::addColumn<Date>("date");
    QTest::addColumn<QString>("label");
    // Monday 7 December 2026, 10:00 in New York.
    QTest::newRow("today, early") << TestEnvironment::at(2026, 12, 7, 0, 0, 1) << "Today";
    QTest::newRow("yesterday, late") << TestEnvironment::at(2026, 12, 6, 23, 59, 59) << "Yesterday";
    QTest::newRow("six days ago") << TestEnvironment::at(2026, 12, 1, 12) << "Tue";
    QTest::newRow("seven days ago") << TestEnvironment::at(2026, 11, 30, 12) << "Nov 30";
    QTest::newRow("tomorrow, skewed clock") << TestEnvironment::at(2026, 12, 8, 9) << "Tue";
}

void TestNotesPage::dateLabels()
{
    QFETCH(Date, date);
    QFETCH(QString, label);
    QCOMPARE(NoteDates::label(date, TestEnvironment::at(2026, 12, 7, 10), TestEnvironment::calendar()), label);
}

void TestNotesPage::newItemRequests_data()
{
    QTest::addColumn<int>("request"); // -1 none, else AppRouter::NewItem
    QTest::addColumn<int>("notes");
    QTest::addColumn<bool>("newNote"); // else the newest note selected, if any
    QTest::addColumn<int>("left");
    QTest::newRow("no notes, no request") << -1 << 0 << false << -1;
    QTest::newRow("notes, no request") << -1 << 2 << false << -1;
    QTest::newRow("note request consumed") << int(AppRouter::NewItem::note) << 2 << true << -1;
    QTest::newRow("to-do request left") << int(AppRouter::NewItem::todo) << 2 << false << int(AppRouter::NewItem::todo);
}

void TestNotesPage::newItemRequests()
{
    QFETCH(int, request);
    QFETCH(int, notes);
    QFETCH(bool, newNote);
    QFETCH(int, left);
    StoreFixture f;
    StorageService& store = addNotes(f, notes);
    AppRouter router;
    if (request >= 0)
        router.setNewItemRequest(AppRouter::NewItem(request));
    NotesPageState page(store, &router);
    page.appear();

    QCOMPARE(page.isNewNote(), newNote);
    QCOMPARE(page.selectedID().has_value(), notes > 0 && !newNote);
    if (page.selectedID())
        QCOMPARE(*page.selectedID(), page.visibleNotes().front().id);
    QCOMPARE(router.newItemRequest() ? int(*router.newItemRequest()) : -1, left);
}

void TestNotesPage::savesOfOlderEditorsSelectNothing()
{
    StoreFixture f;
    StorageService& store = f.make();
    NotesPageState page(store, nullptr);
    page.startNewNote();
    const QUuid firstSession = page.editorSession();
    const Note note = makeNote(QStringLiteral("Draft"), QStringLiteral("x"), f.clock.now());
    page.noteSaved(note, firstSession);
    QCOMPARE(page.selectedID(), note.id);
    QVERIFY(!page.isNewNote());
    QCOMPARE(page.editorSession(), firstSession);

    // A save from an editor that is no longer current is stored but selects nothing.
    page.startNewNote();
    const Note older = makeNote(QStringLiteral("Older"), {}, f.clock.now());
    page.noteSaved(older, firstSession);
    QCOMPARE(store.notes().notes().size(), size_t(2));
    QVERIFY(page.isNewNote());
    QVERIFY(!page.selectedID());
    QCOMPARE(NotesPageState::deleteMessage(makeNote(QStringLiteral(" \n"), {}, 0)),
             QStringLiteral("\u201CNew Note\u201D will be removed from all your devices."));
}

void TestNotesPage::deletedNoteThatReturnsCanBeEditedAgain()
{
    StoreFixture f;
    StorageService& store = f.make();
    NotesPageState page(store, nullptr);
    Note note = makeNote(QStringLiteral("Shared"), QStringLiteral("v1"), f.clock.now());
    store.notes().upsertNote(note);
    page.appear();
    page.confirmDelete(note);
    QVERIFY(store.notes().notes().empty());

    // Another device still had it and brings it back under the same id.
    QVERIFY(store.notes().replaceNotesFromSync({note}));
    page.select(store.notes().notes().front());
    QVERIFY(!page.deletedIDs().contains(note.id));
    note.body = QStringLiteral("v2");
    page.noteSaved(note, page.editorSession());
    QCOMPARE(store.notes().notes().size(), size_t(1));
    QCOMPARE(store.notes().notes().front().body, QStringLiteral("v2"));
}

void TestNotesPage::confirmedDeletionSelectsNewestRemaining_data()
{
    QTest::addColumn<int>("selected"); // index into newest-first order, -1 for none
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("expectedSelected"); // index into the order before the deletion
    QTest::addColumn<bool>("sessionChanged");
    QTest::newRow("selected newest") << 0 << 0 << 1 << true;
    QTest::newRow("selected other") << 2 << 2 << 0 << true;
    QTest::newRow("not selected") << 1 << 2 << 1 << false;
}

void TestNotesPage::confirmedDeletionSelectsNewestRemaining()
{
    QFETCH(int, selected);
    QFETCH(int, deleted);
    QFETCH(int, expectedSelected);
    QFETCH(bool, sessionChanged);
    StoreFixture f;
    StorageService& store = addNotes(f, 3);
    NotesPageState page(store, nullptr);
    const std::vector<Note> before = page.visibleNotes();
    page.select(before[selected]);
    const QUuid session = page.editorSession();
    page.requestDelete(before[deleted]);
    QCOMPARE(page.pendingDelete(), before[deleted]);
    page.confirmDelete(before[deleted]);
    page.dismissDelete();

    QVERIFY(!page.pendingDelete());
    QCOMPARE(store.notes().notes().size(), size_t(2));
    QCOMPARE(page.selectedID(), before[expectedSelected].id);
    QCOMPARE(page.editorSession() != session, sessionChanged);

    // The last note deleted: the first-note placeholder.
    for (const Note& n : page.visibleNotes())
        page.confirmDelete(n);
    QVERIFY(!page.showsEditor());
    QCOMPARE(page.placeholderText(), QStringLiteral("Your first note starts here."));
}

void TestNotesPage::nothingTypedIsLost()
{
    PageRig rig;
    NotesView& view = *rig.view;
    QCOMPARE(view.editor()->state().savedNote()->id, rig.beta.id);

    // Typing, then picking another note before the debounce ends: the text is saved on the switch.
    QTextEdit* body = view.editor()->bodyField();
    body->moveCursor(QTextCursor::End);
    QTest::keyClicks(body, QStringLiteral(" and more"));
    QVERIFY(view.editor()->state().isAutosavePending());
    QCOMPARE(rig.stored(rig.beta.id)->body, QStringLiteral("second"));
    rig.clickRow(rig.alpha.id);
    QCOMPARE(rig.stored(rig.beta.id)->body, QStringLiteral("second and more"));
    QCOMPARE(view.editor()->state().savedNote()->id, rig.alpha.id);

    // Typing, then the application quits within the debounce: on disk before the event loop ends.
    QLineEdit* title = view.editor()->titleField();
    title->end(false);
    QTest::keyClicks(title, QStringLiteral("!"));
    QVERIFY(view.editor()->state().isAutosavePending());
    QVERIFY(QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit"));
    QVERIFY(!view.editor()->state().isAutosavePending());
    QCOMPARE(rig.stored(rig.alpha.id)->title, QStringLiteral("Alpha!"));
    QVERIFY(rig.fileText().contains(QStringLiteral("Alpha!")));
    QVERIFY(rig.fileText().contains(QStringLiteral("second and more")));

    // Clearing both fields deletes the note without a question and leaves no selection.
    title->selectAll();
    QTest::keyClick(title, Qt::Key_Delete);
    body = view.editor()->bodyField();
    body->selectAll();
    QTest::keyClick(body, Qt::Key_Delete);
    view.editor()->state().autosaveNow();
    QVERIFY(!rig.stored(rig.alpha.id));
    QVERIFY(!view.state().selectedID());
    QTRY_VERIFY(!view.editor());

    // A new note typed and left by hiding the page (another page shown) is kept, once.
    view.findChild<QAbstractButton*>(QStringLiteral("newNote"))->click();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QTRY_VERIFY(view.editor()->titleField()->hasFocus());
    QTest::keyClicks(view.editor()->titleField(), QStringLiteral("  Fresh  "));
    view.hide();
    QCOMPARE(rig.store.notes().notes().size(), size_t(2));
    QCOMPARE(rig.store.notes().notes().front().title, QStringLiteral("Fresh"));
}

void TestNotesPage::deleteDialog()
{
    PageRig rig;
    NotesView& view = *rig.view;
    auto* trash = view.editor()->findChild<QToolButton*>(QStringLiteral("deleteNote"));
    QVERIFY(trash->isVisible());

    // Cancel keeps the note.
    trash->click();
    QVERIFY(view.deleteDialog());
    QCOMPARE(QApplication::activeModalWidget(), view.deleteDialog());
    // As on Today: Delete, then Cancel, the safe answer the default.
    QCOMPARE(view.deleteDialog()->buttonTexts(), (QStringList{"Delete", "Cancel"}));
    QCOMPARE(view.deleteDialog()->defaultChoice(), 1);
    view.deleteDialog()->findChild<QAbstractButton*>(QStringLiteral("cancelDelete"))->click();
    QVERIFY(!view.state().pendingDelete());
    QVERIFY(rig.stored(rig.beta.id));
    QTRY_VERIFY(!view.deleteDialog());

    // Delete removes it and opens the newest note left; a late save of it is ignored.
    QTest::keyClicks(view.editor()->titleField(), QStringLiteral(" late"));
    trash->click();
    view.deleteDialog()->findChild<QAbstractButton*>(QStringLiteral("confirmDelete"))->click();
    QVERIFY(!rig.stored(rig.beta.id));
    QCOMPARE(view.editor()->state().savedNote()->id, rig.alpha.id);
    QVERIFY(!rig.fileText().contains(QStringLiteral("Beta")));

    // A new note has no delete control until its first save.
    view.findChild<QAbstractButton*>(QStringLiteral("newNote"))->click();
    trash = view.editor()->findChild<QToolButton*>(QStringLiteral("deleteNote"));
    QVERIFY(view.editor()->isVisible());
    QVERIFY(!trash->isVisible());
    QTest::keyClicks(view.editor()->titleField(), QStringLiteral("x"));
    view.editor()->state().autosaveNow();
    QVERIFY(trash->isVisible());
}

void TestNotesPage::oneFocusedObjectAtATime()
{
    // Assistive technology hears of one focused object: the list's row only while the list has
    // the keyboard, and the same row again when it comes back.
    PageRig rig;
    rig.view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.view.get()));
    QListView* list = rig.view->list();
    const auto focusedRows = [list] {
        QStringList rows;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(list);
        for (int i = 0; i < a->childCount(); ++i)
            if (QAccessibleInterface* child = a->child(i); child && child->state().focused)
                rows.append(child->text(QAccessible::Name));
        return rows;
    };
    list->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(focusedRows().size(), 1);
    const QStringList row = focusedRows();
    QTest::keyClick(list, Qt::Key_Tab);
    QVERIFY(!list->hasFocus());
    QCOMPARE(focusedRows(), QStringList());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QVERIFY(list->hasFocus());
    QCOMPARE(focusedRows(), row);
}

QTEST_MAIN(TestNotesPage)
#include "tst_notes_page.moc"
