#include "platform/FileSafety.h"

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
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError)
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
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
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
