#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// How each browser the engine knows by identifier appears on Linux: its programs, its X11 window
// class (or Wayland app id) and its profile folders (relative to $HOME).
struct LinuxBrowserIdentity {
    QString browserId;
    QStringList executables;       // names looked up on PATH and as .desktop files
    QStringList windowClasses;     // WM_CLASS class names, compared case-insensitively
    QString profileFolder;         // e.g. ".config/google-chrome"; empty when it speaks no debugging protocol
    QStringList programPaths = {}; // the running binary, where its name differs from the command's
    // The same browser from a Flatpak or a Snap keeps its default profile inside the sandbox's
    // own folders.
    QStringList sandboxedProfileFolders = {};
};

namespace LinuxBrowsers {

const std::vector<LinuxBrowserIdentity>& table();
const LinuxBrowserIdentity* forId(const QString& browserId);
const LinuxBrowserIdentity* forWindowClass(const QString& windowClass);
// A folder given relative to $HOME, where it is: in this session's home, one under ".config/"
// follows $XDG_CONFIG_HOME when that names an absolute folder, as the browsers' own profiles and
// link files do.
QString homeFolder(const QString& home, const QString& relative);
// The absolute default profile folder under the given home.
QString profilePath(const LinuxBrowserIdentity& identity, const QString& home);
// Every default profile folder the browser may use: the native one, then the sandboxed ones.
QStringList defaultProfilePaths(const LinuxBrowserIdentity& identity, const QString& home);

} // namespace LinuxBrowsers
