#include "onboarding/OnboardingFlow.h"

#include "blocking/BrowserAutomationService.h"
#include "files/Defaults.h"
#include "model/BlockRule.h"
#include "model/TaskItem.h"
#include "model/Text.h"
#include "store/StorageService.h"

#include <QSet>
#include <cmath>

using Step = OnboardingFlow::Step;

const std::vector<double>& OnboardingFlow::hoursOptions()
{
    static const std::vector<double> options{1, 2, 3, 4};
    return options;
}

const std::vector<int>& OnboardingFlow::usageOptions()
{
    static const std::vector<int> options{15, 20, 30, 45, 60};
    return options;
}

const std::vector<int>& OnboardingFlow::breakOptions()
{
    static const std::vector<int> options{5, 10, 20, 30, 60};
    return options;
}

const QStringList& OnboardingFlow::priorityExamples()
{
    static const QStringList examples{QStringLiteral("Deep work"), QStringLiteral("Go for a walk"),
                                      QStringLiteral("Call family")};
    return examples;
}

std::optional<Step> OnboardingFlow::stepFromRaw(int raw)
{
    if (raw < 0 || raw > int(Step::install))
        return std::nullopt;
    return Step(raw);
}

OnboardingFlow::OnboardingFlow(int startStep, const std::function<bool()>& shouldOfferMove)
    : m_picked{QStringLiteral("youtube.com")}
{
    const auto start = stepFromRaw(startStep);
    if (!start || *start == Step::welcome)
        m_step = shouldOfferMove && shouldOfferMove() ? Step::install : Step::welcome;
    else
        m_step = *start;
    // A flow started past the question still needs an estimate for its figures.
    if (startStep >= 1)
        m_hoursPerDay = 2.0;
}

void OnboardingFlow::go(Step target)
{
    m_history.append(m_step);
    m_step = target;
}

bool OnboardingFlow::back()
{
    if (m_history.isEmpty())
        return false;
    m_step = m_history.takeLast();
    return true;
}

bool OnboardingFlow::hasFooter(Step step)
{
    return step != Step::install && step != Step::welcome;
}

std::optional<double> OnboardingFlow::progress(Step step)
{
    if (step == Step::install || step == Step::welcome)
        return std::nullopt;
    return int(step) / 7.0;
}

QString OnboardingFlow::stepLabel(Step step)
{
    switch (step) {
    case Step::sites:
        return QStringLiteral("Step 1 of 4");
    case Step::browser:
        return QStringLiteral("Step 2 of 4");
    case Step::priority:
        return QStringLiteral("Step 3 of 4");
    case Step::otherComputer:
        return QStringLiteral("Step 4 of 4");
    default:
        return {};
    }
}

bool OnboardingFlow::isPrimaryEnabled() const
{
    if (m_finished)
        return false;
    switch (m_step) {
    case Step::dailyScroll:
        return m_hoursPerDay.has_value();
    case Step::sites:
        return !selectedSites().isEmpty();
    default:
        return true;
    }
}

std::optional<Step> OnboardingFlow::nextStep(Step step)
{
    switch (step) {
    case Step::welcome:
        return Step::dailyScroll;
    case Step::dailyScroll:
        return Step::howItWorks;
    case Step::howItWorks:
        return Step::sites;
    case Step::sites:
        return Step::browser;
    case Step::browser:
        return Step::priority;
    case Step::priority:
        return Step::otherComputer;
    case Step::otherComputer:
        return Step::done;
    case Step::install:
    case Step::done:
        return std::nullopt;
    }
    return std::nullopt;
}

int OnboardingFlow::daysLostPerYear() const
{
    return int(std::lround(m_hoursPerDay.value_or(2.0) * 365.0 / 24.0));
}

int OnboardingFlow::monthsLostOverTenYears() const
{
    return int(std::lround(m_hoursPerDay.value_or(2.0) * 3650.0 / 24.0 / 30.44));
}

QString OnboardingFlow::hoursTitle(double hours)
{
    if (hours == 1)
        return QStringLiteral("About 1 hour");
    if (hours == 4)
        return QStringLiteral("4 hours or more");
    return QStringLiteral("About %1 hours").arg(qint64(hours));
}

QStringList OnboardingFlow::selectedSites() const
{
    // Compared as domains, so "YouTube.com" typed by hand can never sit beside the picked chip.
    QStringList result;
    QSet<QString> seen;
    for (const QStringList* list : {&m_picked, &m_custom}) {
        for (const QString& site : *list) {
            const QString key = BlockRule::normalizedDomain(site);
            if (seen.contains(key))
                continue;
            seen.insert(key);
            result.append(site);
        }
    }
    return result;
}

void OnboardingFlow::toggleSite(const QString& site)
{
    if (m_picked.contains(site))
        m_picked.removeAll(site);
    else if (BlockRule::suggestedSites().contains(site))
        m_picked.append(site);
}

bool OnboardingFlow::addCustomSite()
{
    const QString domain = BlockRule::normalizedDomain(newSite);
    if (!BlockRule::isValidDomain(domain))
        return false;
    QStringList& target = BlockRule::suggestedSites().contains(domain) ? m_picked : m_custom;
    if (!target.contains(domain))
        target.append(domain);
    newSite.clear();
    return true;
}

