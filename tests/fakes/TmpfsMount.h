#pragma once

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

// A 1 MiB tmpfs on a folder the test made, for what only a real disk shows. Mounting needs root:
// error() says why it did not work. Unmounted when this goes, however the test ended.
struct TmpfsMount {
    QString path;
    QString error;

    explicit TmpfsMount(const QString& folder) : path(folder)
    {
        if (QDir().mkpath(folder) && ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs",
                                             MS_NOSUID | MS_NODEV, "size=1m,mode=0700") == 0)
            return;
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~TmpfsMount()
    {
        if (error.isEmpty())
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }

    // Mounts made from here on are this process's alone and go with it, however it ends. Only the
    // calling thread and the threads it starts afterwards see them: call it before starting any
    // thread that writes there.
    static bool enterPrivateNamespace(QString* error)
    {
        static int result = -1;
        if (result < 0)
            result = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                         ? 0
                         : errno;
        if (result != 0 && error)
            *error = QString::fromLocal8Bit(std::strerror(result));
        return result == 0;
    }

    // Takes every free byte but `leaving`; true when the disk was full before those were given
    // back. release() gives them all back.
    bool fill(qint64 leaving = 0) const
    {
        const int fd = ::open(QFile::encodeName(filler()).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const QByteArray block(4096, 'x');
        for (qsizetype size = block.size(); size > 0; size = size > 1 ? 1 : 0)
            while (::write(fd, block.constData(), size) > 0) {
            }
        bool full = errno == ENOSPC;
        if (leaving > 0)
            full = full && ::ftruncate(fd, std::max<off_t>(0, ::lseek(fd, 0, SEEK_END) - off_t(leaving))) == 0;
        ::close(fd);
        return full;
    }
    void release() const { QFile::remove(filler()); }
    QString filler() const { return QDir(path).filePath(QStringLiteral(".filler")); }
};
