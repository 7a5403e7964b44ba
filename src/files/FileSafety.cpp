#include "files/FileSafety.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileSafety {

bool makeFolder(const QString& path, QString* error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (QFileInfo(absolute).isDir())
        return true;
    const QString parent = QFileInfo(absolute).absolutePath();
    // Created private in one step, so it is never readable by others even for a moment.
    if (!QDir().mkpath(parent) || (::mkdir(QFile::encodeName(absolute).constData(), 0700) != 0 && errno != EEXIST) ||
        !QFileInfo(absolute).isDir()) {
        if (error)
            *error = QStringLiteral("The folder “%1” could not be created.").arg(absolute);
        return false;
    }
    return true;
}

namespace {

// A rename lives in the folder: until the folder reaches the disk, a crash can bring the old file
// back although its replacement was reported written. The new file is in place by now and the
// old one gone, so nothing can be undone here; a folder that cannot be synced (a file system
// that does not do it for folders) leaves the save as it is.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

QString describeError(int error)
{
    const QString system = QString::fromLocal8Bit(std::strerror(error));
    // The system's words alone do not tell everyone what to do about it.
    if (error == ENOSPC)
        return QStringLiteral("the disk is full (%1)").arg(system);
    if (error == EDQUOT)
        return QStringLiteral("the disk quota is used up (%1)").arg(system);
    return system;
}

bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error, const SaveFileFactory& saveFiles)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!makeFolder(folder, error))
        return false;
    const std::unique_ptr<QSaveFile> device = saveFiles ? saveFiles(path) : std::make_unique<QSaveFile>(path);
    QSaveFile& file = *device;
    // Unbuffered: a buffered write that fails only when flushed inside commit() is forgotten by
    // QSaveFile, which then renames the short file into place and reports success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        file.cancelWriting();
        return false;
    };
    errno = 0;
    qint64 written = file.write(bytes);
    const int writeErrno = errno;
    // A write the disk cut short comes back from Qt as fewer bytes with no error ("Unknown
    // error"): the rest is offered to the disk directly, which then says why it refuses.
    if (written >= 0 && written < bytes.size() && file.error() == QFileDevice::NoError && file.handle() >= 0) {
        while (written < bytes.size()) {
            const ssize_t more = ::write(file.handle(), bytes.constData() + written, size_t(bytes.size() - written));
            if (more < 0 && errno == EINTR)
                continue;
            if (more < 0)
                return fail(describeError(errno));
            if (more == 0)
                return fail(QStringLiteral("The disk took only %1 of %2 bytes.").arg(written).arg(bytes.size()));
            written += more;
        }
    }
    if (written != bytes.size())
        return fail(writeErrno == ENOSPC || writeErrno == EDQUOT ? describeError(writeErrno) : file.errorString());
    if (!file.flush() || file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    // Whatever the device said, only bytes that are really in the file count; and a disk that
    // fails to keep them (EIO, or ENOSPC on file systems that allocate late) fails the save.
    struct stat info {};
    const int fd = file.handle();
    if (fd < 0 || ::fstat(fd, &info) != 0)
        return fail(QStringLiteral("The new file could not be checked."));
    if (info.st_size != bytes.size())
        return fail(QStringLiteral("Only %1 of %2 bytes reached the disk.").arg(info.st_size).arg(bytes.size()));
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        return fail(describeError(errno));
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    syncFolder(folder);
    return true;
}

QString backUpUnreadable(const QString& path, qint64 secondsSince1970)
{
    // A name already taken (a second failure within the same second) is never written over.
    const QFileInfo info(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString suffix = attempt == 0 ? QString() : QStringLiteral("-%1").arg(attempt);
        const QString backup = info.absoluteDir().filePath(
            QStringLiteral("%1.unreadable-%2%3.json").arg(info.completeBaseName()).arg(secondsSince1970).arg(suffix));
        if (QFileInfo::exists(backup))
            continue;
        return QFile::copy(path, backup) ? backup : QString();
    }
    return QString();
}

int removeStaleTemporaries(const QString& folder, const QStringList& names)
{
    // QSaveFile names its temporary after the file with six letters or digits appended. (Read by
    // hand: a regular expression here, the only one of a start, would load its compiler for it.)
    const auto savedFileOf = [](const QString& name) -> QString {
        const qsizetype dot = name.size() - 7;
        if (dot < 1 || name.at(dot) != u'.')
            return {};
        for (qsizetype i = dot + 1; i < name.size(); ++i) {
            const char16_t c = name.at(i).unicode();
            if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')))
                return {};
        }
        return name.left(dot);
    };
    const QDateTime staleBefore = QDateTime::currentDateTimeUtc().addSecs(-60);
    int removed = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        const QString savedFile = savedFileOf(entry.fileName());
        if (savedFile.isEmpty() || !names.contains(savedFile) || entry.isSymLink() ||
            entry.lastModified().toUTC() > staleBefore)
            continue;
        if (QFile::remove(entry.absoluteFilePath()))
            ++removed;
    }
    return removed;
}

void keepPrivate(const QString& folder, const QStringList& names)
{
    const auto tighten = [](const QString& path) {
        const QByteArray name = QFile::encodeName(path);
        struct stat info {};
        if (::lstat(name.constData(), &info) != 0 || info.st_uid != ::geteuid() || S_ISLNK(info.st_mode))
            return;
        if (info.st_mode & 077)
            ::chmod(name.constData(), info.st_mode & 0700);
    };
    tighten(folder);
    // Each file and its "<base>.unreadable-…" backups, matched by hand as the temporaries are:
    // name filters would be turned into regular expressions and load their compiler for good.
    QStringList backupPrefixes;
    for (const QString& n : names)
        backupPrefixes << QFileInfo(n).completeBaseName() + QStringLiteral(".unreadable-");
    const auto ours = [&](const QString& entry) {
        if (names.contains(entry, Qt::CaseInsensitive))
            return true;
        return std::any_of(backupPrefixes.cbegin(), backupPrefixes.cend(),
                           [&entry](const QString& prefix) { return entry.startsWith(prefix, Qt::CaseInsensitive); });
    };
    for (const QString& entry : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (ours(entry))
            tighten(QDir(folder).filePath(entry));
}

} // namespace FileSafety
