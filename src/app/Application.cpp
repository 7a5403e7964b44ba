#include "app/Application.h"

#include "app/ExtensionAction.h"
#include "app/Screens.h"
#include "app/Shell.h"
#include "blocking/BrowserAutomationService.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/ExtensionBlockList.h"
#include "blocking/LocalBlockPageServer.h"
#include "files/Defaults.h"
#include "files/FileSafety.h"
#include "linux/AppUpdater.h"
#include "linux/AutomationHelp.h"
#include "linux/BrowserDiscovery.h"
#include "linux/ChromiumProfiles.h"
#include "linux/DesktopIdleTime.h"
#include "linux/DevToolsConnections.h"
#include "linux/DevToolsNavigationInterceptor.h"
#include "linux/DevToolsScriptRunner.h"
#include "linux/DevToolsTabReturn.h"
#include "linux/ExtensionBridge.h"
#include "linux/ExtensionInstaller.h"
#include "linux/ExtensionRoute.h"
#include "linux/FontCatalogPreload.h"
#include "linux/FreedesktopNotifications.h"
#include "linux/HostManifests.h"
#include "linux/LaunchAtLoginService.h"
#include "linux/LinuxBrowsers.h"
#include "linux/LinuxDesktop.h"
#include "linux/LinuxSessionEnd.h"
#include "linux/LinuxSystemEvents.h"
#include "linux/NativeMessaging.h"
#include "linux/NotificationSettings.h"
#include "linux/ReducedMotion.h"
#include "linux/SingleInstance.h"
#include "linux/UrlHandler.h"
#include "linux/UserInstaller.h"
#include "linux/WaylandIdleTime.h"
#include "linux/WindowServices.h"
#include "model/Calendar.h"
#include "model/FileStore.h"
#include "packaging/MachineInstall.h"
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
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTextStream>
#include <future>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

// The block page serves the same icon; its resources are those of a static library.
static QIcon programIcon()
{
    Q_INIT_RESOURCE(blocking);
    return QIcon(QStringLiteral(":/app-icon.png"));
}

namespace {

// How long quitting waits for the browsers to send block-page tabs back to their sites.
constexpr int quitReturnMs = 1000;
// The most an empty to-dos list takes as the program writes it ("[]", with room for spacing).
constexpr qint64 emptyListBytes = 16;

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT, SIGTERM and SIGHUP (a closed terminal, some session managers) end the run through the
// event loop, so the note being typed and the blocking state are saved on the way out.
void quitOnSignals(QCoreApplication& app, std::function<void()>& quit)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, &quit] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        if (quit)
            quit();
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

// The desktop the engine watches: which window is in front and which browsers run, how long the
// person has been away, and whether the screen is on. It needs no data: it is made while the
// to-dos are still being read.
struct Desktop {
    X11Display display;
    BrowserDiscovery discovery;
    LinuxWorkspace workspace{display, QString(), &discovery};
    // Only a Wayland session names its compositor; elsewhere nothing is connected.
    WaylandIdleTime compositorIdleTime{WaylandIdleTime::sessionDisplay(), SystemMonotonicClock::instance()};
    DesktopIdleTime idleTime{[this] { return display.secondsSinceLastInput(); }, &compositorIdleTime,
                             QDBusConnection::sessionBus()};
    LinuxScreenState screen;

    explicit Desktop(std::shared_ptr<X11Display::Opened> opened) : display(std::move(opened)) {}
};

// The two routes to the browsers' tabs: the companion extensions, which the browsers reach
// through the link files naming this executable (written again whenever it has moved), and the
// debugging protocol. Each browser's scripts go to its extension while that is connected.
struct BrowserRoutes {
    const QString home = QDir::homePath();
    const QString executable = QCoreApplication::applicationFilePath();
    // A whole-machine install force-installs a copy signed with the machine's own key, whose id
    // the link files must allow too; read again once this program has installed itself so.
    QStringList machineIds = readMachineIds();
    ExtensionBridge extensions{
        [this](const QString& id) { return HostManifests::offlineSetup(id, home, executable, machineIds); }};
    ExtensionWorkspace workspace;
    // One connection per browser, shared by the tab reader and the interceptor, so a browser that
    // asks the person to allow each connection asks once.
    DevToolsConnections devTools;
    // The DevTools runner never blocks: it runs beside the engine, sparing a thread hop per check.
    BrowserScriptExecutor executor;
    DevToolsNavigationInterceptor interceptor{&devTools};
    // Which profiles of each browser have the extension, from the browsers' own files.
    ChromiumProfiles::Reader profiles;
    BrowserDiscovery& discovery;

