#include "linux/WindowServices.h"

#include "linux/ExtensionInstaller.h"
#include "linux/GtkShell.h"
#include "linux/LinuxBrowsers.h"
#include "linux/PlasmaShell.h"
#include "linux/TrayActivation.h"
#include "linux/TrayHostWatcher.h"
#include "linux/UserInstaller.h"

#include <QCoreApplication>
#include <QStandardPaths>

void LinuxWindowHints::markModal(QWindow* window)
{
    GtkShell::markModal(window);
}

bool LinuxWindowHints::place(QWindow* window, QPoint topLeft)
{
    return PlasmaShell::place(window, topLeft);
}

void LinuxSystemTray::watch(int patienceMs)
{
    if (m_watcher)
        return;
    m_watcher = new TrayHostWatcher(patienceMs, this);
    connect(m_watcher, &TrayHostWatcher::decided, this, &SystemTray::decided);
    m_watcher->start();
}

void LinuxSystemTray::listenForActivation()
{
    TrayActivation::listen();
}

std::optional<QPoint> LinuxSystemTray::takeActivation()
{
    return TrayActivation::take();
}

bool LinuxSelfInstall::shouldOfferMove() const
{
    return UserInstaller::shouldOfferMove();
}

bool LinuxSelfInstall::isRelocating() const
{
    return UserInstaller::isRelocating();
}

bool LinuxSelfInstall::moveAndRelaunch(const std::function<void()>& terminate, QString* error)
{
    return UserInstaller::moveAndRelaunch(terminate, error);
}

bool LinuxSelfInstall::relaunchInstalledForEveryone(const QString& prefix, const std::function<void()>& terminate,
                                                    QString* error)
{
    return UserInstaller::relaunch(prefix + QStringLiteral("/bin/") + UserInstaller::programName, terminate, error);
}

QString LinuxSelfInstall::packagedExtension() const
{
    return ExtensionInstaller::packagedFolder(QCoreApplication::applicationDirPath(),
                                              QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}

QStringList LinuxBrowserPrograms::iconNames(const QString& browserId) const
{
    const LinuxBrowserIdentity* identity = LinuxBrowsers::forId(browserId);
    return identity ? identity->executables : QStringList();
}

bool LinuxBrowserPrograms::start(const QString& browserId, const QStringList& arguments)
{
    return ExtensionInstaller::startBrowser(browserId, arguments);
}
