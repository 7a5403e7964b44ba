#include "FakeNotificationCenter.h"
#include "SeededStore.h"
#include "app/MainWindow.h"
#include "app/Popover.h"
#include "app/Shell.h"
#include "app/ShellCommands.h"
#include "app/TrayIcon.h"
#include "router/AppRouter.h"
#include "screens/quit/QuitFlowWindow.h"
#include "ui/ChoiceDialog.h"
#include "ui/Theme.h"

#include "ui/FocusButton.h"
#include "ui/FocusCards.h"
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QWindow>

#include <QtTest>

using Destination = AppRouter::Destination;
using IconState = TrayIcon::State;
Q_DECLARE_METATYPE(IconState)

namespace {

// The shell over a seeded store, with no tray host to wait for.
struct ShellRig {
    SeededStore f;
    AppRouter router;
    AppContext context;
    FakeNotificationCenter notices;
    std::unique_ptr<Shell> shell;
    int syncs = 0;
    int trayPatienceMs = 0; // no tray host to wait for

    Shell& make(Shell::Options options = {})
    {
        if (!f.store)
            f.seed({});
        context = f.context(&router);
        options.trayPatienceMs = trayPatienceMs;
        options.offerMove = false;
        options.activationSync = [this] { ++syncs; };
        shell = std::make_unique<Shell>(context, MainWindow::placeholders(), &notices, options);
        return *shell;
    }
    ~ShellRig()
    {
        if (QuitFlowWindow* w = QuitFlowWindow::current())
            w->close();
    }
};

// Counts the paints a widget receives.
struct PaintCounter : QObject {
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
    int count = 0;
};

template <typename T> T* child(QWidget* w, const char* name)
{
    QCoreApplication::sendPostedEvents();
    return w->findChild<T*>(QString::fromLatin1(name));
}

} // namespace

