#pragma once

#include "platform/ExtensionLink.h"

#include <QString>
#include <QStringList>
#include <vector>

// The native-messaging host manifests that let each browser start the program's relay: one per
// browser, per user, naming the program by its absolute path and allowing only our extension.
namespace HostManifests {

struct Browser {
    QString bundleIdentifier;
    QString configFolder;     // relative to $HOME: where the browser keeps its profiles
    QString manifestFolder;   // relative to $HOME
    bool firefox = false;     // allowed_extensions instead of allowed_origins
    QStringList executables;  // native installs, looked up on PATH
    QStringList sandboxedIds; // Flatpak application ids and Snap names of its sandboxed builds
};
const std::vector<Browser>& browsers();
const Browser* browser(const QString& bundleIdentifier);

QByteArray manifest(const Browser& browser, const QString& executable);
QString manifestPath(const Browser& browser, const QString& home);

// Where this browser is found under `home` and on this system.
struct Presence {
    bool native = false;    // its program is on PATH, or its profile folder exists
    bool sandboxed = false; // a Flatpak or Snap build of it is installed
};
Presence presence(const Browser& browser, const QString& home);

// Writes the manifest of every browser found natively whose manifest is missing or names another
// program; leaves the rest alone. The paths that could not be written, with why, come back.
QStringList writeAll(const QString& home, const QString& executable);
// Writes one browser's manifest whatever is there (the rows' repair action).
bool write(const Browser& browser, const QString& home, const QString& executable, QString* error = nullptr);

// How the extension route stands for a browser that is not connected: its sandbox allows no
// host, its manifest is missing or names another program, or all that is missing is the
// extension itself.
ExtensionLink::Setup offlineSetup(const QString& bundleIdentifier, const QString& home, const QString& executable);

} // namespace HostManifests
