#include "platform/FileSafety.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace FileSafety {

bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    const QFileInfo info(path);
    QDir folder = info.absoluteDir();
    if (!folder.exists()) {
        if (!folder.mkpath(QStringLiteral("."))) {
            if (error)
                *error = QStringLiteral("The folder “%1” could not be created.").arg(folder.path());
            return false;
        }
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QSaveFile file(path);
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
    const QFileInfo info(path);
    const QString backup = info.absoluteDir().filePath(
        QStringLiteral("%1.unreadable-%2.json").arg(info.completeBaseName()).arg(secondsSince1970));
    return QFile::copy(path, backup) ? backup : QString();
}

} // namespace FileSafety
