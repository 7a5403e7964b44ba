#include "linux/DevToolsConnections.h"

#include "linux/BrowserDiscovery.h"
#include "linux/DevToolsClient.h"
#include "linux/LinuxBrowsers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QPointer>
#include <algorithm>

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
          [home = home.isEmpty() ? QDir::homePath() : home](const QString& browserId) {
              const LinuxBrowserIdentity* identity = LinuxBrowsers::forId(browserId);
              return identity ? LinuxBrowsers::defaultProfilePaths(*identity, home) : QStringList();
          },
          parent)
{
}

DevToolsConnections::DevToolsConnections(BrowserDiscovery* discovery, QObject* parent)
    : DevToolsConnections(
          [discovery = QPointer<BrowserDiscovery>(discovery)](const QString& browserId) {
              return discovery ? discovery->profileFolders(browserId) : QStringList();
          },
          parent)
{
    m_caching = true;
    QObject::connect(discovery, &BrowserDiscovery::changed, this, [this] {
        revise();
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

DevToolsConnections::State DevToolsConnections::state(const QString& browserId) const
{
    return m_browsers.value(browserId).state;
}

std::optional<QUrl> DevToolsConnections::endpoint(const QString& browserId) const
{
    if (m_caching)
        if (const auto it = m_endpoints.constFind(browserId); it != m_endpoints.cend())
            return *it;
    std::optional<QUrl> found;
    for (const QString& folder : m_folders(browserId))
        if ((found = DevToolsClient::browserEndpoint(QDir(folder).filePath(QStringLiteral("DevToolsActivePort")))))
            break;
    if (m_caching)
        m_endpoints.insert(browserId, found);
    return found;
}

void DevToolsConnections::retry(const QString& browserId)
{
    Browser& b = m_browsers[browserId];
    b.refusedEndpoint.clear();
    if (b.state == State::refused)
        setState(browserId, State::none);
}

QString DevToolsConnections::session(const QString& browserId, const QString& targetId) const
{
    return m_browsers.value(browserId).sessions.value(targetId);
}

std::optional<QJsonArray> DevToolsConnections::targets(const QString& browserId) const
{
    const auto it = m_browsers.constFind(browserId);
    if (it == m_browsers.cend() || !it->targetsKnown || !it->client || !it->client->isOpen())
        return std::nullopt;
    QJsonArray list;
    for (const QJsonObject& target : it->targets)
        list.append(target);
    return list;
}

void DevToolsConnections::setState(const QString& browserId, State state)
{
    Browser& b = m_browsers[browserId];
    if (b.state == state)
        return;
    revise();
    b.state = state;
    emit stateChanged(browserId);
}

DevToolsClient* DevToolsConnections::openClient(const QString& browserId) const
{
    const auto it = m_browsers.constFind(browserId);
    return it != m_browsers.cend() && it->client && it->client->isOpen() ? it->client.data() : nullptr;
}

DevToolsClient* DevToolsConnections::client(const QString& browserId)
{
    Browser& b = m_browsers[browserId];
    if (b.client && b.client->isOpen())
        return b.client;
    if (b.state == State::opening || b.state == State::awaitingConsent)
        return nullptr; // one attempt at a time: the person may be reading the question
    const std::optional<QUrl> url = endpoint(browserId);
    if (!url) {
        setState(browserId, State::none);
        return nullptr;
    }
    const QString text = url->toString();
    if (text == b.refusedEndpoint && b.refusedAt && monotonicMs() - b.refusedAt < refusalPauseMs) {
        setState(browserId, State::refused);
        return nullptr;
    }
    if (b.client)
        b.client->deleteLater();
    auto* client = new DevToolsClient(this);
    revise();
    b.client = client;
    b.endpoint = text;
    b.sessions.clear();
    b.targets.clear();
    b.targetsKnown = false;
    ++b.attempts;
    if (!b.consent) {
        b.consent = new QTimer(this);
        b.consent->setSingleShot(true);
        QObject::connect(b.consent, &QTimer::timeout, this, [this, browserId] {
            if (state(browserId) == State::opening)
                setState(browserId, State::awaitingConsent);
        });
    }
    b.consent->start(consentAfterMs);
    // Told only now: whoever hears it may ask for other browsers, which moves `b`.
    setState(browserId, State::opening);
    QObject::connect(client, &DevToolsClient::protocolEvent, this,
                     [this, browserId](const QString& method, const QJsonObject& params, const QString&) {
                         onEvent(browserId, method, params);
                     });
    const QPointer<DevToolsClient> guard(client);
    QObject::connect(client, &DevToolsClient::closed, this, [this, browserId, guard] {
        Browser& current = m_browsers[browserId];
        if (current.client != guard)
            return;
        revise();
        current.sessions.clear();
        current.targets.clear();
        current.targetsKnown = false;
        setState(browserId, State::none);
        emit closed(browserId);
    });
    client->open(*url, openTimeoutMs, [this, browserId, guard, text](const QString& error) {
        Browser& current = m_browsers[browserId];
        if (!guard || current.client != guard)
            return;
        if (current.consent)
            current.consent->stop();
        revise();
        if (!error.isEmpty()) {
            current.refusedEndpoint = text;
            current.refusedAt = monotonicMs();
            current.client = nullptr;
            guard->deleteLater();
            setState(browserId, State::refused);
            emit closed(browserId);
            return;
        }
        setState(browserId, State::open);
        // The browser tells of its tabs as they come, change and go: a read needs no question
        // of its own. Its answer comes after it has told of every target there is.
        // (The client answers every command, even as it is destroyed with this object.)
        const QPointer<DevToolsConnections> self(this);
        guard->send(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}},
                    discoverTimeoutMs, [self, browserId, guard](const QJsonObject&, const DevToolsClient::Error& e) {
                        if (!self || !guard || !e.isEmpty())
                            return;
                        const auto now = self->m_browsers.find(browserId);
                        if (now != self->m_browsers.end() && now->client == guard) {
                            now->targetsKnown = true;
                            self->revise();
                        }
                    });
        emit opened(browserId);
    });
    return nullptr;
}

void DevToolsConnections::onEvent(const QString& browserId, const QString& method, const QJsonObject& params)
{
    // Only the target events below change what is kept; the pages' own events do not.
    if (!method.startsWith(QLatin1String("Target.")))
        return;
    revise();
    Browser& b = m_browsers[browserId];
    if (method == QLatin1String("Target.attachedToTarget")) {
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        const QString target = info.value(QStringLiteral("targetId")).toString();
        const QString session = params.value(QStringLiteral("sessionId")).toString();
        if (!target.isEmpty() && !session.isEmpty() && !b.sessions.contains(target))
            b.sessions.insert(target, session);
    } else if (method == QLatin1String("Target.targetCreated") || method == QLatin1String("Target.targetInfoChanged")) {
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        const QString target = info.value(QStringLiteral("targetId")).toString();
        if (target.isEmpty())
            return;
        const auto same = [&target](const QJsonObject& t) {
            return t.value(QStringLiteral("targetId")).toString() == target;
        };
        const auto it = std::find_if(b.targets.begin(), b.targets.end(), same);
        if (it != b.targets.end())
            *it = info;
        else if (b.targets.size() < maximumTargets)
            b.targets.append(info);
        else
            b.targetsKnown = false; // too many to keep: reads ask the browser
    } else if (method == QLatin1String("Target.targetDestroyed")) {
        const QString target = params.value(QStringLiteral("targetId")).toString();
        b.targets.removeIf(
            [&target](const QJsonObject& t) { return t.value(QStringLiteral("targetId")).toString() == target; });
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        const QString session = params.value(QStringLiteral("sessionId")).toString();
        for (auto it = b.sessions.begin(); it != b.sessions.end();)
            it = it.value() == session ? b.sessions.erase(it) : std::next(it);
    }
}
