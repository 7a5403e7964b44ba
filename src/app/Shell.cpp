#include "app/Shell.h"

#include "app/MainWindow.h"
#include "app/Popover.h"
#include "app/ShellCommands.h"
#include "app/TrayIcon.h"
#include "blocking/BrowserAutomationService.h"
#include "files/Defaults.h"
#include "platform/NotificationCenter.h"
#include "platform/SelfInstall.h"
#include "platform/SystemTray.h"
#include "router/AppRouter.h"
#include "screens/quit/QuitFlowWindow.h"
#include "screens/todos/TodosView.h"
#include "store/StorageService.h"
#include "sync/SyncService.h"
#include "ui/ChoiceDialog.h"
#include "ui/InTurns.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

Shell::Shell(AppContext& context, const WindowScreens& screens, NotificationCenter* notifications, Options options,
             QObject* parent)
    : QObject(parent), m_context(context), m_notifications(notifications), m_options(options)
{
    // Closing the last window never quits: the program lives on in the tray.
    QApplication::setQuitOnLastWindowClosed(false);
    m_context.mainWindow = &m_opener;
    m_context.afterFirstFrame = [this](std::function<void()> work) { afterFirstFrame(std::move(work)); };
    m_context.hasTray = [this] { return m_hasTray.value_or(true); };

    m_gate = new QuitGate(
        m_context.storage, [this](std::function<void()> onQuit) { presentQuitWindow(std::move(onQuit)); },
        // exit(), not quit(): quit() first asks every window to close, and a sheet that may not be
        // dismissed (the onboarding, a running cool-down) would then cancel an approved quit.
        [] { QCoreApplication::exit(0); }, m_context.selfInstall, this);
    m_context.requestQuit = [this] { m_gate->request(); };

    m_commands = new ShellCommands(
        *m_context.router, m_opener, [this] { activate(); }, [this] { m_gate->request(); }, this);
    m_commands->useUpdater(m_context.updater);
    m_mainWindow = std::make_unique<MainWindow>(m_context, screens);
    m_commands->attach(m_mainWindow.get());

    m_opener.registerHandler([this] { showMainWindow(); });
    m_mainWindow->installEventFilter(this);

    if (notifications)
        connect(notifications, &NotificationCenter::activated, this, &Shell::handleNotificationResponse);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            syncAfterActivation();
    });
    // However the run ends, the blocking state is written once more, and no save is left on its
    // way to the disk.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (m_context.storage) {
            m_context.storage->blocking().saveState();
            m_context.storage->core().waitForWrites();
        }
    });
    // The window manager ending the session counts as the system quitting.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { systemQuit(); });
}

Shell::~Shell()
{
    if (QuitFlowWindow* window = QuitFlowWindow::current())
        delete window;
    delete m_tray;
}

void Shell::start()
{
    if (m_context.systemTray)
        connect(m_context.systemTray, &SystemTray::decided, this, &Shell::decideTray);
    // A normal start shows the window at once; only a login-item start waits to know about the tray.
    // The way there is taken a turn at a time: the faces the page draws with are loaded one by
    // one, then the page is built, then shown and drawn, each without holding up the others.
    if (!m_options.loginItem) {
        std::vector<std::function<void()>> steps;
        for (const QFont& face : startFaces())
            steps.emplace_back([face] { Theme::prime(face); });
        steps.emplace_back([this] {
            if (!m_mainWindow->isVisible())
                m_mainWindow->preparePage();
        });
        steps.emplace_back([this] { openMainWindowAfterLaunch(); });
        runInTurns(this, std::move(steps));
    }
    // Without a window to wait for, or a window that is never drawn (minimised at once, say), the
    // deferred work still runs promptly.
    QTimer::singleShot(m_options.loginItem ? 0 : firstFramePatienceMs, this, &Shell::passFirstFrame);
    // The tray icon follows the window's first frame; a login-item start looks for a tray at once.
    if (m_options.loginItem)
        watchTray();
    else
        afterFirstFrame([this] { watchTray(); });
}

void Shell::watchTray()
{
    if (m_context.systemTray)
        m_context.systemTray->watch(m_options.trayPatienceMs);
    else
        // Nothing to ask: no host is seen once the patience runs out.
        QTimer::singleShot(m_options.trayPatienceMs, this, [this] { decideTray(false); });
}

QList<QFont> Shell::todayStartFaces(bool todosLater)
{
    return Theme::distinctFaces(QList<QFont>{MainWindow::railFace()} + TodosView::firstFaces(todosLater));
}

QList<QFont> Shell::startFaces() const
{
    // The rail, and what the page shown first draws, each face first. Only those: a face loaded
    // stays in memory.
    QList<QFont> faces{MainWindow::railFace()};
    if (m_context.storage && m_context.router && m_context.router->destination() == AppRouter::Destination::todos)
        faces += TodosView::firstFaces(*m_context.storage);
    return Theme::distinctFaces(faces);
}

