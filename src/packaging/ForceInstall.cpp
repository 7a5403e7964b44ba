#include "packaging/ForceInstall.h"

#include "files/FileSafety.h"
#include "linux/HostManifests.h"
#include "linux/NativeMessaging.h"
#include "linux/UserInstaller.h"
#include "packaging/Crx3.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace ForceInstall {

const std::vector<SystemBrowser>& chromiumFamily()
{
    static const std::vector<SystemBrowser> rows{
        {QStringLiteral("Chromium"), QStringLiteral("/etc/chromium/policies/managed"),
         QStringLiteral("/etc/chromium/native-messaging-hosts")},
        {QStringLiteral("Google Chrome"), QStringLiteral("/etc/opt/chrome/policies/managed"),
         QStringLiteral("/etc/opt/chrome/native-messaging-hosts")},
        {QStringLiteral("Microsoft Edge"), QStringLiteral("/etc/opt/edge/policies/managed"),
         QStringLiteral("/etc/opt/edge/native-messaging-hosts")},
        {QStringLiteral("Brave"), QStringLiteral("/etc/brave/policies/managed"), QString()},
    };
    return rows;
}

QString firefoxHostFolder()
{
    return QStringLiteral("/usr/lib/mozilla/native-messaging-hosts");
}

QString fileUrl(const QString& path)
{
    return QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded(QUrl::FullyEncoded));
}

QByteArray updateManifest(const QString& id, const QString& version, const QString& packageUrl)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<gupdate xmlns=\"http://www.google.com/update2/response\" protocol=\"2.0\">\n"
                          "  <app appid=\"%1\">\n"
                          "    <updatecheck codebase=\"%2\" version=\"%3\" />\n"
                          "  </app>\n"
                          "</gupdate>\n")
        .arg(id.toHtmlEscaped(), packageUrl.toHtmlEscaped(), version.toHtmlEscaped())
        .toUtf8();
}

