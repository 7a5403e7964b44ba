#pragma once

#include <QString>
#include <QStringList>
#include <optional>

struct LinuxBrowserIdentity;

// A launcher (.desktop file) that starts a browser with its debugging port open, for people who
// take the debugging route: written over the browser's own launcher in the user's applications
// folder, so menus and docks start it that way. Browsers that refuse remote debugging on their
// default profile (Google Chrome 136 and later, Edge) get a profile folder of their own, which
// means their own logins, bookmarks and extensions.
namespace BrowserLauncher {

struct Plan {
    QString fileName;   // e.g. "google-chrome.desktop": the browser's own, so this one replaces it
    QString executable; // absolute
    QString profile;    // empty: the default profile
    QString icon;       // the replaced launcher's icon, so menus keep showing the browser's own
};

// Nothing when the browser is not installed or speaks no debugging protocol.
std::optional<Plan> plan(const LinuxBrowserIdentity& identity, const QString& home);
// The text of the launcher: absolute, quoted paths, nothing the desktop would have to expand.
QString entry(const QString& name, const Plan& plan);
// One argument of an Exec= line, quoted and escaped as the desktop entry rules say.
QString execArgument(const QString& argument);
// Writes the launcher into `applicationsFolder` and checks it with desktop-file-validate where
// that is installed; the error, or nothing. A launcher of the person's own that it replaces is
// kept beside it (its path in `keptAs`); a refused one leaves the folder as it was.
std::optional<QString> write(const QString& name, const Plan& plan, const QString& applicationsFolder,
                             QString* keptAs = nullptr);

} // namespace BrowserLauncher
