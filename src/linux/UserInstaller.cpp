#include "linux/UserInstaller.h"

#include "files/FileSafety.h"
#include "linux/DesktopEntry.h"
#include "linux/ExtensionInstaller.h"
#include "linux/UrlHandler.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

namespace {

bool relocating = false;

bool writeFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("Couldn't write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

// Puts an item taken to the trash back where it was, and drops its trash record.
void restoreFromTrash(const QString& inTrash, const QString& original)
{
    if (inTrash.isEmpty())
        return;
    QFile::remove(original);
    if (QFile::rename(inTrash, original)) {
        const QFileInfo info(inTrash);
        QFile::remove(info.dir().filePath(QStringLiteral("../info/%1.trashinfo").arg(info.fileName())));
    }
}

} // namespace

UserInstaller::Places UserInstaller::defaultPlaces()
{
    Places places;
    places.home = QDir::homePath();
    places.binFolder = QDir(places.home).filePath(QStringLiteral(".local/bin"));
    places.dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QFile icon(QStringLiteral(":/app-icon.png"));
    if (icon.open(QIODevice::ReadOnly))
        places.iconPng = icon.readAll();
    places.configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return places;
}

bool UserInstaller::isRelocating()
{
    return relocating;
}

bool UserInstaller::shouldOfferMove()
{
    return shouldOfferMove(QCoreApplication::applicationFilePath(), QDir::homePath());
}

bool UserInstaller::shouldOfferMove(const QString& executable, const QString& home)
{
    const QString resolved = QFileInfo(executable).canonicalFilePath();
    const QString path = resolved.isEmpty() ? QDir::cleanPath(executable) : resolved;
    const QString homeResolved = QFileInfo(home).canonicalFilePath();
    QStringList installed{QStringLiteral("/usr/"), QStringLiteral("/opt/"),
                          QDir::cleanPath(home) + QStringLiteral("/.local/")};
    if (!homeResolved.isEmpty())
        installed.append(homeResolved + QStringLiteral("/.local/"));
    for (const QString& prefix : installed)
        if (path.startsWith(prefix))
            return false;
    return true;
}

QByteArray UserInstaller::desktopEntry(const QString& executable, const QString& icon)
{
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=Quillharbour\nComment=Your priorities, "
                                  "notes and website blocking\nExec=%1 %u\nTerminal=false\n"
                                  "Categories=Utility;\nMimeType=x-scheme-handler/quillharbour;\n")
                       .arg(DesktopEntry::execArgument(executable));
    if (!icon.isEmpty())
        text += QStringLiteral("Icon=%1\n").arg(DesktopEntry::stringValue(icon));
    return text.toUtf8();
}

QString UserInstaller::iconPath(const QString& dataHome)
{
    return QDir(dataHome).filePath(QStringLiteral("icons/hicolor/256x256/apps/quillharbour.png"));
}

bool UserInstaller::writeIcon(const QString& dataHome, const QByteArray& png, QString* error)
{
    QFile current(iconPath(dataHome));
    if (current.size() == png.size() && current.open(QIODevice::ReadOnly) && current.readAll() == png)
        return true;
    return writeFile(iconPath(dataHome), png, error);
}

QString UserInstaller::entryIcon(const QByteArray& entry)
{
    bool inMainGroup = false;
    for (const QByteArray& rawLine : entry.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('['))
            inMainGroup = line == "[Desktop Entry]";
        else if (inMainGroup && line.startsWith("Icon="))
            return QString::fromUtf8(line.mid(5)).trimmed();
    }
    return {};
}

std::optional<QString> UserInstaller::installCopy(const QString& source, const Places& places, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QString destination = QDir(places.binFolder).filePath(programName);
    const QString staging =
        QDir(places.binFolder)
            .filePath(QStringLiteral(".%1.%2").arg(programName, QUuid::createUuid().toString(QUuid::WithoutBraces)));
    if (!QDir().mkpath(places.binFolder) || !QFile::copy(source, staging)) {
        *error = QStringLiteral("Couldn't copy %1 into %2.").arg(source, places.binFolder);
        QFile::remove(staging);
        return std::nullopt;
    }
    QFile::setPermissions(staging, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                       QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                       QFileDevice::ExeOther);

    // The complete new copy exists; only now does the old one make way.
    QString trashed;
    if (QFileInfo::exists(destination) || QFileInfo(destination).isSymLink()) {
        // Without its folder, moving to the trash lands the file in the current folder.
        QDir().mkpath(QDir(places.dataHome).filePath(QStringLiteral("Trash/files")));
        QDir().mkpath(QDir(places.dataHome).filePath(QStringLiteral("Trash/info")));
        if (!QFile::moveToTrash(destination, &trashed)) {
            *error = QStringLiteral("Couldn't move the older %1 to the trash.").arg(destination);
            QFile::remove(staging);
            return std::nullopt;
        }
    }
    const auto undo = [&] {
        QFile::remove(staging);
        restoreFromTrash(trashed, destination);
    };
    if (!QFile::rename(staging, destination)) {
        *error = QStringLiteral("Couldn't put the new copy at %1.").arg(destination);
        undo();
        return std::nullopt;
    }
    QString icon;
    if (!places.iconPng.isEmpty()) {
        icon = iconPath(places.dataHome);
        if (!writeIcon(places.dataHome, places.iconPng, error)) {
            undo();
            return std::nullopt;
        }
    }
    const QString entry = QDir(places.dataHome).filePath(QStringLiteral("applications/") + entryName);
    if (!writeFile(entry, desktopEntry(destination, icon), error)) {
        undo();
        return std::nullopt;
    }
    // The old copy stays in the trash from here on: the new one is whole.
    // The browser extension goes along, where the installed copy finds it (share/ beside bin/)
    // and where the browsers load it from: without it, its browser rows could add nothing. A
    // failure here costs the extension only; its rows then say so.
    if (const QString packaged = ExtensionInstaller::packagedFolder(QFileInfo(source).absolutePath());
        !packaged.isEmpty()) {
        for (const char* browser : {"chromium", "firefox"})
            ExtensionInstaller::install(QLatin1String(browser), packaged, places.dataHome);
        // Its package too: installing for everyone later signs that for the machine.
        QFile zip(QDir(packaged).filePath(QStringLiteral("quillharbour-chromium.zip")));
        if (zip.open(QIODevice::ReadOnly))
            FileSafety::writeAtomically(
                QDir(places.dataHome)
                    .filePath(QStringLiteral("quillharbour/browser-extension/quillharbour-chromium.zip")),
                zip.readAll());
    }
    // The entry's name is the default already when the program registered itself at start; this
    // covers a start that could not, and a failure leaves the links as they were.
    if (!places.configHome.isEmpty())
        UrlHandler::setDefault(places.configHome, entryName, nullptr);
    return destination;
}

bool UserInstaller::moveAndRelaunch(const std::function<void()>& terminate, QString* error)
{
    const auto installed = installCopy(QCoreApplication::applicationFilePath(), defaultPlaces(), error);
    return installed && relaunch(*installed, terminate, error);
}

bool UserInstaller::relaunch(const QString& installed, const std::function<void()>& terminate, QString* error)
{
    const QStringList arguments{QStringLiteral("-c"), relaunchScript(), QStringLiteral("sh"),
                                QString::number(QCoreApplication::applicationPid()), installed};
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"), arguments)) {
        if (error)
            *error = QStringLiteral("Couldn't start %1.").arg(installed);
        return false;
    }
    relocating = true;
    if (terminate)
        terminate();
    return true;
}
