#include "blocking/BrowserAutomationService.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "linux/AutomationHelp.h"
#include "linux/DevToolsScriptRunner.h"
#include "linux/FreedesktopNotifications.h"
#include "linux/LinuxDesktop.h"
#include "linux/LinuxSystemEvents.h"
#include "model/Calendar.h"
#include "model/FileStore.h"
#include "platform/Defaults.h"
#include "router/AppRouter.h"
#include "store/StorageService.h"
#include "sync/CloudKitSyncService.h"
#include "sync/RecordStoreConfig.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the run through the event loop, so the state is saved on the way out.
void quitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillharbour"));
    quitOnSignals(app);

    const Clock& clock = SystemClock::instance();
    const auto calendar = [] { return Calendar::current(); };
    Defaults defaults(Defaults::defaultPath());
    LinuxSystemEvents events(clock, calendar);

    const QString dataFolder = FileStore::defaultRootURL();
    QDir().mkpath(dataFolder);
    FreedesktopNotificationCenter notifications(QDBusConnection::sessionBus(),
                                                QDir(dataFolder).filePath(QStringLiteral("pending-notifications.json")),
                                                clock, calendar, &events);

    // The long-lived services, once each and in this order.
    StorageService storage(std::nullopt, StorageEnvironment{&clock, calendar, &defaults, &notifications, &events});
    if (!storage.fatalError().isEmpty()) {
        QTextStream(stderr) << "Quillharbour cannot keep your data: " << storage.fatalError() << "\n";
        return 1;
    }
    // The sync's record store: a SQLite file on this machine unless the settings name PostgreSQL.
    QString recordStoreError;
    const std::unique_ptr<RecordStore> recordStore =
        openRecordStore(RecordStoreChoice::fromSettings(defaults), &recordStoreError);
    if (!recordStore)
        QTextStream(stderr) << "Sync is off: " << recordStoreError << Qt::endl;
    CloudKitSyncService cloudSync(&storage, defaults, SyncEnvironment{recordStore.get(), &clock, calendar, &events});
    LocalBlockPageServer blockPageServer(&storage);

    X11Display display;
    LinuxWorkspace workspace(display);
    X11IdleTime idleTime(display);
    LinuxScreenState screen;
    // The script thread asks whether a browser runs; the workspace only reads files for that.
    BrowserScriptExecutor executor(std::make_unique<DevToolsScriptRunner>(
        [&workspace](const QString& id) { return workspace.isRunning(id); }, QDir::homePath()));
    BrowserAutomationService browserAutomation(&storage, &blockPageServer, &executor,
                                               BrowserAutomationService::Environment{&clock, calendar, &defaults,
                                                                                     &workspace, &idleTime, &screen,
                                                                                     AutomationHelp::pageUrl()});
    AppRouter router;

    browserAutomation.start();
    storage.setCloudSync(&cloudSync);
    cloudSync.start();

    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        const QUrl url(argument);
        if (url.scheme() == QLatin1String("quillharbour"))
            router.handle(argument); // as text: QUrl would lower-case the host
    }
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &storage, [&storage] { storage.saveState(); });

    if (blockPageServer.port())
        QTextStream(stdout) << "Quillharbour is running; block page on http://127.0.0.1:" << *blockPageServer.port()
                            << "/ . Data: " << storage.fileStore().rootURL << Qt::endl;
    else
        QTextStream(stderr) << blockPageServer.lastError().value_or(QString()) << Qt::endl;
    return app.exec();
}
