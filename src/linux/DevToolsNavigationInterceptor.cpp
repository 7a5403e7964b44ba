#include "linux/DevToolsNavigationInterceptor.h"

#include "linux/DevToolsClient.h"
#include "linux/LinuxBrowsers.h"

#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

DevToolsNavigationInterceptor::DevToolsNavigationInterceptor(QString home, QObject* parent)
    : QObject(parent), m_home(home.isEmpty() ? QDir::homePath() : std::move(home))
{
}

DevToolsNavigationInterceptor::~DevToolsNavigationInterceptor()
{
    for (Browser& b : m_browsers)
        if (b.client)
            QObject::disconnect(b.client, nullptr, this, nullptr);
}

QStringList DevToolsNavigationInterceptor::patterns(const QString& domain)
{
    // The browser compares against the encoded host; anything that is not a plain host name
    // would be read as wildcards.
    const QString host = QString::fromLatin1(QUrl::toAce(domain.trimmed().toLower()));
    static const QRegularExpression hostName(QStringLiteral("^[a-z0-9](?:[a-z0-9.-]*[a-z0-9])?$"));
    if (host.isEmpty() || !hostName.match(host).hasMatch())
        return {};
    return {QStringLiteral("*://%1/*").arg(host), QStringLiteral("*://%1:*").arg(host),
            QStringLiteral("*://*.%1/*").arg(host), QStringLiteral("*://*.%1:*").arg(host)};
}

bool DevToolsNavigationInterceptor::isIntercepting(const QString& bundleIdentifier) const
{
    const auto it = m_browsers.constFind(bundleIdentifier);
    return it != m_browsers.cend() && it->attached && it->client && it->client->isOpen();
}

void DevToolsNavigationInterceptor::watch(const QString& bundleIdentifier, const QStringList& domains)
{
    QStringList sorted = domains;
    sorted.sort();
    sorted.removeDuplicates();
    Browser& b = m_browsers[bundleIdentifier];
    const bool changed = b.domains != sorted;
    b.domains = sorted;
    if (!b.client) {
        // Nothing to hold is no reason to reach for a browser.
        if (!sorted.isEmpty())
            connectTo(bundleIdentifier);
        return;
    }
    if (changed && b.attached)
        for (auto it = b.pages.cbegin(); it != b.pages.cend(); ++it)
            enableFetch(bundleIdentifier, it.key(), false);
}

void DevToolsNavigationInterceptor::connectTo(const QString& bundleIdentifier)
{
    const LinuxBrowserIdentity* identity = LinuxBrowsers::forBundleIdentifier(bundleIdentifier);
    if (!identity || identity->profileFolder.isEmpty())
        return;
    const std::optional<QUrl> endpoint = DevToolsClient::browserEndpoint(
        QDir(LinuxBrowsers::profilePath(*identity, m_home)).filePath(QStringLiteral("DevToolsActivePort")));
    Browser& b = m_browsers[bundleIdentifier];
    if (!endpoint || endpoint->toString() == b.refusedEndpoint)
        return;
    auto* client = new DevToolsClient(this);
    b.client = client;
    b.endpoint = endpoint->toString();
    b.attached = false;
    b.pages.clear();
    QObject::connect(
        client, &DevToolsClient::event, this,
        [this, bundleIdentifier](const QString& method, const QJsonObject& params, const QString& sessionId) {
            onEvent(bundleIdentifier, method, params, sessionId);
        });
    QObject::connect(client, &DevToolsClient::closed, this,
                     [this, bundleIdentifier] { drop(bundleIdentifier, false); });
    const QPointer<DevToolsClient> guard(client);
    client->open(*endpoint, commandTimeoutMs, [this, bundleIdentifier, guard](const QString& error) {
        if (!guard || m_browsers.value(bundleIdentifier).client != guard)
            return;
        if (!error.isEmpty()) {
            // A port file left behind by a browser that has gone: nobody answers there.
            drop(bundleIdentifier, true);
            return;
        }
        // Every page, those open now and those to come; a new one waits until it is held, so its
        // first navigation cannot slip through.
        guard->send(QStringLiteral("Target.setAutoAttach"),
                    {{QStringLiteral("autoAttach"), true},
                     {QStringLiteral("waitForDebuggerOnStart"), true},
                     {QStringLiteral("flatten"), true},
                     {QStringLiteral("filter"), QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("page")},
                                                                       {QStringLiteral("exclude"), false}}}}},
                    commandTimeoutMs,
                    [this, bundleIdentifier, guard](const QJsonObject&, const DevToolsClient::Error& e) {
                        if (!guard || m_browsers.value(bundleIdentifier).client != guard)
                            return;
                        if (!e.isEmpty()) {
                            drop(bundleIdentifier, e.kind == DevToolsClient::Error::Kind::refused);
                            return;
                        }
                        m_browsers[bundleIdentifier].attached = true;
                        emit interceptingChanged(bundleIdentifier);
                    });
    });
}

void DevToolsNavigationInterceptor::drop(const QString& bundleIdentifier, bool refused)
{
    Browser& b = m_browsers[bundleIdentifier];
    if (refused)
        b.refusedEndpoint = b.endpoint;
    const bool wasIntercepting = b.attached;
    if (b.client) {
        QObject::disconnect(b.client, nullptr, this, nullptr);
        b.client->close();
        b.client->deleteLater();
    }
    b.client = nullptr;
    b.attached = false;
    b.pages.clear();
    if (wasIntercepting)
        emit interceptingChanged(bundleIdentifier);
}

