#include "linux/ExtensionInstaller.h"

#include "files/FileSafety.h"
#include "linux/HostManifests.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace ExtensionInstaller {

QString packagedFolder(const QString& executableFolder, const QString& dataHome)
{
    QStringList candidates{QDir(executableFolder).filePath(QStringLiteral("browser-extension")),
                           QDir(executableFolder).filePath(QStringLiteral("../share/quillharbour/browser-extension"))};
    if (!dataHome.isEmpty())
        candidates.append(QDir(dataHome).filePath(QStringLiteral("quillharbour/browser-extension")));
    for (const QString& folder : std::as_const(candidates)) {
        if (QFileInfo(QDir(folder).filePath(QStringLiteral("chromium/manifest.json"))).isFile())
            return QDir::cleanPath(folder);
    }
    return {};
}

namespace {

bool copyFolder(const QString& from, const QString& to, QString* error)
{
    if (!FileSafety::makeFolder(to, error))
        return false;
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString source = it.next();
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly) ||
            !FileSafety::writeAtomically(QDir(to).filePath(it.fileName()), in.readAll(), error)) {
            if (error && error->isEmpty())
                *error = in.errorString();
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<Copy> install(const QString& browserId, const QString& packaged, const QString& dataHome, QString* error)
{
    const HostManifests::Browser* browser = HostManifests::browser(browserId);
    const auto fail = [error](const QString& why) -> std::optional<Copy> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!browser)
        return fail(QStringLiteral("Quillharbour has no extension for this browser."));
    if (packaged.isEmpty())
        return fail(QStringLiteral("The browser extension was not built with this copy of Quillharbour."));
    const QString target = QDir(dataHome).filePath(QStringLiteral("quillharbour/browser-extension"));
    QString why;
    if (browser->firefox) {
        QFile xpi(QDir(packaged).filePath(QStringLiteral("quillharbour-firefox.xpi")));
        const QString path = QDir(target).filePath(QStringLiteral("quillharbour-firefox.xpi"));
        if (!xpi.open(QIODevice::ReadOnly))
            return fail(xpi.errorString());
        if (!FileSafety::makeFolder(target, &why) || !FileSafety::writeAtomically(path, xpi.readAll(), &why))
            return fail(why);
        return Copy{path, true};
    }
    // A new folder beside the old one, then swapped in, so the browser never reads a half copy.
    const QString path = QDir(target).filePath(QStringLiteral("chromium"));
    const QString fresh = path + QStringLiteral(".new");
    QDir(fresh).removeRecursively();
    if (!copyFolder(QDir(packaged).filePath(QStringLiteral("chromium")), fresh, &why)) {
        QDir(fresh).removeRecursively();
        return fail(why);
    }
    const QString old = path + QStringLiteral(".old");
    QDir(old).removeRecursively();
    if (QFileInfo::exists(path) && !QDir().rename(path, old))
        return fail(QStringLiteral("Could not replace %1").arg(path));
    if (!QDir().rename(fresh, path))
        return fail(QStringLiteral("Could not create %1").arg(path));
    QDir(old).removeRecursively();
    return Copy{path, false};
}

QString extensionsPage(const QString& browserId)
{
    if (browserId == QLatin1String("firefox"))
        return QStringLiteral("about:addons");
    if (browserId == QLatin1String("edge"))
        return QStringLiteral("edge://extensions");
    return QStringLiteral("chrome://extensions");
}

bool startBrowser(const QString& browserId, const QStringList& arguments)
{
    const HostManifests::Browser* browser = HostManifests::browser(browserId);
    if (!browser)
        return false;
    for (const QString& name : browser->executables) {
        const QString program = name.startsWith(u'/') ? name : QStandardPaths::findExecutable(name);
        if (!program.isEmpty() && QFileInfo(program).isExecutable())
            return QProcess::startDetached(program, arguments);
    }
    return false;
}

} // namespace ExtensionInstaller
