#pragma once

#include "files/FileSafety.h"
#include "linux/BrowserLauncher.h"

#include <QList>
#include <QUrl>

// The page that explains how to let the application reach a browser on Linux. It ships inside
// the program and is written to the cache folder so that a browser can open it, with a launcher
// for each browser installed here.
namespace AutomationHelp {

struct Launcher {
    QString browserName;
    BrowserLauncher::Plan plan;
};
// The page with the launchers written into it.
QString page(const QList<Launcher>& launchers);
// Launchers for the browsers installed under `home`.
QList<Launcher> installedLaunchers(const QString& home);
// Leaves `bytes` in the file at `path`, written only when the file holds other bytes (or none):
// every start would otherwise wait for the disk to take the same page again. False when it could
// not be written.
bool keepPage(const QString& path, const QByteArray& bytes, const FileSafety::SaveFileFactory& saveFiles = {});
QUrl pageUrl();

} // namespace AutomationHelp
