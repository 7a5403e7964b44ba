#pragma once

#include <QString>
#include <optional>

// A local socket's address holds at most 107 bytes of path, and a runtime folder under a long
// temporary or home folder passes that. Such a socket is reached through this process's own handle
// on its folder, "/proc/self/fd/<n>/<name>", which the kernel resolves to the very same file: the
// socket stays where it was meant to be, behind that folder's protection, and every program that
// looks for it there (the relay, a later start) finds it, each through its own handle.
namespace LocalSocketName {

constexpr qsizetype maximumBytes = 107;

// The name to give QLocalServer::listen, QLocalServer::removeServer and
// QLocalSocket::connectToServer for the socket at `path` (absolute). Nothing, with the reason in
// words in `error`, when the path cannot be reached either way.
std::optional<QString> reachable(const QString& path, QString* error = nullptr);

} // namespace LocalSocketName
