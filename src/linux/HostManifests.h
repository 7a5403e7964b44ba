#pragma once

#include "platform/ExtensionLink.h"

#include <QString>
#include <QStringList>
#include <vector>

// The native-messaging host manifests that let each browser start the program's relay: one per
// browser, per user, naming the program by its absolute path and allowing only our extension.
namespace HostManifests {

struct Browser {
    QString browserId;
    QString configFolder;     // relative to $HOME (".config/" follows $XDG_CONFIG_HOME): its profiles
    QString manifestFolder;   // likewise
    bool firefox = false;     // allowed_extensions instead of allowed_origins
    QStringList executables;  // native installs, looked up on PATH
    QStringList sandboxedIds; // Flatpak application ids and Snap names of its sandboxed builds
};
const std::vector<Browser>& browsers();
const Browser* browser(const QString& browserId);

// Beside the extension's fixed id, the Chromium family's manifests allow `machineIds`: a
// whole-machine install signs the package the browsers' policy force-installs with this machine's
// own key, which gives that copy an id of its own.
QByteArray manifest(const Browser& browser, const QString& executable, const QStringList& machineIds = {});
QString manifestPath(const Browser& browser, const QString& home);

// A Chromium extension id: 32 letters a to p.
bool isChromiumExtensionId(const QString& text);
// The ids that whole-machine installs wrote into `<folder>/quillharbour/extension-id` of these
// data folders, one per line; anything else in the file is ignored.
QStringList machineExtensionIds(const QStringList& dataFolders);
// The data folders of the installs this copy can see: its own prefix's share/, then
// $XDG_DATA_DIRS (/usr/local/share and /usr/share when unset). Never the person's own data
// folder: only an administrator's install adds an id.
QStringList installDataFolders(const QString& executableFolder);

// Where this browser is found under `home` and on this system.
struct Presence {
    bool native = false;    // its program is on PATH, or its profile folder exists
    bool sandboxed = false; // a Flatpak or Snap build of it is installed
};
Presence presence(const Browser& browser, const QString& home);

// Writes the manifest of every browser found natively whose manifest is missing or names another
// program; leaves the rest alone. The paths that could not be written, with why, come back.
QStringList writeAll(const QString& home, const QString& executable, const QStringList& machineIds = {});
// A browser started on a data folder of its own (--user-data-dir) reads its manifest from that
// folder's NativeMessagingHosts/, not from the usual one: writes it into each of these folders
// where it is missing or names another program. The paths written come back in `written`, those
// that could not be, with why, are returned.
QStringList writeIntoDataFolders(const Browser& browser, const QStringList& userDataFolders, const QString& executable,
                                 const QStringList& machineIds = {}, QStringList* written = nullptr);
// Writes one browser's manifest whatever is there (the rows' repair action).
bool write(const Browser& browser, const QString& home, const QString& executable, const QStringList& machineIds = {},
           QString* error = nullptr);

// How the extension route stands for a browser that is not connected: its sandbox allows no
// host, its manifest is missing or names another program, or all that is missing is the
// extension itself.
ExtensionLink::Setup offlineSetup(const QString& browserId, const QString& home, const QString& executable,
                                  const QStringList& machineIds = {});

} // namespace HostManifests
