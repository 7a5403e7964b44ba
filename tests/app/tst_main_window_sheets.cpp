#include "SeededStore.h"
#include "app/MainWindow.h"
#include "app/Screens.h"
#include "router/AppRouter.h"
#include "screens/todos/TaskEditorSheet.h"
#include "screens/todos/TodosView.h"
#include "ui/ChoiceDialog.h"
#include "ui/ReturnKey.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QThreadPool>
#include <QWindow>
#include <QtTest>

using Destination = AppRouter::Destination;
Q_DECLARE_METATYPE(Destination)
Q_DECLARE_METATYPE(QList<Destination>)

namespace {

// The main window with the real pages over a seeded store, the first run already behind it.
struct WindowRig {
    SeededStore f;
    AppRouter router;
    AppContext context;
    std::unique_ptr<MainWindow> window;
    BlockRule rule = SeededStore::rule(QStringLiteral("example.com"));

    WindowRig()
    {
        f.seed({rule});
        f.defaults.set(MainWindow::onboardingCompletedKey, true);
        context = f.context(&router);
        window = std::make_unique<MainWindow>(context, programScreens());
        window->show();
    }
    TodosView* today() const { return qobject_cast<TodosView*>(window->currentPage()); }
    // The editor of a new to-do with `title` typed into it.
    TaskEditorSheet* draft(const QString& title)
    {
        today()->openNewEditor();
        TaskEditorSheet* editor = today()->editor();
        if (editor && !title.isEmpty())
            QTest::keyClicks(editor->findChild<QLineEdit*>(QStringLiteral("titleField")), title);
        return editor;
    }
    QStringList savedTitles() const
    {
        QStringList titles;
        for (const TaskItem& t : f.store->todos().todos())
            titles.append(t.title);
        return titles;
    }
};

} // namespace

