#include "linux/DevToolsConnections.h"

#include "linux/BrowserDiscovery.h"
#include "linux/DevToolsClient.h"
#include "linux/LinuxBrowsers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QPointer>

namespace {

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed() + 1; // never 0: 0 means "never"
}

} // namespace

DevToolsConnections::DevToolsConnections(ProfileFolders folders, QObject* parent)
    : QObject(parent), m_folders(std::move(folders))
{
}

DevToolsConnections::DevToolsConnections(const QString& home, QObject* parent)
    : DevToolsConnections(
          [home = home.isEmpty() ? QDir::homePath() : home](const QString& bundleIdentifier) {
              const LinuxBrowserIdentity* identity = LinuxBrowsers::forBundleIdentifier(bundleIdentifier);
              return identity ? LinuxBrowsers::defaultProfilePaths(*identity, home) : QStringList();
          },
          parent)
{
}

DevToolsConnections::DevToolsConnections(BrowserDiscovery* discovery, QObject* parent)
    : DevToolsConnections(
          [discovery = QPointer<BrowserDiscovery>(discovery)](const QString& bundleIdentifier) {
              return discovery ? discovery->profileFolders(bundleIdentifier) : QStringList();
          },
          parent)
{
    m_caching = true;
    QObject::connect(discovery, &BrowserDiscovery::changed, this, [this] {
        m_endpoints.clear();
        // A port file that changed names another endpoint: a refusal of the old one no longer holds.
        for (Browser& b : m_browsers)
            if (b.state == State::refused)
                b.refusedAt = 0;
        emit endpointsChanged();
    });
}

DevToolsConnections::~DevToolsConnections()
{
    for (Browser& b : m_browsers)
        if (b.client)
            QObject::disconnect(b.client, nullptr, this, nullptr);
}

DevToolsConnections::State DevToolsConnections::state(const QString& bundleIdentifier) const
{
    return m_browsers.value(bundleIdentifier).state;
}

std::optional<QUrl> DevToolsConnections::endpoint(const QString& bundleIdentifier) const
{
    if (m_caching)
        if (const auto it = m_endpoints.constFind(bundleIdentifier); it != m_endpoints.cend())
            return *it;
    std::optional<QUrl> found;
    for (const QString& folder : m_folders(bundleIdentifier))
        if ((found = DevToolsClient::browserEndpoint(QDir(folder).filePath(QStringLiteral("DevToolsActivePort")))))
            break;
    if (m_caching)
        m_endpoints.insert(bundleIdentifier, found);
    return found;
}

void DevToolsConnections::retry(const QString& bundleIdentifier)
{
    Browser& b = m_browsers[bundleIdentifier];
    b.refusedEndpoint.clear();
    if (b.state == State::refused)
        setState(bundleIdentifier, State::none);
}

std::optional<QList<QJsonObject>> DevToolsConnections::targets(const QString& bundleIdentifier) const
{
    const auto it = m_browsers.constFind(bundleIdentifier);
    if (it == m_browsers.cend() || !it->targetsKnown || !openClient(bundleIdentifier))
        return std::nullopt;
    QList<QJsonObject> out;
    out.reserve(it->targetOrder.size());
    for (const QString& id : it->targetOrder)
        out.append(it->targets.value(id));
    return out;
}

QString DevToolsConnections::session(const QString& bundleIdentifier, const QString& targetId) const
{
    return m_browsers.value(bundleIdentifier).sessions.value(targetId);
}

void DevToolsConnections::setState(const QString& bundleIdentifier, State state)
{
    Browser& b = m_browsers[bundleIdentifier];
    if (b.state == state)
        return;
    b.state = state;
    emit stateChanged(bundleIdentifier);
}

DevToolsClient* DevToolsConnections::openClient(const QString& bundleIdentifier) const
{
    const auto it = m_browsers.constFind(bundleIdentifier);
    return it != m_browsers.cend() && it->client && it->client->isOpen() ? it->client.data() : nullptr;
}