QJsonObject DevToolsNavigationInterceptor::fetchParameters(const Browser& browser) const
{
    QJsonArray list;
    for (const QString& domain : browser.domains)
        for (const QString& pattern : patterns(domain))
            list.append(QJsonObject{{QStringLiteral("urlPattern"), pattern},
                                    {QStringLiteral("resourceType"), QStringLiteral("Document")},
                                    {QStringLiteral("requestStage"), QStringLiteral("Request")}});
    return {{QStringLiteral("patterns"), list}};
}

void DevToolsNavigationInterceptor::enableFetch(const QString& bundleIdentifier, const QString& sessionId, bool thenRun)
{
    const Browser& b = m_browsers[bundleIdentifier];
    if (!b.client)
        return;
    const QJsonObject parameters = fetchParameters(b);
    const bool hold = !parameters.value(QStringLiteral("patterns")).toArray().isEmpty();
    const QPointer<DevToolsClient> guard(b.client);
    b.client->send(
        hold ? QStringLiteral("Fetch.enable") : QStringLiteral("Fetch.disable"), hold ? parameters : QJsonObject(),
        commandTimeoutMs,
        [guard, sessionId, thenRun](const QJsonObject&, const DevToolsClient::Error&) {
            // A page that could not be held still runs; the engine's own checks cover it.
            if (thenRun && guard)
                guard->send(
                    QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, commandTimeoutMs,
                    [](const QJsonObject&, const DevToolsClient::Error&) {}, sessionId);
        },
        sessionId);
}

void DevToolsNavigationInterceptor::onEvent(const QString& bundleIdentifier, const QString& method,
                                            const QJsonObject& params, const QString& sessionId)
{
    Browser& b = m_browsers[bundleIdentifier];
    if (!b.client)
        return;
    if (method == QLatin1String("Fetch.requestPaused")) {
        answer(bundleIdentifier, sessionId, params);
        return;
    }
    if (method == QLatin1String("Target.attachedToTarget")) {
        const QString session = params.value(QStringLiteral("sessionId")).toString();
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        if (session.isEmpty())
            return;
        if (info.value(QStringLiteral("type")).toString() == QLatin1String("page")) {
            b.pages.insert(session, info.value(QStringLiteral("targetId")).toString());
            enableFetch(bundleIdentifier, session, params.value(QStringLiteral("waitingForDebugger")).toBool());
            return;
        }
        // Not a tab: let it run and leave it alone.
        if (params.value(QStringLiteral("waitingForDebugger")).toBool())
            b.client->send(
                QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, commandTimeoutMs,
                [](const QJsonObject&, const DevToolsClient::Error&) {}, session);
        b.client->send(QStringLiteral("Target.detachFromTarget"), {{QStringLiteral("sessionId"), session}},
                       commandTimeoutMs, [](const QJsonObject&, const DevToolsClient::Error&) {});
        return;
    }
    if (method == QLatin1String("Target.detachedFromTarget"))
        b.pages.remove(params.value(QStringLiteral("sessionId")).toString());
}

void DevToolsNavigationInterceptor::answer(const QString& bundleIdentifier, const QString& sessionId,
                                           const QJsonObject& params)
{
    Browser& b = m_browsers[bundleIdentifier];
    const QString requestId = params.value(QStringLiteral("requestId")).toString();
    if (requestId.isEmpty())
        return;
    const QString address = params.value(QStringLiteral("request")).toObject().value(QStringLiteral("url")).toString();
    // Only the tab's own document: a blocked site inside a frame of another page is the page's
    // business, as it is for the engine's checks.
    const auto page = b.pages.constFind(sessionId);
    const bool topLevel = page != b.pages.cend() && params.value(QStringLiteral("frameId")).toString() == page.value();
    std::optional<QString> target;
    if (topLevel && m_decide && address.size() <= maximumAddressLength)
        target = m_decide(bundleIdentifier, address);
    // The decision may have changed what is watched; the connection is what counts now.
    DevToolsClient* client = m_browsers.value(bundleIdentifier).client;
    if (!client)
        return;
    if (!target) {
        client->send(
            QStringLiteral("Fetch.continueRequest"), {{QStringLiteral("requestId"), requestId}}, commandTimeoutMs,
            [](const QJsonObject&, const DevToolsClient::Error&) {}, sessionId);
        return;
    }
    const QJsonArray headers{
        QJsonObject{{QStringLiteral("name"), QStringLiteral("Location")}, {QStringLiteral("value"), *target}},
        QJsonObject{{QStringLiteral("name"), QStringLiteral("Cache-Control")},
                    {QStringLiteral("value"), QStringLiteral("no-store")}}};
    client->send(
        QStringLiteral("Fetch.fulfillRequest"),
        {{QStringLiteral("requestId"), requestId},
         {QStringLiteral("responseCode"), 302},
         {QStringLiteral("responseHeaders"), headers},
         {QStringLiteral("body"), QString()}},
        commandTimeoutMs, [](const QJsonObject&, const DevToolsClient::Error&) {}, sessionId);
}