    explicit BrowserRoutes(Desktop& desktop)
        : workspace(desktop.workspace, extensions), devTools(&desktop.discovery),
          executor(std::make_unique<RoutingScriptRunner>(
                       &extensions, std::make_unique<ExtensionScriptRunner>(&extensions),
                       std::make_unique<DevToolsScriptRunner>(
                           [&desktop](const QString& id) { return desktop.workspace.isRunning(id); }, &devTools)),
                   3000, nullptr, BrowserScriptExecutor::Placement::callingThread),
          discovery(desktop.discovery)
    {
        extensions.setProfileCheck([this](const QString& id) {
            return profiles.leftOut(dataFolders(id), ChromiumProfiles::policyFolder(id),
                                    QStringList{NativeMessaging::chromiumExtensionId} + machineIds);
        });
    }

    // A Chromium-family browser's data folders: the usual one and those its running copies were
    // started on. A sandboxed build's are left out: no extension of it reaches the program.
    QStringList dataFolders(const QString& bundleIdentifier) const
    {
        const LinuxBrowserIdentity* identity = LinuxBrowsers::forBundleIdentifier(bundleIdentifier);
        const HostManifests::Browser* link = HostManifests::browser(bundleIdentifier);
        if (!identity || !link || link->firefox || identity->profileFolder.isEmpty())
            return {};
        QStringList sandboxed;
        for (const QString& folder : identity->sandboxedProfileFolders)
            sandboxed.append(QDir::cleanPath(LinuxBrowsers::homeFolder(home, folder)));
        QStringList folders{QDir::cleanPath(LinuxBrowsers::profilePath(*identity, home))};
        for (const BrowserDiscovery::Process& p : discovery.processes(bundleIdentifier)) {
            const QString folder = QDir::cleanPath(p.profile);
            if (!folder.isEmpty() && !folders.contains(folder) && !sandboxed.contains(folder))
                folders.append(folder);
        }
        return folders;
    }

    // Browsers running on data folders of their own get the link file there, so their extension
    // reaches the program at its next try.
    void linkRunningBrowsers()
    {
        QStringList written;
        for (const HostManifests::Browser& b : HostManifests::browsers())
            for (const QString& failure : HostManifests::writeIntoDataFolders(b, dataFolders(b.bundleIdentifier),
                                                                              executable, machineIds, &written))
                QTextStream(stderr) << "Quillharbour cannot link a browser: " << failure << Qt::endl;
        if (!written.isEmpty())
            extensions.recheckSetup();
    }

    // The browser rows' extension action: add, repair, private windows.
    std::function<void(const SupportedBrowser&, BrowserAccessState::Kind)> extensionAction()
    {
        return [this](const SupportedBrowser& browser, BrowserAccessState::Kind kind) {
            const ExtensionSetup::Places places{executable, QCoreApplication::applicationDirPath(), home,
                                                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                                                machineIds};
            showExtensionAction(
                browser, kind, places, [this] { extensions.recheckSetup(); }, [this] { installedForEveryone(); },
                {&extensions, &ExtensionInstaller::startBrowser});
        };
    }

    // Where installs for everyone wrote their ids, with the prefix this program installs itself
    // into even when the desktop's data folders leave it out.
    static QStringList readMachineIds()
    {
        QStringList folders = HostManifests::installDataFolders(QCoreApplication::applicationDirPath());
        if (const QString ours = MachineInstall::defaultPrefix + QStringLiteral("/share"); !folders.contains(ours))
            folders.append(ours);
        return HostManifests::machineExtensionIds(folders);
    }

    // The machine's extension has an id of its own, which this person's link files must allow
    // before the browsers install it.
    void installedForEveryone()
    {
        machineIds = readMachineIds();
        for (const QString& failure : HostManifests::writeAll(home, executable, machineIds))
            QTextStream(stderr) << "Quillharbour cannot link a browser: " << failure << Qt::endl;
        extensions.recheckSetup();
    }

    // Writes the link files and listens for the extensions; what fails is said on standard error.
    void link()
    {
        for (const QString& failure : HostManifests::writeAll(home, executable, machineIds))
            QTextStream(stderr) << "Quillharbour cannot link a browser: " << failure << Qt::endl;
        // What the rows said of the link files before they were written is out of date.
        extensions.recheckSetup();
        QString linkError;
        if (const std::optional<QString> socket = NativeMessaging::socketPath(&linkError); !socket)
            QTextStream(stderr) << "Browser extensions cannot reach Quillharbour: " << linkError << Qt::endl;
        else if (!extensions.listen(*socket))
            QTextStream(stderr) << "Browser extensions cannot reach Quillharbour: " << extensions.lastError()
                                << Qt::endl;
    }
};

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

