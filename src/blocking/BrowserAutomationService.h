#pragma once

#include "blocking/BlockedAddresses.h"
#include "blocking/BrowserAccess.h"
#include "blocking/UsageAccounting.h"
#include "model/BlockRule.h"
#include "model/Calendar.h"
#include "platform/BrowserCommand.h"
#include "platform/ExtensionLink.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <functional>
#include <optional>

class BrowserScriptExecutor;
class Defaults;
class ExtensionRepair;
class IdleTime;
struct BlockedSiteSnapshot;
class LocalBlockPageServer;
class NavigationInterceptor;
class ScreenState;
class StorageService;
class Workspace;

// Enforces the blocking rules from outside the browsers: every 0.65 s it reads the address of the
// current tab of the browser in use, counts active time on the site and points a blocked tab at
// the block page, only if the tab still shows what was read. While a read that concerns no rule
// stands and the browser and the desktop tell of every change, it rests until one does. What
// reaches each browser is BrowserAccess's, the time counted UsageAccounting's, and whether an
// address is blocked BlockedAddresses's, which the navigations held in a browser ask as well.
class BrowserAutomationService : public QObject {
    Q_OBJECT
public:
    struct Environment {
        const Clock* clock = nullptr;
        std::function<Calendar()> calendar;
        Defaults* defaults = nullptr;
        Workspace* workspace = nullptr;
        IdleTime* idleTime = nullptr;
        ScreenState* screen = nullptr; // optional
        // The page openAutomationSettings() opens, made when asked for.
        std::function<QUrl()> automationHelpPage;
        // Measures the waits that must not follow the wall clock (the stuck-check watchdog, the
        // listing throttle); the system's when none is given.
        const MonotonicClock* monotonic = nullptr;
        // Holds navigations to blocked sites inside the connected browsers, before they load;
        // optional: without it (or where it cannot hold a browser) the checks do all the work.
        NavigationInterceptor* interceptor = nullptr;
        // The companion extensions; optional: without them only the debugging protocol reaches
        // a browser.
        ExtensionLink* extensions = nullptr;
        // What fixes a browser's extension route (installing the extension, rewriting the host
        // manifest); without it the help page opens.
        ExtensionRepair* extensionRepair = nullptr;
    };

    BrowserAutomationService(StorageService* storage, LocalBlockPageServer* pageServer, BrowserScriptExecutor* executor,
                             Environment environment, QObject* parent = nullptr);
    ~BrowserAutomationService() override;

    static constexpr int checkIntervalMs = 650;
    static constexpr double listingInterval = BrowserAccess::listingInterval;
    static constexpr double idleLimit = 600.0;
    static constexpr qint64 checkWatchdogMs = 10000;
    static inline const QString& attemptedKey = BrowserAccess::attemptedKey;
    static inline const QString& extensionSeenKey = BrowserAccess::extensionSeenKey;

    void start();
    bool isStarted() const { return m_started; }
    // The run ends: no check, and nothing held in the browsers from here on, so that what is
    // sent back to its site stays there.
    void stop();
    bool isStopped() const { return m_stopped; }
    // Whether the 0.65 s checks run now: only while something is enforced, the screen is awake
    // and a browser runs that a check could read or warn about. Events wake them again.
    bool isCheckTimerRunning() const { return m_timer.isActive(); }
    // Whether they rest on a spared read until something it rests on changes (see rest()).
    bool isResting() const { return m_resting; }
    // Browsers started or quit (the desktop's discovery heard of it): the checks resume if they
    // have a browser to look at again.
    void browsersChanged();

    const std::vector<SupportedBrowser>& browsers() const { return SupportedBrowser::all(); }
    // Each browser's state, both routes combined.
    const QHash<QString, BrowserAccessState>& accessByBrowserID() const { return m_browsers.states(); }
    const QSet<QString>& attemptedBrowserIDs() const { return m_browsers.attempted(); }
    std::optional<QString> browserInUseWithoutProtection() const { return m_browsers.unprotected(); }
    bool needsAttention() const { return m_browsers.needsAttention(hasProtectionToEnforce()); }
    bool isChecking() const { return m_isChecking; }
    bool isScreenActive() const { return m_isScreenActive; }