void Shell::afterFirstFrame(std::function<void()> work)
{
    if (m_firstFramePassed)
        work();
    else
        m_afterFirstFrame.push_back(std::move(work));
}

bool Shell::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_mainWindow.get()) {
        // The frame is on screen once this paint is flushed, which ends this turn of the event loop.
        if (event->type() == QEvent::Paint && !m_firstFramePassed)
            QTimer::singleShot(0, this, &Shell::passFirstFrame);
        // Looked at a turn later, once the window has taken or refused the close.
        if (event->type() == QEvent::Close)
            QTimer::singleShot(0, this, &Shell::mainWindowClosed);
    }
    return QObject::eventFilter(watched, event);
}

void Shell::mainWindowClosed()
{
    if (m_toldStillRunning || m_mainWindow->isVisible())
        return;
    if (!m_hasTray)
        m_closedBeforeTrayKnown = true; // said once the launch knows there is no tray
    else if (!*m_hasTray)
        tellStillRunning();
}

void Shell::tellStillRunning()
{
    m_toldStillRunning = true;
    if (!m_notifications || !m_context.storage)
        return;
    const StorageService& storage = *m_context.storage;
    m_notifications->add(
        stillRunningNotice(!storage.blocking().rules().empty() || storage.blocking().doomScrollConfig().isEnabled));
}

NotificationRequest Shell::stillRunningNotice(bool protects)
{
    NotificationRequest notice;
    notice.identifier = QStringLiteral("window-closed");
    notice.sound = false;
    if (protects) {
        notice.title = QStringLiteral("Quillharbour is still blocking");
        notice.body = QStringLiteral("Your blocked sites stay blocked while it runs. Open it again from the "
                                     "applications menu.");
    } else {
        notice.title = QStringLiteral("Quillharbour is still running");
        notice.body = QStringLiteral("Open it again from the applications menu.");
    }
    return notice;
}

void Shell::passFirstFrame()
{
    if (m_firstFramePassed)
        return;
    m_firstFramePassed = true;
    for (const std::function<void()>& work : std::exchange(m_afterFirstFrame, {}))
        work();
}

void Shell::decideTray(bool hostSeen)
{
    // Only now may Qt look: it decides once per process whether a tray exists.
    m_hasTray =
        m_options.trayAvailable ? *m_options.trayAvailable : hostSeen && QSystemTrayIcon::isSystemTrayAvailable();
    if (*m_hasTray) {
        if (m_context.systemTray)
            m_context.systemTray->listenForActivation();
        m_tray = new QSystemTrayIcon();
        m_tray->setObjectName(QStringLiteral("tray"));
        m_trayMenu = std::make_unique<QMenu>();
        m_commands->fillTrayMenu(*m_trayMenu);
        m_tray->setContextMenu(m_trayMenu.get());
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                openPopover();
        });
        StorageService* storage = m_context.storage;
        for (auto signal : {&BlockingStore::rulesChanged, &BlockingStore::stateChanged})
            connect(&storage->blocking(), signal, this, &Shell::updateTrayIcon);
        if (m_context.browsers)
            connect(m_context.browsers, &BrowserAutomationService::accessChanged, this, &Shell::updateTrayIcon);
        // A pause ends at one of the store's own deadlines, which changes its state: no timer here.
        updateTrayIcon();
        m_tray->show();
    } else if (m_options.loginItem) {
        // Without a tray a login-item start would be invisible: open the window after all.
        openMainWindowAfterLaunch();
    } else if (m_closedBeforeTrayKnown && !m_toldStillRunning && !m_mainWindow->isVisible()) {
        tellStillRunning();
    }
    emit trayDecided(*m_hasTray);
}

void Shell::updateTrayIcon()
{
    if (!m_tray)
        return;
    const StorageService& storage = *m_context.storage;
    const auto pausedUntil = storage.blocking().state().blockingPausedUntil;
    const bool isPaused = m_context.clock->now() < pausedUntil.value_or(0);
    const auto state = TrayIcon::state(!storage.blocking().rules().empty(),
                                       m_context.browsers && m_context.browsers->needsAttention(), isPaused);
    // Setting even the same icon makes the tray host draw it again.
    if (state == m_trayState)
        return;
    m_trayState = state;
    m_tray->setIcon(TrayIcon::icon(state));
    m_tray->setToolTip(TrayIcon::accessibleLabel(state));
}

Popover& Shell::popover()
{
    // Built when first opened: a start that never opens it spares its widgets, and a hidden one
    // would follow every store change for nothing.
    if (!m_popover) {
        m_popover = std::make_unique<Popover>(m_context, [this](AppRouter::Destination destination) {
            m_context.router->setDestination(destination);
            m_popover->hide();
            showMainWindow();
        });
        m_commands->attach(m_popover.get());
    }
    return *m_popover;
}

