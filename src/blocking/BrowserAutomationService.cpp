#include "blocking/BrowserAutomationService.h"

#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "files/Defaults.h"
#include "platform/IdleTime.h"
#include "platform/NavigationInterceptor.h"
#include "platform/ScreenState.h"
#include "platform/ScriptRunner.h"
#include "platform/Workspace.h"
#include "store/StorageService.h"

#include <QScopeGuard>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace {

double stepSince(std::optional<Date> last, Date now)
{
    const double delta = now - *last;
    if (!(delta > 0)) // negative, zero or not a number
        return 0;
    return std::min(delta, BrowserAutomationService::stepCap);
}

// Looked up on every check: without copying the state out.
bool isConnected(const QHash<QString, BrowserAccessState>& states, const QString& browserId)
{
    const auto it = states.constFind(browserId);
    return it != states.cend() && it->kind == BrowserAccessState::Kind::connected;
}

} // namespace

BrowserAutomationService::BrowserAutomationService(StorageService* storage, LocalBlockPageServer* pageServer,
                                                   BrowserScriptExecutor* executor, Environment environment,
                                                   QObject* parent)
    : QObject(parent), m_storage(storage), m_pageServer(pageServer), m_executor(executor), m_env(std::move(environment))
{
    Q_ASSERT(m_env.clock && m_env.calendar && m_env.defaults && m_env.workspace && m_env.idleTime);
    if (!m_env.monotonic) {
        static const SystemMonotonicClock system;
        m_env.monotonic = &system;
    }
    for (const QString& id : m_env.defaults->stringArray(attemptedKey).value_or(QStringList()))
        m_attempted.insert(id);
    for (const QString& bundle : m_env.defaults->stringArray(extensionSeenKey).value_or(QStringList()))
        m_extensionSeen.insert(bundle);
    m_timer.setInterval(checkIntervalMs);
    // The timer's own event is the tick's task on the main thread: posting another one would
    // wake the loop a second time for nothing.
    QObject::connect(&m_timer, &QTimer::timeout, this, &BrowserAutomationService::checkActiveBrowser);
    m_listingTimer.setInterval(int(listingInterval * 1000));
    QObject::connect(&m_listingTimer, &QTimer::timeout, this, [this] {
        refreshInstalledBrowsers(false);
        updateUnprotectedBrowserWarning();
    });
    if (m_storage) {
        // Something to enforce again wakes the checks.
        QObject::connect(m_storage, &StorageService::rulesChanged, this, &BrowserAutomationService::updateSchedule);
        QObject::connect(m_storage, &StorageService::doomScrollConfigChanged, this,
                         &BrowserAutomationService::updateSchedule);
        // What a read found unconcerned may concern the new rules or sites.
        // What a read found unconcerned may concern the new rules or sites, and a browser in
        // front may need the warning again or no longer.
        const auto forget = [this] {
            m_inertRead.reset();
            m_warnedFront.reset();
        };
        QObject::connect(m_storage, &StorageService::rulesChanged, this, forget);
        QObject::connect(m_storage, &StorageService::doomScrollConfigChanged, this, forget);
    }
    // A spared read lets the checks rest (see rest()); whatever it rested on wakes them.
    // What a browser tells (a tab shown, a window focused) is looked at now, not at the next tick:
    // switching to a tab already on a blocked site moves it at once.
    if (m_executor)
        QObject::connect(m_executor, &BrowserScriptExecutor::browserTold, this, [this] {
            if (m_resting)
                wake();
            else if (m_timer.isActive())
                lookNow();
        });
    if (m_pageServer)
        QObject::connect(m_pageServer, &LocalBlockPageServer::portChanged, this, &BrowserAutomationService::wake);
    m_env.workspace->onFrontmostChange([self = QPointer<BrowserAutomationService>(this)] {
        if (self)
            self->wake();
    });
    if (m_env.screen) {
        QObject::connect(m_env.screen, &ScreenState::screensDidSleep, this, [this] { setScreenActive(false); });
        QObject::connect(m_env.screen, &ScreenState::screensDidWake, this, [this] { setScreenActive(true); });
        QObject::connect(m_env.screen, &ScreenState::screenLocked, this, [this] { setScreenActive(false); });
        QObject::connect(m_env.screen, &ScreenState::screenUnlocked, this, [this] { setScreenActive(true); });
    }
    if (m_env.extensions) {
        QObject::connect(m_env.extensions, &ExtensionLink::setupChanged, this,
                         &BrowserAutomationService::takeExtensionConnections);
        QObject::connect(m_env.extensions, &ExtensionLink::reportChanged, this,
                         &BrowserAutomationService::updateAccess);
        // A tab or focus change an extension reports is looked at now, not at the next tick.
        QObject::connect(m_env.extensions, &ExtensionLink::reportChanged, this, [this] {
            updateSchedule();
            if (m_timer.isActive())
                lookNow();
        });
        takeExtensionConnections();
    }
    if (m_env.interceptor) {
        QPointer<BrowserAutomationService> self(this);
        m_env.interceptor->setDecision([self](const QString& bundleIdentifier, const QString& address) {
            return self ? self->interceptedNavigationTarget(bundleIdentifier, address) : std::nullopt;
        });
        if (m_storage) {
            // The held domains follow every change of what is blocked: rules, boundaries, breaks, pauses.
            QObject::connect(m_storage, &StorageService::stateChanged, this,
                             &BrowserAutomationService::updateInterception);
            QObject::connect(m_storage, &StorageService::rulesChanged, this,
                             &BrowserAutomationService::updateInterception);
        }
        updateInterception();
    }
}

