#include "linux/AutomationHelp.h"

#include "linux/LinuxBrowsers.h"
#include "model/SupportedBrowser.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

static void initPlatformResources()
{
    Q_INIT_RESOURCE(linux);
}

namespace AutomationHelp {

QString page(const QList<Launcher>& launchers)
{
    initPlatformResources();
    QFile file(QStringLiteral(":/automation-help.html"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString html = QString::fromUtf8(file.readAll());
    QString blocks;
    for (const Launcher& l : launchers) {
        const QString path = QStringLiteral("~/.local/share/applications/") + l.plan.fileName;
        blocks += QStringLiteral("<h2>%1</h2>\n<p>Save as <code>%2</code>:</p>\n<pre class=\"launcher\">%3</pre>\n")
                      .arg(l.browserName.toHtmlEscaped(), path.toHtmlEscaped(),
                           BrowserLauncher::entry(l.browserName, l.plan).toHtmlEscaped());
    }
    html.replace(QStringLiteral("<!--LAUNCHERS-->"), blocks);
    return html;
}

QList<Launcher> installedLaunchers(const QString& home)
{
    QList<Launcher> out;
    for (const SupportedBrowser& browser : SupportedBrowser::all())
        if (const LinuxBrowserIdentity* identity = LinuxBrowsers::forId(browser.id))
            if (const std::optional<BrowserLauncher::Plan> plan = BrowserLauncher::plan(*identity, home))
                out.append({browser.name, *plan});
    return out;
}

bool keepPage(const QString& path, const QByteArray& bytes, const FileSafety::SaveFileFactory& saveFiles)
{
    QFile current(path);
    // A file of another size cannot hold the page; reading it would be wasted.
    if (current.size() == bytes.size() && current.open(QIODevice::ReadOnly) && current.readAll() == bytes)
        return true;
    return FileSafety::writeAtomically(path, bytes, nullptr, saveFiles);
}

QUrl pageUrl()
{
    const QString html = page(installedLaunchers(QDir::homePath()));
    if (html.isEmpty())
        return {};
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                         QStringLiteral("/quillharbour/automation-help.html");
    if (!keepPage(path, html.toUtf8()))
        return {};
    return QUrl::fromLocalFile(path);
}

} // namespace AutomationHelp