void OnboardingFlow::removeCustomSite(const QString& site)
{
    m_custom.removeAll(site);
}

void OnboardingFlow::skipSites()
{
    m_picked.clear();
    m_custom.clear();
    go(Step::priority);
}

bool OnboardingFlow::showsSiteHint() const
{
    return !newSite.isEmpty() && !BlockRule::isValidDomain(newSite);
}

QString OnboardingFlow::durationLabel(int minutes)
{
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    const int hours = minutes / 60;
    const int rest = minutes % 60;
    QString text = hours == 1 ? QStringLiteral("1 hour") : QStringLiteral("%1 hours").arg(hours);
    if (rest > 0)
        text += QStringLiteral(" %1 min").arg(rest);
    return text;
}

QString OnboardingFlow::previewSite() const
{
    const QStringList sites = selectedSites();
    return sites.isEmpty() ? QStringLiteral("youtube.com") : sites.first();
}

std::vector<SupportedBrowser> OnboardingFlow::installedBrowsers(const std::vector<SupportedBrowser>& table,
                                                                const QHash<QString, BrowserAccessState>& access)
{
    std::vector<SupportedBrowser> result;
    for (const SupportedBrowser& browser : table) {
        const auto it = access.constFind(browser.id);
        if (it != access.constEnd() && it->kind != BrowserAccessState::Kind::notInstalled)
            result.push_back(browser);
    }
    return result;
}

std::optional<SupportedBrowser>
OnboardingFlow::browserNeedingPermission(const std::vector<SupportedBrowser>& installed,
                                         const QHash<QString, BrowserAccessState>& access)
{
    for (const SupportedBrowser& browser : installed)
        if (access.value(browser.id).kind == BrowserAccessState::Kind::permissionNeeded)
            return browser;
    return std::nullopt;
}

SupportedBrowser OnboardingFlow::promptBrowser(const std::vector<SupportedBrowser>& installed,
                                               const QHash<QString, BrowserAccessState>& access)
{
    for (const SupportedBrowser& browser : installed)
        if (!access.value(browser.id).isProtected())
            return browser;
    // Everything connected or nothing found: the prompt still shows, as the first browser would ask.
    return SupportedBrowser::all().front();
}

QString OnboardingFlow::promptBrowserName(const std::vector<SupportedBrowser>& installed,
                                          const QHash<QString, BrowserAccessState>& access)
{
    return promptBrowser(installed, access).name;
}

QString OnboardingFlow::explanationSiteName() const
{
    const QStringList sites = selectedSites();
    return sites.isEmpty() ? QStringLiteral("a distracting site") : BlockRule::suggestedDisplayName(sites.first());
}

void OnboardingFlow::setPriorityTitle(const QString& text)
{
    m_priorityTitle = Text::characterCount(text) > priorityLimit ? Text::leftCharacters(text, priorityLimit) : text;
}

void OnboardingFlow::skipPriority()
{
    m_priorityTitle.clear();
    go(Step::otherComputer);
}

QString OnboardingFlow::doomScrollPlanText() const
{
    QStringList names;
    for (const QString& site : selectedSites())
        names.append(BlockRule::suggestedDisplayName(site));
    return names.join(QStringLiteral(", ")) + QStringLiteral(" \u00B7 a ") + durationLabel(breakMinutes) +
           QStringLiteral(" break after ") + durationLabel(usageMinutes);
}

bool OnboardingFlow::finish(const FinishTargets& targets)
{
    if (m_finished)
        return false;
    m_finished = true;

    if (m_hoursPerDay && targets.defaults)
        targets.defaults->set(hoursPerDayKey, *m_hoursPerDay);

    const QStringList sites = selectedSites();
    if (!sites.isEmpty() && targets.storage) {
        DoomScrollConfig config = targets.storage->blocking().doomScrollConfig();
        // Domains against domains: a stored "www.YouTube.com" already covers "youtube.com".
        QSet<QString> known;
        for (const DoomScrollDomain& d : config.domains)
            known.insert(BlockRule::normalizedDomain(d.domain));
        for (const QString& site : sites) {
            const QString domain = BlockRule::normalizedDomain(site);
            if (known.contains(domain))
                continue;
            known.insert(domain);
            config.domains.push_back({QUuid::createUuid(), domain});
        }
        config.isEnabled = true;
        config.usageWindowMinutes = usageMinutes;
        config.breakMinutes = breakMinutes;
        targets.storage->blocking().updateDoomScrollConfig(config);
    }

    const QString title = trimmedPriority();
    if (!title.isEmpty() && targets.storage) {
        TaskItem todo;
        todo.id = QUuid::createUuid();
        todo.title = Text::leftCharacters(title, priorityLimit);
        todo.time = TaskItem::anytime;
        todo.priority = TaskItem::Priority::high;
        todo.createdAt = targets.calendar.startOfDay(targets.now);
        todo.updatedAt = todo.createdAt;
        targets.storage->todos().addTodo(todo);
    }

    if (remindersOn && targets.requestNotificationPermission)
        targets.requestNotificationPermission();

    // On disk before the hand-over: a crash after this point neither shows the onboarding again
    // nor repeats the writes above.
    if (targets.defaults)
        targets.defaults->set(completedKey, true);
    if (targets.onFinish)
        targets.onFinish();
    return true;
}
