#include "app/Application.h"

#include "app/Screens.h"
#include "app/Shell.h"
#include "blocking/BlockingCore.h"
#include "blocking/LocalBlockPageServer.h"
#include "files/Defaults.h"
#include "files/FileSafety.h"
#include "linux/AppUpdater.h"
#include "linux/AutomationHelp.h"
#include "linux/DevToolsTabReturn.h"
#include "linux/FontCatalogPreload.h"
#include "linux/FreedesktopNotifications.h"
#include "linux/LaunchAtLoginService.h"
#include "linux/LinuxDesktop.h"
#include "linux/LinuxSessionEnd.h"
#include "linux/LinuxSystemEvents.h"
#include "linux/NotificationSettings.h"
#include "linux/ReducedMotion.h"
#include "linux/SingleInstance.h"
#include "linux/UrlHandler.h"
#include "linux/UserInstaller.h"
#include "linux/WindowServices.h"
#include "model/Calendar.h"
#include "model/FileStore.h"
#include "router/AppRouter.h"
#include "store/DataPreread.h"
#include "store/StorageService.h"
#include "sync/RecordStoreConfig.h"
#include "sync/SyncService.h"
#include "ui/ChoiceDialog.h"
#include "ui/Motion.h"
#include "ui/Sheet.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QIcon>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTextStream>
#include <QThreadPool>
#include <future>
#include <limits>
#include <mutex>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

// The block page's 256-pixel icon, scaled down smoothly. Every window, each sheet among them,
// hands its icon to the display server in all the sizes it has, and the window manager reads them
// all: the full picture made each new window send and fetch a quarter of a megabyte. Title bars,
// panels and window switchers draw 16 to 64 pixels; launchers draw the installed icon.
static QIcon programIcon()
{
    Q_INIT_RESOURCE(windowicon);
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64})
        icon.addFile(QStringLiteral(":/window-icon/%1.png").arg(side), QSize(side, side));
    return icon;
}

namespace {

// How long quitting waits for the browsers to send block-page tabs back to their sites.
constexpr int quitReturnMs = 1000;
// The most an empty to-dos list takes as the program writes it ("[]", with room for spacing).
constexpr qint64 emptyListBytes = 16;

int signalPipe[2] = {-1, -1};

// Holds the decoding of the to-dos until the window's first frame: the threads that decode a
// long list would take processors and memory from the window's start.
struct DecodeGate {
    std::promise<void> opened;
    std::shared_future<void> open = opened.get_future().share();
    std::once_flag once;
    void release()
    {
        std::call_once(once, [this] { opened.set_value(); });
    }
};

void onSignal(int number)
{
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP (a closed terminal, some session managers) end the run through the
// event loop, so the note being typed and the blocking state are saved on the way out.
void quitOnSignals(QCoreApplication& app, Shell*& shell)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, &shell] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        if (shell)
            shell->systemQuit();
        else
            app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// Another copy runs for this data folder: the links went to it. A copy of another program file
// says why this one closes, since two would fight over blocking; only then is the look applied
// (`beforeAsking`), so a link handed on costs no more than it must.
void tellOtherCopyRuns(const SingleInstance::Claim& claim, const std::function<void()>& beforeAsking)
{
    if (!claim.error.isEmpty())
        QTextStream(stderr) << claim.error << Qt::endl;
    const QString mine = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString theirs = QFileInfo(claim.otherExecutable).canonicalFilePath();
    if (theirs.isEmpty() || mine == theirs)
        return;
    beforeAsking();
    ChoiceDialog::ask(QStringLiteral("Quillharbour is already running"),
                      QStringLiteral("Another copy of Quillharbour is open (%1). Two copies would fight over "
                                     "website blocking, so this one will close. Quit the other copy first if you "
                                     "meant to run this one.")
                          .arg(claim.otherExecutable),
                      {QStringLiteral("OK")});
}

} // namespace

Application::Arguments Application::parse(const QStringList& arguments)
{
    Arguments parsed;
    for (const QString& argument : arguments) {
        if (argument == LaunchAtLoginService::loginItemArgument)
            parsed.loginItem = true;
        else if (argument.startsWith(QLatin1String("quillharbour:"), Qt::CaseInsensitive))
            parsed.links.append(argument);
    }
    return parsed;
}

