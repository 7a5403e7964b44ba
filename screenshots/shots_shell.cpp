#include "OfflineSiteIcons.h"
#include "Screenshots.h"
#include "SeededStore.h"
#include "app/MainWindow.h"
#include "app/Popover.h"
#include "app/Screens.h"
#include "app/TrayIcon.h"
#include "router/AppRouter.h"
#include "screens/quit/QuitFlowWindow.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>

// The main window, the tray popover and padlocks, and the three steps of the quit window.
int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    useOfflineSiteIcons();
    Screenshots::folder();

    SeededStore f;
    f.seed({SeededStore::rule(QStringLiteral("instagram.com"), QStringLiteral("Instagram")),
            SeededStore::rule(QStringLiteral("youtube.com"), QStringLiteral("YouTube")),
            SeededStore::rule(QStringLiteral("news.ycombinator.com"), QStringLiteral("Hacker News"))},
           true, f.clock.now() + 1800, {QStringLiteral("reddit.com")});
    f.addToday(QStringLiteral("Draft the quarterly report"));
    f.addToday(QStringLiteral("Call the dentist"));
    f.addToday(QStringLiteral("Review Anna's pull request"));
    f.addToday(QStringLiteral("Book train tickets"));
    f.addToday(QStringLiteral("Water the plants"), true);
    f.defaults.set(MainWindow::onboardingCompletedKey, true);

    AppRouter router;
    AppContext context = f.context(&router);

    MainWindow window(context, programScreens());
    Screenshots::save(&window, QStringLiteral("shell-main-window"), QSize(1240, 800));
    // What a 1280 by 720 screen leaves for it under a window manager's title bar.
    Screenshots::save(&window, QStringLiteral("shell-main-window-1280x720"), QSize(1240, 684));
    router.setDestination(AppRouter::Destination::settings);
    Screenshots::save(&window, QStringLiteral("shell-main-window-settings"), QSize(1240, 800));

    Popover popover(context, [](AppRouter::Destination) {});
    popover.refresh();
    Screenshots::save(&popover, QStringLiteral("shell-popover"));
    popover.hide();
    popover.beginAdding();
    Screenshots::save(&popover, QStringLiteral("shell-popover-adding"));

    QWidget icons;
    auto* row = new QHBoxLayout(&icons);
    for (const auto state :
         {TrayIcon::State::idle, TrayIcon::State::active, TrayIcon::State::paused, TrayIcon::State::attention}) {
        for (const QColor& panel : {QColor(0x2b, 0x2b, 0x2b), QColor(0xe8, 0xe8, 0xe8)}) {
            auto* tile = new QLabel;
            tile->setPixmap(QPixmap::fromImage(TrayIcon::render(state, 48)));
            tile->setFixedSize(40, 40);
            tile->setScaledContents(false);
            tile->setAlignment(Qt::AlignCenter);
            tile->setStyleSheet(QStringLiteral("background: %1;").arg(panel.name()));
            row->addWidget(tile);
        }
    }
    Screenshots::save(&icons, QStringLiteral("shell-tray-padlocks"));

    QuitFlowWindow::Hooks hooks;
    hooks.storage = f.store.get();
    hooks.router = &router;
    hooks.clock = &f.bootClock;
    QuitFlowWindow* quit = QuitFlowWindow::show(hooks, [] {});
    quit->model().chooseReason(QuitReason::windowInTheWay);
    Screenshots::save(quit, QStringLiteral("shell-quit-1-reason-window"), QSize(480, 630));
    quit->model().chooseReason(QuitReason::needASite);
    Screenshots::save(quit, QStringLiteral("shell-quit-1-reason"), QSize(480, 630));
    quit->model().continueToReflect();
    Screenshots::save(quit, QStringLiteral("shell-quit-2-reflect"), QSize(480, 630));
    quit->model().startWait();
    f.clock.advance(47);
    quit->model().tick();
    Screenshots::save(quit, QStringLiteral("shell-quit-3-wait"), QSize(480, 630));
    return Screenshots::exitCode();
}
