#pragma once

#include "blocking/BrowserScriptExecutor.h"
#include "blocking/ExtensionRepair.h"
#include "linux/BrowserDiscovery.h"
#include "linux/ChromiumProfiles.h"
#include "linux/DesktopIdleTime.h"
#include "linux/DevToolsConnections.h"
#include "linux/DevToolsNavigationInterceptor.h"
#include "linux/ExtensionBridge.h"
#include "linux/ExtensionRoute.h"
#include "linux/LinuxDesktop.h"
#include "linux/WaylandIdleTime.h"

#include <QCoreApplication>
#include <QDir>
#include <memory>

// The desktop the engine watches: which window is in front and which browsers run, how long the
// person has been away, and whether the screen is on. It needs no data: it is made while the
// to-dos are still being read.
struct Desktop {
    X11Display display;
    BrowserDiscovery discovery;
    LinuxWorkspace workspace{display, QString(), &discovery};
    // Only a Wayland session names its compositor; elsewhere nothing is connected.
    WaylandIdleTime compositorIdleTime{WaylandIdleTime::sessionDisplay(), SystemMonotonicClock::instance()};
    DesktopIdleTime idleTime;
    LinuxScreenState screen;

    explicit Desktop(std::shared_ptr<X11Display::Opened> opened);
};

// The two routes to the browsers' tabs: the companion extensions, which the browsers reach
// through the link files naming this executable (written again whenever it has moved), and the
// debugging protocol. Each browser's scripts go to its extension while that is connected.
struct BrowserRoutes : ExtensionRepair {
    const QString home = QDir::homePath();
    const QString executable = QCoreApplication::applicationFilePath();
    // A whole-machine install force-installs a copy signed with the machine's own key, whose id
    // the link files must allow too; read again once this program has installed itself so.
    QStringList machineIds = readMachineIds();
    ExtensionBridge extensions;
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

    explicit BrowserRoutes(Desktop& desktop);

    // A Chromium-family browser's data folders: the usual one and those its running copies were
    // started on. A sandboxed build's are left out: no extension of it reaches the program.
    QStringList dataFolders(const QString& browserId) const;
    // Browsers running on data folders of their own get the link file there, so their extension
    // reaches the program at its next try.
    void linkRunningBrowsers();
    // The browser rows' extension action: add, repair, private windows.
    void repair(const SupportedBrowser& browser, BrowserAccessState::Kind kind) override;
    // Writes the link files and listens for the extensions; what fails is said on standard error.
    void link();

private:
    // Where installs for everyone wrote their ids, with the prefix this program installs itself
    // into even when the desktop's data folders leave it out.
    static QStringList readMachineIds();
    // The machine's extension has an id of its own, which this person's link files must allow
    // before the browsers install it.
    void installedForEveryone();
};