QByteArray policy(const QString& id, const QString& updateManifestUrl)
{
    const QJsonObject o{
        {QStringLiteral("ExtensionInstallForcelist"), QJsonArray{id + QLatin1Char(';') + updateManifestUrl}}};
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

namespace {

// Folders the browsers, running as any user, must be able to read.
bool makePublicFolder(const QString& path, QString* error)
{
    QString built;
    for (const QString& part : QDir::cleanPath(path).split(u'/', Qt::SkipEmptyParts)) {
        built += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(built);
        if (::mkdir(native.constData(), 0755) == 0) {
            ::chmod(native.constData(), 0755); // whatever the umask took away
        } else if (errno != EEXIST) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(built, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
    }
    return true;
}

QByteArray readAll(const QString& path, qint64 limit, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return {};
    }
    return file.read(limit);
}

} // namespace

bool writePublic(const QString& path, const QByteArray& bytes, QStringList* written, QString* error, bool executable)
{
    QString why;
    if (!makePublicFolder(QFileInfo(path).absolutePath(), &why) || !FileSafety::writeAtomically(path, bytes, &why) ||
        !QFile::setPermissions(
            path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther |
                      (executable ? QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther
                                  : QFileDevice::Permissions()))) {
        if (error)
            *error = why.isEmpty() ? QStringLiteral("%1: cannot make it readable").arg(path) : why;
        return false;
    }
    written->append(path);
    return true;
}

std::optional<Result> install(const Request& request, QString* error)
{
    const auto fail = [error](const QString& why) -> std::optional<Result> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!QDir::isAbsolutePath(request.prefix))
        return fail(QStringLiteral("The install prefix must be an absolute path: %1").arg(request.prefix));
    const QString prefix = QDir::cleanPath(request.prefix);
    const auto staged = [&request](const QString& path) { return QDir::cleanPath(request.root + path); };

    QString why;
    const QDir extension(request.extensionFolder);
    const QByteArray manifestBytes =
        readAll(extension.filePath(QStringLiteral("chromium/manifest.json")), 1 << 20, &why);
    const QString version = QJsonDocument::fromJson(manifestBytes).object().value(QStringLiteral("version")).toString();
    if (!QRegularExpression(QStringLiteral("^\\d+(\\.\\d+){0,3}$")).match(version).hasMatch())
        return fail(why.isEmpty()
                        ? QStringLiteral("The extension's manifest has no usable version: \"%1\"").arg(version)
                        : why);
    // Far above the few kilobytes the extension weighs; a bound, not a limit anyone meets.
    const QByteArray archive = readAll(extension.filePath(QStringLiteral("quillharbour-chromium.zip")), 64 << 20, &why);
    if (!archive.startsWith("PK"))
        return fail(why.isEmpty() ? QStringLiteral("The extension's archive is not a zip file") : why);

    QByteArray icon;
    if (!request.iconFile.isEmpty()) {
        icon = readAll(request.iconFile, 4 << 20, &why);
        if (!icon.startsWith("\x89PNG\r\n\x1a\n"))
            return fail(why.isEmpty() ? QStringLiteral("The program's icon is not a PNG file: %1").arg(request.iconFile)
                                      : why);
    }

    const auto key = Crx3::SigningKey::loadOrCreate(staged(request.keyPath), &why);
    if (!key)
        return fail(QStringLiteral("No key to sign the browser extension: %1").arg(why));
    const QByteArray package = Crx3::pack(*key, archive);
    if (package.isEmpty())
        return fail(QStringLiteral("Could not sign the browser extension"));

    Result result;
    result.id = Crx3::extensionId(key->publicKeyDer());
    const QString share = prefix + QStringLiteral("/share/quillharbour");
    const QString packagePath = share + QStringLiteral("/browser-extension/quillharbour.crx");
    const QString updatePath = share + QStringLiteral("/browser-extension/update.xml");
    const QString executable = prefix + QStringLiteral("/bin/quillharbour");
    const QString hostFile = NativeMessaging::hostName + QStringLiteral(".json");
    const QByteArray chromiumHost =
        HostManifests::manifest(*HostManifests::browser(QStringLiteral("chromium")), executable, {result.id});
    const QByteArray firefoxHost =
        HostManifests::manifest(*HostManifests::browser(QStringLiteral("firefox")), executable);

    // The package before the manifest that points at it, and both before the policy.
    bool ok = writePublic(staged(packagePath), package, &result.written, &why) &&
              writePublic(staged(updatePath), updateManifest(result.id, version, fileUrl(packagePath)), &result.written,
                          &why) &&
              writePublic(staged(share + QStringLiteral("/extension-id")), result.id.toLatin1() + '\n', &result.written,
                          &why) &&
              writePublic(staged(firefoxHostFolder() + u'/' + hostFile), firefoxHost, &result.written, &why);
    // The menu entry names the program by its path: the prefix need not be on anyone's PATH. Its
    // icon comes first, as the entry names it.
    ok = ok && (icon.isEmpty() || writePublic(staged(prefix + QStringLiteral("/share/icons/hicolor/256x256/apps/") +
                                                     UserInstaller::programName + QStringLiteral(".png")),
                                              icon, &result.written, &why));
    ok = ok &&
         writePublic(staged(prefix + QStringLiteral("/share/applications/") + UserInstaller::entryName),
                     UserInstaller::desktopEntry(executable, icon.isEmpty() ? QString() : UserInstaller::programName),
                     &result.written, &why);
    for (const SystemBrowser& browser : chromiumFamily()) {
        ok = ok && (browser.hostFolder.isEmpty() ||
                    writePublic(staged(browser.hostFolder + u'/' + hostFile), chromiumHost, &result.written, &why));
        ok = ok && writePublic(staged(browser.policyFolder + QStringLiteral("/quillharbour.json")),
                               policy(result.id, fileUrl(updatePath)), &result.written, &why);
    }
    if (!ok)
        return fail(why);
    return result;
}

} // namespace ForceInstall
