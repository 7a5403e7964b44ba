#pragma once

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

    // Takes every free byte; true when the disk then refuses a write. release() gives them back.
    bool fill() const
    {
        const int fd = ::open(QFile::encodeName(filler()).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const QByteArray block(4096, 'x');
        for (qsizetype size = block.size(); size > 0; size = size > 1 ? 1 : 0)
            while (::write(fd, block.constData(), size) > 0) {
            }
        const bool full = errno == ENOSPC;
        ::close(fd);
        return full;
    }
    void release() const { QFile::remove(filler()); }
    QString filler() const { return QDir(path).filePath(QStringLiteral(".filler")); }
};