BrowserAutomationService::~BrowserAutomationService()
{
    m_env.workspace->onFrontmostChange(nullptr);
    if (m_env.interceptor)
        m_env.interceptor->setDecision(nullptr);
}

Date BrowserAutomationService::now() const
{
    return m_env.clock->now();
}

// ---------------------------------------------------------------- the check cycle

bool BrowserAutomationService::hasProtectionToEnforce() const
{
    return m_storage && (!m_storage->rules().empty() || m_storage->doomScrollConfig().isEnabled);
}

bool BrowserAutomationService::hasBrowserToWatch() const
{
    // A check reads a chosen browser that runs, and warns about any browser in front that no
    // route protects: with none of them running it has nothing to do.
    return m_isScreenActive && hasProtectionToEnforce() && anyBrowserRuns();
}

bool BrowserAutomationService::anyBrowserRuns() const
{
    for (const SupportedBrowser& b : browsers())
        if (isRunning(b))
            return true;
    for (auto it = knownUnprotectedBrowsers().cbegin(); it != knownUnprotectedBrowsers().cend(); ++it)
        if (m_env.workspace->isRunning(it.key()))
            return true;
    return false;
}

void BrowserAutomationService::stop()
{
    m_stopped = true;
    m_timer.stop();
    m_listingTimer.stop();
    m_resting = false;
    m_lookQueued = false;
    if (m_env.interceptor)
        for (const SupportedBrowser& b : browsers())
            m_env.interceptor->watch(b.bundleIdentifier, {});
}

void BrowserAutomationService::updateSchedule()
{
    if (!m_started || m_stopped)
        return;
    const bool wanted = hasBrowserToWatch();
    if (wanted && m_resting) {
        // What called is a change the spared read may rest on.
        wake();
    } else if (wanted && !m_timer.isActive()) {
        m_timer.start();
    } else if (!wanted && (m_timer.isActive() || m_resting)) {
        m_timer.stop();
        m_resting = false;
        // Nothing is read until the checks resume; what was measured ends here.
        resetUsageTracking();
        updateUnprotectedBrowserWarning();
    }
    updateListing();
}

void BrowserAutomationService::updateListing()
{
    // While no check runs beside a running browser, what its profiles hold (an extension added in
    // one, which the browser writes some seconds after the change and tells nobody) is looked at
    // by the listing's own timer. With no browser running there is nothing of the kind to find:
    // one installed is heard of as it first starts (browsersChanged).
    const bool listing = !m_stopped && !m_timer.isActive() && anyBrowserRuns();
    if (listing && !m_listingTimer.isActive())
        m_listingTimer.start();
    else if (!listing)
        m_listingTimer.stop();
}

