#include "linux/LocalSocketName.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace LocalSocketName {

std::optional<QString> reachable(const QString& path, QString* error)
{
    if (QFile::encodeName(path).size() <= maximumBytes)
        return path;
    const auto fail = [&](const QString& why) -> std::optional<QString> {
        if (error)
            *error = QStringLiteral("the socket path %1 is %2 bytes long, more than the %3 a local socket can have, "
                                    "and %4; a shorter XDG_RUNTIME_DIR avoids this")
                         .arg(path)
                         .arg(QFile::encodeName(path).size())
                         .arg(maximumBytes)
                         .arg(why);
        return std::nullopt;
    };
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    // One handle per folder for the life of the process: the names handed out stay valid as long
    // as a server listens or a socket reconnects through them.
    static QMutex lock;
    static QHash<QString, int> handles;
    const QMutexLocker locked(&lock);
    int fd = handles.value(folder, -1);
    if (fd < 0) {
        fd = ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return fail(
                QStringLiteral("its folder cannot be opened (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
        handles.insert(folder, fd);
    }
    const QString proc = QStringLiteral("/proc/self/fd/%1").arg(fd);
    if (::access(QFile::encodeName(proc).constData(), F_OK) != 0)
        return fail(QStringLiteral("/proc is not there to reach it by a shorter name"));
    const QString shorter = proc + QLatin1Char('/') + info.fileName();
    if (QFile::encodeName(shorter).size() > maximumBytes)
        return fail(QStringLiteral("its own name is too long"));
    return shorter;
}

} // namespace LocalSocketName
