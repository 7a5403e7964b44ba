#include "browsers/BrowserLauncherOffer.h"

#include "linux/BrowserLauncher.h"
#include "linux/LinuxBrowsers.h"

#include <QDir>

namespace BrowserLauncherOffer {

namespace {

std::optional<BrowserLauncher::Plan> planFor(const SupportedBrowser& browser, const QString& home)
{
    if (!browser.servedBy(SupportedBrowser::devToolsRoute))
        return std::nullopt;
    const LinuxBrowserIdentity* identity = LinuxBrowsers::forId(browser.id);
    return identity ? BrowserLauncher::plan(*identity, home) : std::nullopt;
}

} // namespace

std::optional<QString> title(const SupportedBrowser& browser, const BrowserAccessState& state, const QString& home)
{
    using Kind = BrowserAccessState::Kind;
    // Running without its port, or reached by nothing while the extension is missing.
    if (state.kind != Kind::permissionNeeded && state.kind != Kind::extensionMissing)
        return std::nullopt;
    if (!planFor(browser, home))
        return std::nullopt;
    return QStringLiteral("Create Launcher");
}

Outcome create(const SupportedBrowser& browser, const QString& home, const QString& applicationsFolder)
{
    const std::optional<BrowserLauncher::Plan> plan = planFor(browser, home);
    if (!plan)
        return {QStringLiteral("Couldn't create a launcher: ") + browser.name +
                    QStringLiteral(" isn't installed where a launcher can start it."),
                true,
                {}};
    QString keptAs;
    if (const std::optional<QString> error = BrowserLauncher::write(browser.name, *plan, applicationsFolder, &keptAs))
        return {
            QStringLiteral("Couldn't create a launcher for ") + browser.name + QStringLiteral(". ") + *error, true, {}};
    const QString path = QDir(applicationsFolder).filePath(plan->fileName);
    QString message = QStringLiteral("Launcher saved to ") + path + QStringLiteral(". Quit ") + browser.name +
                      QStringLiteral(" and start it again from your applications menu.");
    if (!plan->profile.isEmpty())
        message += QStringLiteral(" It uses a profile folder of its own, so you'll sign in to your sites again there.");
    if (!keptAs.isEmpty())
        message += QStringLiteral(" Your previous launcher is kept as ") + keptAs + QLatin1Char('.');
    return {message, false, path};
}

} // namespace BrowserLauncherOffer
