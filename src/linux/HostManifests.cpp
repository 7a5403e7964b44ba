#include "linux/HostManifests.h"

#include "files/FileSafety.h"
#include "linux/FirefoxEdition.h"
#include "linux/LinuxBrowsers.h"
#include "linux/NativeMessaging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace HostManifests {

const std::vector<Browser>& browsers()
{
    const auto chromium = [](const char* id, const char* folder, QStringList executables, QStringList sandboxed) {
        const QString config = QStringLiteral(".config/") + QLatin1String(folder);
        return Browser{QLatin1String(id),
                       config,
                       config + QStringLiteral("/NativeMessagingHosts"),
                       false,
                       std::move(executables),
                       std::move(sandboxed)};
    };
    static const std::vector<Browser> rows{
        chromium("chrome", "google-chrome", {QStringLiteral("google-chrome"), QStringLiteral("google-chrome-stable")},
                 {QStringLiteral("com.google.Chrome")}),
        chromium("chromium", "chromium", {QStringLiteral("chromium"), QStringLiteral("chromium-browser")},
                 {QStringLiteral("org.chromium.Chromium"), QStringLiteral("chromium")}),
        chromium("brave", "BraveSoftware/Brave-Browser",
                 {QStringLiteral("brave-browser"), QStringLiteral("brave-browser-stable"), QStringLiteral("brave")},
                 {QStringLiteral("com.brave.Browser"), QStringLiteral("brave")}),
        chromium("edge", "microsoft-edge", {QStringLiteral("microsoft-edge"), QStringLiteral("microsoft-edge-stable")},
                 {QStringLiteral("com.microsoft.Edge")}),
        chromium("vivaldi", "vivaldi", {QStringLiteral("vivaldi"), QStringLiteral("vivaldi-stable")},
                 {QStringLiteral("com.vivaldi.Vivaldi"), QStringLiteral("vivaldi")}),
        chromium("opera", "opera", {QStringLiteral("opera")},
                 {QStringLiteral("com.opera.Opera"), QStringLiteral("opera")}),
        // A Snap Firefox reaches hosts through the desktop's web-extensions portal, which reads this
        // same folder; its Flatpak build has no such way out.
        Browser{QStringLiteral("firefox"),
                QStringLiteral(".mozilla"),
                QStringLiteral(".mozilla/native-messaging-hosts"),
                true,
                {QStringLiteral("firefox"), QStringLiteral("firefox-esr"), QStringLiteral("/snap/bin/firefox")},
                {QStringLiteral("org.mozilla.firefox")}},
    };
    return rows;
}

const Browser* browser(const QString& browserId)
{
    for (const Browser& b : browsers())
        if (b.browserId == browserId)
            return &b;
    return nullptr;
}

