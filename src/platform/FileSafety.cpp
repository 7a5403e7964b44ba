#include "platform/FileSafety.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <sys/stat.h>

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

bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error, const SaveFileFactory& saveFiles)
{
    if (!makeFolder(QFileInfo(path).absolutePath(), error))
        return false;
    const std::unique_ptr<QSaveFile> device = saveFiles ? saveFiles(path) : std::make_unique<QSaveFile>(path);
    QSaveFile& file = *device;
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
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

} // namespace FileSafety
