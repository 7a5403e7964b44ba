#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// Putting the companion extension where a person can load it into a browser: the packaged
// extension is copied into the user's data folder (a folder the browser keeps reading from, so it
// must outlive the build), and the browser is opened on its extensions page where it lets us.
namespace ExtensionInstaller {

// The extension packages built with this program: beside the executable in a build folder, under
// share/ of an installed one, or where a copy installed for one user put them
// (`dataHome`/quillharbour/browser-extension). Empty when none exists.
QString packagedFolder(const QString& executableFolder, const QString& dataHome = QString());

// What the person loads: the unpacked folder for the Chromium family, the .xpi for Firefox.
struct Copy {
    QString path;
    bool firefox = false;
};
// Copies the package for this browser under `dataHome`/quillharbour/browser-extension/, replacing
// an older copy whole; nothing with `error` set when it cannot.
std::optional<Copy> install(const QString& browserId, const QString& packaged, const QString& dataHome,
                            QString* error = nullptr);

// The browser's own page for extensions ("chrome://extensions", "about:addons", ...).
QString extensionsPage(const QString& browserId);
// Starts the browser with `arguments`; false when no program of that browser is found.
bool startBrowser(const QString& browserId, const QStringList& arguments);

} // namespace ExtensionInstaller
