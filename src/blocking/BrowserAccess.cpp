// The browsers' states: what each route says of a browser, combined into what the screens show
// and into whether blocking needs the person's attention.

#include "blocking/BrowserAccess.h"

#include "files/Defaults.h"
#include "platform/Workspace.h"

#include <algorithm>

using Kind = BrowserAccessState::Kind;

const QHash<QString, QString>& BrowserAccess::knownUnprotectedBrowsers()
{
    // Browsers recognised in front that no route reaches.
    static const QHash<QString, QString> table{
        {QStringLiteral("chrome-beta"), QStringLiteral("Chrome Beta")},
        {QStringLiteral("chrome-canary"), QStringLiteral("Chrome Canary")},
    };
    return table;
}

BrowserAccess::BrowserAccess(Environment environment, QObject* parent) : QObject(parent), m_env(environment)
{
    for (const QString& id : m_env.defaults->stringArray(attemptedKey).value_or(QStringList()))
        m_attempted.insert(id);
    // The list keeps the names the first builds wrote; one it does not know stays as it was.
    for (const QString& key : m_env.defaults->stringArray(extensionSeenKey).value_or(QStringList())) {
        const SupportedBrowser* browser = SupportedBrowser::withStoredKey(key);
        m_extensionSeen.insert(browser ? browser->id : key);
    }
}

BrowserAccessState BrowserAccess::accessState(BrowserCommandError error, const std::optional<QString>& message)
{
    // The texts the person reads are chosen here; a route's message shows only where no text of
    // our own says more.
    switch (error) {
    case BrowserCommandError::notPermitted:
        return BrowserAccessState::of(Kind::permissionNeeded);
    case BrowserCommandError::targetMissing:
        return BrowserAccessState::of(Kind::connected);
    case BrowserCommandError::timedOut:
        return BrowserAccessState::of(Kind::problem, QStringLiteral("The browser did not respond in time."));
    case BrowserCommandError::unsupported:
        return BrowserAccessState::of(Kind::unsupported);
    case BrowserCommandError::awaitingConsent:
        return BrowserAccessState::of(Kind::awaitingConsent);
    case BrowserCommandError::browserNotRunning:
        return BrowserAccessState::of(Kind::browserClosed);
    case BrowserCommandError::unprepared:
        return BrowserAccessState::of(Kind::problem,
                                      message.value_or(QStringLiteral("The browser command could not be prepared.")));
    case BrowserCommandError::failed:
        break;
    }
    return BrowserAccessState::of(Kind::problem, message.value_or(QStringLiteral("The browser connection failed.")));
}

BrowserAccessState BrowserAccess::combinedAccess(const SupportedBrowser& browser, const BrowserAccessState& devTools,
                                                 const ExtensionSide& extension)
{
    using Setup = ExtensionLink::Setup;
    const bool viaExtension = browser.servedBy(SupportedBrowser::extensionRoute);
    const bool viaDevTools = browser.servedBy(SupportedBrowser::devToolsRoute);
    const std::optional<Setup> setup = extension.setup;
    if (viaExtension && setup == Setup::connected && !extension.profilesLeftOut.isEmpty())
        return BrowserAccessState{Kind::profilesLeftOut, {}, extension.profilesLeftOut};
    if (viaExtension && setup == Setup::connected)
        return BrowserAccessState::of(extension.report && !extension.report->privateWindowsAllowed
                                          ? Kind::privateWindowsHidden
                                          : Kind::connected);
    if (devTools.kind == Kind::notInstalled)
        return devTools;
    if (viaDevTools && (devTools.kind == Kind::connected || devTools.kind == Kind::awaitingConsent))
        return devTools;
    if (!viaExtension || (viaDevTools && !setup)) // no extension route here: the protocol's word stands
        return devTools;
    if (setup == Setup::signedOnly)
        return BrowserAccessState::of(Kind::notPossible,
                                      browser.name + QStringLiteral(" accepts only add-ons its maker signed, so "
                                                                    "Quillharbour can't protect it. Firefox ESR and "
                                                                    "Developer Edition can be protected."));
    // What the extension route says; nothing where the browser's sandbox lets no extension reach us.
    std::optional<Kind> extensionKind;
    if (!setup || *setup == Setup::extensionMissing || *setup == Setup::hostMissing) {
        if (!extension.seen)
            // The files are only a guess until the extension has spoken once: a fresh home has
            // no link file yet, and that is no reason to call the extension installed.
            extensionKind = Kind::extensionMissing;
        else if (setup == Setup::hostMissing)
            extensionKind = Kind::hostMissing;
        else
            // A closed browser is no news; a running one without its extension turned it off.
            extensionKind = extension.running ? Kind::extensionOff : Kind::browserClosed;
    }
    if (!viaDevTools) {
        if (extensionKind)
            return BrowserAccessState::of(*extensionKind);
        return BrowserAccessState::of(Kind::notPossible);
    }
    if (!extensionKind) // its sandbox lets no extension reach us
        return devTools;
    if (*extensionKind != Kind::extensionMissing)
        return BrowserAccessState::of(*extensionKind);
    // Neither route answers. A failure the debugging protocol explained says more than a missing
    // extension; a browser without a debugging port is most simply fixed by the extension.
    if (devTools.kind == Kind::problem || devTools.kind == Kind::unsupported)
        return devTools;
    return BrowserAccessState::of(Kind::extensionMissing);
}

