#pragma once

#include "model/Calendar.h"
#include "model/SupportedBrowser.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class Defaults;
class StorageService;
struct BrowserAccessState;

// The first-run flow without its widgets: which step shows, the way back, every choice the person
// makes, and the one place where those choices are written. Nothing leaves this object before
// finish().
class OnboardingFlow {
public:
    // Raw values are what callers pass as the start step; install has the highest value but is
    // shown first.
    enum class Step { welcome = 0, dailyScroll, howItWorks, sites, browser, priority, otherComputer, done, install };

    static inline const QString completedKey = QStringLiteral("onboarding.completed.v1");
    static inline const QString hoursPerDayKey = QStringLiteral("opportunityCost.hoursPerDay");
    static constexpr qsizetype priorityLimit = 150;

    static const std::vector<double>& hoursOptions();
    static const std::vector<int>& usageOptions();
    static const std::vector<int>& breakOptions();
    static const QStringList& priorityExamples();

    // `shouldOfferMove` is asked only when the flow starts at its beginning.
    OnboardingFlow(int startStep, const std::function<bool()>& shouldOfferMove);

    static std::optional<Step> stepFromRaw(int raw);

    Step step() const { return m_step; }
    const QList<Step>& history() const { return m_history; }
    void go(Step target);
    // False when there is nowhere to go back to.
    bool back();

    // Steps with the Back/Continue footer; Escape goes back only on these.
    static bool hasFooter(Step step);
    // The progress bar's fill (0 ... 1), or nothing on steps without a bar.
    static std::optional<double> progress(Step step);
    // "Step 1 of 4" and so on; empty on the steps that are not numbered.
    static QString stepLabel(Step step);
    // Whether the step's primary button (Continue, Get started, …) may be pressed now.
    bool isPrimaryEnabled() const;
    // Where the step's primary button leads; nothing on the install step (its button moves the
    // program) and the done step (its button finishes).
    static std::optional<Step> nextStep(Step step);

    // --- daily scroll
    std::optional<double> hoursPerDay() const { return m_hoursPerDay; }
    void setHoursPerDay(double hours) { m_hoursPerDay = hours; }
    int daysLostPerYear() const;
    int monthsLostOverTenYears() const;
    static QString hoursTitle(double hours);

    // --- sites
    const QStringList& pickedSites() const { return m_picked; }
    const QStringList& customSites() const { return m_custom; }
    // Picked then custom sites, each domain once.
    QStringList selectedSites() const;
    void toggleSite(const QString& site);
    // False (nothing changes) when the text is no valid domain; a valid one empties newSite.
    bool addCustomSite();
    void removeCustomSite(const QString& site);
    void skipSites();
    QString newSite;
    // Whether the add-a-site field shows its hint.
    bool showsSiteHint() const;
    int usageMinutes = 20;
    int breakMinutes = 10;
    static QString durationLabel(int minutes);
    // The site the previews show: the first selected one, else the default pick.
    QString previewSite() const;

    // --- browser step
    static std::vector<SupportedBrowser> installedBrowsers(const std::vector<SupportedBrowser>& table,
                                                           const QHash<QString, BrowserAccessState>& access);
    static std::optional<SupportedBrowser> browserNeedingPermission(const std::vector<SupportedBrowser>& installed,
                                                                    const QHash<QString, BrowserAccessState>& access);
    // The browser the picture of adding the extension shows.
    static SupportedBrowser promptBrowser(const std::vector<SupportedBrowser>& installed,
                                          const QHash<QString, BrowserAccessState>& access);
    static QString promptBrowserName(const std::vector<SupportedBrowser>& installed,
                                     const QHash<QString, BrowserAccessState>& access);
    QString explanationSiteName() const;

    // --- priority
    const QString& priorityTitle() const { return m_priorityTitle; }
    // Keeps at most 150 characters as a person counts them; an emoji is never split.
    void setPriorityTitle(const QString& text);
    QString trimmedPriority() const { return m_priorityTitle.trimmed(); }
    void skipPriority();

    // --- done
    bool remindersOn = true;
    QString doomScrollPlanText() const;
    std::optional<QString> moveError;

    struct FinishTargets {
        StorageService* storage = nullptr;
        Defaults* defaults = nullptr;
        Date now = 0;
        Calendar calendar;
        // Started, not awaited; it must not hold up the hand-over.
        std::function<void()> requestNotificationPermission;
        std::function<void()> onFinish;
    };
    // Writes the choices in a fixed order, marks the onboarding completed on disk and then calls
    // onFinish. Runs once: a second press of the button writes nothing again (false).
    bool finish(const FinishTargets& targets);
    bool isFinished() const { return m_finished; }

private:
    Step m_step;
    QList<Step> m_history;
    std::optional<double> m_hoursPerDay;
    QStringList m_picked;
    QStringList m_custom;
    QString m_priorityTitle;
    bool m_finished = false;
};
