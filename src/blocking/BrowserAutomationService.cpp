#include "blocking/BrowserAutomationService.h"

#include "blocking/BrowserScriptExecutor.h"
#include "blocking/ExtensionRepair.h"
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

using Kind = BrowserAccessState::Kind;

namespace {

BrowserAccess::Environment accessEnvironment(const BrowserAutomationService::Environment& env)
{
    return {env.defaults, env.workspace, env.monotonic ? env.monotonic : &SystemMonotonicClock::instance(),
            env.extensions};
}

} // namespace

BrowserAutomationService::BrowserAutomationService(StorageService* storage, LocalBlockPageServer* pageServer,
                                                   BrowserScriptExecutor* executor, Environment environment,
                                                   QObject* parent)
    : QObject(parent), m_storage(storage), m_pageServer(pageServer), m_executor(executor),
      m_env(std::move(environment)), m_browsers(accessEnvironment(m_env)), m_blocked(storage, pageServer),
      m_usage(storage, m_env.calendar)
{
    Q_ASSERT(m_env.clock && m_env.calendar && m_env.defaults && m_env.workspace && m_env.idleTime);
    if (!m_env.monotonic)
        m_env.monotonic = &SystemMonotonicClock::instance();
    QObject::connect(&m_browsers, &BrowserAccess::changed, this, &BrowserAutomationService::accessChanged);
    QObject::connect(&m_browsers, &BrowserAccess::unprotectedChanged, this,
                     &BrowserAutomationService::browserInUseWithoutProtectionChanged);
    // What the debugging protocol says of a browser may be what a spared read rested on.
    QObject::connect(&m_browsers, &BrowserAccess::devToolsStateChanged, this, &BrowserAutomationService::wake);
    QObject::connect(&m_browsers, &BrowserAccess::attemptsChanged, this, &BrowserAutomationService::updateInterception);
    m_timer.setInterval(checkIntervalMs);
    // The timer's own event is the tick's task on the main thread: posting another one would
    // wake the loop a second time for nothing.
    QObject::connect(&m_timer, &QTimer::timeout, this, &BrowserAutomationService::checkActiveBrowser);
    if (m_storage) {
        // Something to enforce again wakes the checks.
        QObject::connect(&m_storage->blocking(), &BlockingStore::rulesChanged, this,
                         &BrowserAutomationService::updateSchedule);
        QObject::connect(&m_storage->blocking(), &BlockingStore::doomScrollConfigChanged, this,
                         &BrowserAutomationService::updateSchedule);
        // What a read found unconcerned may concern the new rules or sites.
        // What a read found unconcerned may concern the new rules or sites, and a browser in
        // front may need the warning again or no longer.
        const auto forget = [this] {
            m_inertRead.reset();
            m_browsers.forgetWarning();
        };
        QObject::connect(&m_storage->blocking(), &BlockingStore::rulesChanged, this, forget);
        QObject::connect(&m_storage->blocking(), &BlockingStore::doomScrollConfigChanged, this, forget);
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
        QObject::connect(m_env.extensions, &ExtensionLink::reportChanged, &m_browsers, &BrowserAccess::update);
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
        m_env.interceptor->setDecision([self](const QString& browserId, const QString& address) {
            return self ? self->interceptedNavigationTarget(browserId, address) : std::nullopt;
        });
        if (m_storage) {
            // The held domains follow every change of what is blocked: rules, boundaries, breaks, pauses.
            QObject::connect(&m_storage->blocking(), &BlockingStore::stateChanged, this,
                             &BrowserAutomationService::updateInterception);
            QObject::connect(&m_storage->blocking(), &BlockingStore::rulesChanged, this,
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
    return m_storage && (!m_storage->blocking().rules().empty() || m_storage->blocking().doomScrollConfig().isEnabled);
}

bool BrowserAutomationService::hasBrowserToWatch() const
{
    // A check reads a chosen browser that runs, and warns about any browser in front that no
    // route protects: with none of them running it has nothing to do.
    return m_isScreenActive && hasProtectionToEnforce() && m_browsers.anyRuns();
}

void BrowserAutomationService::stop()
{
    m_stopped = true;
    m_timer.stop();
    m_resting = false;
    m_lookQueued = false;
    if (m_env.interceptor)
        for (const SupportedBrowser& b : browsers())
            m_env.interceptor->watch(b.id, {});
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
}

void BrowserAutomationService::browsersChanged()
{
    // A browser started or quit: whether its missing extension is news depends on it, and so do
    // the browsers installed, which a program at rest lists on no timer. Not forced: a starting
    // browser changes its folders several times; but one that runs where the last listing found
    // none installed is installed now, however recent that listing.
    bool unlisted = false;
    for (const SupportedBrowser& b : browsers())
        unlisted = unlisted || (m_browsers.listedAsNotInstalled(b.id) && isRunning(b));
    refreshInstalledBrowsers(unlisted);
    m_browsers.update();
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
    if (!m_browsers.warnedFor(*m_tickFront))
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
    // the screen or a browser's state changes (each one wakes the checks). What the browser's
    // profiles hold is told by the extension link as the browser writes it, not looked for.
    m_timer.stop();
    m_resting = true;
}

void BrowserAutomationService::wake()
{
    if (!m_resting)
        return;
    m_resting = false;
    m_timer.start();
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
    const QStringList domains = m_blocked.domains();
    for (const SupportedBrowser& b : browsers())
        m_env.interceptor->watch(b.id, m_browsers.attempted().contains(b.id) ? domains : QStringList());
}

std::optional<QString> BrowserAutomationService::interceptedNavigationTarget(const QString& browserId,
                                                                             const QString& address)
{
    // Held by a pattern set a moment ago; whether the host is blocked is decided now, on the
    // store's current list, exactly as a check would.
    if (!SupportedBrowser::withId(browserId) || !m_browsers.attempted().contains(browserId) || m_stopped)
        return std::nullopt;
    return m_blocked.blockPage(address, now());
}

bool BrowserAutomationService::concernsAnyRule(const QString& host) const
{
    // What is blocked now is always a rule's site or a doom-scroll site, and only those count
    // time: a host none of them covers is neither blocked nor counted, whatever the hour.
    if (!m_storage)
        return false;
    for (const BlockRule& rule : m_storage->blocking().rules())
        if (BlockRule::hostMatches(host, rule.domain))
            return true;
    const DoomScrollConfig& doom = m_storage->blocking().doomScrollConfig();
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
        if (m_storage && m_storage->blocking().state().validUntil <= now())
            m_storage->blocking().refreshBlockingState();
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
            !b || !m_browsers.isDevToolsConnected(id) || !m_executor->readUnchanged(b->id))
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
        if (!m_browsers.attempted().contains(b.id) || !b.servedBy(SupportedBrowser::devToolsRoute) || !isRunning(b))
            continue;
        if (m_env.extensions && m_env.extensions->setup(b.id) == ExtensionLink::Setup::connected)
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
        const SupportedBrowser* browser = SupportedBrowser::withId(*front);
        if (browser && m_browsers.attempted().contains(browser->id)) {
            m_lastActiveBrowserID = browser->id;
            return browser;
        }
    }
    if (!m_lastActiveBrowserID)
        return nullptr;
    const SupportedBrowser* last = SupportedBrowser::withId(*m_lastActiveBrowserID);
    if (last && m_browsers.attempted().contains(last->id) && isRunning(*last))
        return last;
    return nullptr;
}

void BrowserAutomationService::finishCheck(quint64 check)
{
    if (check == m_checkNumber)
        m_isChecking = false;
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
    if (!BlockedAddresses::isWebAddress(url)) {
        resetUsageTracking();
        inert();
        finish();
        return;
    }
    if (m_blocked.isOwnPage(url)) {
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

    const std::optional<QString> page = m_blocked.blockPage(address, now());
    if (!page && !concernsAnyRule(host))
        inert();
    if (!page || !m_executor) {
        finish();
        return;
    }
    QPointer<BrowserAutomationService> self(this);
    m_executor->run(BrowserCommand::redirect(browser, address, *page),
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
    const bool inFront = front ? (*front == browser.id || *front == m_env.workspace->ownApplicationId())
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
    m_usage.reset();
}

std::optional<BlockRule> BrowserAutomationService::activeUrgentBreakRule(const QString& host) const
{
    return m_usage.activeUrgentBreakRule(host, now());
}

void BrowserAutomationService::accountUsage(const QString& host)
{
    if (!m_isScreenActive) {
        resetUsageTracking();
        return;
    }
    m_usage.account(host, now());
}

bool BrowserAutomationService::hasUsageToMeasure(const QString& host) const
{
    return m_isScreenActive && m_usage.hasUsageToMeasure(host, now());
}

// ---------------------------------------------------------------- the browsers' states

void BrowserAutomationService::takeExtensionConnections()
{
    m_browsers.takeExtensionConnections();
    updateSchedule();
}

void BrowserAutomationService::updateUnprotectedBrowserWarning()
{
    m_browsers.updateWarning(frontmost(), hasProtectionToEnforce());
}

void BrowserAutomationService::connect(const SupportedBrowser& browser)
{
    refreshInstalledBrowsers(true);
    if (!isInstalled(browser))
        return;
    m_browsers.rememberAttempt(browser);
    if (!browser.servedBy(SupportedBrowser::devToolsRoute)) {
        m_browsers.update();
        return;
    }
    updateSchedule();
    if (!isRunning(browser)) {
        setAccess(BrowserAccessState::of(Kind::browserClosed), browser);
        return;
    }
    if (!m_executor)
        return;
    // The first command a browser receives is what asks the person for permission. Its answer is
    // the runner's last read from now on, not the one a check remembers.
    m_inertRead.reset();
    QPointer<BrowserAutomationService> self(this);
    m_executor->run(BrowserCommand::read(browser), [self, browser](const BrowserScriptResult& result) {
        if (self)
            self->handleActiveTab(result, browser, false, true, 0);
    });
}

void BrowserAutomationService::openAutomationSettings()
{
    if (const QUrl page = m_env.automationHelpPage ? m_env.automationHelpPage() : QUrl(); page.isValid())
        m_env.workspace->openURL(page);
}

void BrowserAutomationService::fix(const SupportedBrowser& browser)
{
    const Kind kind = m_browsers.states().value(browser.id).kind;
    switch (kind) {
    case Kind::extensionMissing:
    case Kind::hostMissing:
    case Kind::extensionOff:
    case Kind::privateWindowsHidden:
    case Kind::profilesLeftOut:
        if (m_env.extensionRepair)
            m_env.extensionRepair->repair(browser, kind);
        else
            openAutomationSettings();
        return;
    case Kind::permissionNeeded:
    case Kind::awaitingConsent:
    case Kind::notPossible:
        openAutomationSettings();
        return;
    case Kind::connected:
    case Kind::notInstalled:
        return;
    case Kind::problem:
    case Kind::notConnected:
    case Kind::browserClosed:
    case Kind::unsupported:
        connect(browser);
        return;
    }
}