// The application shell: what a start shows, the shortcuts with the window closed, the tray's
// padlock and popover, links and notification taps, and quitting through the gate.
class TestShell : public QObject {
    Q_OBJECT

private slots:
    void launchShowsTheWindowUnlessTheTrayKeepsIt_data()
    {
        QTest::addColumn<bool>("loginItem");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("windowShown");
        QTest::newRow("normal start") << false << true << true;
        QTest::newRow("login item with a tray") << true << true << false;
        QTest::newRow("login item without a tray") << true << false << true;
    }
    void launchShowsTheWindowUnlessTheTrayKeepsIt()
    {
        QFETCH(bool, loginItem);
        QFETCH(bool, tray);
        QFETCH(bool, windowShown);
        ShellRig rig;
        Shell::Options options;
        options.loginItem = loginItem;
        options.trayAvailable = tray;
        Shell& shell = rig.make(options);
        QSignalSpy decided(&shell, &Shell::trayDecided);
        shell.start();
        QVERIFY(!decided.isEmpty() || decided.wait(5000));
        QTRY_COMPARE(shell.mainWindow().isVisible(), windowShown);
        // Closing the window never quits; starting again brings it back.
        shell.mainWindow().close();
        shell.handleLinks({});
        QVERIFY(shell.mainWindow().isVisible());
        // The popover is built when first wanted, once.
        const auto popovers = [] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            return std::count_if(windows.begin(), windows.end(),
                                 [](QWidget* w) { return w->objectName() == QLatin1String("popover"); });
        };
        QCOMPARE(popovers(), 0);
        QCOMPARE(&shell.popover(), &shell.popover());
        QCOMPARE(popovers(), 1);
    }

    // Without a tray nothing else shows that the program still runs once its window is closed:
    // the first close says so, once, also when it comes before the launch knew about the tray.
    void firstCloseWithoutATraySaysItStillRuns_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("withRule");
        QTest::addColumn<bool>("closedBeforeTrayKnown");
        QTest::addColumn<QString>("title"); // empty: no notification
        QTest::newRow("no tray, a site blocked") << false << true << false << "Quillharbour is still blocking";
        QTest::newRow("no tray, nothing to block") << false << false << false << "Quillharbour is still running";
        QTest::newRow("no tray, closed before the launch knew")
            << false << true << true << "Quillharbour is still blocking";
        QTest::newRow("a tray shows it instead") << true << true << false << "";
    }
    void firstCloseWithoutATraySaysItStillRuns()
    {
        QFETCH(bool, tray);
        QFETCH(bool, withRule);
        QFETCH(bool, closedBeforeTrayKnown);
        QFETCH(QString, title);
        ShellRig rig;
        rig.f.seed(withRule ? std::vector<BlockRule>{SeededStore::rule(QStringLiteral("news.example"))}
                            : std::vector<BlockRule>{});
        Shell::Options options;
        options.trayAvailable = tray;
        // The launch waits for a tray host a while: the window is closed meanwhile.
        rig.trayPatienceMs = closedBeforeTrayKnown ? 2000 : 0;
        Shell& shell = rig.make(options);
        QSignalSpy decided(&shell, &Shell::trayDecided);
        shell.start();
        QTRY_VERIFY(shell.mainWindow().isVisible());
        if (!closedBeforeTrayKnown)
            QVERIFY(!decided.isEmpty() || decided.wait(5000));
        shell.mainWindow().close();
        QVERIFY(!decided.isEmpty() || decided.wait(10000));
        const size_t expected = title.isEmpty() ? 0 : 1;
        QTRY_COMPARE(rig.notices.delivered.size(), expected);
        // Opened and closed again: nothing more is said.
        shell.handleLinks({});
        QVERIFY(shell.mainWindow().isVisible());
        shell.mainWindow().close();
        QTest::qWait(50);
        QCOMPARE(rig.notices.delivered.size(), expected);
        if (!expected)
            return;
        const NotificationRequest& notice = rig.notices.delivered.front();
        QCOMPARE(notice.title, title);
        QVERIFY(notice.body.endsWith(QStringLiteral("Open it again from the applications menu.")));
        QVERIFY(!notice.trigger);
    }

    // The offer to install opens over the main window, which it belongs to; Return installs,
    // Escape is "Not Now".
    void installOfferBelongsToTheWindow_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("button"); // what the answer reads as
        QTest::newRow("Return") << int(Qt::Key_Return) << 0 << "Install";
        QTest::newRow("Escape") << int(Qt::Key_Escape) << 1 << "Not Now";
    }
    void installOfferBelongsToTheWindow()
    {
        QFETCH(int, key);
        QFETCH(int, answer);
        QFETCH(QString, button);
        QWidget main;
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        const QWindow* owner = nullptr;
        QStringList buttons;
        QTimer::singleShot(0, &main, [&] {
            auto* dialog = qobject_cast<ChoiceDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            owner = dialog->windowHandle()->transientParent();
            buttons = dialog->buttonTexts();
            QTest::keyClick(dialog, Qt::Key(key));
        });
        QCOMPARE(Shell::askToInstall(&main), answer);
        QCOMPARE(owner, main.windowHandle());
        QCOMPARE(buttons.value(answer), button);
    }

    // A normal start loads the faces, builds the page and shows the window in turns of their
    // own, the page once and before the window shows, whichever page the start names.
    void aStartBuildsThePageBeforeShowingIt_data()
    {
        QTest::addColumn<int>("destination");
        QTest::addColumn<bool>("withTodos");
        QTest::newRow("today") << int(AppRouter::Destination::todos) << false;
        QTest::newRow("today with to-dos") << int(AppRouter::Destination::todos) << true;
        QTest::newRow("settings") << int(AppRouter::Destination::settings) << false;
    }
    void aStartBuildsThePageBeforeShowingIt()
    {
        QFETCH(int, destination);
        QFETCH(bool, withTodos);
        std::optional<DataPreread> preread;
        ShellRig rig;
        if (withTodos) {
            // Read while the window shows, as a start reads them.
            rig.f.seed({});
            rig.f.addToday(QStringLiteral("Write the report"));
            rig.f.file(TodoStore::fileName); // on disk
            preread.emplace(rig.f.dataPath());
            rig.f.makeReadingLater(*preread);
        }
        Shell& shell = rig.make();
        rig.router.setDestination(AppRouter::Destination(destination));
        // The faces loaded while the data is still being read are those the start then draws with.
        if (destination == int(AppRouter::Destination::todos))
            QCOMPARE(Shell::todayStartFaces(withTodos), shell.startFaces());
        shell.start();
        int builtAt = -1;
        int turn = 0;
        for (; turn < 200 && !shell.mainWindow().isVisible(); ++turn) {
            QCoreApplication::processEvents();
            if (builtAt < 0 && shell.mainWindow().pagesBuilt() > 0 && !shell.mainWindow().isVisible())
                builtAt = turn;
        }
        QVERIFY(builtAt >= int(shell.startFaces().size()) && turn - 1 > builtAt);
        QCOMPARE(shell.mainWindow().pagesBuilt(), 1);
        QCOMPARE(shell.mainWindow().currentPage()->objectName(),
                 QStringLiteral("page-%1").arg(AppRouter::rawValue(AppRouter::Destination(destination))));
    }

    // What a start defers (blocking, sync, the browsers' links) waits for the main window's first
    // frame and runs once; a start that shows no window runs it without waiting, and builds no page.
    void deferredWorkWaitsForTheFirstFrame_data()
    {
        QTest::addColumn<bool>("loginItem");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("windowFirst"); // the window was drawn before the work ran
        QTest::addColumn<bool>("trayAfter");   // the tray is looked for only after it (else at once,
                                               // answered by a worker whenever the bus answers)
        QTest::newRow("normal start") << false << true << true << true;
        QTest::newRow("login item with a tray") << true << true << false << false;
    }
    void deferredWorkWaitsForTheFirstFrame()
    {
        QFETCH(bool, loginItem);
        QFETCH(bool, tray);
        QFETCH(bool, windowFirst);
        QFETCH(bool, trayAfter);
        ShellRig rig;
        Shell::Options options;
        options.loginItem = loginItem;
        options.trayAvailable = tray;
        Shell& shell = rig.make(options);
        PaintCounter paints(&shell.mainWindow());
        int runs = 0;
        int paintsBeforeWork = -1;
        int pagesBeforeWork = -1;
        bool trayBeforeWork = false;
        shell.afterFirstFrame([&] {
            ++runs;
            trayBeforeWork = shell.hasTray().has_value();
            paintsBeforeWork = paints.count;
            pagesBeforeWork = shell.mainWindow().pagesBuilt();
        });
        shell.start();
        QCOMPARE(runs, 0);
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 30000);
        QCOMPARE(paintsBeforeWork > 0, windowFirst);
        QCOMPARE(pagesBeforeWork, windowFirst ? 1 : 0);
        if (trayAfter)
            QVERIFY(!trayBeforeWork);
        QTRY_VERIFY_WITH_TIMEOUT(shell.hasTray().has_value(), 30000);
        // Later work runs at once, and nothing runs twice.
        shell.afterFirstFrame([&] { ++runs; });
        QCOMPARE(runs, 2);
        QTest::qWait(50);
        QCOMPARE(runs, 2);
        QCOMPARE(shell.mainWindow().pagesBuilt(), windowFirst ? 1 : 0);
    }

    void pageShortcutsWorkWithTheWindowClosed_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<Destination>("destination");
        QTest::addColumn<bool>("newNote");
        QTest::newRow("Ctrl+1") << int(Qt::Key_1) << Qt::KeyboardModifiers(Qt::ControlModifier) << Destination::todos
                                << false;
        QTest::newRow("Ctrl+Shift+N") << int(Qt::Key_N) << (Qt::ControlModifier | Qt::ShiftModifier)
                                      << Destination::notes << true;
    }
    void pageShortcutsWorkWithTheWindowClosed()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(Destination, destination);
        QFETCH(bool, newNote);
        ShellRig rig;
        Shell& shell = rig.make();
        Popover& popover = shell.popover();
        popover.show();
        popover.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&popover));
        QVERIFY(!shell.mainWindow().isVisible());
        QTest::keyClick(&popover, Qt::Key(key), modifiers);
        QVERIFY(shell.mainWindow().isVisible());
        QCOMPARE(rig.router.destination(), destination);
        QCOMPARE(rig.router.newItemRequest() == AppRouter::NewItem::note, newNote);
        QCOMPARE(shell.mainWindow().currentPage()->objectName(),
                 QStringLiteral("page-") + AppRouter::rawValue(destination));
    }

    // Attention wins over a pause, and a pause without rules is idle.
    void padlockStates_data()
    {
        QTest::addColumn<bool>("hasRules");
        QTest::addColumn<bool>("attention");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<IconState>("state");
        QTest::newRow("a pause without rules is idle") << false << false << true << IconState::idle;
        QTest::newRow("active") << true << false << false << IconState::active;
        QTest::newRow("paused") << true << false << true << IconState::paused;
        QTest::newRow("attention wins") << true << true << true << IconState::attention;
    }
    void padlockStates()
    {
        QFETCH(bool, hasRules);
        QFETCH(bool, attention);
        QFETCH(bool, paused);
        QFETCH(IconState, state);
        QCOMPARE(TrayIcon::state(hasRules, attention, paused), state);
    }

    void popoverStates_data()
    {
        QTest::addColumn<int>("open");
        QTest::addColumn<int>("done");
        QTest::addColumn<bool>("withRule");
        QTest::addColumn<QString>("card");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<bool>("banner");
        QTest::newRow("nothing today, no rules") << 0 << 0 << false << "emptyCard" << 0 << "" << true;
        QTest::newRow("all done") << 0 << 2 << true << "emptyCard" << 0 << "" << false;
        QTest::newRow("one priority") << 1 << 0 << true << "heroCard" << 0 << "" << false;
        QTest::newRow("four open, one done") << 4 << 1 << true << "heroCard" << 2 << "+ 1 more \u00b7 1 done" << false;
    }
    void popoverStates()
    {
        QFETCH(int, open);
        QFETCH(int, done);
        QFETCH(bool, withRule);
        QFETCH(QString, card);
        QFETCH(int, rows);
        QFETCH(QString, summary);
        QFETCH(bool, banner);
        ShellRig rig;
        rig.f.seed(withRule ? std::vector<BlockRule>{SeededStore::rule(QStringLiteral("news.example"))}
                            : std::vector<BlockRule>{});
        for (int i = 0; i < open + done; ++i)
            rig.f.addToday(QStringLiteral("To-do %1").arg(i), i >= open);
        Popover& popover = rig.make().popover();
        popover.refresh();
        QVERIFY(child<QWidget>(&popover, qPrintable(card)));
        QCOMPARE(bool(child<QWidget>(&popover, "addChip")), card == QStringLiteral("heroCard"));
        QCOMPARE(popover.findChildren<QWidget*>(QStringLiteral("followingRow")).size(), rows);
        auto* summaryButton = child<QAbstractButton>(&popover, "summary");
        QCOMPARE(summaryButton ? summaryButton->text() : QString(), summary);
        auto* bannerText = child<QLabel>(&popover, "bannerText");
        QCOMPARE(bannerText && !bannerText->text().isEmpty(), banner);
        // The banner's action is a plain button, as the footer is: never an underlined link.
        if (auto* action = child<FocusButton>(&popover, "bannerButton"))
            QVERIFY(!focusButtonLook(action->buttonStyle(), false).underline);
        if (summaryButton)
            QVERIFY(!focusButtonLook(static_cast<FocusButton*>(summaryButton)->buttonStyle(), false).underline);
        // The card's visible edges stand in the popover's column, as the footer's do.
        auto* frame = child<FocusCardFrame>(&popover, qPrintable(card));
        popover.show();
        const QRect visible = frame->cardRect().translated(frame->mapTo(&popover, QPoint()));
        QCOMPARE(visible.left(), child<QWidget>(&popover, "openMain")->mapTo(&popover, QPoint()).x());
        QCOMPARE(popover.rect().right() - visible.right(), visible.left());
    }

    void quickAdd_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("created");
        QTest::addColumn<QString>("title");
        QTest::newRow("blank stays open") << "   " << false << "";
        QTest::newRow("trimmed") << "  Call the bank \n" << true << "Call the bank";
        QTest::newRow("cut at 150 characters")
            << QString(200, QLatin1Char('x')) << true << QString(150, QLatin1Char('x'));
    }
    void quickAdd()
    {
        QFETCH(QString, typed);
        QFETCH(bool, created);
        QFETCH(QString, title);
        ShellRig rig;
        Popover& popover = rig.make().popover();
        popover.show();
        popover.beginAdding();
        auto* field = child<QLineEdit>(&popover, "quickAddField");
        QVERIFY(field);
        field->setText(typed);
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(popover.isAdding(), !created);
        QCOMPARE(rig.f.store->todos().todos().size(), size_t(created ? 1 : 0));
        if (created) {
            QCOMPARE(rig.f.store->todos().todos().front().title, title);
        } else {
            // Escape in the field cancels adding and leaves the popover open.
            QTest::keyClick(field, Qt::Key_Escape);
            QVERIFY(!popover.isAdding());
            QVERIFY(popover.isVisible());
        }
    }

    void padlockStandsOutOnALightPanel_data()
    {
        QTest::addColumn<IconState>("state");
        QTest::addColumn<int>("pixels");
        for (const int pixels : {16, 22, 44}) {
            QTest::addRow("idle, %d px", pixels) << IconState::idle << pixels;
            QTest::addRow("active, %d px", pixels) << IconState::active << pixels;
        }
    }
    void padlockStandsOutOnALightPanel()
    {
        // Over trayer's light grey, the outline is drawn in pixels of at least 4.5:1 contrast,
        // at least one and a half times around the icon's size; the idle padlock too.
        QFETCH(IconState, state);
        QFETCH(int, pixels);
        const QImage icon = TrayIcon::render(state, pixels);
        const QColor panel(0xdd, 0xdd, 0xdd);
        const auto luminance = [](const QColor& c) {
            const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
        };
        int strong = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x) {
                const QColor c = icon.pixelColor(x, y);
                const double a = c.alphaF();
                const QColor over =
                    QColor::fromRgbF(c.redF() * a + panel.redF() * (1 - a), c.greenF() * a + panel.greenF() * (1 - a),
                                     c.blueF() * a + panel.blueF() * (1 - a));
                strong += (luminance(panel) + 0.05) / (luminance(over) + 0.05) >= 4.5;
            }
        QVERIFY2(strong >= pixels * 3 / 2, qPrintable(QString::number(strong)));
    }

    void popoverFooterIsOnePlainButton()
    {
        // "Open Quillharbour" and its arrow are one target across the popover, not an underlined link.
        ShellRig rig;
        Popover& popover = rig.make().popover();
        popover.show();
        auto* open = child<QAbstractButton>(&popover, "openMain");
        QVERIFY(open);
        QCOMPARE(open->accessibleName(), QStringLiteral("Open Quillharbour"));
        QVERIFY(open->width() > popover.QWidget::width() * 3 / 4);
        for (QLabel* label : open->findChildren<QLabel*>())
            QVERIFY(!label->font().underline());
    }

    void popoverWaitsForTheTodos()
    {
        // Opened while the to-dos are read, the popover says so rather than show an empty day,
        // and offers no quick add that could not be kept; then it shows the to-do in focus. The
        // window's activation syncs only once they are in.
        std::optional<DataPreread> preread;
        ShellRig rig;
        rig.f.seed({});
        rig.f.addToday(QStringLiteral("First"));
        rig.f.file(TodoStore::fileName); // on disk
        preread.emplace(rig.f.dataPath());
        rig.f.makeReadingLater(*preread);
        Shell& shell = rig.make();
        // A sync now would take the to-dos not yet read for deleted ones.
        shell.syncAfterActivation();
        QCOMPARE(rig.syncs, 0);
        Popover& popover = shell.popover();
        popover.show();
        auto* loading = child<QLabel>(&popover, "todosLoading");
        QVERIFY(loading && loading->isVisible());
        QCOMPARE(loading->text(), QStringLiteral("Loading your to-dos…"));
        QVERIFY(!child<QWidget>(&popover, "emptyCard") && !child<QWidget>(&popover, "addChip"));
        rig.f.store->loadTodos();
        QTRY_VERIFY(child<QWidget>(&popover, "heroCard"));
        QVERIFY(!child<QLabel>(&popover, "todosLoading"));
        shell.syncAfterActivation();
        QCOMPARE(rig.syncs, 1);
    }

    void quickAddKeepsKeysTypedAtOnce()
    {
        // Space on "Add" and typing straight on: every key reaches the field, none waits for it.
        ShellRig rig;
        rig.f.seed({});
        rig.f.addToday(QStringLiteral("First"));
        Popover& popover = rig.make().popover();
        popover.show();
        popover.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&popover));
        auto* add = child<QWidget>(&popover, "addChip");
        QVERIFY(add);
        add->setFocus();
        QTest::keyClick(add, Qt::Key_Space);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("alpha beta"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QStringList titles;
        for (const TaskItem& t : rig.f.store->todos().todos())
            titles.append(t.title);
        titles.sort();
        QCOMPARE(titles, (QStringList{"First", "alpha beta"}));
    }

    // Notification taps and links open the window on their page; a link for a rule that no longer
    // exists shows the sheet that says so, and closing it ends the request.
    void notificationTapsAndLinks_data()
    {
        QTest::addColumn<QString>("identifier"); // a link, or a notification's identifier
        QTest::addColumn<Destination>("destination");
        QTest::addColumn<qint64>("showToday");
        QTest::newRow("urgent break over") << "urgent-break-ended-1" << Destination::block << qint64(0);
        QTest::newRow("to-do reminder") << "todo-reminder-5a6b" << Destination::todos << qint64(1);
        QTest::newRow("the note that it still runs, the page as left")
            << "window-closed" << Destination::settings << qint64(0);
        QTest::newRow("urgent break for a missing rule")
            << "quillharbour://urgent-break?rule=5a6b7c8d-1234-4cde-9f01-23456789abcd" << Destination::block
            << qint64(0);
    }
    void notificationTapsAndLinks()
    {
        QFETCH(QString, identifier);
        QFETCH(Destination, destination);
        QFETCH(qint64, showToday);
        ShellRig rig;
        Shell& shell = rig.make();
        rig.router.setDestination(Destination::settings);
        const bool link = identifier.startsWith(QStringLiteral("quillharbour:"));
        if (link)
            shell.handleLinks({identifier});
        else
            shell.handleNotificationResponse(identifier);
        QCOMPARE(rig.router.destination(), destination);
        QCOMPARE(rig.router.showTodayRequest(), showToday);
        QVERIFY(shell.mainWindow().isVisible());
        if (!link)
            return;
        // Over the window once it is on screen.
        QTRY_VERIFY(shell.mainWindow().currentSheet());
        QDialog* sheet = shell.mainWindow().currentSheet();
        QCOMPARE(sheet->objectName(), QStringLiteral("urgentBreakUnavailable"));
        QTest::keyClick(sheet, Qt::Key_Return);
        QVERIFY(!rig.router.urgentBreakRuleID());
    }

    void activationSyncsAtMostEveryThirtySeconds()
    {
        ShellRig rig;
        Shell& shell = rig.make();
        shell.syncAfterActivation();
        rig.f.clock.advance(20);
        shell.syncAfterActivation();
        QCOMPARE(rig.syncs, 1);
        rig.f.clock.advance(11);
        shell.syncAfterActivation();
        QCOMPARE(rig.syncs, 2);
    }

    // Quitting with something protected opens one quit window; its last step saves and ends the run.
    void approvedQuitSavesTheState()
    {
        ShellRig rig;
        rig.f.seed({SeededStore::rule(QStringLiteral("news.example"))});
        Shell& shell = rig.make();
        shell.mainWindow().show();
        shell.mainWindow().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&shell.mainWindow()));
        QFile::remove(rig.f.file(BlockingStore::stateFile));
        QTimer::singleShot(0, &shell, [&] {
            QTest::keyClick(&shell.mainWindow(), Qt::Key_Q, Qt::ControlModifier);
            QuitFlowWindow* window = QuitFlowWindow::current();
            QVERIFY(window);
            shell.commands().quit->trigger();
            QCOMPARE(QuitFlowWindow::current(), window);
            window->model().chooseReason(QuitReason::other);
            window->model().continueToReflect();
            window->model().startWait();
            rig.f.clock.advance(120);
            window->model().tick();
            QVERIFY(window->model().canQuit());
            QTest::mouseClick(child<QAbstractButton>(window, "quit"), Qt::LeftButton);
        });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(QFileInfo::exists(rig.f.file(BlockingStore::stateFile)));
    }

    // The onboarding and a granted cool-down cannot be dismissed; the system's quit still ends the run.
    void systemQuitPassesASheetThatCannotBeClosed()
    {
        class Stubborn : public QDialog {
        public:
            using QDialog::QDialog;
            void reject() override {}

        protected:
            void closeEvent(QCloseEvent* event) override { event->ignore(); }
        };
        ShellRig rig;
        Shell& shell = rig.make();
        shell.start();
        shell.mainWindow().presentSheet(new Stubborn);
        QTimer::singleShot(0, &shell, [&] { shell.systemQuit(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
