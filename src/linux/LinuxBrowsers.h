#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// How each browser the engine knows by identifier appears on Linux: its programs, its X11 window
// class and its profile folder (relative to $HOME). Browsers with no Linux form have no programs
// and are never installed.
struct LinuxBrowserIdentity {
    QString bundleIdentifier;
    QStringList executables;       // names looked up on PATH and as .desktop files
    QStringList windowClasses;     // WM_CLASS class names, compared case-insensitively
    QString profileFolder;         // e.g. ".config/google-chrome"; empty when there is none
    QStringList programPaths = {}; // the running binary, where its name differs from the command's
};

namespace LinuxBrowsers {

const std::vector<LinuxBrowserIdentity>& table();
const LinuxBrowserIdentity* forBundleIdentifier(const QString& bundleIdentifier);
const LinuxBrowserIdentity* forWindowClass(const QString& windowClass);
// The absolute profile folder under the given home.
QString profilePath(const LinuxBrowserIdentity& identity, const QString& home);

} // namespace LinuxBrowsers