DevToolsClient* DevToolsConnections::client(const QString& bundleIdentifier)
{
    Browser& b = m_browsers[bundleIdentifier];
    if (b.client && b.client->isOpen())
        return b.client;
    if (b.state == State::opening || b.state == State::awaitingConsent)
        return nullptr; // one attempt at a time: the person may be reading the question
    const std::optional<QUrl> url = endpoint(bundleIdentifier);
    if (!url) {
        setState(bundleIdentifier, State::none);
        return nullptr;
    }
    const QString text = url->toString();
    if (text == b.refusedEndpoint && b.refusedAt && monotonicMs() - b.refusedAt < refusalPauseMs) {
        setState(bundleIdentifier, State::refused);
        return nullptr;
    }
    if (b.client)
        b.client->deleteLater();
    auto* client = new DevToolsClient(this);
    b.client = client;
    b.endpoint = text;
    b.sessions.clear();
    b.targets.clear();
    b.targetOrder.clear();
    b.targetsKnown = false;
    b.tooManyTargets = false;
    ++b.attempts;
    setState(bundleIdentifier, State::opening);
    if (!b.consent) {
        b.consent = new QTimer(this);
        b.consent->setSingleShot(true);
        QObject::connect(b.consent, &QTimer::timeout, this, [this, bundleIdentifier] {
            if (state(bundleIdentifier) == State::opening)
                setState(bundleIdentifier, State::awaitingConsent);
        });
    }
    b.consent->start(consentAfterMs);
    QObject::connect(client, &DevToolsClient::event, this,
                     [this, bundleIdentifier](const QString& method, const QJsonObject& params, const QString&) {
                         onEvent(bundleIdentifier, method, params);
                     });
    const QPointer<DevToolsClient> guard(client);
    QObject::connect(client, &DevToolsClient::closed, this, [this, bundleIdentifier, guard] {
        Browser& current = m_browsers[bundleIdentifier];
        if (current.client != guard)
            return;
        current.sessions.clear();
        current.targets.clear();
        current.targetOrder.clear();
        current.targetsKnown = false;
        setState(bundleIdentifier, State::none);
        emit closed(bundleIdentifier);
    });
    client->open(*url, openTimeoutMs, [this, bundleIdentifier, guard, text](const QString& error) {
        Browser& current = m_browsers[bundleIdentifier];
        if (!guard || current.client != guard)
            return;
        if (current.consent)
            current.consent->stop();
        if (!error.isEmpty()) {
            current.refusedEndpoint = text;
            current.refusedAt = monotonicMs();
            current.client = nullptr;
            guard->deleteLater();
            setState(bundleIdentifier, State::refused);
            emit closed(bundleIdentifier);
            return;
        }
        discoverTargets(bundleIdentifier);
        setState(bundleIdentifier, State::open);
        emit opened(bundleIdentifier);
    });
    return nullptr;
}

void DevToolsConnections::discoverTargets(const QString& bundleIdentifier)
{
    // The browser tells of every tab opened, changed or closed as it happens, so a check that
    // wants the list of tabs reads it here instead of asking across the connection each time.
    // Until the browser has answered, the list is asked for as before.
    const QPointer<DevToolsClient> guard(m_browsers.value(bundleIdentifier).client);
    if (!guard)
        return;
    guard->send(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}}, discoverTimeoutMs,
                [this, bundleIdentifier, guard](const QJsonObject&, const DevToolsClient::Error& error) {
                    Browser& b = m_browsers[bundleIdentifier];
                    if (!guard || b.client != guard)
                        return;
                    b.targetsKnown = error.isEmpty() && !b.tooManyTargets;
                });
}

void DevToolsConnections::onEvent(const QString& bundleIdentifier, const QString& method, const QJsonObject& params)
{
    Browser& b = m_browsers[bundleIdentifier];
    if (method == QLatin1String("Target.targetCreated") || method == QLatin1String("Target.targetInfoChanged")) {
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        const QString target = info.value(QStringLiteral("targetId")).toString();
        if (target.isEmpty() || b.tooManyTargets)
            return;
        if (!b.targets.contains(target)) {
            if (b.targets.size() >= maxTargets) {
                // Past reason: the list would be incomplete, so the browser is asked each time.
                b.targetsKnown = false;
                b.tooManyTargets = true;
                b.targets.clear();
                b.targetOrder.clear();
                return;
            }
            b.targetOrder.prepend(target);
        }
        b.targets.insert(target, info);
    } else if (method == QLatin1String("Target.targetDestroyed")) {
        const QString target = params.value(QStringLiteral("targetId")).toString();
        if (b.targets.remove(target))
            b.targetOrder.removeOne(target);
    } else if (method == QLatin1String("Target.attachedToTarget")) {
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        const QString target = info.value(QStringLiteral("targetId")).toString();
        const QString session = params.value(QStringLiteral("sessionId")).toString();
        if (!target.isEmpty() && !session.isEmpty() && !b.sessions.contains(target))
            b.sessions.insert(target, session);
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        const QString session = params.value(QStringLiteral("sessionId")).toString();
        for (auto it = b.sessions.begin(); it != b.sessions.end();)
            it = it.value() == session ? b.sessions.erase(it) : std::next(it);
    }
}