void BrowserAutomationService::browsersChanged()
{
    // A browser started or quit: whether its missing extension is news depends on it, and so do
    // the browsers installed, which a program at rest lists on no timer: the last listing is
    // then long past. Not forced: a starting browser changes its folders several times.
    refreshInstalledBrowsers(false);
    updateAccess();
    updateUnprotectedBrowserWarning();
    updateSchedule();
}

void BrowserAutomationService::start()
{
    if (m_started)
        return;
    m_started = true;
    if (m_pageServer && !m_pageServer->isStarted())
        m_pageServer->start(LocalBlockPageServer::defaultPort, true);
    refreshInstalledBrowsers(true);
    updateSchedule();
    refreshInstalledBrowsers(false);
    updateUnprotectedBrowserWarning();
    // The server's port is known from here on.
    updateInterception();
    runGuardedCheck();
}

std::optional<QString> BrowserAutomationService::frontmost() const
{
    if (m_tickFront)
        return *m_tickFront;
    return m_env.workspace->frontmostApplicationId();
}

void BrowserAutomationService::checkActiveBrowser()
{
    m_lookQueued = false;
    if (m_stopped)
        return;
    // One answer for the whole tick: the warning, the choice of browser and the guard all ask.
    m_tickFront = m_env.workspace->frontmostApplicationId();
    const auto forget = qScopeGuard([this] { m_tickFront.reset(); });
    // What is held follows events (the blocked list, a browser chosen; the interceptor itself
    // hears of browsers that start), never the tick.
    refreshInstalledBrowsers(false);
    if (!m_warnedFront || *m_warnedFront != m_tickFront)
        updateUnprotectedBrowserWarning();
    const bool spared = runGuardedCheck();
    // A check under way, or one spared, has a browser to look at; only a tick that found none
    // asks whether the checks may sleep.
    if (!m_isChecking && !spared)
        updateSchedule();
    else if (spared && m_timer.isActive() && m_env.workspace->tellsFrontmostChanges())
        rest();
}

void BrowserAutomationService::rest()
{
    // The next ticks would be spared as this one was, until the browser tells something new (the
    // route hears it), another application comes to the front (the desktop tells), or a rule,
    // the screen or a browser's state changes (each one wakes the checks). Idle on such a page,
    // only the listing still runs.
    m_timer.stop();
    m_resting = true;
    updateListing();
}

void BrowserAutomationService::wake()
{
    if (!m_resting)
        return;
    m_resting = false;
    m_timer.start();
    updateListing();
    // Looked at now rather than at the next tick: the change may be a blocked site on screen.
    lookNow();
}

void BrowserAutomationService::lookNow()
{
    // One check for any number of changes told at once; a tick that comes first takes its place.
    if (m_lookQueued)
        return;
    m_lookQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_lookQueued)
                checkActiveBrowser();
        },
        Qt::QueuedConnection);
}

void BrowserAutomationService::updateInterception()
{
    if (!m_env.interceptor || m_stopped)
        return;
    QStringList domains;
    if (m_storage && m_pageServer && m_pageServer->port())
        for (const BlockedSiteSnapshot& s : m_storage->state().blockedNow)
            if (const QString d = BlockRule::normalizedDomain(s.domain); !d.isEmpty())
                domains.append(d);
    for (const SupportedBrowser& b : browsers())
        m_env.interceptor->watch(b.bundleIdentifier, m_attempted.contains(b.id) ? domains : QStringList());
}

const BlockedSiteSnapshot* BrowserAutomationService::blockedEntry(const QString& host)
{
    if (!m_storage)
        return nullptr;
    if (m_storage->state().validUntil <= now())
        m_storage->refreshBlockingState();
    for (const BlockedSiteSnapshot& s : m_storage->state().blockedNow)
        if (BlockRule::hostMatches(host, s.domain))
            return &s;
    return nullptr;
}