int Application::run(int argc, char* argv[])
{
    // The to-dos, notes and preferences, and the fonts' catalogue, are read while the toolkit
    // starts.
    // The ids the sync knows in the record store: a file of their own beside the preferences.
    const QString knownIdsPath =
        QFileInfo(Defaults::defaultPath()).dir().filePath(QStringLiteral("sync-known-ids.json"));
    DecodeGate gate;
    DataPreread preread(FileStore::defaultFolderPath(), {Defaults::defaultPath(), knownIdsPath},
                        [open = gate.open] { open.wait(); });
    const auto releaseOnReturn = qScopeGuard([&gate] { gate.release(); });
    FontCatalogPreload fontCatalog;
    Theme::prepareApplication();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillharbour"));
    // The toolkit fills and blends large areas (a sheet's page, the dimming under it) on the
    // shared pool's threads and waits for them. Threads that ended after half a minute idle were
    // started again on the next such frame, which then took 2-3 ms longer; kept, they sleep.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    // The desktop entry the desktops find the program's icon and name in: under Wayland the
    // windows carry this name and nothing else of the program's.
    QGuiApplication::setDesktopFileName(QFileInfo(UserInstaller::entryName).completeBaseName());
    // The display and both buses are connected to beside the theme's start: each takes round
    // trips to a server that answers when it gets to it. The system bus tells of sleep and of
    // time changes.
    std::future<std::shared_ptr<X11Display::Opened>> displayOpening = std::async(std::launch::async, &X11Display::open);
    std::future<void> busesConnecting = std::async(std::launch::async, [] {
        QDBusConnection::sessionBus();
        QDBusConnection::systemBus();
    });
    // Until the shell exists a signal quits the loop; from then on it quits as the system would.
    Shell* shell = nullptr;
    quitOnSignals(app, shell);
    const Arguments arguments = parse(QCoreApplication::arguments().mid(1));

    // One running copy per data folder, decided before any data is used or port bound.
    const QString dataFolder = FileStore::defaultFolderPath();
    QString folderError;
    const std::optional<QString> instanceFolder = SingleInstance::privateFolder(&folderError);
    if (!instanceFolder) {
        QTextStream(stderr) << folderError << Qt::endl;
        return 1;
    }
    SingleInstance single(dataFolder, *instanceFolder);
    const SingleInstance::Claim claim = single.claim(arguments.links, QCoreApplication::applicationFilePath());
    if (claim.role == SingleInstance::Role::unreachable) {
        QTextStream(stderr) << claim.error << Qt::endl;
        return 1;
    }
    const auto applyTheme = [&] {
        fontCatalog.wait();
        Theme::apply(app);
    };
    if (claim.role == SingleInstance::Role::forwarded) {
        tellOtherCopyRuns(claim, applyTheme);
        return 0;
    }
    if (!claim.error.isEmpty())
        QTextStream(stderr) << "Quillharbour cannot hear later starts: " << claim.error << Qt::endl;
    applyTheme();
    busesConnecting.wait();
    ReducedMotion::watch(QDBusConnection::sessionBus(), &app, [](bool reduced) { Motion::setReduced(reduced); });

    Launch launch{arguments, preread, single, dataFolder, knownIdsPath, displayOpening};
    Foundation foundation(launch);
    if (!foundation.storage.core().fatalError().isEmpty()) {
        QTextStream(stderr) << "Quillharbour cannot keep your data: " << foundation.storage.core().fatalError() << "\n";
        return 1;
    }
    Application application(foundation, launch);
    shell = &application.m_shell;
    application.m_shell.afterFirstFrame([&gate] { gate.release(); });
    const int code = application.exec();
    shell = nullptr;
    return code;
}

Application::Foundation::Foundation(Launch& launch)
    : clock(SystemClock::instance()), calendar([] { return Calendar::current(); }),
      defaults(Defaults::defaultPath(), launch.preread.takeDefaults(Defaults::defaultPath())), events(clock, calendar),
      notifications(QDBusConnection::sessionBus(), pendingNotificationsFile(launch.dataFolder), clock, calendar,
                    &watchingDrift()),
      // The desktop and the browsers' routes come first: they need no data, and the to-dos are
      // still being read meanwhile.
      desktop(launch.display.get()), browsers(desktop), storage(std::nullopt, storageEnvironment(launch))
{
    if (!storage.core().fatalError().isEmpty())
        return;
    // Until the interface shows them, problems with the data files go to standard error.
    QObject::connect(&storage.core(), &StoreCore::problemReported, [](const QString& path, const QString& message) {
        QTextStream(stderr) << "Quillharbour: " << path << ": " << message << Qt::endl;
    });
    notifications.setPendingFile(storage.core().fileStore().filePath(QStringLiteral("pending-notifications.json")));
}

