#include "linux/ExtensionBridge.h"

#include "linux/LocalSocketName.h"
#include "model/SupportedBrowser.h"

#include <QFile>
#include <QJsonArray>
#include <QLocalSocket>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <sys/stat.h>

namespace {

QString text(const QJsonObject& o, const char* key, qsizetype limit = 256)
{
    const QString value = o.value(QLatin1String(key)).toString();
    return value.size() <= limit ? value : QString();
}

} // namespace

ExtensionBridge::ExtensionBridge(OfflineSetup offlineSetup, ProfileCheck profileCheck, QObject* parent)
    : ExtensionLink(parent), m_offlineSetup(std::move(offlineSetup)), m_profileCheck(std::move(profileCheck))
{
    m_clock.start();
    m_server.setMaxPendingConnections(maximumConnections);
    QObject::connect(&m_server, &QLocalServer::newConnection, this, &ExtensionBridge::onNewConnection);
}

ExtensionBridge::~ExtensionBridge()
{
    for (Pending& p : m_pending) {
        delete p.timer;
        if (p.done)
            p.done(false);
    }
    m_pending.clear();
    // The relays hear the program go; nothing may call back into a bridge half torn down.
    for (auto it = m_peers.begin(); it != m_peers.end(); ++it) {
        it.key()->disconnect(this);
        delete it.key();
    }
    m_peers.clear();
    m_connected.clear();
    m_server.close();
}

bool ExtensionBridge::listen(const QString& path)
{
    const std::optional<QString> name = LocalSocketName::reachable(path, &m_error);
    if (!name)
        return false;
    {
        // A program that answers at this path owns it; only a dead socket is taken over.
        QLocalSocket probe;
        probe.connectToServer(*name);
        if (probe.waitForConnected(500)) {
            m_error = QStringLiteral("Another program answers at %1").arg(path);
            return false;
        }
    }
    QLocalServer::removeServer(*name);
    // The runtime folder is private already; the socket itself is the user's alone as well.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(*name)) {
        m_error = m_server.errorString();
        return false;
    }
    ::chmod(QFile::encodeName(path).constData(), 0600);
    m_error.clear();
    return true;
}

QString ExtensionBridge::browserForBrand(const QString& brand)
{
    static const std::pair<const char*, const char*> table[] = {
        {"Google Chrome", "chrome"}, {"Chromium", "chromium"}, {"Brave", "brave"},     {"Microsoft Edge", "edge"},
        {"Opera", "opera"},          {"Vivaldi", "vivaldi"},   {"Firefox", "firefox"},
    };
    for (const auto& [name, id] : table)
        if (brand.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(id);
    return {};
}

void ExtensionBridge::onNewConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        // Connections that hold a place without talking cannot shut a relay out: the newcomer
        // always gets one, and has to earn it by saying who it is in time.
        if (m_peers.size() >= maximumConnections)
            drop(idlest(), QStringLiteral("a connection silent for longest made room for another"));
        m_peers.insert(socket, Peer{socket, {}, {}, false, false, false, {}, 0, ++m_heard});
        QObject::connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadable(socket); });
        QObject::connect(socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket, QString()); });
        QTimer::singleShot(m_introductionTimeoutMs, socket, [this, socket] {
            const auto it = m_peers.constFind(socket);
            if (it == m_peers.cend() || it->saidHello)
                return;
            drop(socket, it->relayed ? QStringLiteral("the extension did not say hello in time")
                                     : QStringLiteral("no relay introduction in time"));
        });
    }
}

QLocalSocket* ExtensionBridge::idlest() const
{
    // One that never said hello first, then the profile heard from least recently: a real one
    // that loses its place is back through its relay within a second or two.
    auto idlest = m_peers.cend();
    for (auto it = m_peers.cbegin(); it != m_peers.cend(); ++it)
        if (idlest == m_peers.cend() || (!it->saidHello && idlest->saidHello) ||
            (it->saidHello == idlest->saidHello && it->heardAt < idlest->heardAt))
            idlest = it;
    return idlest == m_peers.cend() ? nullptr : idlest.key();
}

int ExtensionBridge::relayedConnections() const
{
    return int(std::count_if(m_peers.cbegin(), m_peers.cend(), [](const Peer& p) { return p.relayed; }));
}

