#include "linux/LinuxBrowsers.h"

#include <QDir>

namespace LinuxBrowsers {

const std::vector<LinuxBrowserIdentity>& table()
{
    // Safari and Arc exist on no Linux system; they are listed so that every identifier has a row.
    static const std::vector<LinuxBrowserIdentity> rows{
        {QStringLiteral("com.apple.Safari"), {}, {}, {}},
        {QStringLiteral("com.google.Chrome"),
         {QStringLiteral("google-chrome"), QStringLiteral("google-chrome-stable")},
         {QStringLiteral("Google-chrome")},
         QStringLiteral(".config/google-chrome"),
         {QStringLiteral("/opt/google/chrome/chrome")}},
        {QStringLiteral("company.thebrowser.Browser"), {}, {}, {}},
        {QStringLiteral("com.brave.Browser"),
         {QStringLiteral("brave-browser"), QStringLiteral("brave-browser-stable"), QStringLiteral("brave")},
         {QStringLiteral("Brave-browser")},
         QStringLiteral(".config/BraveSoftware/Brave-Browser"),
         {QStringLiteral("/opt/brave.com/brave/brave")}},
        {QStringLiteral("com.microsoft.edgemac"),
         {QStringLiteral("microsoft-edge"), QStringLiteral("microsoft-edge-stable")},
         {QStringLiteral("Microsoft-edge")},
         QStringLiteral(".config/microsoft-edge"),
         {QStringLiteral("/opt/microsoft/msedge/msedge")}},
        // Recognised, but not protected: only their window classes matter.
        {QStringLiteral("org.mozilla.firefox"),
         {QStringLiteral("firefox"), QStringLiteral("firefox-esr")},
         {QStringLiteral("firefox"), QStringLiteral("firefox-esr")},
         {}},
        {QStringLiteral("com.operasoftware.Opera"), {QStringLiteral("opera")}, {QStringLiteral("Opera")}, {}},
        {QStringLiteral("com.vivaldi.Vivaldi"),
         {QStringLiteral("vivaldi"), QStringLiteral("vivaldi-stable")},
         {QStringLiteral("Vivaldi-stable"), QStringLiteral("Vivaldi")},
         {}},
        {QStringLiteral("com.kagi.kagimacOS"), {}, {}, {}},
        {QStringLiteral("com.google.Chrome.beta"),
         {QStringLiteral("google-chrome-beta")},
         {QStringLiteral("Google-chrome-beta")},
         {}},
        {QStringLiteral("com.google.Chrome.canary"),
         {QStringLiteral("google-chrome-unstable")},
         {QStringLiteral("Google-chrome-unstable")},
         {}},
        {QStringLiteral("org.chromium.Chromium"),
         {QStringLiteral("chromium"), QStringLiteral("chromium-browser")},
         {QStringLiteral("Chromium"), QStringLiteral("Chromium-browser")},
         {}},
    };
    return rows;
}

const LinuxBrowserIdentity* forBundleIdentifier(const QString& bundleIdentifier)
{
    for (const LinuxBrowserIdentity& row : table())
        if (row.bundleIdentifier == bundleIdentifier)
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

QString profilePath(const LinuxBrowserIdentity& identity, const QString& home)
{
    return identity.profileFolder.isEmpty() ? QString() : QDir(home).filePath(identity.profileFolder);
}

} // namespace LinuxBrowsers
