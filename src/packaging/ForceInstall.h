#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// A whole-machine install's share of the extension: the package signed with the machine's key,
// the update manifest the browsers read it through, the managed policy that force-installs it
// into every profile, and system-wide host manifests, so the extension reaches the program
// before anyone has started it. With them go the program's menu entry and its icon.
namespace ForceInstall {

// Where a browser of the Chromium family reads system-wide files (absolute paths).
struct SystemBrowser {
    QString name;
    QString policyFolder;
    QString hostFolder; // empty: this browser reads no system-wide host manifest we know of
};
const std::vector<SystemBrowser>& chromiumFamily();
// Firefox's system-wide host manifests.
QString firefoxHostFolder();

// A file:// address of an absolute path, with what is not allowed in an address encoded.
QString fileUrl(const QString& path);
// The update manifest ("gupdate") naming one version of the package at `packageUrl`.
QByteArray updateManifest(const QString& id, const QString& version, const QString& packageUrl);
// The managed policy that force-installs the extension from that update manifest.
QByteArray policy(const QString& id, const QString& updateManifestUrl);

// Writes a file every user can read (and run, when `executable`), making its folders readable by
// all; appends it to `written`.
bool writePublic(const QString& path, const QByteArray& bytes, QStringList* written, QString* error,
                 bool executable = false);

struct Request {
    QString root;            // DESTDIR: everything is written below it; empty for /
    QString prefix;          // where the program lives once installed (absolute)
    QString extensionFolder; // the build's browser-extension/: chromium/ and quillharbour-chromium.zip
    QString keyPath = QStringLiteral("/etc/quillharbour/extension-key.pem"); // below root
    // The program's icon, a 256-pixel PNG: installed into the icon theme, where the menu entry and
    // the desktop's task bars find it by name. Empty: the entry names no icon.
    QString iconFile{};
};
struct Result {
    QString id;
    QStringList written; // every file written, below root, for the install's list of files
};
// Signs the package (making the machine's key the first time, reusing it after), then writes
// the files. Stops at the first failure with a clear error; what was written stays whole.
std::optional<Result> install(const Request& request, QString* error);

} // namespace ForceInstall
