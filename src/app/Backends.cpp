#include "app/Backends.h"

#include "app/ExtensionAction.h"
#include "linux/DevToolsScriptRunner.h"
#include "linux/ExtensionInstaller.h"
#include "linux/FileWatches.h"
#include "linux/HostManifests.h"
#include "linux/LinuxBrowsers.h"
#include "linux/NativeMessaging.h"
#include "packaging/MachineInstall.h"

#include <QDBusConnection>
#include <QStandardPaths>
#include <QTextStream>

Desktop::Desktop(std::shared_ptr<X11Display::Opened> opened)
    : display(std::move(opened)),
      idleTime([this] { return display.secondsSinceLastInput(); }, &compositorIdleTime, QDBusConnection::sessionBus())
{
}

BrowserRoutes::BrowserRoutes(Desktop& desktop)
    : extensions([this](const QString& id) { return HostManifests::offlineSetup(id, home, executable, machineIds); },
                 [this](const QString& id) {
                     return profiles.leftOut(dataFolders(id), ChromiumProfiles::policyFolder(id),
                                             QStringList{NativeMessaging::chromiumExtensionId} + machineIds);
                 }),
      workspace(desktop.workspace, extensions), devTools(&desktop.discovery),
      executor(std::make_unique<RoutingScriptRunner>(
                   &extensions, std::make_unique<ExtensionScriptRunner>(&extensions),
                   std::make_unique<DevToolsScriptRunner>(
                       [&desktop](const QString& id) { return desktop.workspace.isRunning(id); }, &devTools)),
               3000, nullptr, BrowserScriptExecutor::Placement::callingThread),
      discovery(desktop.discovery)
{
    // An extension added or switched off in a profile is written there a few seconds later.
    profiles.watchFiles(&FileWatches::shared(), [this] { extensions.recheckSetup(); });
}

QStringList BrowserRoutes::dataFolders(const QString& browserId) const
{
    const LinuxBrowserIdentity* identity = LinuxBrowsers::forId(browserId);
    const HostManifests::Browser* link = HostManifests::browser(browserId);
    if (!identity || !link || link->firefox || identity->profileFolder.isEmpty())
        return {};
    QStringList sandboxed;
    for (const QString& folder : identity->sandboxedProfileFolders)
        sandboxed.append(QDir::cleanPath(LinuxBrowsers::homeFolder(home, folder)));
    QStringList folders{QDir::cleanPath(LinuxBrowsers::profilePath(*identity, home))};
    for (const BrowserDiscovery::Process& p : discovery.processes(browserId)) {
        const QString folder = QDir::cleanPath(p.profile);
        if (!folder.isEmpty() && !folders.contains(folder) && !sandboxed.contains(folder))
            folders.append(folder);
    }
    return folders;
}

void BrowserRoutes::linkRunningBrowsers()
{
    QStringList written;
    for (const HostManifests::Browser& b : HostManifests::browsers())
        for (const QString& failure :
             HostManifests::writeIntoDataFolders(b, dataFolders(b.browserId), executable, machineIds, &written))
            QTextStream(stderr) << "Quillharbour cannot link a browser: " << failure << Qt::endl;
    if (!written.isEmpty())
        extensions.recheckSetup();
}

void BrowserRoutes::repair(const SupportedBrowser& browser, BrowserAccessState::Kind kind)
{
    const ExtensionSetup::Places places{executable, QCoreApplication::applicationDirPath(), home,
                                        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                                        machineIds};
    showExtensionAction(
        browser, kind, places, [this] { extensions.recheckSetup(); }, [this] { installedForEveryone(); },
        {&extensions, &ExtensionInstaller::startBrowser});
}

QStringList BrowserRoutes::readMachineIds()
{
    QStringList folders = HostManifests::installDataFolders(QCoreApplication::applicationDirPath());
    if (const QString ours = MachineInstall::defaultPrefix + QStringLiteral("/share"); !folders.contains(ours))
        folders.append(ours);
    return HostManifests::machineExtensionIds(folders);
}

void BrowserRoutes::installedForEveryone()
{
    machineIds = readMachineIds();
    for (const QString& failure : HostManifests::writeAll(home, executable, machineIds))
        QTextStream(stderr) << "Quillharbour cannot link a browser: " << failure << Qt::endl;
    extensions.recheckSetup();
}

void BrowserRoutes::link()
{
    for (const QString& failure : HostManifests::writeAll(home, executable, machineIds))
        QTextStream(stderr) << "Quillharbour cannot link a browser: " << failure << Qt::endl;
    // What the rows said of the link files before they were written is out of date.
    extensions.recheckSetup();
    QString linkError;
    if (const std::optional<QString> socket = NativeMessaging::socketPath(&linkError); !socket)
        QTextStream(stderr) << "Browser extensions cannot reach Quillharbour: " << linkError << Qt::endl;
    else if (!extensions.listen(*socket))
        QTextStream(stderr) << "Browser extensions cannot reach Quillharbour: " << extensions.lastError() << Qt::endl;
}
