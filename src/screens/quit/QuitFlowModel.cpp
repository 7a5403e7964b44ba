#include "screens/quit/QuitFlowModel.h"
#include "model/LocaleFormats.h"

#include "model/BlockRule.h"
#include "store/StorageService.h"

#include <QLocale>
#include <cmath>

QuitFlowModel::QuitFlowModel(const MonotonicClock& clock, QObject* parent) : QObject(parent), m_clock(clock) {}

void QuitFlowModel::chooseReason(QuitReason reason)
{
    if (m_step != Step::reason)
        return;
    m_reason = reason;
    emit changed();
}

void QuitFlowModel::continueToReflect()
{
    if (m_step != Step::reason || !m_reason)
        return;
    m_step = Step::reflect;
    emit changed();
}

void QuitFlowModel::startWait()
{
    if (m_step != Step::reflect)
        return;
    m_deadline = m_clock.seconds() + waitSeconds;
    m_secondsRemaining = waitSeconds;
    m_step = Step::wait;
    emit changed();
}

void QuitFlowModel::tick()
{
    if (m_step != Step::wait)
        return;
    const int remaining = std::max(0, int(std::ceil(m_deadline - m_clock.seconds())));
    if (remaining == m_secondsRemaining)
        return;
    m_secondsRemaining = remaining;
    emit changed();
}

std::optional<QuitAlternative> QuitFlowModel::alternative(QuitReason reason)
{
    switch (reason) {
    case QuitReason::windowInTheWay:
        return QuitAlternative::closeWindow;
    case QuitReason::needASite:
        return QuitAlternative::urgentBreak;
    case QuitReason::notWorking:
        return QuitAlternative::checkBrowsers;
    case QuitReason::other:
        break;
    }
    return std::nullopt;
}

QString QuitFlowModel::reasonTitle(QuitReason reason)
{
    switch (reason) {
    case QuitReason::windowInTheWay:
        return QStringLiteral("I just want the window out of the way");
    case QuitReason::needASite:
        return QStringLiteral("I need a site that's blocked");
    case QuitReason::notWorking:
        return QStringLiteral("Something isn't working");
    case QuitReason::other:
        break;
    }
    return QStringLiteral("Another reason");
}

QString QuitFlowModel::cardText(QuitReason reason)
{
    switch (reason) {
    case QuitReason::windowInTheWay:
        return QStringLiteral("You don't need to quit for that. With the window closed, Quillharbour keeps blocking "
                              "quietly in the background.");
    case QuitReason::needASite:
        return QStringLiteral("An urgent break opens that one site for 10 minutes and keeps everything else blocked.");
    case QuitReason::notWorking:
        return QStringLiteral(
            "Most problems come from a browser that isn't connected. It only takes a moment to check.");
    case QuitReason::other:
        break;
    }
    return {};
}

QString QuitFlowModel::cardButtonTitle(QuitReason reason)
{
    switch (reason) {
    case QuitReason::windowInTheWay:
        return QStringLiteral("Close the window instead");
    case QuitReason::needASite:
        return QStringLiteral("Take an urgent break instead");
    case QuitReason::notWorking:
        return QStringLiteral("Check my browsers");
    case QuitReason::other:
        break;
    }
    return {};
}

QString QuitFlowModel::countdownText(int seconds)
{
    seconds = std::max(0, seconds);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString QuitFlowModel::stepHeader(Step step)
{
    return QStringLiteral("Quit Quillharbour \u00b7 Step %1 of 3").arg(int(step) + 1);
}

std::vector<QuitSite> QuitFlowModel::sitesOpeningOnQuit(const StorageService& storage)
{
    std::vector<QuitSite> sites;
    for (const BlockRule& rule : storage.blocking().rules())
        sites.push_back({rule.domain, rule.displayName});
    if (storage.blocking().doomScrollConfig().isEnabled)
        for (const auto& entry : storage.blocking().doomScrollConfig().domains) {
            const bool listed = std::any_of(sites.begin(), sites.end(),
                                            [&](const QuitSite& site) { return site.domain == entry.domain; });
            if (!listed)
                sites.push_back({entry.domain, BlockRule::suggestedDisplayName(entry.domain)});
        }
    return sites;
}

QString QuitFlowModel::blockedSitesPhrase(const std::vector<QuitSite>& sites)
{
    if (sites.empty())
        return QStringLiteral("blocked sites");
    if (sites.size() <= 3) {
        QStringList names;
        for (const QuitSite& site : sites)
            names.append(site.name);
        return LocaleFormats::list(names);
    }
    return QStringLiteral("%1, %2 and %3 more sites").arg(sites[0].name, sites[1].name).arg(sites.size() - 2);
}

QString QuitFlowModel::closedAppText(const std::vector<QuitSite>& sites)
{
    return QStringLiteral("While Quillharbour is closed, ") + blockedSitesPhrase(sites) +
           (sites.size() == 1 ? QStringLiteral(" opens") : QStringLiteral(" open")) +
           QStringLiteral(" freely on this computer, until you open the app again.");
}
