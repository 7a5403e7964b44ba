#include "linux/LinuxBrowsers.h"

#include <QDir>

namespace LinuxBrowsers {

const std::vector<LinuxBrowserIdentity>& table()
{
    static const std::vector<LinuxBrowserIdentity> rows{
        {QStringLiteral("chrome"),
         {QStringLiteral("google-chrome"), QStringLiteral("google-chrome-stable")},
         {QStringLiteral("Google-chrome")},
         QStringLiteral(".config/google-chrome"),
         {QStringLiteral("/opt/google/chrome/chrome")},
         {QStringLiteral(".var/app/com.google.Chrome/config/google-chrome")}},
        {QStringLiteral("chromium"),
         {QStringLiteral("chromium"), QStringLiteral("chromium-browser")},
         {QStringLiteral("Chromium"), QStringLiteral("Chromium-browser")},
         QStringLiteral(".config/chromium"),
         {QStringLiteral("/usr/lib/chromium/chromium")},
         {QStringLiteral(".var/app/org.chromium.Chromium/config/chromium"),
          QStringLiteral("snap/chromium/common/chromium")}},
        {QStringLiteral("brave"),
         {QStringLiteral("brave-browser"), QStringLiteral("brave-browser-stable"), QStringLiteral("brave")},
         {QStringLiteral("Brave-browser")},
         QStringLiteral(".config/BraveSoftware/Brave-Browser"),
         {QStringLiteral("/opt/brave.com/brave/brave")},
         {QStringLiteral(".var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser"),
          QStringLiteral("snap/brave/current/.config/BraveSoftware/Brave-Browser")}},
        {QStringLiteral("edge"),
         {QStringLiteral("microsoft-edge"), QStringLiteral("microsoft-edge-stable")},
         {QStringLiteral("Microsoft-edge")},
         QStringLiteral(".config/microsoft-edge"),
         {QStringLiteral("/opt/microsoft/msedge/msedge")},
         {QStringLiteral(".var/app/com.microsoft.Edge/config/microsoft-edge")}},
        {QStringLiteral("vivaldi"),
         {QStringLiteral("vivaldi"), QStringLiteral("vivaldi-stable")},
         {QStringLiteral("Vivaldi-stable"), QStringLiteral("Vivaldi")},
         QStringLiteral(".config/vivaldi"),
         {QStringLiteral("/opt/vivaldi/vivaldi-bin")},
         {QStringLiteral(".var/app/com.vivaldi.Vivaldi/config/vivaldi")}},
        {QStringLiteral("opera"),
         {QStringLiteral("opera")},
         {QStringLiteral("Opera")},
         QStringLiteral(".config/opera"),
         {QStringLiteral("/usr/lib/x86_64-linux-gnu/opera/opera")},
         {QStringLiteral(".var/app/com.opera.Opera/config/opera"), QStringLiteral("snap/opera/current/.config/opera")}},
        // Reached through its extension only.
        {QStringLiteral("firefox"),
         {QStringLiteral("firefox"), QStringLiteral("firefox-esr")},
         {QStringLiteral("firefox"), QStringLiteral("firefox-esr")},
         {}},
        // Recognised in front, but not protected.
        {QStringLiteral("chrome-beta"),
         {QStringLiteral("google-chrome-beta")},
         {QStringLiteral("Google-chrome-beta")},
         {}},
        {QStringLiteral("chrome-canary"),
         {QStringLiteral("google-chrome-unstable")},
         {QStringLiteral("Google-chrome-unstable")},
         {}},
    };
    return rows;
}

const LinuxBrowserIdentity* forId(const QString& browserId)
{
    for (const LinuxBrowserIdentity& row : table())
        if (row.browserId == browserId)
            return &row;
    return nullptr;
}

const LinuxBrowserIdentity* forWindowClass(const QString& windowClass)
{
    for (const LinuxBrowserIdentity& row : table())
        for (const QString& c : row.windowClasses)
            if (c.compare(windowClass, Qt::CaseInsensitive) == 0)
                return &row;
    return nullptr;
}

QString homeFolder(const QString& home, const QString& relative)
{
    static const QLatin1String config(".config/");
    // $XDG_CONFIG_HOME is this session's: it says nothing of another home (another user's, a test's).
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (relative.startsWith(config) && QDir::isAbsolutePath(configHome) &&
        QDir::cleanPath(home) == QDir::cleanPath(QDir::homePath()))
        return QDir(configHome).filePath(relative.mid(config.size()));
    return QDir(home).filePath(relative);
}

QString profilePath(const LinuxBrowserIdentity& identity, const QString& home)
{
    return identity.profileFolder.isEmpty() ? QString() : homeFolder(home, identity.profileFolder);
}

QStringList defaultProfilePaths(const LinuxBrowserIdentity& identity, const QString& home)
{
    if (identity.profileFolder.isEmpty())
        return {};
    // The launcher of a browser that refuses debugging on its usual profile gives it this one.
    QStringList paths{profilePath(identity, home), profilePath(identity, home) + QStringLiteral("-quillharbour")};
    for (const QString& folder : identity.sandboxedProfileFolders)
        paths.append(QDir(home).filePath(folder));
    return paths;
}

} // namespace LinuxBrowsers