std::optional<QString> BrowserAutomationService::interceptedNavigationTarget(const QString& bundleIdentifier,
                                                                             const QString& address)
{
    // Held by a pattern set a moment ago; whether the host is blocked is decided now, on the
    // store's current list, exactly as a check would.
    const SupportedBrowser* browser = SupportedBrowser::withBundleIdentifier(bundleIdentifier);
    if (!browser || !m_attempted.contains(browser->id) || !m_pageServer || m_stopped)
        return std::nullopt;
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty() || isOwnPage(url))
        return std::nullopt;
    const BlockedSiteSnapshot* match = blockedEntry(url.host());
    if (!match)
        return std::nullopt;
    const std::optional<QUrl> page = m_pageServer->blockedPageURL(match->ruleId, match->domain, address);
    if (!page)
        return std::nullopt;
    return page->toString(QUrl::FullyEncoded);
}

bool BrowserAutomationService::concernsAnyRule(const QString& host) const
{
    // What is blocked now is always a rule's site or a doom-scroll site, and only those count
    // time: a host none of them covers is neither blocked nor counted, whatever the hour.
    if (!m_storage)
        return false;
    for (const BlockRule& rule : m_storage->rules())
        if (BlockRule::hostMatches(host, rule.domain))
            return true;
    const DoomScrollConfig& doom = m_storage->doomScrollConfig();
    return doom.isEnabled && doom.matches(host);
}

bool BrowserAutomationService::runGuardedCheck()
{
    if (m_isChecking && (m_env.monotonic->seconds() - m_checkStartedAt) * 1000 > double(checkWatchdogMs)) {
        // A check that never finished would stop enforcement for good; give up on it.
        qWarning("Browser check did not finish within %lld ms; starting over.",
                 static_cast<long long>(checkWatchdogMs));
        m_isChecking = false;
    }
    if (m_isChecking || !m_isScreenActive || !m_pageServer || !m_pageServer->port() || !hasProtectionToEnforce() ||
        !m_executor)
        return false;
    // The same answer would come back and change nothing. Only the store's own boundary is still
    // looked at, as every check does, in case its timer is late.
    const auto spare = [this] {
        if (m_storage && m_storage->state().validUntil <= now())
            m_storage->refreshBlockingState();
        return true;
    };
    if (!frontmost()) {
        if (const FocusProbe probe = probeFocus(); probe == FocusProbe::spared)
            return spare();
        else if (probe == FocusProbe::started)
            return false;
    }
    const SupportedBrowser* browser = activeBrowser();
    if (!browser)
        return false;
    if (inertReadStands({browser->id}, false))
        return spare();
    m_inertRead.reset();
    m_isChecking = true;
    m_checkStartedAt = m_env.monotonic->seconds();
    const quint64 check = ++m_checkNumber;
    m_readCheck = check;
    m_probedBrowsers.reset();
    const SupportedBrowser b = *browser;
    QPointer<BrowserAutomationService> self(this);
    m_executor->run(BrowserCommand::read(b), [self, b, check](const BrowserScriptResult& result) {
        if (self)
            self->handleActiveTab(result, b, true, false, check);
    });
    return false;
}

bool BrowserAutomationService::inertReadStands(const QStringList& browserIds, bool probe) const
{
    if (!m_inertRead || m_inertRead->browserIds != browserIds || m_inertRead->probe != probe ||
        m_inertRead->port != *m_pageServer->port())
        return false;
    for (const QString& id : browserIds)
        if (const SupportedBrowser* b = SupportedBrowser::withId(id);
            !b || !isConnected(m_devTools, id) || !m_executor->readUnchanged(b->bundleIdentifier))
            return false;
    return true;
}

