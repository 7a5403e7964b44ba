#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

// A small tmpfs mounted on a folder the test made, for faults only a real file system shows (a
// full disk). Mounting needs root; isMounted() says whether it worked and error() why not. It is
// unmounted when this goes, however the test ended.
class TmpfsMount {
public:
    TmpfsMount(const QString& path, qint64 bytes) : m_path(path)
    {
        if (!QDir().mkpath(path)) {
            m_error = QStringLiteral("cannot make %1").arg(path);
            return;
        }
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
        if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) !=
            0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        m_mounted = true;
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool isMounted() const { return m_mounted; }
    const QString& error() const { return m_error; }
    const QString& path() const { return m_path; }

    // Takes every free byte with one file; true when the disk then refuses a write.
    bool fill()
    {
        const int fd = ::open(QFile::encodeName(fillerPath()).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'x');
        while (::write(fd, block.constData(), block.size()) > 0) {
        }
        // Smaller pieces take what a whole block no longer fits in.
        while (::write(fd, block.constData(), 1) > 0) {
        }
        const bool full = errno == ENOSPC;
        ::close(fd);
        return full;
    }
    void release() { QFile::remove(fillerPath()); }

private:
    QString fillerPath() const { return QDir(m_path).filePath(QStringLiteral(".filler")); }

    QString m_path;
    QString m_error;
    bool m_mounted = false;
};