    void refreshInstalledBrowsers(bool force) { m_browsers.refreshInstalled(force); }
    void connect(const SupportedBrowser& browser);
    void openAutomationSettings();
    // The one-click fix for the browser's current state: connecting, the help page, or the
    // extension's install or repair.
    void fix(const SupportedBrowser& browser);
    // The debugging protocol's state of the browser, as its last answer left it.
    void setAccess(const BrowserAccessState& state, const SupportedBrowser& browser)
    {
        m_browsers.setDevToolsState(state, browser);
    }
    using ExtensionSide = BrowserAccess::ExtensionSide;
    static BrowserAccessState combinedAccess(const SupportedBrowser& browser, const BrowserAccessState& devTools,
                                             const ExtensionSide& extension)
    {
        return BrowserAccess::combinedAccess(browser, devTools, extension);
    }
    static BrowserAccessState accessState(BrowserCommandError error, const std::optional<QString>& message)
    {
        return BrowserAccess::accessState(error, message);
    }
    bool isInstalled(const SupportedBrowser& browser) const { return m_browsers.isInstalled(browser); }
    bool isRunning(const SupportedBrowser& browser) const { return m_browsers.isRunning(browser); }

    // One tick's work; the timer calls it, and tests may too.
    void checkActiveBrowser();
    const SupportedBrowser* activeBrowser();
    void setScreenActive(bool active);

    // Active-use accounting.
    bool isBrowserInUse(const SupportedBrowser& browser) const;
    void accountUsage(const QString& host);
    void resetUsageTracking();
    std::optional<BlockRule> activeUrgentBreakRule(const QString& host) const;

    // Where a navigation to `address` in the browser should go instead: its block page, decided
    // from the store's current blocking state; nothing to let it through.
    std::optional<QString> interceptedNavigationTarget(const QString& browserId, const QString& address);

signals:
    // A browser's state, or whether blocking needs attention (needsAttention()), changed.
    void accessChanged();
    void browserInUseWithoutProtectionChanged();

private:
    void noteSeen(const QString& what);
    void takeExtensionConnections();
    bool hasProtectionToEnforce() const;
    bool hasBrowserToWatch() const;
    void updateSchedule();
    void rest();
    void wake();
    void lookNow();
    void updateUnprotectedBrowserWarning();
    // Starts the check's read; true when it was spared instead (see m_inertRead).
    bool runGuardedCheck();
    bool concernsAnyRule(const QString& host) const;
    enum class FocusProbe { none, started, spared };
    FocusProbe probeFocus();
    bool inertReadStands(const QStringList& browserIds, bool probe) const;
    void probeNext(std::vector<SupportedBrowser> candidates, size_t index,
                   std::optional<std::pair<SupportedBrowser, QString>> background, quint64 check);
    void handleActiveTab(const BrowserScriptResult& result, const SupportedBrowser& browser, bool enforce, bool probe,
                         quint64 check);
    void finishScript(const BrowserScriptResult& result, const SupportedBrowser& browser, quint64 check);
    void finishCheck(quint64 check);
    void updateInterception();
    bool hasUsageToMeasure(const QString& host) const;
    Date now() const;
    // The application in front: asked once per tick.
    std::optional<QString> frontmost() const;

    QPointer<StorageService> m_storage;
    QPointer<LocalBlockPageServer> m_pageServer;
    QPointer<BrowserScriptExecutor> m_executor;
    Environment m_env;
    BrowserAccess m_browsers;
    QTimer m_timer;
    bool m_started = false;
    bool m_stopped = false;
    bool m_isChecking = false;
    quint64 m_checkNumber = 0;   // completions of an abandoned check must not end a newer one
    double m_checkStartedAt = 0; // monotonic seconds: the watchdog must not depend on the wall clock
    std::optional<std::optional<QString>> m_tickFront; // while a tick runs
    std::optional<QString> m_lastActiveBrowserID;
    std::optional<QString> m_focusedBrowserID; // in front by its own answer, when the desktop cannot tell
    QString m_lastSeen;                        // the browser and address the last check read
    double m_lastSeenChangeAt = 0;             // monotonic seconds
    BlockedAddresses m_blocked;
    UsageAccounting m_usage;
    bool m_isScreenActive = true;
    // The last check's read found nothing any rule or doom-scroll site concerns (another site, a
    // page that is no web page, no window): while the route says the browser has told nothing
    // new since (each browser a focus probe asked, where the desktop names no front), the next
    // check would find the same and is spared its read. Forgotten whenever the rules, the
    // doom-scroll sites, the screen or the browser's state change.
    struct InertRead {
        QStringList browserIds; // the one read, or every one a focus probe asked, in order
        quint16 port = 0;       // the block page's: what counts as our own page
        bool probe = false;     // the front unknown, the browsers were asked where the focus is
    };
    std::optional<InertRead> m_inertRead;
    // While the check's read is a focus probe: the browsers it asks (none once it stopped short).
    std::optional<QStringList> m_probedBrowsers;
    bool m_resting = false;
    bool m_lookQueued = false;
    quint64 m_readCheck = 0; // the check whose answer is the read's own (not a focus probe's)
};
