#include "OfflineSiteIcons.h"
#include "app/SeededStore.h"
#include "router/AppRouter.h"
#include "router/MainWindowOpener.h"
#include "screens/quit/QuitFlowWindow.h"
#include "ui/ReturnKey.h"
#include "ui/SiteIconView.h"
#include "ui/WindowFit.h"

#include "ui/ReturnKey.h"
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QWindow>

#include <QAccessible>
#include <QtTest>

using Step = QuitFlowModel::Step;

namespace {

std::vector<QuitSite> named(const QStringList& names)
{
    std::vector<QuitSite> sites;
    for (const QString& name : names)
        sites.push_back({name.toLower() + QStringLiteral(".example"), name});
    return sites;
}

} // namespace

// The quit window: what it says, its two-minute wait, and that it exists at most once.
class TestQuitFlow : public QObject {
    Q_OBJECT

    struct Rig {
        SeededStore f;
        AppRouter router;
        MainWindowOpener opener;
        QWidget main;
        int quits = 0;
        Rig()
        {
            main.setWindowTitle(QStringLiteral("Quillharbour"));
            f.seed({SeededStore::rule(QStringLiteral("news.example"))});
        }
        QuitFlowWindow* open(bool withRouter = true)
        {
            QuitFlowWindow::Hooks h;
            h.storage = f.store.get();
            h.router = withRouter ? &router : nullptr;
            h.opener = &opener;
            h.clock = &f.bootClock;
            h.mainWindow = [this] { return &main; };
            return QuitFlowWindow::show(h, [this] { ++quits; });
        }
        ~Rig()
        {
            if (QuitFlowWindow* w = QuitFlowWindow::current())
                w->close();
        }
    };

