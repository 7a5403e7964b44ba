#include "linux/DevToolsNavigationInterceptor.h"

#include "linux/DevToolsClient.h"
#include "linux/DevToolsConnections.h"

#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

DevToolsNavigationInterceptor::DevToolsNavigationInterceptor(QString home, QObject* parent)
    : DevToolsNavigationInterceptor(new DevToolsConnections(home), parent)
{
    m_shared->setParent(this);
}

DevToolsNavigationInterceptor::DevToolsNavigationInterceptor(DevToolsConnections* connections, QObject* parent)
    : QObject(parent), m_shared(connections)
{
    QObject::connect(connections, &DevToolsConnections::opened, this, [this](const QString& browserId) {
        if (!m_browsers.value(browserId).domains.isEmpty())
            connectTo(browserId);
    });
    QObject::connect(connections, &DevToolsConnections::closed, this,
                     [this](const QString& browserId) { drop(browserId, false); });
    // A browser that starts, or gets a debugging port, is held from then on: heard of here rather
    // than asked about on every check.
    QObject::connect(connections, &DevToolsConnections::endpointsChanged, this, [this] {
        QStringList waiting;
        for (auto it = m_browsers.cbegin(); it != m_browsers.cend(); ++it)
            if (!it->client && !it->domains.isEmpty())
                waiting.append(it.key());
        for (const QString& browserId : std::as_const(waiting))
            connectTo(browserId);
    });
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

bool DevToolsNavigationInterceptor::isIntercepting(const QString& browserId) const
{
    const auto it = m_browsers.constFind(browserId);
    return it != m_browsers.cend() && it->attached && it->client && it->client->isOpen();
}

void DevToolsNavigationInterceptor::watch(const QString& browserId, const QStringList& domains)
{
    QStringList sorted = domains;
    sorted.sort();
    sorted.removeDuplicates();
    Browser& b = m_browsers[browserId];
    const bool changed = b.domains != sorted;
    b.domains = sorted;
    if (!b.client) {
        // Nothing to hold is no reason to reach for a browser.
        if (!sorted.isEmpty())
            connectTo(browserId);
        return;
    }
    if (changed && b.attached)
        for (auto it = b.pages.cbegin(); it != b.pages.cend(); ++it)
            enableFetch(browserId, it.key(), false);
}

void DevToolsNavigationInterceptor::connectTo(const QString& browserId)
{
    if (!m_shared)
        return;
    // Asking for the connection starts it when none is under way; `opened` brings us back.
    if (DevToolsClient* client = m_shared->client(browserId))
        holdOn(browserId, client);
}

void DevToolsNavigationInterceptor::holdOn(const QString& browserId, DevToolsClient* client)
{
    Browser& b = m_browsers[browserId];
    if (b.client == client || b.refused == client)
        return;
    b.client = client;
    b.attached = false;
    b.pages.clear();
    QObject::connect(client, &DevToolsClient::protocolEvent, this,
                     [this, browserId](const QString& method, const QJsonObject& params, const QString& sessionId) {
                         onEvent(browserId, method, params, sessionId);
                     });
    const QPointer<DevToolsClient> guard(client);
    // The connection is shared and may outlive this object: a client destroyed later still
    // answers this command, when nothing of ours is left to touch.
    const QPointer<DevToolsNavigationInterceptor> self(this);
    // Every page, those open now and those to come; a new one waits until it is held, so its
    // first navigation cannot slip through.
    client->send(QStringLiteral("Target.setAutoAttach"),
                 {{QStringLiteral("autoAttach"), true},
                  {QStringLiteral("waitForDebuggerOnStart"), true},
                  {QStringLiteral("flatten"), true},
                  {QStringLiteral("filter"), QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("page")},
                                                                    {QStringLiteral("exclude"), false}}}}},
                 commandTimeoutMs, [self, browserId, guard](const QJsonObject&, const DevToolsClient::Error& e) {
                     if (!self || !guard || self->m_browsers.value(browserId).client != guard)
                         return;
                     if (!e.isEmpty()) {
                         self->drop(browserId, e.kind == DevToolsClient::Error::Kind::refused);
                         return;
                     }
                     self->m_browsers[browserId].attached = true;
                     emit self->interceptingChanged(browserId);
                 });
}

void DevToolsNavigationInterceptor::drop(const QString& browserId, bool refused)
{
    Browser& b = m_browsers[browserId];
    // The connection is shared: it stays open for the tab reader; only our part of it ends.
    if (refused)
        b.refused = b.client;
    const bool wasIntercepting = b.attached;
    if (b.client)
        QObject::disconnect(b.client, nullptr, this, nullptr);
    b.client = nullptr;
    b.attached = false;
    b.pages.clear();
    if (wasIntercepting)
        emit interceptingChanged(browserId);
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

void DevToolsNavigationInterceptor::enableFetch(const QString& browserId, const QString& sessionId, bool thenRun)
{
    const Browser& b = m_browsers[browserId];
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

void DevToolsNavigationInterceptor::onEvent(const QString& browserId, const QString& method, const QJsonObject& params,
                                            const QString& sessionId)
{
    Browser& b = m_browsers[browserId];
    if (!b.client)
        return;
    if (method == QLatin1String("Fetch.requestPaused")) {
        answer(browserId, sessionId, params);
        return;
    }
    if (method == QLatin1String("Target.attachedToTarget")) {
        const QString session = params.value(QStringLiteral("sessionId")).toString();
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        if (session.isEmpty())
            return;
        const QString target = info.value(QStringLiteral("targetId")).toString();
        const bool held = std::find(b.pages.cbegin(), b.pages.cend(), target) != b.pages.cend();
        if (info.value(QStringLiteral("type")).toString() == QLatin1String("page") && held) {
            // A second session on a page already held (the tab reader attached to it): one
            // holder per page, or a navigation would be answered twice.
            if (params.value(QStringLiteral("waitingForDebugger")).toBool())
                b.client->send(
                    QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, commandTimeoutMs,
                    [](const QJsonObject&, const DevToolsClient::Error&) {}, session);
            return;
        }
        if (info.value(QStringLiteral("type")).toString() == QLatin1String("page")) {
            b.pages.insert(session, target);
            enableFetch(browserId, session, params.value(QStringLiteral("waitingForDebugger")).toBool());
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

void DevToolsNavigationInterceptor::answer(const QString& browserId, const QString& sessionId,
                                           const QJsonObject& params)
{
    Browser& b = m_browsers[browserId];
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
        target = m_decide(browserId, address);
    // The decision may have changed what is watched; the connection is what counts now.
    DevToolsClient* client = m_browsers.value(browserId).client;
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