bool BrowserAccess::isDevToolsConnected(const QString& browserId) const
{
    // Asked on every check: without copying the state out.
    const auto it = m_devTools.constFind(browserId);
    return it != m_devTools.cend() && it->kind == Kind::connected;
}

void BrowserAccess::setDevToolsState(const BrowserAccessState& state, const SupportedBrowser& browser)
{
    const auto it = m_devTools.constFind(browser.id);
    if (it != m_devTools.cend() && *it == state)
        return;
    m_devTools.insert(browser.id, state);
    update();
    emit devToolsStateChanged();
}

void BrowserAccess::update()
{
    QHash<QString, BrowserAccessState> combined;
    for (const SupportedBrowser& browser : SupportedBrowser::all()) {
        const auto devTools = m_devTools.constFind(browser.id);
        if (devTools == m_devTools.cend())
            continue;
        ExtensionSide extension;
        if (m_env.extensions) {
            extension.setup = m_env.extensions->setup(browser.id);
            extension.report = m_env.extensions->report(browser.id);
            if (extension.setup == ExtensionLink::Setup::connected)
                extension.profilesLeftOut = m_env.extensions->profilesLeftOut(browser.id);
            extension.seen = m_extensionSeen.contains(browser.id);
            extension.running =
                extension.setup != ExtensionLink::Setup::connected && extension.seen && isRunning(browser);
        }
        combined.insert(browser.id, combinedAccess(browser, *devTools, extension));
    }
    if (combined == m_access)
        return;
    m_access = combined;
    m_warnedFront.reset();
    emit changed();
}

void BrowserAccess::takeExtensionConnections()
{
    // Installing the extension is the person's consent: its browser counts as connected by choice.
    if (!m_env.extensions)
        return;
    const QStringList connected = m_env.extensions->connectedBrowsers();
    // The checks' reads of a browser went to its extension while it was connected: their
    // "connected" says nothing of the debugging route once the extension has gone.
    for (const QString& id : std::as_const(m_extensionConnected))
        if (SupportedBrowser::withId(id) && !connected.contains(id) && m_devTools.value(id).kind == Kind::connected)
            m_devTools.insert(
                id, BrowserAccessState::of(m_attempted.contains(id) ? Kind::browserClosed : Kind::notConnected));
    m_extensionConnected = connected;
    bool seenNew = false;
    for (const QString& id : connected) {
        if (const SupportedBrowser* browser = SupportedBrowser::withId(id); browser && !m_attempted.contains(id))
            rememberAttempt(*browser);
        if (!m_extensionSeen.contains(id)) {
            m_extensionSeen.insert(id);
            seenNew = true;
        }
    }
    if (seenNew) {
        QStringList seen;
        for (const QString& id : std::as_const(m_extensionSeen)) {
            const SupportedBrowser* browser = SupportedBrowser::withId(id);
            seen.append(browser ? browser->storedKey : id);
        }
        seen.sort();
        m_env.defaults->setStringArray(extensionSeenKey, seen);
    }
    update();
}

