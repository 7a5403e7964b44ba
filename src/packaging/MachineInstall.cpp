#include "packaging/MachineInstall.h"

#include "linux/UserInstaller.h"
#include "packaging/ForceInstall.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace MachineInstall {

namespace {

bool sameFile(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

// Far above what the program or any file of the extension weighs; a bound on what is read.
constexpr qint64 largestFile = qint64(1) << 30;

bool copyPublic(const QString& from, const QString& to, QStringList* written, QString* error, bool executable = false)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(from, in.errorString());
        return false;
    }
    if (in.size() > largestFile) {
        *error = QStringLiteral("%1 is too large").arg(from);
        return false;
    }
    const QByteArray bytes = in.readAll();
    if (bytes.size() != in.size()) {
        *error = QStringLiteral("%1 could not be read whole").arg(from);
        return false;
    }
    return ForceInstall::writePublic(to, bytes, written, error, executable);
}

} // namespace

std::optional<Result> install(const Request& request, QString* error)
{
    QString why;
    const auto fail = [error, &why](const QString& what) -> std::optional<Result> {
        if (error)
            *error = what.isEmpty() ? why : what;
        return std::nullopt;
    };
    if (!QDir::isAbsolutePath(request.prefix))
        return fail(QStringLiteral("The install prefix must be an absolute path: %1").arg(request.prefix));
    const QString prefix = QDir::cleanPath(request.prefix);
    const auto staged = [&request](const QString& path) { return QDir::cleanPath(request.root + path); };
    const QDir from(request.extensionFolder);
    if (request.extensionFolder.isEmpty() ||
        !QFileInfo(from.filePath(QStringLiteral("chromium/manifest.json"))).isFile() ||
        !QFileInfo(from.filePath(QStringLiteral("quillharbour-chromium.zip"))).isFile())
        return fail(QStringLiteral("The browser extension is not in \"%1\".").arg(request.extensionFolder));

    // The same files `make install` puts there, so either install finds the other's; all looked
    // at before anything is written.
    const QString share = staged(prefix + QStringLiteral("/share/quillharbour/browser-extension"));
    QList<std::pair<QString, QString>> files;
    if (!sameFile(from.path(), share)) {
        for (const char* folder : {"chromium", "firefox"})
            for (QDirIterator it(from.filePath(QLatin1String(folder)), QDir::Files | QDir::NoDotAndDotDot);
                 it.hasNext();) {
                const QString file = it.next();
                files.append({file, QStringLiteral("%1/%2/%3").arg(share, QLatin1String(folder), it.fileName())});
            }
        for (const char* file : {"quillharbour-chromium.zip", "quillharbour-firefox.xpi"})
            if (QFileInfo::exists(from.filePath(QLatin1String(file))))
                files.append({from.filePath(QLatin1String(file)), share + u'/' + QLatin1String(file)});
    }
    // Run as root from a folder its user can change: a link could make it publish any file.
    for (const auto& [source, target] : files)
        if (QFileInfo(source).isSymLink())
            return fail(QStringLiteral("%1 is a symbolic link").arg(source));

    Result result;
    result.executable = prefix + QStringLiteral("/bin/") + UserInstaller::programName;
    // Run again from the installed copy, the program is already where it belongs.
    if (!sameFile(request.program, staged(result.executable)) &&
        !copyPublic(request.program, staged(result.executable), &result.written, &why, true))
        return fail({});
    if (!request.iconPng.isEmpty() &&
        !ForceInstall::writePublic(
            staged(prefix + QStringLiteral("/share/icons/hicolor/256x256/apps/quillharbour.png")), request.iconPng,
            &result.written, &why))
        return fail({});
    for (const auto& [source, target] : files)
        if (!copyPublic(source, target, &result.written, &why))
            return fail({});

    ForceInstall::Request browsers;
    browsers.root = request.root;
    browsers.prefix = prefix;
    browsers.extensionFolder = request.extensionFolder;
    const std::optional<ForceInstall::Result> forced = ForceInstall::install(browsers, &why);
    if (!forced)
        return fail({});
    result.extensionId = forced->id;
    result.written += forced->written;
    return result;
}

int run()
{
    const QStringList given = QCoreApplication::arguments();
    QTextStream err(stderr);
    Request request;
    request.program = QCoreApplication::applicationFilePath();
    for (int i = 2; i < given.size(); ++i) {
        const QString& option = given.at(i);
        if (i + 1 >= given.size() || (option != QLatin1String("--prefix") && option != QLatin1String("--extension"))) {
            err << "Usage: " << given.value(0) << ' ' << argument
                << " --extension <packaged extension folder> [--prefix <folder>]" << Qt::endl;
            return 2;
        }
        (option == QLatin1String("--prefix") ? request.prefix : request.extensionFolder) = given.at(++i);
    }
    QFile icon(QStringLiteral(":/app-icon.png"));
    if (icon.open(QIODevice::ReadOnly))
        request.iconPng = icon.readAll();
    QString error;
    const std::optional<Result> result = install(request, &error);
    if (!result) {
        err << "Quillharbour could not install for everyone: " << error << Qt::endl;
        return 1;
    }
    QTextStream out(stdout);
    for (const QString& path : result->written)
        out << path << '\n';
    out << "Quillharbour is installed for everyone as " << result->executable << Qt::endl;
    return 0;
}

} // namespace MachineInstall