    template <typename T> static T* child(QWidget* w, const char* name)
    {
        QCoreApplication::sendPostedEvents(); // lays out what the last click changed
        return w->findChild<T*>(QString::fromLatin1(name));
    }

private slots:
    void initTestCase()
    {
        useOfflineSiteIcons();
        ReturnKey::install(*qApp);
    }
    void blockedSitesPhrase_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("phrase");
        QTest::newRow("none") << QStringList() << "blocked sites";
        QTest::newRow("one") << QStringList{"A"} << "A";
        QTest::newRow("three, as the locale joins them") << QStringList{"A", "B", "C"} << "A, B, and C";
        QTest::newRow("four") << QStringList{"A", "B", "C", "D"} << "A, B and 2 more sites";
    }
    void blockedSitesPhrase()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, phrase);
        QCOMPARE(QuitFlowModel::blockedSitesPhrase(named(names)), phrase);
    }

    // The verb agrees with what the phrase names: one site opens, several sites (or "blocked sites") open.
    void closedAppText_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("sentence");
        const QString tail = QStringLiteral(" freely on this computer, until you open the app again.");
        QTest::newRow("none") << QStringList() << "While Quillharbour is closed, blocked sites open" + tail;
        QTest::newRow("one") << QStringList{"quill-site.test"}
                             << "While Quillharbour is closed, quill-site.test opens" + tail;
        QTest::newRow("two") << QStringList{"A", "B"} << "While Quillharbour is closed, A and B open" + tail;
        QTest::newRow("four") << QStringList{"A", "B", "C", "D"}
                              << "While Quillharbour is closed, A, B and 2 more sites open" + tail;
    }
    void closedAppText()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, sentence);
        QCOMPARE(QuitFlowModel::closedAppText(named(names)), sentence);
    }

    // Centred across the window it belongs to, a third of the spare height above, never off the
    // available area.
    void overParent_data()
    {
        QTest::addColumn<QRect>("parent");
        QTest::addColumn<QPoint>("expected");
        const QRect screen(0, 0, 1280, 720);
        QTest::newRow("centred, a third above") << QRect(100, 40, 880, 660) << QPoint(300, 50);
        QTest::newRow("shorter than the window") << QRect(200, 100, 600, 300) << QPoint(260, 90);
        QTest::newRow("near the right edge") << QRect(1000, 0, 400, 720) << QPoint(800, 30);
        QTest::newRow("above the top") << QRect(0, -300, 880, 700) << QPoint(200, 0);
    }
    void overParent()
    {
        QFETCH(QRect, parent);
        QFETCH(QPoint, expected);
        QCOMPARE(WindowFit::overParent(parent, QSize(480, 630), QRect(0, 0, 1280, 720)), expected);
    }

    // The window manager is told which window the quit window belongs to: the main window when it
    // is shown, the sheet over it when one is (the sheet would otherwise block it), none when no
    // window is shown.
    void belongsToTheWindowShown_data()
    {
        QTest::addColumn<bool>("mainShown");
        QTest::addColumn<bool>("sheet");
        QTest::newRow("main window shown") << true << false;
        QTest::newRow("a sheet over it") << true << true;
        QTest::newRow("no window shown") << false << false;
    }
    void belongsToTheWindowShown()
    {
        QFETCH(bool, mainShown);
        QFETCH(bool, sheet);
        Rig rig;
        rig.main.setGeometry(100, 60, 900, 660);
        if (mainShown) {
            rig.main.show();
            QVERIFY(QTest::qWaitForWindowExposed(&rig.main));
        }
        QDialog over(&rig.main);
        if (sheet) {
            over.setWindowModality(Qt::WindowModal);
            over.open();
            QVERIFY(QTest::qWaitForWindowExposed(&over));
        }
        QuitFlowWindow* window = rig.open();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->parentWidget(), nullptr); // never taken down with the main window
        QCOMPARE(window->windowType(), Qt::Dialog);
        const QWindow* owner = !mainShown ? nullptr : sheet ? over.windowHandle() : rig.main.windowHandle();
        QCOMPARE(window->windowHandle()->transientParent(), owner);
        if (mainShown && !sheet)
            QCOMPARE(window->pos(),
                     WindowFit::overParent(rig.main.frameGeometry(), window->size(), WindowFit::availableArea(window)));
        // Escape keeps the program running and closes the window.
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(!QuitFlowWindow::current());
        QCOMPARE(rig.quits, 0);
    }

    // What the window shows is that sentence, for the store's one rule.
    void reasonStepNamesTheOneSiteWithASingularVerb()
    {
        Rig rig;
        QuitFlowWindow* window = rig.open();
        QCOMPARE(child<QLabel>(window, "reasonBody")->text(),
                 QStringLiteral("While Quillharbour is closed, Hacker News opens freely on this computer, until you "
                                "open the app again."));
    }

    void sitesOpeningOnQuit_data()
    {
        QTest::addColumn<bool>("doomOn");
        QTest::addColumn<QStringList>("doomDomains");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("doom-scroll off") << false << QStringList{"feed.example"} << QStringList{"news.example"};
        QTest::newRow("same domain once")
            << true << QStringList{"news.example", "feed.example"} << QStringList{"news.example", "feed.example"};
        QTest::newRow("letter case differs")
            << true << QStringList{"News.example"} << QStringList{"news.example", "News.example"};
    }
    void sitesOpeningOnQuit()
    {
        QFETCH(bool, doomOn);
        QFETCH(QStringList, doomDomains);
        QFETCH(QStringList, expected);
        SeededStore f;
        StorageService& store = f.seed({SeededStore::rule(QStringLiteral("news.example"), QStringLiteral("News"))},
                                       doomOn, {}, doomDomains);
        QStringList domains;
        for (const QuitSite& site : QuitFlowModel::sitesOpeningOnQuit(store))
            domains.append(site.domain);
        QCOMPARE(domains, expected);
        QCOMPARE(QuitFlowModel::sitesOpeningOnQuit(store).front().name, QStringLiteral("News"));
    }

    // The wait runs on the boot clock: setting the wall clock forward does not shorten it.
    void waitCountsDownOnTheMonotonicClock()
    {
        Rig rig;
        QuitFlowWindow* window = rig.open();
        QuitFlowModel& model = window->model();
        auto quit = [&] { return child<QAbstractButton>(window, "quit"); };
        QVERIFY(!child<QAbstractButton>(window, "continue")->isEnabled());
        // Return on a reason chooses it, as Space and a click do.
        QApplication::setActiveWindow(window);
        child<QAbstractButton>(window, "reason-2")->setFocus(Qt::TabFocusReason);
        QTest::keyClick(child<QAbstractButton>(window, "reason-2"), Qt::Key_Return);
        QVERIFY(model.reason().has_value());
        QCOMPARE(QAccessible::queryAccessibleInterface(child<QAbstractButton>(window, "reason-2"))->role(),
                 QAccessible::RadioButton);
        // Each new step starts with the keyboard on one of its controls.
        const auto focusInStep = [&] {
            QWidget* focused = window->focusWidget();
            return focused && focused->isVisibleTo(window) && qobject_cast<QAbstractButton*>(focused);
        };
        QTest::mouseClick(child<QAbstractButton>(window, "reason-3"), Qt::LeftButton);
        QVERIFY(!child<QWidget>(window, "alternativeCard")->isVisibleTo(window));
        QTest::mouseClick(child<QAbstractButton>(window, "continue"), Qt::LeftButton);
        QCOMPARE(model.step(), Step::reflect);
        QTRY_VERIFY(focusInStep());
        // The sites that would open show as their icons (their letters until an icon is known).
        QStringList iconDomains;
        for (const SiteIconView* icon : window->findChildren<SiteIconView*>())
            iconDomains << icon->domain();
        QCOMPARE(iconDomains, QStringList{QStringLiteral("news.example")});
        QTest::mouseClick(child<QAbstractButton>(window, "stillQuit"), Qt::LeftButton);
        QCOMPARE(model.step(), Step::wait);
        QTRY_VERIFY(focusInStep());
        QVERIFY(!quit()->isEnabled());
        QCOMPARE(quit()->text(), QStringLiteral("Quit in 2:00"));

        rig.f.changeWallClock(3600);
        model.tick();
        QCOMPARE(model.secondsRemaining(), 120);
        rig.f.clock.advance(0.8);
        model.tick();
        QCOMPARE(model.secondsRemaining(), 120);
        rig.f.clock.advance(119.0);
        model.tick();
        QCOMPARE(model.secondsRemaining(), 1);
        QCOMPARE(quit()->text(), QStringLiteral("Quit in 0:01"));
        QVERIFY(!quit()->isEnabled());
        QTest::mouseClick(quit(), Qt::LeftButton);
        QCOMPARE(rig.quits, 0);
        rig.f.clock.advance(0.2);
        model.tick();
        QCOMPARE(quit()->text(), QStringLiteral("Quit Quillharbour"));
        QTest::mouseClick(quit(), Qt::LeftButton);
        QCOMPARE(rig.quits, 1);
        QVERIFY(!QuitFlowWindow::current());
    }

    // A second request brings the same window forward with its state; a closed one is forgotten.
    void oneQuitWindowAtMost()
    {
        Rig rig;
        QuitFlowWindow* first = rig.open();
        first->model().chooseReason(QuitReason::other);
        QCOMPARE(rig.open(), first);
        QCOMPARE(first->model().reason(), std::optional<QuitReason>(QuitReason::other));
        QTest::keyClick(first, Qt::Key_Escape);
        QVERIFY(!QuitFlowWindow::current());
        QuitFlowWindow* second = rig.open();
        QVERIFY(second != first);
        QVERIFY(!second->model().reason());
        QCOMPARE(rig.quits, 0);
    }

    void alternatives_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("withRouter");
        QTest::addColumn<bool>("mainClosed");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<AppRouter::Destination>("destination");
        QTest::newRow("close the window")
            << int(QuitReason::windowInTheWay) << true << true << false << AppRouter::Destination::todos;
        QTest::newRow("urgent break, opener not yet registered")
            << int(QuitReason::needASite) << true << false << true << AppRouter::Destination::block;
        QTest::newRow("urgent break without a router")
            << int(QuitReason::needASite) << false << false << false << AppRouter::Destination::todos;
    }
    void alternatives()
    {
        QFETCH(int, reason);
        QFETCH(bool, withRouter);
        QFETCH(bool, mainClosed);
        QFETCH(bool, pending);
        QFETCH(AppRouter::Destination, destination);
        Rig rig;
        rig.main.show();
        // A window with the same title is not the main window and stays.
        QWidget lookalike;
        lookalike.setWindowTitle(QStringLiteral("Quillharbour"));
        lookalike.show();
        QuitFlowWindow* window = rig.open(withRouter);
        QTest::mouseClick(child<QAbstractButton>(window, qPrintable(QStringLiteral("reason-%1").arg(reason))),
                          Qt::LeftButton);
        QTest::mouseClick(child<QAbstractButton>(window, "alternative"), Qt::LeftButton);
        QVERIFY(!QuitFlowWindow::current());
        QCOMPARE(rig.main.isVisible(), !mainClosed);
        QVERIFY(lookalike.isVisible());
        QCOMPARE(rig.opener.isPending(), pending);
        QCOMPARE(rig.router.destination(), destination);
        // The Block page is told that a break was asked for, to offer it or say where it is.
        QCOMPARE(rig.router.takeUrgentBreakChoice(), withRouter && reason == int(QuitReason::needASite));
        QCOMPARE(rig.quits, 0);
    }
};

QTEST_MAIN(TestQuitFlow)
#include "tst_quit_flow.moc"