void ExtensionBridge::onReadable(QLocalSocket* socket)
{
    auto it = m_peers.find(socket);
    if (it == m_peers.end())
        return;
    it->reader.append(socket->readAll());
    for (;;) {
        it = m_peers.find(socket);
        if (it == m_peers.end())
            return;
        NativeMessaging::FrameReader::Result r = it->reader.next();
        using S = NativeMessaging::FrameReader::Status;
        if (r.status == S::needMore)
            return;
        if (r.status == S::message) {
            it->heardAt = ++m_heard;
            onMessage(*it, r.message);
            continue;
        }
        // Our own relay checks every frame; anything else here is not our relay.
        drop(socket, r.problem);
        return;
    }
}

void ExtensionBridge::onMessage(Peer& peer, const QJsonObject& message)
{
    QLocalSocket* socket = peer.socket;
    const QString type = text(message, "type");
    if (!peer.relayed) {
        if (type != QLatin1String("relay") ||
            message.value(QLatin1String("protocol")).toInt() != NativeMessaging::protocolVersion) {
            drop(socket, QStringLiteral("the first message was not a relay of protocol %1")
                             .arg(NativeMessaging::protocolVersion));
            return;
        }
        peer.relayed = true;
        peer.relayBrowser = text(message, "browser");
        return;
    }
    if (type == QLatin1String("hello")) {
        if (message.value(QLatin1String("protocol")).toInt() != NativeMessaging::protocolVersion) {
            drop(socket, QStringLiteral("the extension speaks another protocol"));
            return;
        }
        peer.saidHello = true;
        const QString brand = text(message, "browser");
        const SupportedBrowser* relayed = SupportedBrowser::withStoredKey(peer.relayBrowser);
        const QString id = relayed ? relayed->id : browserForBrand(brand);
        if (id.isEmpty()) {
            qWarning("A browser extension connected from an unknown browser (%s); it is not used.", qPrintable(brand));
            return;
        }
        const bool first = !peer.greeted;
        peer.greeted = true;
        peer.report.browserId = id;
        peer.report.browserVersion = text(message, "browserVersion");
        peer.report.extensionVersion = text(message, "extensionVersion");
        peer.report.privateWindowsAllowed = message.value(QLatin1String("privateWindowsAllowed")).toBool();
        sendBlockedSites(socket);
        updateConnected();
        if (first)
            emit setupChanged();
        emit reportChanged(id);
        return;
    }
    if (!peer.greeted)
        return;
    if (type == QLatin1String("tab")) {
        ExtensionTabReport next = peer.report;
        const QJsonValue tab = message.value(QLatin1String("tabId"));
        next.tabId = tab.isDouble() && tab.toDouble() >= 0 ? qint64(tab.toDouble()) : -1;
        next.url = next.tabId >= 0 ? message.value(QLatin1String("url")).toString() : QString();
        next.windowFocused = message.value(QLatin1String("focused")).toBool();
        // With several profiles of one browser, the one heard last may become the current one
        // although its own report stays the same: that too changes what report() answers.
        const Peer* before = current(next.browserId);
        peer.reportedAt = ++m_reportCount;
        const bool same = next == peer.report;
        peer.report = next;
        if (same && current(next.browserId) == before)
            return;
        emit reportChanged(next.browserId);
        return;
    }
    if (type == QLatin1String("done")) {
        const QJsonValue id = message.value(QLatin1String("id"));
        const auto pending = m_pending.constFind(quint64(id.toDouble()));
        // Only the connection asked may answer.
        if (id.isDouble() && pending != m_pending.cend() && pending->socket == socket)
            answer(quint64(id.toDouble()), message.value(QLatin1String("ok")).toBool());
        return;
    }
}

void ExtensionBridge::drop(QLocalSocket* socket, const QString& why)
{
    const auto it = m_peers.find(socket);
    if (it == m_peers.end())
        return;
    if (!why.isEmpty())
        qWarning("Browser extension link closed: %s", qPrintable(why));
    const bool greeted = it->greeted;
    const QString id = it->report.browserId;
    m_peers.erase(it);
    QList<quint64> orphaned;
    for (auto p = m_pending.cbegin(); p != m_pending.cend(); ++p)
        if (p->socket == socket)
            orphaned.append(p.key());
    for (quint64 request : orphaned)
        answer(request, false);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    updateConnected();
    if (greeted) {
        emit setupChanged();
        emit reportChanged(id);
    }
}

void ExtensionBridge::send(QLocalSocket* socket, const QJsonObject& message)
{
    if (socket && socket->state() == QLocalSocket::ConnectedState)
        socket->write(NativeMessaging::frame(message));
}