QByteArray manifest(const Browser& browser, const QString& executable, const QStringList& machineIds)
{
    QJsonObject o{{QStringLiteral("name"), NativeMessaging::hostName},
                  {QStringLiteral("description"), QStringLiteral("Quillharbour's link to its browser extension")},
                  {QStringLiteral("path"), executable},
                  {QStringLiteral("type"), QStringLiteral("stdio")}};
    if (browser.firefox)
        o.insert(QStringLiteral("allowed_extensions"), QJsonArray{NativeMessaging::firefoxExtensionId});
    else {
        QJsonArray origins;
        QStringList ids{NativeMessaging::chromiumExtensionId};
        for (const QString& id : machineIds)
            if (isChromiumExtensionId(id) && !ids.contains(id))
                ids.append(id);
        for (const QString& id : ids)
            origins.append(QStringLiteral("chrome-extension://%1/").arg(id));
        o.insert(QStringLiteral("allowed_origins"), origins);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool isChromiumExtensionId(const QString& text)
{
    if (text.size() != 32)
        return false;
    for (const QChar c : text)
        if (c < u'a' || c > u'p')
            return false;
    return true;
}

QStringList machineExtensionIds(const QStringList& dataFolders)
{
    QStringList ids;
    for (const QString& folder : dataFolders) {
        QFile file(QDir(folder).filePath(QStringLiteral("quillharbour/extension-id")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // An id is 33 bytes with its line end: a few kilobytes hold any honest file.
        const QList<QByteArray> lines = file.read(4096).split('\n');
        for (const QByteArray& line : lines) {
            const QString id = QString::fromLatin1(line.trimmed());
            if (isChromiumExtensionId(id) && !ids.contains(id))
                ids.append(id);
        }
    }
    return ids;
}

QStringList installDataFolders(const QString& executableFolder)
{
    QStringList folders{QDir::cleanPath(QDir(executableFolder).filePath(QStringLiteral("../share")))};
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dirs.split(u':', Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir) && !folders.contains(QDir::cleanPath(dir)))
            folders.append(QDir::cleanPath(dir));
    return folders;
}

QString manifestPath(const Browser& browser, const QString& home)
{
    return LinuxBrowsers::homeFolder(home, browser.manifestFolder + QLatin1Char('/') + NativeMessaging::hostName +
                                               QStringLiteral(".json"));
}

Presence presence(const Browser& browser, const QString& home)
{
    Presence p;
    p.native = QFileInfo(LinuxBrowsers::homeFolder(home, browser.configFolder)).isDir();
    for (const QString& e : browser.executables) {
        const QString found =
            e.startsWith(u'/') ? (QFileInfo(e).isExecutable() ? e : QString()) : QStandardPaths::findExecutable(e);
        // A Snap's command on PATH is the sandboxed build, not a native one.
        if (!found.isEmpty() && !QFileInfo(found).canonicalFilePath().startsWith(QLatin1String("/snap/")) &&
            !found.startsWith(QLatin1String("/snap/")))
            p.native = true;
        else if (!found.isEmpty())
            p.sandboxed = true;
    }
    for (const QString& id : browser.sandboxedIds) {
        if (QFileInfo(QStringLiteral("/var/lib/flatpak/app/") + id).isDir() ||
            QFileInfo(QDir(home).filePath(QStringLiteral(".local/share/flatpak/app/") + id)).isDir() ||
            QFileInfo(QStringLiteral("/snap/") + id).isDir())
            p.sandboxed = true;
    }
    if (browser.firefox && p.sandboxed && QFileInfo(QStringLiteral("/snap/firefox")).isDir())
        p.native = true; // the portal runs the host outside the Snap
    return p;
}

namespace {

bool isCurrentAt(const QString& path, const QByteArray& expected)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.read(64 * 1024) == expected;
}

bool isCurrent(const Browser& browser, const QString& home, const QString& executable, const QStringList& machineIds)
{
    return isCurrentAt(manifestPath(browser, home), manifest(browser, executable, machineIds));
}

} // namespace

bool write(const Browser& browser, const QString& home, const QString& executable, const QStringList& machineIds,
           QString* error)
{
    const QString path = manifestPath(browser, home);
    if (!FileSafety::makeFolder(QFileInfo(path).absolutePath(), error))
        return false;
    // Owner-only is enough: the browsers that read it run as this user.
    return FileSafety::writeAtomically(path, manifest(browser, executable, machineIds), error);
}

QStringList writeAll(const QString& home, const QString& executable, const QStringList& machineIds)
{
    QStringList failures;
    for (const Browser& b : browsers()) {
        if (!presence(b, home).native || isCurrent(b, home, executable, machineIds))
            continue;
        QString error;
        if (!write(b, home, executable, machineIds, &error))
            failures.append(manifestPath(b, home) + QStringLiteral(": ") + error);
    }
    return failures;
}

QStringList writeIntoDataFolders(const Browser& browser, const QStringList& userDataFolders, const QString& executable,
                                 const QStringList& machineIds, QStringList* written)
{
    QStringList failures;
    if (browser.firefox)
        return failures; // Firefox reads its manifests from one place whatever its profile
    const QByteArray bytes = manifest(browser, executable, machineIds);
    for (const QString& folder : userDataFolders) {
        // Only a folder the browser made: a name that is no folder here is no reason to make one.
        if (!QDir::isAbsolutePath(folder) || !QFileInfo(folder).isDir())
            continue;
        const QString path = QDir(folder).filePath(QStringLiteral("NativeMessagingHosts/") + NativeMessaging::hostName +
                                                   QStringLiteral(".json"));
        if (isCurrentAt(path, bytes))
            continue;
        QString error;
        if (FileSafety::makeFolder(QFileInfo(path).absolutePath(), &error) &&
            FileSafety::writeAtomically(path, bytes, &error)) {
            if (written)
                written->append(path);
        } else {
            failures.append(path + QStringLiteral(": ") + error);
        }
    }
    return failures;
}

ExtensionLink::Setup offlineSetup(const QString& browserId, const QString& home, const QString& executable,
                                  const QStringList& machineIds)
{
    const Browser* b = browser(browserId);
    if (!b)
        return ExtensionLink::Setup::notPossible;
    const Presence p = presence(*b, home);
    if (!p.native && p.sandboxed)
        return ExtensionLink::Setup::notPossible;
    if (b->firefox && !FirefoxEdition::loadsUnsigned(FirefoxEdition::installFolders()))
        return ExtensionLink::Setup::signedOnly;
    if (!isCurrent(*b, home, executable, machineIds))
        return ExtensionLink::Setup::hostMissing;
    return ExtensionLink::Setup::extensionMissing;
}

} // namespace HostManifests