QString Application::Foundation::pendingNotificationsFile(const QString& folder)
{
    // Private from the moment it exists: the store would make it 0700 only after this.
    FileSafety::makeFolder(folder);
    return QDir(folder).filePath(QStringLiteral("pending-notifications.json"));
}

LinuxSystemEvents& Application::Foundation::watchingDrift()
{
    events.watchDrift(SystemMonotonicClock::instance());
    return events;
}

StorageEnvironment Application::Foundation::storageEnvironment(const Launch& launch)
{
    // A file of more than an empty list is taken to hold to-dos: the window shows while they are
    // read, and they come in after its first frame. The faces that frame draws are loaded while
    // the reading goes on; a wrong guess costs a few faces in memory, never a face missing.
    const bool todosLater = launch.preread.todosFileSize() > emptyListBytes;
    if (!launch.arguments.loginItem && launch.arguments.links.isEmpty())
        for (const QFont& face : Shell::todayStartFaces(todosLater))
            Theme::prime(face);
    StorageEnvironment environment;
    environment.todosLater = todosLater;
    environment.clock = &clock;
    environment.calendar = calendar;
    environment.defaults = &defaults;
    environment.notifications = &notifications;
    environment.events = &events;
    environment.preread = &launch.preread;
    return environment;
}

Application::Application(Foundation& foundation, Launch& launch)
    : m_foundation(foundation), m_arguments(launch.arguments), m_single(launch.single), m_recordStore(recordStore()),
      m_knownIds(launch.knownIdsPath, launch.preread.takeDefaults(launch.knownIdsPath)),
      m_cloudSync(&foundation.storage, foundation.defaults, syncEnvironment()), m_blockPageServer(&foundation.storage),
      m_blocking(foundation.storage, foundation.defaults, {foundation.clock, foundation.calendar, nullptr},
                 {foundation.browsers.workspace, foundation.desktop.idleTime, foundation.desktop.screen},
                 m_blockPageServer, foundation.browsers.executor,
                 {&foundation.browsers.interceptor, &foundation.browsers.extensions, &foundation.browsers,
                  &AutomationHelp::pageUrl}),
      m_context(shellContext()),
      m_shell(m_context, programScreens(), &foundation.notifications, shellOptions(launch.arguments))
{
    returnTabsOnQuit();
    QObject::connect(&m_sessionEnd, &LinuxSessionEnd::shuttingDown, &m_shell, &Shell::systemQuit);
    QObject::connect(&m_single, &SingleInstance::messageReceived, &m_shell, &Shell::handleLinks);
    for (const QString& link : m_arguments.links)
        m_router.handle(link); // as text: QUrl would lower-case the host
    // The to-dos read meanwhile come in once the window is on screen; the sync compares them with
    // the record store's, so it hears of the store only once they are whole.
    StorageService& storage = foundation.storage;
    QObject::connect(&storage, &StorageService::todosRead, &m_shell,
                     [this, &storage] { m_shell.afterFirstFrame([&storage] { storage.loadTodos(); }); });
    QObject::connect(&storage, &StorageService::todosCameIn, &m_shell, [this] { startSync(); });
}

void Application::startSync()
{
    m_foundation.storage.core().setCloudSync(&m_cloudSync);
    m_cloudSync.start();
}

std::unique_ptr<RecordStore> Application::recordStore()
{
    QString error;
    std::unique_ptr<RecordStore> store =
        openRecordStore(RecordStoreChoice::fromSettings(m_foundation.defaults), &error);
    if (!store)
        QTextStream(stderr) << "Sync is off: " << error << Qt::endl;
    return store;
}

SyncEnvironment Application::syncEnvironment()
{
    SyncEnvironment environment{m_recordStore.get(), &m_foundation.clock, m_foundation.calendar, &m_foundation.events};
    environment.knownIds = &m_knownIds;
    environment.sinceLastInputMs = [this]() -> qint64 {
        return m_lastInput.sinceMs().value_or(std::numeric_limits<qint64>::max());
    };
    return environment;
}