BrowserAutomationService::FocusProbe BrowserAutomationService::probeFocus()
{
    // The desktop cannot say which application is in front (a Wayland session, no window
    // manager): every chosen browser that runs is asked whether one of its windows has the focus,
    // the one last in use first. Browsers whose extension reports for them are not asked: their
    // reports already told the desktop's answer.
    std::vector<SupportedBrowser> candidates;
    for (const SupportedBrowser& b : browsers()) {
        if (!m_attempted.contains(b.id) || !b.servedBy(SupportedBrowser::devToolsRoute) || !isRunning(b))
            continue;
        if (m_env.extensions && m_env.extensions->setup(b.bundleIdentifier) == ExtensionLink::Setup::connected)
            continue;
        if (b.id == m_lastActiveBrowserID)
            candidates.insert(candidates.begin(), b);
        else
            candidates.push_back(b);
    }
    QStringList ids;
    for (const SupportedBrowser& b : candidates)
        ids.append(b.id);
    // Each asked before and none has told anything since: the focus is where it was.
    if (!ids.isEmpty() && inertReadStands(ids, true))
        return FocusProbe::spared;
    m_focusedBrowserID.reset();
    m_inertRead.reset();
    // None to ask: the browser last in use is checked as where the desktop names no front.
    if (candidates.empty())
        return FocusProbe::none;
    m_isChecking = true;
    m_checkStartedAt = m_env.monotonic->seconds();
    m_readCheck = ++m_checkNumber;
    m_probedBrowsers = ids;
    probeNext(std::move(candidates), 0, std::nullopt, m_checkNumber);
    return FocusProbe::started;
}

void BrowserAutomationService::probeNext(std::vector<SupportedBrowser> candidates, size_t index,
                                         std::optional<std::pair<SupportedBrowser, QString>> background, quint64 check)
{
    if (check != m_checkNumber)
        return;
    if (index >= candidates.size()) {
        // None has the focus. A tab on a blocked site in the one last in use is still moved;
        // nothing counts as use.
        if (background) {
            handleActiveTab(BrowserScriptResult::answer(background->second), background->first, true, false, check);
            return;
        }
        resetUsageTracking();
        finishCheck(check);
        return;
    }
    const SupportedBrowser b = candidates[index];
    QPointer<BrowserAutomationService> self(this);
    m_executor->run(BrowserCommand::readFocused(b),
                    [self, candidates, index, background, b, check](const BrowserScriptResult& result) {
                        if (!self || check != self->m_checkNumber)
                            return;
                        std::optional<std::pair<SupportedBrowser, QString>> seen = background;
                        if (result.failed()) {
                            self->setAccess(accessState(*result.error, result.errorMessage), b);
                        } else {
                            self->setAccess(BrowserAccessState::of(BrowserAccessState::Kind::connected), b);
                            // A browser with no window says nothing of the focus.
                            const QString address = result.output.value_or(QString());
                            if (result.focused.value_or(false)) {
                                // Those after it were not asked: their reads cannot stand.
                                if (index + 1 < candidates.size() && self->m_probedBrowsers)
                                    self->m_probedBrowsers->clear();
                                self->m_focusedBrowserID = b.id;
                                self->m_lastActiveBrowserID = b.id;
                                self->handleActiveTab(BrowserScriptResult::answer(address), b, true, false, check);
                                return;
                            }
                            if (result.focused.has_value() && !seen)
                                seen = std::pair(b, address);
                        }
                        self->probeNext(candidates, index + 1, seen, check);
                    });
}

const SupportedBrowser* BrowserAutomationService::activeBrowser()
{
    if (const std::optional<QString> front = frontmost()) {
        const SupportedBrowser* browser = SupportedBrowser::withBundleIdentifier(*front);
        if (browser && m_attempted.contains(browser->id)) {
            m_lastActiveBrowserID = browser->id;
            return browser;
        }
    }
    if (!m_lastActiveBrowserID)
        return nullptr;
    const SupportedBrowser* last = SupportedBrowser::withId(*m_lastActiveBrowserID);
    if (last && m_attempted.contains(last->id) && isRunning(*last))
        return last;
    return nullptr;
}

void BrowserAutomationService::finishCheck(quint64 check)
{
    if (check == m_checkNumber)
        m_isChecking = false;
}

bool BrowserAutomationService::isOwnPage(const QUrl& url) const
{
    const QString host = url.host().toLower();
    const bool loopback =
        host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") || host == QLatin1String("::1");
    return loopback && m_pageServer && m_pageServer->port() && url.port(-1) == static_cast<int>(*m_pageServer->port());
}

