#pragma once

#include <QString>
#include <QStringList>

// The program in its host mode: the relay a browser starts for the companion extension. It passes
// messages between the browser (stdin and stdout) and the running program (its per-user socket),
// checks every frame on the way, and starts nothing else: no window, no second copy, no port.
namespace NativeMessagingHost {

inline const QString argument = QStringLiteral("--native-messaging-host");

// Whether these arguments (after the program's name) start the relay: our own flag, or the
// browsers' calling conventions, since a host manifest names a program and no arguments
// (Chromium passes the caller's origin, Firefox the manifest's path and the add-on's id).
bool isHostInvocation(const QStringList& arguments);

// The supported browser an executable belongs to, by its file name; empty when none.
QString browserForExecutable(const QString& path);

// Runs the relay until the browser closes its end; the process's exit status. Builds its own
// QCoreApplication, so it must be called before any other application object exists.
int run(int argc, char* argv[]);

} // namespace NativeMessagingHost