namespace Application {

Arguments parse(const QStringList& arguments)
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

int run(int argc, char* argv[])
{
    // The to-dos, notes and preferences, and the fonts' catalogue, are read while the toolkit
    // starts. The data first: how many threads decode it settles the heaps the threads started
    // after it get.
    // The ids the sync knows in the record store: a file of their own beside the preferences.
    const QString knownIdsPath =
        QFileInfo(Defaults::defaultPath()).dir().filePath(QStringLiteral("sync-known-ids.json"));
    DataPreread preread(FileStore::defaultFolderPath(), {Defaults::defaultPath(), knownIdsPath});
    FontCatalogPreload fontCatalog;
    Theme::prepareApplication();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillharbour"));
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
    std::function<void()> systemQuit;
    quitOnSignals(app, systemQuit);
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

    const Clock& clock = SystemClock::instance();
    const auto calendar = [] { return Calendar::current(); };
    Defaults defaults(Defaults::defaultPath(), preread.takeDefaults(Defaults::defaultPath()));
    LinuxSystemEvents events(clock, calendar);
    events.watchDrift(SystemMonotonicClock::instance());
    // Private from the moment it exists: the store would make it 0700 only after this.
    FileSafety::makeFolder(dataFolder);
    FreedesktopNotificationCenter notifications(QDBusConnection::sessionBus(),
                                                QDir(dataFolder).filePath(QStringLiteral("pending-notifications.json")),
                                                clock, calendar, &events);
    // The desktop and the browsers' routes come first: they need no data, and the to-dos are
    // still being read meanwhile.
    Desktop desktop(displayOpening.get());
    BrowserRoutes browsers(desktop);

    // The faces the window's first frame draws are loaded while the to-dos are still being read,
    // rather than after: with many to-dos the main thread would otherwise wait idle, then load
    // them. A file of more than an empty list is taken to hold to-dos; a wrong guess costs a few
    // faces in memory, never a face missing.
    if (!arguments.loginItem && arguments.links.isEmpty())
        for (const QFont& face : Shell::todayStartFaces(preread.todosFileSize() > emptyListBytes))
            Theme::prime(face);

    // The long-lived services, once each and in this order.
    StorageEnvironment environment;
    environment.clock = &clock;
    environment.calendar = calendar;
    environment.defaults = &defaults;
    environment.notifications = &notifications;
    environment.events = &events;
    environment.preread = &preread;
    StorageService storage(std::nullopt, environment);
    if (!storage.fatalError().isEmpty()) {
        QTextStream(stderr) << "Quillharbour cannot keep your data: " << storage.fatalError() << "\n";
        return 1;
    }
    // Until the interface shows them, problems with the data files go to standard error.
    QObject::connect(&storage, &StorageService::problemReported, [](const QString& path, const QString& message) {
        QTextStream(stderr) << "Quillharbour: " << path << ": " << message << Qt::endl;
    });
    notifications.setPendingFile(storage.fileStore().filePath(QStringLiteral("pending-notifications.json")));
    // The sync's record store: a SQLite file on this machine unless the settings name PostgreSQL.
    QString recordStoreError;
    const std::unique_ptr<RecordStore> recordStore =
        openRecordStore(RecordStoreChoice::fromSettings(defaults), &recordStoreError);
    if (!recordStore)
        QTextStream(stderr) << "Sync is off: " << recordStoreError << Qt::endl;
    Defaults knownIds(knownIdsPath, preread.takeDefaults(knownIdsPath));
    SyncEnvironment syncEnvironment{recordStore.get(), &clock, calendar, &events};
    syncEnvironment.knownIds = &knownIds;
    SyncService cloudSync(&storage, defaults, syncEnvironment);
    LocalBlockPageServer blockPageServer(&storage);
    BrowserAutomationService::Environment automationEnvironment;
    automationEnvironment.clock = &clock;
    automationEnvironment.calendar = calendar;
    automationEnvironment.defaults = &defaults;
    automationEnvironment.workspace = &browsers.workspace;
    automationEnvironment.idleTime = &desktop.idleTime;
    automationEnvironment.screen = &desktop.screen;
    automationEnvironment.automationHelpPage = &AutomationHelp::pageUrl;
    automationEnvironment.interceptor = &browsers.interceptor;
    automationEnvironment.extensions = &browsers.extensions;
    automationEnvironment.extensionAction = browsers.extensionAction();
    BrowserAutomationService browserAutomation(&storage, &blockPageServer, &browsers.executor, automationEnvironment);
    // The checks sleep while no browser runs; one that starts wakes them.
    QObject::connect(&desktop.discovery, &BrowserDiscovery::changed, &browserAutomation,
                     &BrowserAutomationService::browsersChanged);
    QObject::connect(&desktop.discovery, &BrowserDiscovery::changed, &browserAutomation,
                     [&browsers] { browsers.linkRunningBrowsers(); });
    ExtensionBlockList extensionBlockList(&storage, &blockPageServer, &browsers.extensions);
    AppRouter router;
    storage.setCloudSync(&cloudSync);

    // The shell over them: the tray, the main window with its pages, the links and the session.
    SystemMonotonicClock monotonic;
    AppContext context;
    context.storage = &storage;
    context.browsers = &browserAutomation;
    context.sync = &cloudSync;
    context.router = &router;
    context.defaults = &defaults;
    context.clock = &clock;
    context.monotonic = &monotonic;
    context.calendar = calendar;
    context.events = &events;
    LinuxWindowHints windowHints;
    LinuxSystemTray systemTray;
    LinuxSelfInstall selfInstall;
    LinuxBrowserPrograms browserPrograms;
    Sheet::useWindowHints(&windowHints);
    context.windowHints = &windowHints;
    context.systemTray = &systemTray;
    context.selfInstall = &selfInstall;
    context.updater = &AppUpdater::shared();
    context.browserPrograms = &browserPrograms;
    context.makeLoginItem = [](QObject* parent) { return new LaunchAtLoginService(parent); };
    context.openNotificationSettings = NotificationSettings::opener();
    Shell::Options options;
    options.loginItem = arguments.loginItem;
    Shell shell(context, &notifications, options);
    installScreens(shell.mainWindow());
    systemQuit = [&shell] { shell.systemQuit(); };
    // However the run ends (quit, the session's end, a signal), tabs left on the block page go
    // back to their sites, since nothing blocks once the program is gone. Extensions do it
    // themselves when their link says so; the debugging connections are asked here, briefly.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &browserAutomation, [&] {
        browserAutomation.stop();
        QStringList bundles;
        for (const SupportedBrowser& browser : SupportedBrowser::all())
            if (browser.servedBy(SupportedBrowser::devToolsRoute))
                bundles.append(browser.bundleIdentifier);
        QEventLoop answers;
        bool answered = false;
        DevToolsTabReturn::sendBack(
            browsers.devTools, bundles, [&](const QString& address) { return blockPageServer.returnAddress(address); },
            quitReturnMs,
            [&] {
                answered = true;
                answers.quit();
            });
        if (!answered)
            answers.exec();
    });
    LinuxSessionEnd sessionEnd;
    QObject::connect(&sessionEnd, &LinuxSessionEnd::shuttingDown, &shell, &Shell::systemQuit);
    QObject::connect(&single, &SingleInstance::messageReceived, &shell, &Shell::handleLinks);
    for (const QString& link : arguments.links)
        router.handle(link); // as text: QUrl would lower-case the host

    // What the window does not show starts once it is on screen: the browsers' links, blocking and sync.
    shell.afterFirstFrame([&] {
        // Decoding the icon is no part of the first frame; the windows take it up when it comes.
        QApplication::setWindowIcon(programIcon());
        // The block page's buttons open "quillharbour:" links: from the first start on, before any
        // install, and before blocking starts.
        QString handlerError;
        if (!UrlHandler::registerAtStart(browsers.executable, UrlHandler::defaultPlaces(), &handlerError))
            QTextStream(stderr) << "Quillharbour links will not open this copy: " << handlerError << Qt::endl;
        browsers.link();
        desktop.discovery.start();
        browsers.linkRunningBrowsers();
        browserAutomation.start();
        cloudSync.start();
        if (blockPageServer.port())
            QTextStream(stdout) << "Quillharbour is running; block page on http://127.0.0.1:" << *blockPageServer.port()
                                << "/ . Data: " << storage.fileStore().folderPath() << Qt::endl;
        else
            QTextStream(stderr) << blockPageServer.lastError().value_or(QString()) << Qt::endl;
    });
    shell.start();
    return app.exec();
}

} // namespace Application