void BrowserAutomationService::handleActiveTab(const BrowserScriptResult& result, const SupportedBrowser& browser,
                                               bool enforce, bool probe, quint64 check)
{
    const auto finish = [this, probe, check] {
        if (!probe)
            finishCheck(check);
    };
    // Remembered only for the check's own read, whose runner can tell whether it would answer
    // the same again.
    const auto inert = [this, &browser, enforce, probe, check] {
        if (!enforce || probe || check != m_readCheck || check != m_checkNumber || !m_pageServer ||
            !m_pageServer->port())
            return;
        if (!m_probedBrowsers)
            m_inertRead = InertRead{{browser.id}, *m_pageServer->port(), false};
        else if (!m_probedBrowsers->isEmpty())
            m_inertRead = InertRead{*m_probedBrowsers, *m_pageServer->port(), true};
    };
    if (!probe)
        m_inertRead.reset();
    if (result.failed()) {
        setAccess(accessState(*result.error, result.errorMessage), browser);
        finish();
        return;
    }
    setAccess(BrowserAccessState::of(BrowserAccessState::Kind::connected), browser);
    if (!enforce || !result.output) {
        resetUsageTracking();
        inert();
        finish();
        return;
    }
    const QString address = *result.output;
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty()) {
        resetUsageTracking();
        inert();
        finish();
        return;
    }
    if (isOwnPage(url)) {
        resetUsageTracking();
        if (url.path() == QLatin1String("/close") && m_executor) {
            QPointer<BrowserAutomationService> self(this);
            m_executor->run(BrowserCommand::close(browser, address),
                            [self, browser, check](const BrowserScriptResult& r) {
                                if (self)
                                    self->finishScript(r, browser, check);
                            });
            return;
        }
        finish();
        return;
    }
    const QString host = url.host();
    noteSeen(browser.id + u' ' + address);
    // The desktop is asked for the idle time only when the look can count for something; a look
    // that cannot ends the same way, with the tracking reset.
    if (hasUsageToMeasure(host) && isBrowserInUse(browser))
        accountUsage(host);
    else
        resetUsageTracking();

    const BlockedSiteSnapshot* match = blockedEntry(host);
    if (!match && !concernsAnyRule(host))
        inert();
    if (!match || !m_pageServer || !m_executor) {
        finish();
        return;
    }
    const std::optional<QUrl> page = m_pageServer->blockedPageURL(match->ruleId, match->domain, address);
    if (!page) {
        finish();
        return;
    }
    QPointer<BrowserAutomationService> self(this);
    m_executor->run(BrowserCommand::redirect(browser, address, page->toString(QUrl::FullyEncoded)),
                    [self, browser, check](const BrowserScriptResult& r) {
                        if (self)
                            self->finishScript(r, browser, check);
                    });
}

void BrowserAutomationService::finishScript(const BrowserScriptResult& result, const SupportedBrowser& browser,
                                            quint64 check)
{
    if (result.failed())
        setAccess(accessState(*result.error, result.errorMessage), browser);
    finishCheck(check);
}

void BrowserAutomationService::setScreenActive(bool active)
{
    m_isScreenActive = active;
    m_inertRead.reset();
    if (!active)
        resetUsageTracking();
    updateSchedule();
}

// ---------------------------------------------------------------- active-use accounting

bool BrowserAutomationService::isBrowserInUse(const SupportedBrowser& browser) const
{
    const std::optional<QString> front = frontmost();
    // Where the desktop cannot tell, the browser said so itself in this check.
    const bool inFront = front ? (*front == browser.bundleIdentifier || *front == m_env.workspace->ownApplicationId())
                               : m_focusedBrowserID == browser.id;
    if (!inFront)
        return false;
    // No desktop source of idle time: what the engine itself saw change (the tab's address, the
    // application in front) stands in for input, so a person who walked away stops counting
    // after the same limit instead of counting for ever.
    const std::optional<double> idle = m_env.idleTime->secondsSinceLastInput();
    return idle ? *idle < idleLimit : m_env.monotonic->seconds() - m_lastSeenChangeAt < idleLimit;
}

