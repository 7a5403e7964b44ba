#include "linux/LaunchAtLoginService.h"

#include "linux/DesktopEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

LaunchAtLoginService::LaunchAtLoginService(QObject* parent)
    : LaunchAtLoginService(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                               .filePath(QStringLiteral("autostart")),
                           QCoreApplication::applicationFilePath(), parent)
{
}

LaunchAtLoginService::LaunchAtLoginService(QString autostartFolder, QString executable, QObject* parent)
    : LoginItem(parent), m_folder(std::move(autostartFolder)), m_executable(std::move(executable))
{
    m_status = readStatus();
}

QString LaunchAtLoginService::entryPath() const
{
    return QDir(m_folder).filePath(entryName);
}

QByteArray LaunchAtLoginService::entryText() const
{
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=Quillharbour\nComment=Keeps your blocks on "
                          "from the moment you sign in\nExec=%1\nTerminal=false\nX-GNOME-Autostart-enabled=true\n")
        .arg(DesktopEntry::execLine({m_executable, loginItemArgument}))
        .toUtf8();
}

LaunchAtLoginService::Status LaunchAtLoginService::readStatus() const
{
    if (m_executable.isEmpty())
        return Status::notFound;
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return Status::notRegistered;
    // A desktop may switch an entry off without removing it.
    for (const QByteArray& raw : file.read(64 * 1024).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            return Status::notRegistered;
    }
    return Status::enabled;
}

void LaunchAtLoginService::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void LaunchAtLoginService::setErrorMessage(const std::optional<QString>& message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = message;
    emit errorMessageChanged();
}

void LaunchAtLoginService::setEnabled(bool on)
{
    const Status current = readStatus();
    std::optional<QString> error;
    if (on && current == Status::notRegistered) {
        QSaveFile file(entryPath());
        if (!QDir().mkpath(m_folder))
            error = QStringLiteral("Couldn't create the folder %1.").arg(m_folder);
        else if (!file.open(QIODevice::WriteOnly) || file.write(entryText()) < 0 || !file.commit())
            error = QStringLiteral("Couldn't write %1: %2").arg(entryPath(), file.errorString());
    } else if (!on && current != Status::notRegistered) {
        QFile file(entryPath());
        if (file.exists() && !file.remove())
            error = QStringLiteral("Couldn't remove %1: %2").arg(entryPath(), file.errorString());
    }
    setErrorMessage(error);
    setStatus(readStatus());
}