void Shell::openPopover()
{
    if (m_popover && m_popover->isVisible()) {
        m_popover->hide();
        return;
    }
    if (m_context.browsers)
        m_context.browsers->start();
    // An XEmbed tray says where the icon is; a StatusNotifierItem host says where it wants the popup.
    QRect tray = m_tray ? m_tray->geometry() : QRect();
    if (const auto point = m_context.systemTray ? m_context.systemTray->takeActivation() : std::nullopt;
        point && tray.isEmpty())
        tray = QRect(*point, QSize(1, 1));
    popover().popUp(tray);
}

void Shell::openMainWindowAfterLaunch()
{
    m_opener.request();
    activate();
    if (m_options.offerMove && m_context.defaults &&
        m_context.defaults->boolean(MainWindow::onboardingCompletedKey).value_or(false) && m_context.selfInstall &&
        m_context.selfInstall->shouldOfferMove()) {
        // Once the window is on screen, so that the question opens over it and takes the keyboard.
        afterFirstFrame([this] { QTimer::singleShot(0, this, &Shell::offerInstall); });
    }
}

int Shell::askToInstall(QWidget* owner)
{
    ChoiceDialog dialog(QStringLiteral("Install Quillharbour?"),
                        QStringLiteral("It's running from the download right now. Installed, it's in your "
                                       "applications menu and the block page's buttons open it."),
                        {{QStringLiteral("Install")}, {QStringLiteral("Not Now"), ChoiceDialog::Role::cancel}}, owner,
                        ChoiceDialog::Look::alert);
    dialog.exec();
    return dialog.chosen();
}

void Shell::offerInstall()
{
    if (askToInstall(m_mainWindow.get()) != 0)
        return;
    QString error;
    if (!m_context.selfInstall || !m_context.selfInstall->moveAndRelaunch([this] { m_gate->request(); }, &error))
        ChoiceDialog::ask(QStringLiteral("Install Quillharbour"),
                          QStringLiteral("Couldn't install it. Quit Quillharbour, then copy it from the download "
                                         "into ~/.local/bin."),
                          {QStringLiteral("OK")}, m_mainWindow.get());
}

void Shell::showMainWindow()
{
    if (BrowserAutomationService* browsers = m_context.browsers)
        afterFirstFrame([browsers] { browsers->start(); });
    if (m_mainWindow->windowState() & Qt::WindowMinimized)
        m_mainWindow->setWindowState(m_mainWindow->windowState() & ~Qt::WindowMinimized);
    m_mainWindow->show();
    m_mainWindow->raise();
    // The window's own sheet (the onboarding, say) keeps the keyboard; the window under it takes none.
    if (!m_mainWindow->bringSheetForward())
        m_mainWindow->activateWindow();
}

void Shell::activate()
{
    if (m_mainWindow->bringSheetForward())
        return;
    if (QWidget* window = QApplication::activeModalWidget())
        window->activateWindow();
    else if (m_mainWindow->isVisible())
        m_mainWindow->activateWindow();
}

void Shell::handleLinks(const QStringList& links)
{
    if (links.isEmpty()) {
        showMainWindow();
        return;
    }
    for (const QString& link : links) {
        // As text: QUrl would lower-case the host.
        m_context.router->handle(link);
        m_opener.request();
        activate();
    }
}

void Shell::handleNotificationResponse(const QString& identifier)
{
    // The note that the program still runs opens the window as it was left.
    if (identifier == stillRunningNotice(false).identifier) {
        showMainWindow();
        return;
    }
    AppRouter* router = m_context.router;
    if (!router)
        return;
    if (identifier.startsWith(QLatin1String("urgent-break-ended-"))) {
        router->setDestination(AppRouter::Destination::block);
        m_opener.request();
        activate();
        return;
    }
    router->setDestination(AppRouter::Destination::todos);
    m_opener.request();
    activate();
    router->requestShowToday();
}

void Shell::syncAfterActivation()
{
    // To-dos still being read would look deleted to the sync; it runs once they are in.
    if (m_context.storage && !m_context.storage->todosLoaded())
        return;
    const double now = m_context.monotonic->seconds();
    if (m_lastActivationSync && now - *m_lastActivationSync <= activationSyncSpacing)
        return;
    m_lastActivationSync = now;
    if (m_options.activationSync)
        m_options.activationSync();
    else if (m_context.sync)
        m_context.sync->syncNow();
}

void Shell::systemQuit()
{
    m_gate->approve();
    m_gate->request(QuitGate::Origin::system);
}

void Shell::presentQuitWindow(std::function<void()> onQuit)
{
    QuitFlowWindow::Hooks hooks;
    hooks.storage = m_context.storage;
    hooks.router = m_context.router;
    hooks.opener = &m_opener;
    hooks.clock = m_context.monotonic;
    hooks.mainWindow = [this]() -> QWidget* { return m_mainWindow.get(); };
    QuitFlowWindow* window = QuitFlowWindow::show(hooks, std::move(onQuit));
    m_commands->attach(window);
}
