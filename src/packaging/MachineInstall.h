#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The program installing itself for everyone on the computer, run as root (through pkexec or
// sudo) from any copy: the program, its icon and the browser extension under the prefix, as
// `make install` puts them, then the extension's share of a whole-machine install (ForceInstall):
// the signed package, its update manifest, the browsers' policies and system-wide host manifests.
namespace MachineInstall {

inline const QString argument = QStringLiteral("--install-for-everyone");
inline const QString defaultPrefix = QStringLiteral("/usr/local");

// quillharbour --install-for-everyone --extension <packaged folder> [--prefix <folder>]; the
// arguments after the program's name.
// Inline, so the screens that offer the install build its command without linking the signing.
inline bool isInvocation(const QStringList& arguments)
{
    return arguments.value(0) == argument;
}
inline QStringList arguments(const QString& packagedExtension, const QString& prefix = defaultPrefix)
{
    return {argument, QStringLiteral("--prefix"), prefix, QStringLiteral("--extension"), packagedExtension};
}

struct Request {
    QString program;         // the executable to install (this one, when run)
    QString extensionFolder; // the packaged extension: chromium/ and quillharbour-chromium.zip at least
    QString prefix = defaultPrefix;
    QString root; // written below it when set (tests); empty for /
    QByteArray iconPng;
};
struct Result {
    QString executable; // the installed program, as it runs (without the root)
    QString extensionId;
    QStringList written; // every file, below the root
};
// Stops at the first failure with a clear error; each file written stays whole.
std::optional<Result> install(const Request& request, QString* error);

// The whole mode: prints the files written, or "Quillharbour could not install for everyone: …"
// on standard error. 0 when done, 1 when it failed, 2 for wrong arguments. Needs the
// QCoreApplication made.
int run();

} // namespace MachineInstall