Shell::Options Application::shellOptions(const Arguments& arguments)
{
    Shell::Options options;
    options.loginItem = arguments.loginItem;
    return options;
}

AppContext Application::shellContext()
{
    BrowserAutomationService& engine = m_blocking.engine;
    BrowserRoutes& browsers = m_foundation.browsers;
    // The checks sleep while no browser runs; one that starts wakes them.
    QObject::connect(&m_foundation.desktop.discovery, &BrowserDiscovery::changed, &engine,
                     &BrowserAutomationService::browsersChanged);
    QObject::connect(&m_foundation.desktop.discovery, &BrowserDiscovery::changed, &engine,
                     [&browsers] { browsers.linkRunningBrowsers(); });
    if (m_foundation.storage.todosLoaded())
        m_foundation.storage.core().setCloudSync(&m_cloudSync);

    AppContext context;
    context.storage = &m_foundation.storage;
    context.browsers = &engine;
    context.sync = &m_cloudSync;
    context.router = &m_router;
    context.defaults = &m_foundation.defaults;
    context.clock = &m_foundation.clock;
    context.monotonic = &m_monotonic;
    context.calendar = m_foundation.calendar;
    context.events = &m_foundation.events;
    Sheet::useWindowHints(&m_windowHints);
    context.windowHints = &m_windowHints;
    context.systemTray = &m_systemTray;
    context.selfInstall = &m_selfInstall;
    context.updater = &AppUpdater::shared();
    context.browserPrograms = &m_browserPrograms;
    context.makeLoginItem = [](QObject* parent) { return new LaunchAtLoginService(parent); };
    context.openNotificationSettings = NotificationSettings::opener();
    return context;
}

// However the run ends (quit, the session's end, a signal), tabs left on the block page go back
// to their sites, since nothing blocks once the program is gone. Extensions do it themselves when
// their link says so; the debugging connections are asked here, briefly.
void Application::returnTabsOnQuit()
{
    BrowserAutomationService& engine = m_blocking.engine;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &engine, [this, &engine] {
        engine.stop();
        QStringList ids;
        for (const SupportedBrowser& browser : SupportedBrowser::all())
            if (browser.servedBy(SupportedBrowser::devToolsRoute))
                ids.append(browser.id);
        QEventLoop answers;
        bool answered = false;
        DevToolsTabReturn::sendBack(
            m_foundation.browsers.devTools, ids,
            [this](const QString& address) { return m_blockPageServer.returnAddress(address); }, quitReturnMs,
            [&] {
                answered = true;
                answers.quit();
            });
        if (!answered)
            answers.exec();
    });
}

int Application::exec()
{
    // What the window does not show starts once it is on screen: the browsers' links, blocking and sync.
    m_shell.afterFirstFrame([this] { startAfterFirstFrame(); });
    m_shell.start();
    return QApplication::exec();
}

void Application::startAfterFirstFrame()
{
    BrowserRoutes& browsers = m_foundation.browsers;
    // Decoding the icon is no part of the first frame; the windows take it up when it comes.
    QApplication::setWindowIcon(programIcon());
    // The block page's buttons open "quillharbour:" links: from the first start on, before any
    // install, and before blocking starts.
    QString handlerError;
    Q_INIT_RESOURCE(blocking); // the handler's entry takes its icon from there
    if (!UrlHandler::registerAtStart(browsers.executable, UrlHandler::defaultPlaces(), &handlerError))
        QTextStream(stderr) << "Quillharbour links will not open this copy: " << handlerError << Qt::endl;
    browsers.link();
    m_foundation.desktop.discovery.start();
    browsers.linkRunningBrowsers();
    m_blocking.engine.start();
    if (m_foundation.storage.todosLoaded())
        startSync();
    if (m_blockPageServer.port())
        QTextStream(stdout) << "Quillharbour is running; block page on http://127.0.0.1:" << *m_blockPageServer.port()
                            << "/ . Data: " << m_foundation.storage.core().fileStore().folderPath() << Qt::endl;
    else
        QTextStream(stderr) << m_blockPageServer.lastError().value_or(QString()) << Qt::endl;
}