void BrowserAccess::rememberAttempt(const SupportedBrowser& browser)
{
    m_attempted.insert(browser.id);
    m_warnedFront.reset();
    QStringList ids = m_attempted.values();
    ids.sort();
    m_env.defaults->setStringArray(attemptedKey, ids);
    emit attemptsChanged();
}

bool BrowserAccess::isInstalled(const SupportedBrowser& browser) const
{
    return m_env.workspace->isInstalled(browser.id);
}

bool BrowserAccess::isRunning(const SupportedBrowser& browser) const
{
    return m_env.workspace->isRunning(browser.id);
}

void BrowserAccess::refreshInstalled(bool force)
{
    // Monotonic: a wall clock set back must not stop the listing for as long.
    const double t = m_env.monotonic->seconds();
    if (!force && m_lastInstalledRefresh && t - *m_lastInstalledRefresh <= listingInterval)
        return;
    m_lastInstalledRefresh = t;
    for (const SupportedBrowser& browser : SupportedBrowser::all()) {
        const auto current = m_devTools.constFind(browser.id);
        if (!isInstalled(browser)) {
            setDevToolsState(BrowserAccessState::of(Kind::notInstalled), browser);
        } else if (current == m_devTools.cend() || current->kind == Kind::notInstalled) {
            setDevToolsState(
                BrowserAccessState::of(m_attempted.contains(browser.id) ? Kind::browserClosed : Kind::notConnected),
                browser);
        }
    }
    // What the browsers' own files say (their profiles, each one's extensions) is looked at again.
    update();
}

bool BrowserAccess::stateNeedsAttention(const SupportedBrowser& browser) const
{
    const auto it = m_access.constFind(browser.id);
    if (it == m_access.cend())
        return false;
    if (it->needsAttention())
        return true;
    // Chosen and still out of reach.
    return m_attempted.contains(browser.id) && (it->kind == Kind::extensionMissing || it->kind == Kind::notPossible);
}

bool BrowserAccess::needsAttention(bool enforcing) const
{
    std::vector<const SupportedBrowser*> installed;
    for (const SupportedBrowser& b : SupportedBrowser::all())
        if (isInstalled(b))
            installed.push_back(&b);
    if (installed.empty() || !enforcing)
        return false;
    const bool anyProtected = std::any_of(installed.begin(), installed.end(), [&](const SupportedBrowser* b) {
        return m_access.value(b->id).isProtected() && m_access.contains(b->id);
    });
    if (!anyProtected)
        return true;
    if (std::any_of(installed.begin(), installed.end(),
                    [&](const SupportedBrowser* b) { return stateNeedsAttention(*b); }))
        return true;
    return m_unprotected.has_value();
}

void BrowserAccess::setUnprotected(const std::optional<QString>& name)
{
    if (name == m_unprotected)
        return;
    m_unprotected = name;
    emit unprotectedChanged();
    // Whether blocking needs attention follows the warning too: the status icon and the popover
    // hear of it at once, not at their next look.
    emit changed();
}

void BrowserAccess::updateWarning(const std::optional<QString>& front, bool enforcing)
{
    m_warnedFront = front;
    if (!enforcing || !front || front->isEmpty()) {
        // Unknown front (Wayland): the installed browsers' states tell instead.
        setUnprotected(std::nullopt);
        return;
    }
    if (const SupportedBrowser* browser = SupportedBrowser::withId(*front)) {
        // A chosen browser whose state is not known yet is given the benefit of the doubt until
        // its first answer.
        const auto state = m_access.constFind(browser->id);
        const bool unprotected = (state == m_access.cend() || !state->isProtected()) &&
                                 (!m_attempted.contains(browser->id) || stateNeedsAttention(*browser));
        setUnprotected(unprotected ? std::optional(browser->name) : std::nullopt);
        return;
    }
    if (const auto known = knownUnprotectedBrowsers().constFind(*front); known != knownUnprotectedBrowsers().cend()) {
        setUnprotected(*known);
        return;
    }
    // Any other application leaves the warning as it was.
}

bool BrowserAccess::anyRuns() const
{
    for (const SupportedBrowser& b : SupportedBrowser::all())
        if (isRunning(b))
            return true;
    for (auto it = knownUnprotectedBrowsers().cbegin(); it != knownUnprotectedBrowsers().cend(); ++it)
        if (m_env.workspace->isRunning(it.key()))
            return true;
    return false;
}