// The main window's page and its sheets: what replaces the page under an open editor, and one
// sheet at a time.
class TestMainWindowSheets : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ReturnKey::install(*qApp); }

    // The keyboard on the window itself: Return presses what has the focus, and the focus goes
    // with the page chosen by its shortcut.
    void keyboardOnThePage_data()
    {
        QTest::addColumn<QString>("focus"); // accessible name of the control with the keyboard
        QTest::addColumn<QString>("act");   // "Return", or a page to go to
        QTest::addColumn<QString>("after"); // the control with the keyboard then, or "done"/"editor"
        QTest::newRow("Return on a row's check circle") << "Mark %1 done"
                                                        << "Return"
                                                        << "done";
        QTest::newRow("Return on a row's title") << "%1"
                                                 << "Return"
                                                 << "editor";
        QTest::newRow("Ctrl+2 from the Today tile") << "Today"
                                                    << "block"
                                                    << "Block";
        QTest::newRow("Ctrl+, from a row") << "%1"
                                           << "settings"
                                           << "Settings";
    }
    void keyboardOnThePage()
    {
        QFETCH(QString, focus);
        QFETCH(QString, act);
        WindowRig rig;
        const TaskItem first = rig.f.addToday(QStringLiteral("First"));
        const TaskItem second = rig.f.addToday(QStringLiteral("Second"));
        // The one on a row, not on the focus card.
        const TaskItem row = rig.f.store->todos().focusTodo()->id == first.id ? second : first;
        focus = focus.arg(row.title);
        QApplication::setActiveWindow(rig.window.get());
        QWidget* control = nullptr;
        QTRY_VERIFY([&] {
            for (QWidget* w : rig.window->findChildren<QWidget*>())
                if (w->accessibleName() == focus && w->isVisible())
                    control = w;
            return control != nullptr;
        }());
        control->setFocus(Qt::TabFocusReason);
        QVERIFY(control->hasFocus());
        if (act == QLatin1String("Return"))
            QTest::keyClick(control, Qt::Key_Return);
        else
            rig.router.setDestination(act == QLatin1String("block") ? Destination::block : Destination::settings);
        QFETCH(QString, after);
        if (after == QLatin1String("done")) {
            const auto done = [&] {
                for (const TaskItem& t : rig.f.store->todos().todos())
                    if (t.id == row.id)
                        return t.isCompleted;
                return false;
            };
            QTRY_VERIFY(done());
        } else if (after == QLatin1String("editor")) {
            QTRY_VERIFY(rig.today()->editor() && rig.today()->editor()->isVisible());
        } else {
            QVERIFY(QApplication::focusWidget());
            QCOMPARE(QApplication::focusWidget()->accessibleName(), after);
        }
    }

    void draftUnderAPageChange_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("request"); // a link, or "notes" for the tray's Notes item
        QTest::addColumn<QString>("answer");  // the question's button; empty: no question
        QTest::addColumn<Destination>("page");
        QTest::addColumn<QStringList>("saved"); // after saving the editor, when it is still open
        QTest::newRow("settings link, keep editing")
            << "Call the bank"
            << "quillharbour://settings"
            << "Keep Editing" << Destination::todos << QStringList{"Call the bank"};
        QTest::newRow("settings link, discard") << "Call the bank"
                                                << "quillharbour://settings"
                                                << "Discard Changes" << Destination::settings << QStringList{};
        QTest::newRow("tray's Notes, keep editing")
            << "Call the bank"
            << "notes"
            << "Keep Editing" << Destination::todos << QStringList{"Call the bank"};
        QTest::newRow("nothing typed") << ""
                                       << "quillharbour://settings"
                                       << "" << Destination::settings << QStringList{};
    }
    void draftUnderAPageChange()
    {
        QFETCH(QString, typed);
        QFETCH(QString, request);
        QFETCH(QString, answer);
        QFETCH(Destination, page);
        WindowRig rig;
        QPointer<TaskEditorSheet> editor = rig.draft(typed);
        QVERIFY(editor && editor->isVisible());
        if (request == QLatin1String("notes"))
            rig.router.setDestination(Destination::notes);
        else
            rig.router.handle(request);
        if (answer.isEmpty()) {
            QVERIFY(!editor || !editor->isVisible());
        } else {
            QVERIFY(editor && editor->openQuestion());
            QCOMPARE(rig.router.destination(), Destination::todos); // nothing moved while asking
            QVERIFY(editor->openQuestion()->choose(answer));
        }
        QCOMPARE(rig.router.destination(), page);
        QCOMPARE(rig.window->currentPage() == rig.today(), page == Destination::todos);
        QCOMPARE(rig.window->findChild<QAbstractButton*>(QStringLiteral("rail-todos"))->isChecked(),
                 page == Destination::todos);
        if (editor && editor->isVisible())
            editor->save();
        QTEST(rig.savedTitles(), "saved");
    }

    // The page is built when the window is first shown, for the destination of that moment, and
    // afresh on each visit after.
    void pagesAreBuiltWhenShown_data()
    {
        QTest::addColumn<QList<Destination>>("beforeShow"); // destinations set while never shown
        QTest::addColumn<QList<Destination>>("afterShow");
        QTest::addColumn<int>("built");
        QTest::newRow("shown at once") << QList<Destination>{} << QList<Destination>{} << 1;
        QTest::newRow("moved twice before the first show")
            << QList<Destination>{Destination::notes, Destination::settings} << QList<Destination>{} << 1;
        QTest::newRow("visits after the show")
            << QList<Destination>{} << QList<Destination>{Destination::block, Destination::todos} << 3;
        QTest::newRow("the same page again")
            << QList<Destination>{Destination::notes} << QList<Destination>{Destination::notes} << 1;
    }
    void pagesAreBuiltWhenShown()
    {
        QFETCH(QList<Destination>, beforeShow);
        QFETCH(QList<Destination>, afterShow);
        QFETCH(int, built);
        SeededStore f;
        f.seed({});
        f.defaults.set(MainWindow::onboardingCompletedKey, true);
        AppRouter router;
        AppContext context = f.context(&router);
        MainWindow window(context, programScreens());
        for (Destination d : beforeShow)
            router.setDestination(d);
        QCOMPARE(window.pagesBuilt(), 0);
        QVERIFY(!window.currentPage());
        window.show();
        for (Destination d : afterShow)
            router.setDestination(d);
        QCOMPARE(window.pagesBuilt(), built);
        QVERIFY(window.currentPage());
        QCOMPARE(window.currentPage()->windowTitle(), MainWindow::title(router.destination()));
        const QString rail = QStringLiteral("rail-") + AppRouter::rawValue(router.destination());
        for (QAbstractButton* item :
             window.findChildren<QAbstractButton*>(QRegularExpression(QStringLiteral("^rail-"))))
            QCOMPARE(item->isChecked(), item->objectName() == rail);
    }

    void oneSheetAtATime_data()
    {
        QTest::addColumn<bool>("editorFirst");
        QTest::addColumn<bool>("editorUsedBefore"); // a to-do saved from it first
        QTest::newRow("editor asked for under the urgent break") << false << false;
        QTest::newRow("urgent break asked for over the editor") << true << false;
        QTest::newRow("editor used before, asked for under the urgent break") << false << true;
    }
    void oneSheetAtATime()
    {
        QFETCH(bool, editorFirst);
        QFETCH(bool, editorUsedBefore);
        WindowRig rig;
        TodosView* today = rig.today();
        QPointer<TaskEditorSheet> used;
        if (editorUsedBefore) {
            used = rig.draft(QStringLiteral("Call the bank"));
            used->save();
            QTRY_VERIFY(used && !used->windowHandle()); // kept, without its window's buffer
        }
        if (editorFirst)
            rig.draft(QString());
        rig.router.setUrgentBreakRuleID(rig.rule.id);
        if (!editorFirst)
            rig.draft(QString());
        QDialog* first = rig.window->currentSheet();
        QVERIFY(first);
        QCOMPARE(first == today->editor(), editorFirst);
        const auto shown = [&] {
            int n = 0;
            for (QDialog* d : rig.window->findChildren<QDialog*>())
                n += d->isVisible();
            return n;
        };
        QCOMPARE(shown(), 1);
        first->reject(); // Escape: the editor has no changes, the cool-down simply ends
        QTRY_VERIFY(rig.window->currentSheet() && rig.window->currentSheet() != first);
        QCOMPARE(rig.window->currentSheet() == today->editor(), !editorFirst);
        QCOMPARE(shown(), 1);
        if (editorUsedBefore) {
            QCOMPARE(today->editor(), used.data());
            QCOMPARE(used->windowHandle()->transientParent(), rig.window->windowHandle());
            used->reject();
            QTRY_COMPARE(shown(), 0);
        }
    }

    // Every sheet and question belongs to the main window: window-modal, without the window
    // manager's frame, its transient parent set, and inside the window below its title bar.
    void sheetsStandOverTheirWindow_data()
    {
        QTest::addColumn<bool>("question"); // the editor's "Discard your changes?" over it
        QTest::newRow("editor") << false;
        QTest::newRow("question over the editor") << true;
    }
    void sheetsStandOverTheirWindow()
    {
        // The window takes the whole offscreen screen.
        QFETCH(bool, question);
        WindowRig rig;
        rig.window->setGeometry(rig.window->screen()->availableGeometry());
        QDialog* sheet = rig.draft(question ? QStringLiteral("Call the bank") : QString());
        QVERIFY(sheet && sheet->isVisible());
        QWidget* over = rig.window.get();
        if (question) {
            sheet->reject();
            over = sheet;
            sheet = rig.today()->editor()->openQuestion();
            QVERIFY(sheet && sheet->isVisible());
        }
        QVERIFY(sheet->windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(sheet->windowType(), Qt::Dialog);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->windowHandle()->transientParent(), over->windowHandle());
        const auto placed = [&] {
            return rig.window->geometry().contains(sheet->geometry()) &&
                   sheet->geometry().center().x() == over->geometry().center().x() &&
                   sheet->geometry().top() == over->geometry().top();
        };
        QVERIFY2(placed(), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                          .arg(sheet->x())
                                          .arg(sheet->y())
                                          .arg(sheet->width())
                                          .arg(sheet->height())));
        // It goes where its window goes.
        rig.window->move(rig.window->pos() - QPoint(30, 0));
        if (question)
            over->move(over->pos() - QPoint(30, 0));
        QTRY_VERIFY(placed());
    }

    // Once the window is on screen the painting threads are all there: the first sheet's page and
    // the dimming under it start none on the window's thread.
    void firstSheetStartsNoThread()
    {
        const auto threads = [] {
            return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
        };
        WindowRig rig;
        rig.window->setGeometry(rig.window->screen()->availableGeometry());
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        QCoreApplication::sendPostedEvents(); // the window's look a turn after it was exposed
        QTRY_VERIFY(threads() >= QThreadPool::globalInstance()->maxThreadCount());
        QTRY_COMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
        const qsizetype before = threads();
        QDialog* sheet = rig.draft({});
        QVERIFY(sheet && sheet->isVisible());
        rig.window->repaint();
        sheet->repaint();
        QCOMPARE(threads(), before);
    }
};

QTEST_MAIN(TestMainWindowSheets)
#include "tst_main_window_sheets.moc"