void BrowserAutomationService::noteSeen(const QString& what)
{
    if (what == m_lastSeen)
        return;
    m_lastSeen = what;
    m_lastSeenChangeAt = m_env.monotonic->seconds();
}

void BrowserAutomationService::resetUsageTracking()
{
    m_usageRuleID.reset();
    m_lastUsageInspection.reset();
    m_usageRemainder = 0;
    m_lastDoomInspection.reset();
    m_doomUsageRemainder = 0;
}

std::optional<BlockRule> BrowserAutomationService::activeUrgentBreakRule(const QString& host) const
{
    if (!m_storage || !m_storage->state().urgentBreak)
        return std::nullopt;
    const UrgentBreakState& b = *m_storage->state().urgentBreak;
    if (!b.isRunning(now()))
        return std::nullopt;
    for (const BlockRule& rule : m_storage->rules())
        if (rule.id == b.ruleId && BlockRule::hostMatches(host, rule.domain))
            return rule;
    return std::nullopt;
}

void BrowserAutomationService::accountUsage(const QString& host)
{
    if (!m_isScreenActive) {
        resetUsageTracking();
        return;
    }
    if (!m_storage)
        return;
    const Date t = now();
    accountDoomScrollUsage(host, t);
    if (!m_storage)
        return;
    std::optional<BlockRule> rule = activeUrgentBreakRule(host);
    if (!rule)
        rule = limitRule(host, t);
    if (!rule) {
        m_usageRuleID.reset();
        m_lastUsageInspection.reset();
        m_usageRemainder = 0;
        return;
    }
    if (m_usageRuleID != rule->id || !m_lastUsageInspection) {
        m_usageRuleID = rule->id;
        m_lastUsageInspection = t;
        m_usageRemainder = 0;
        return;
    }
    m_usageRemainder += stepSince(m_lastUsageInspection, t);
    m_lastUsageInspection = t;
    const double whole = std::trunc(m_usageRemainder);
    if (whole >= 1) {
        m_usageRemainder -= whole;
        m_storage->recordUsage(*rule, static_cast<qint64>(whole));
    }
}

std::optional<BlockRule> BrowserAutomationService::limitRule(const QString& host, Date t) const
{
    // The weekday is worked out only for a limit rule that covers the host: on most looks none does.
    std::optional<int> weekday;
    for (const BlockRule& r : m_storage->rules()) {
        if (!r.blockApplySchedule.isAfterMaxDailyTime || !BlockRule::hostMatches(host, r.domain))
            continue;
        if (!r.activeWeekdays.isEmpty() && !weekday)
            weekday = m_env.calendar().weekday(t);
        if (r.activeWeekdays.isEmpty() || r.activeWeekdays.contains(*weekday))
            return r;
    }
    return std::nullopt;
}

bool BrowserAutomationService::doomScrollCounts(const QString& host, Date t) const
{
    const DoomScrollConfig& config = m_storage->doomScrollConfig();
    const auto& doom = m_storage->state().doomScroll;
    return config.isEnabled && config.matches(host) && !(doom && doom->breakEndsAt && *doom->breakEndsAt > t);
}

bool BrowserAutomationService::hasUsageToMeasure(const QString& host) const
{
    if (!m_isScreenActive || !m_storage)
        return false;
    const Date t = now();
    return doomScrollCounts(host, t) || activeUrgentBreakRule(host) || limitRule(host, t);
}

void BrowserAutomationService::accountDoomScrollUsage(const QString& host, Date t)
{
    if (!doomScrollCounts(host, t)) {
        m_lastDoomInspection.reset();
        m_doomUsageRemainder = 0;
        return;
    }
    if (!m_lastDoomInspection) {
        m_lastDoomInspection = t;
        m_doomUsageRemainder = 0;
        return;
    }
    m_doomUsageRemainder += stepSince(m_lastDoomInspection, t);
    m_lastDoomInspection = t;
    const double whole = std::trunc(m_doomUsageRemainder);
    if (whole >= 1) {
        m_doomUsageRemainder -= whole;
        m_storage->recordDoomScrollUsage(static_cast<qint64>(whole));
    }
}