void ExtensionBridge::sendBlockedSites(QLocalSocket* socket)
{
    QJsonArray sites;
    for (const BlockedSite& s : m_sites) {
        // The browsers match host names in their ASCII form.
        const QString domain = QString::fromLatin1(QUrl::toAce(s.domain));
        if (!domain.isEmpty())
            sites.append(QJsonObject{{QStringLiteral("domain"), domain}, {QStringLiteral("page"), s.pageAddress}});
    }
    send(socket, {{QStringLiteral("type"), QStringLiteral("blocked")},
                  {QStringLiteral("protocol"), NativeMessaging::protocolVersion},
                  {QStringLiteral("sites"), sites}});
}

void ExtensionBridge::setBlockedSites(const QList<BlockedSite>& sites)
{
    if (sites == m_sites)
        return;
    m_sites = sites;
    for (const Peer& peer : std::as_const(m_peers))
        if (peer.greeted)
            sendBlockedSites(peer.socket);
}

const ExtensionBridge::Peer* ExtensionBridge::current(const QString& browserId) const
{
    // Several profiles of one browser: the one whose window has focus, else the one heard last.
    const Peer* best = nullptr;
    for (const Peer& peer : m_peers) {
        if (!peer.greeted || peer.report.browserId != browserId)
            continue;
        if (!best || (peer.report.windowFocused && !best->report.windowFocused) ||
            (peer.report.windowFocused == best->report.windowFocused && peer.reportedAt > best->reportedAt))
            best = &peer;
    }
    return best;
}

ExtensionLink::Setup ExtensionBridge::setup(const QString& browserId) const
{
    if (current(browserId))
        return Setup::connected;
    if (!m_offlineSetup)
        return Setup::extensionMissing;
    const auto cached = m_offlineCache.constFind(browserId);
    if (cached != m_offlineCache.cend() && m_clock.elapsed() - cached->second < offlineCacheMs)
        return cached->first;
    const Setup s = m_offlineSetup(browserId);
    m_offlineCache.insert(browserId, {s, m_clock.elapsed()});
    return s;
}

QStringList ExtensionBridge::profilesLeftOut(const QString& browserId) const
{
    if (!m_profileCheck || !current(browserId))
        return {};
    return m_profileCheck(browserId);
}

void ExtensionBridge::recheckSetup()
{
    m_offlineCache.clear();
    emit setupChanged();
}

QStringList ExtensionBridge::connectedBrowsers() const
{
    return m_connected;
}

void ExtensionBridge::updateConnected()
{
    QStringList ids;
    for (const Peer& peer : std::as_const(m_peers))
        if (peer.greeted && !ids.contains(peer.report.browserId))
            ids.append(peer.report.browserId);
    ids.sort();
    m_connected = ids;
}

std::optional<ExtensionTabReport> ExtensionBridge::report(const QString& browserId) const
{
    const Peer* peer = current(browserId);
    return peer ? std::optional(peer->report) : std::nullopt;
}

void ExtensionBridge::ask(const QString& browserId, QJsonObject request, std::function<void(bool)> done)
{
    const Peer* peer = current(browserId);
    if (!peer || m_pending.size() >= maximumPendingAnswers) {
        if (done)
            done(false);
        return;
    }
    const quint64 id = m_nextRequest++;
    request.insert(QStringLiteral("id"), double(id));
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, this, [this, id] { answer(id, false); });
    m_pending.insert(id, Pending{peer->socket, std::move(done), timer});
    timer->start(answerTimeoutMs);
    send(peer->socket, request);
}

void ExtensionBridge::answer(quint64 id, bool ok)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    Pending pending = *it;
    m_pending.erase(it);
    pending.timer->deleteLater();
    if (pending.done)
        pending.done(ok);
}

void ExtensionBridge::redirectTab(const QString& browserId, qint64 tabId, const QString& ifURL, const QString& to,
                                  std::function<void(bool)> done)
{
    ask(browserId,
        {{QStringLiteral("type"), QStringLiteral("redirect")},
         {QStringLiteral("tabId"), double(tabId)},
         {QStringLiteral("ifURL"), ifURL},
         {QStringLiteral("to"), to}},
        std::move(done));
}

void ExtensionBridge::closeTab(const QString& browserId, qint64 tabId, const QString& ifURL,
                               std::function<void(bool)> done)
{
    ask(browserId,
        {{QStringLiteral("type"), QStringLiteral("close")},
         {QStringLiteral("tabId"), double(tabId)},
         {QStringLiteral("ifURL"), ifURL}},
        std::move(done));
}

void ExtensionBridge::openPage(const QString& browserId, const QString& address, std::function<void(bool)> done)
{
    ask(browserId, {{QStringLiteral("type"), QStringLiteral("open")}, {QStringLiteral("url"), address}},
        std::move(done));
}
