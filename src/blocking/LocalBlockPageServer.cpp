#include "blocking/LocalBlockPageServer.h"

#include "blocking/BlockPage.h"
#include "blocking/BlockPageRequest.h"
#include "model/Json.h"
#include "store/StorageService.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <variant>

namespace {

const QByteArray textPlain = "text/plain; charset=utf-8";
const QByteArray noStore = "no-store";

QByteArray plain(const QByteArray& status, const QByteArray& body)
{
    return LocalBlockPageServer::makeResponse(status, textPlain, noStore, body);
}

QByteArray refusal(BlockPageRequest::Refusal why)
{
    switch (why) {
    case BlockPageRequest::Refusal::onlyGet:
        return plain("405 Method Not Allowed", "Only GET is supported");
    case BlockPageRequest::Refusal::badRequest:
        break;
    }
    return plain("400 Bad Request", "Bad request");
}

const BlockedSiteSnapshot* blockedSnapshot(const StorageService* store, const std::optional<QUuid>& rule)
{
    if (!store || !rule)
        return nullptr;
    for (const BlockedSiteSnapshot& s : store->blocking().state().blockedNow)
        if (s.ruleId == *rule)
            return &s;
    return nullptr;
}

} // namespace

static void initBlockingResources()
{
    Q_INIT_RESOURCE(blocking);
}

LocalBlockPageServer::LocalBlockPageServer(StorageService* storage, QObject* parent)
    : QObject(parent), m_storage(storage)
{
    if (!storage)
        return;
    // The day is part of the remembered lists too (see pageTodos), so the state's own frequent
    // changes need not throw them away.
    const auto forget = [this] {
        m_pageTodos.reset();
        ++m_listsGeneration;
    };
    connect(&storage->todos(), &TodoStore::todosChanged, this, forget);
    connect(&storage->todos(), &TodoStore::focusTodoIDChanged, this, forget);
    connect(storage, &StorageService::todosCameIn, this, forget);
    rememberRuleSites();
    connect(&storage->blocking(), &BlockingStore::rulesChanged, this, &LocalBlockPageServer::rememberRuleSites);
    connect(&storage->blocking(), &BlockingStore::doomScrollConfigChanged, this,
            &LocalBlockPageServer::rememberRuleSites);
}

void LocalBlockPageServer::rememberRuleSites()
{
    // Rules come and go by the handful; this bound only keeps a run of endless edits in check.
    if (m_ruleSites.size() > 4096)
        m_ruleSites.clear();
    for (const BlockRule& r : m_storage->blocking().rules())
        m_ruleSites.insert(r.id, r.domain);
    for (const DoomScrollDomain& d : m_storage->blocking().doomScrollConfig().domains)
        m_ruleSites.insert(d.id, d.domain);
}

const LocalBlockPageServer::PageTodos& LocalBlockPageServer::pageTodos() const
{
    const qint64 day = m_storage->blocking().state().dayId;
    if (m_pageTodos && m_pageTodos->dayId == day)
        return *m_pageTodos;
    PageTodos todos;
    todos.dayId = day;
    if (const std::optional<TaskItem> focus = m_storage->todos().focusTodo()) {
        todos.tasks.push_back(*focus);
        for (TaskItem& t : m_storage->todos().openTodos())
            if (t.id != focus->id)
                todos.tasks.push_back(std::move(t));
    }
    todos.todayCount = static_cast<qint64>(m_storage->todos().todayTodos().size());
    m_pageTodos = std::move(todos);
    ++m_pageListComputations;
    ++m_listsGeneration;
    return *m_pageTodos;
}

LocalBlockPageServer::QueryReading LocalBlockPageServer::readQuery(const QString& query) const
{
    if (const auto known = m_queries.constFind(query); known != m_queries.cend())
        return *known;
    QueryReading q;
    if (const std::optional<QString> rule = BlockPageRequest::queryValue(query, QStringLiteral("rule")))
        q.rule = parseUuid(*rule);
    q.from = BlockPageRequest::queryValue(query, QStringLiteral("from"));
    if (std::optional<QString> host = BlockPage::returnHost(q.from))
        q.returnHost = std::move(host);
    q.pageKey = q.rule ? q.rule->toString() : QString();
    q.pageKeyWithFrom = q.pageKey + (q.from ? QStringLiteral("\n=") + *q.from : QString());
    // Every address a tab came from makes a query of its own: keep the memory bounded.
    if (m_queries.size() >= 256)
        m_queries.clear();
    m_queries.insert(query, q);
    return q;
}

QByteArray LocalBlockPageServer::blockedResponse(const QString& query) const
{
    const QueryReading q = readQuery(query);
    // Asked at every request: the hosts file may have changed since the query was first read.
    const bool returnAllowed = q.returnHost && !HostAddresses::isThisComputerName(*q.returnHost, m_hostsFile);
    const BlockedSiteSnapshot* snapshot = blockedSnapshot(m_storage.data(), q.rule);
    // The tab goes back by itself only to the site the rule blocks, where this program sent it
    // from; an address a page made up (anything, anywhere) is only offered once the block ends.
    const bool sentFromThere = returnAllowed && isRuleSite(q.rule, *q.returnHost);
    const std::optional<QString> from = returnAllowed && (sentFromThere || !snapshot) ? q.from : std::nullopt;
    // Asked first: a new day computes the lists again and so ends what was rendered from them.
    const PageTodos* todos = snapshot ? &pageTodos() : nullptr;
    const QString key = !returnAllowed ? q.pageKey : q.pageKeyWithFrom + (sentFromThere ? "" : "\n!");
    if (const auto it = m_rendered.constFind(key); it != m_rendered.cend() && it->lists == m_listsGeneration &&
                                                   it->snapshot.has_value() == bool(snapshot) &&
                                                   (!snapshot || *it->snapshot == *snapshot))
        return it->response;
    const std::optional<BlockedSiteSnapshot> shown = snapshot ? std::optional(*snapshot) : std::nullopt;
    const QString body = todos ? BlockPage::render(*snapshot, todos->tasks, todos->todayCount, from)
                               : BlockPage::blockEnded(from, sentFromThere);
    ++m_pageRenderings;
    QByteArray response = makeResponse("200 OK", "text/html; charset=utf-8", noStore, body.toUtf8());
    // Every address a tab came from is a key of its own: keep the memory bounded.
    if (m_rendered.size() >= 64)
        m_rendered.clear();
    m_rendered.insert(key, {shown, m_listsGeneration, response});
    return response;
}

bool LocalBlockPageServer::isRuleSite(const std::optional<QUuid>& rule, const QString& host) const
{
    if (!rule || !m_storage)
        return false;
    // A rule removed since it blocked the tab still names its site: the tab goes back there as
    // it does when its rule only stands outside its hours.
    QString domain = m_ruleSites.value(*rule);
    for (const BlockRule& r : m_storage->blocking().rules())
        if (r.id == *rule)
            domain = r.domain;
    for (const DoomScrollDomain& d : m_storage->blocking().doomScrollConfig().domains)
        if (d.id == *rule)
            domain = d.domain;
    const QString site = QString::fromLatin1(QUrl::toAce(domain)).toLower();
    const QString there = QString::fromLatin1(QUrl::toAce(host)).toLower();
    return !site.isEmpty() && (there == site || there.endsWith(u'.' + site));
}

LocalBlockPageServer::~LocalBlockPageServer()
{
    for (const Connection& c : std::as_const(m_connections))
        ::close(c.descriptor);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

void LocalBlockPageServer::start(quint16 port, bool allowFallback)
{
    if (m_epoll < 0) {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (m_epoll < 0) {
            setLastError(QStringLiteral("The local priorities page could not start: ") +
                         QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_epollNotifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
        connect(m_epollNotifier, &QSocketNotifier::activated, this, &LocalBlockPageServer::readyConnections);
    }
    auto* listener = new QTcpServer(this);
    if (!listener->listen(QHostAddress(QHostAddress::LocalHost), port)) {
        const QString error = listener->errorString();
        delete listener;
        m_listener = nullptr;
        setPort(std::nullopt);
        if (allowFallback) {
            start(0, false);
            return;
        }
        setLastError(QStringLiteral("The local priorities page could not start: ") + error);
        return;
    }
    // Connections are taken off the listener in the epoll loop, a few at a time: accepting
    // until none is left would, under a steady stream of connections, answer new ones and never
    // get to the closes of those answered.
    listener->pauseAccepting();
    m_listener = listener;
    m_accepting = false;
    resumeAccepting();
    setPort(listener->serverPort());
    setLastError(std::nullopt);
}

void LocalBlockPageServer::resumeAccepting()
{
    if (!m_listener || m_accepting)
        return;
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = listenerKey;
    m_accepting = ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, int(m_listener->socketDescriptor()), &e) == 0;
    if (!m_accepting)
        QTimer::singleShot(acceptRetryMs, this, &LocalBlockPageServer::resumeAccepting);
}

void LocalBlockPageServer::acceptWaiting()
{
    const int listening = int(m_listener->socketDescriptor());
    for (int i = 0; i < acceptBatch; ++i) {
        const int fd = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            accept(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors or memory: the waiting connection keeps the listener readable, so
        // it is left alone a moment rather than asked again at once, and never given up on.
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, listening, nullptr);
        m_accepting = false;
        QTimer::singleShot(acceptRetryMs, this, &LocalBlockPageServer::resumeAccepting);
        return;
    }
}

void LocalBlockPageServer::setPort(std::optional<quint16> port)
{
    if (port == m_port)
        return;
    m_port = port;
    emit portChanged();
}

void LocalBlockPageServer::setLastError(std::optional<QString> error)
{
    if (error == m_lastError)
        return;
    m_lastError = std::move(error);
    emit lastErrorChanged();
}

std::optional<QUrl> LocalBlockPageServer::blockedPageURL(const QUuid& rule, const QString& domain,
                                                         const QString& from) const
{
    if (!m_port)
        return std::nullopt;
    const auto encode = [](const QString& v) { return QString::fromLatin1(QUrl::toPercentEncoding(v)); };
    const QString base = QStringLiteral("http://127.0.0.1:%1/blocked?rule=%2&domain=%3")
                             .arg(*m_port)
                             .arg(uuidText(rule), encode(domain));
    QString withFrom = base + QStringLiteral("&from=") + encode(from);
    // A browser adds its own headers to the request line; an address that would push the request
    // past the server's limit is left out, and the page then steps back instead of returning.
    constexpr qsizetype headroomForHeaders = 4096;
    if (withFrom.size() > maximumRequestBytes - headroomForHeaders)
        withFrom = base;
    return QUrl(withFrom, QUrl::StrictMode);
}

std::optional<QString> LocalBlockPageServer::returnAddress(const QString& pageAddress) const
{
    if (!m_port)
        return std::nullopt;
    const QString page = QStringLiteral("http://127.0.0.1:%1/blocked?").arg(*m_port);
    if (!pageAddress.startsWith(page))
        return std::nullopt;
    // Straight from an extension's redirect rule the address follows `&url=` as it was.
    QString query = pageAddress.mid(page.size());
    if (const qsizetype raw = query.indexOf(QLatin1String("&url=")); raw >= 0)
        return BlockPage::safeReturnURL(query.mid(raw + 5));
    query.truncate(query.indexOf(u'#') < 0 ? query.size() : query.indexOf(u'#'));
    return BlockPage::safeReturnURL(BlockPageRequest::queryValue(query, QStringLiteral("from")));
}

const std::optional<QByteArray>& LocalBlockPageServer::appIconPNG()
{
    static const std::optional<QByteArray> icon = []() -> std::optional<QByteArray> {
        initBlockingResources();
        QFile file(QStringLiteral(":/app-icon.png"));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }();
    return icon;
}

QByteArray LocalBlockPageServer::makeResponse(const QByteArray& status, const QByteArray& contentType,
                                              const QByteArray& cacheControl, const QByteArray& body)
{
    QByteArray out;
    out.reserve(body.size() + 420);
    out += "HTTP/1.1 " + status + "\r\n";
    out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Cache-Control: " + cacheControl + "\r\n";
    out += "X-Content-Type-Options: nosniff\r\n";
    out += "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
           "img-src 'self'; connect-src 'self'; base-uri 'none'; form-action 'none'\r\n";
    out += "Connection: close\r\n\r\n";
    out += body;
    return out;
}

namespace {

// The block page asked for again with the address as its `from`, the way the program itself
// writes it; the address's fragment, which no browser sends, stays on the page's own address.
QByteArray addressRedirect(const QString& query, const QString& address)
{
    QByteArray location = "/blocked?" + query.toUtf8();
    const QByteArray withFrom = location + "&from=" + QUrl::toPercentEncoding(address);
    // An address that would push the next request past the limit is left out, as in
    // blockedPageURL: the page then steps back instead of returning.
    if (withFrom.size() <= LocalBlockPageServer::maximumRequestBytes - 4096)
        location = withFrom;
    QByteArray response = LocalBlockPageServer::makeResponse("302 Found", textPlain, noStore, QByteArray());
    response.insert(response.indexOf("\r\n") + 2, "Location: " + location + "\r\n");
    return response;
}

} // namespace

QByteArray LocalBlockPageServer::handleRequest(const QByteArray& request) const
{
    const auto target = BlockPageRequest::readTarget(request, m_port);
    if (const auto* why = std::get_if<BlockPageRequest::Refusal>(&target))
        return refusal(*why);
    const BlockPageRequest::Target& wanted = std::get<BlockPageRequest::Target>(target);
    if (wanted.address)
        return addressRedirect(wanted.query, *wanted.address);
    return route(wanted.path, wanted.query);
}

QByteArray LocalBlockPageServer::route(const QString& path, const QString& query) const
{
    if (path == QLatin1String("/health"))
        return plain("200 OK", "ok");
    if (path == QLatin1String("/app-icon.png")) {
        if (const auto& icon = appIconPNG())
            return makeResponse("200 OK", "image/png", "public, max-age=86400", *icon);
        return plain("404 Not Found", "Icon not found");
    }
    if (path == QLatin1String("/blocked"))
        return blockedResponse(query);
    if (path == QLatin1String("/status")) {
        // Every open block page asks every two seconds: one of two answers, made once.
        static const QByteArray stillBlocked =
            makeResponse("200 OK", "application/json; charset=utf-8", noStore, "{\"blocked\":true}");
        static const QByteArray ended =
            makeResponse("200 OK", "application/json; charset=utf-8", noStore, "{\"blocked\":false}");
        return blockedSnapshot(m_storage.data(), readQuery(query).rule) ? stillBlocked : ended;
    }
    if (path == QLatin1String("/close"))
        return makeResponse("200 OK", "text/html; charset=utf-8", noStore, BlockPage::closing().toUtf8());
    return plain("404 Not Found", "Not found");
}

// Idle: nothing received yet, or answered in full and only waiting for the peer to close. A
// request being received or answered is never given up for a newcomer.
bool LocalBlockPageServer::Connection::isIdle() const
{
    return answered ? unsent.isEmpty() : buffer.isEmpty();
}

int LocalBlockPageServer::idleConnections() const
{
    return static_cast<int>(
        std::count_if(m_connections.cbegin(), m_connections.cend(), [](const Connection& c) { return c.isIdle(); }));
}

bool LocalBlockPageServer::evictForNewcomer()
{
    // The connection idle longest goes first; with none idle, the request that started first: a
    // local process that trickles bytes into every place must not keep the browser out.
    std::optional<quint64> idlest;
    std::optional<quint64> oldestRequest;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        const Connection& c = it.value();
        if (c.isIdle()) {
            if (!idlest || c.lastActivity < m_connections.value(*idlest).lastActivity)
                idlest = it.key();
        } else if (!c.answered && (!oldestRequest || c.firstByte < m_connections.value(*oldestRequest).firstByte)) {
            oldestRequest = it.key();
        }
    }
    const std::optional<quint64> victim = idlest ? idlest : oldestRequest;
    if (!victim)
        return false;
    drop(*victim);
    return true;
}

void LocalBlockPageServer::accept(int fd)
{
    // Full: a connection makes room, so sockets held open by some local process cannot keep the
    // browser's own requests out.
    if (m_connections.size() >= maximumConnections && !evictForNewcomer()) {
        ::close(fd);
        return;
    }
    const quint64 id = m_nextConnection++;
    Connection& c = m_connections[id];
    c.descriptor = fd;
    c.lastActivity = ++m_activity;
    restartTimeout(c);
    watch(id, c, EPOLLIN);
    if (!c.watched) {
        drop(id);
        return;
    }
    // A browser mostly sends its request with the connection: it is read at once rather than on
    // the event loop's next turn.
    receive(id);
}

void LocalBlockPageServer::watch(quint64 id, Connection& c, quint32 events)
{
    if (c.watched == events)
        return;
    // Out of the set rather than asking for nothing: a closed peer would still be reported
    // every turn.
    epoll_event e{};
    e.events = events;
    e.data.u64 = id;
    const int op = !events ? EPOLL_CTL_DEL : c.watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (::epoll_ctl(m_epoll, op, c.descriptor, &e) == 0 || !events)
        c.watched = events;
}

void LocalBlockPageServer::readyConnections()
{
    epoll_event events[64];
    for (;;) {
        const int n = ::epoll_wait(m_epoll, events, 64, 0);
        if (n < 0 && errno == EINTR)
            continue;
        for (int i = 0; i < n; ++i) {
            // Each is looked up afresh: answering one may have let another go.
            const quint64 id = events[i].data.u64;
            if (id == listenerKey) {
                if (m_accepting)
                    acceptWaiting();
                continue;
            }
            const auto it = m_connections.constFind(id);
            if (it == m_connections.cend())
                continue;
            if (it->watched & EPOLLOUT)
                send(id);
            else if (it->watched & EPOLLIN)
                receive(id);
        }
        if (n < 64)
            return;
    }
}

void LocalBlockPageServer::restartTimeout(Connection& c)
{
    if (!m_clock.isValid())
        m_clock.start();
    c.deadline = m_clock.elapsed() + m_idleTimeoutMs;
    if (!m_timeouts) {
        m_timeouts = new QTimer(this);
        m_timeouts->setSingleShot(true);
        connect(m_timeouts, &QTimer::timeout, this, &LocalBlockPageServer::dropTimedOut);
    }
    if (m_timeouts->isActive() && m_timeoutsAt <= c.deadline)
        return;
    m_timeoutsAt = c.deadline;
    m_timeouts->start(int(std::max<qint64>(0, c.deadline - m_clock.elapsed())));
}

void LocalBlockPageServer::dropTimedOut()
{
    const qint64 now = m_clock.elapsed();
    std::vector<quint64> due;
    std::optional<qint64> next;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        if (it->deadline <= now)
            due.push_back(it.key());
        else if (!next || it->deadline < *next)
            next = it->deadline;
    }
    for (const quint64 id : due)
        drop(id);
    if (next) {
        m_timeoutsAt = *next;
        m_timeouts->start(int(*next - now));
    }
}

void LocalBlockPageServer::receive(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection& c = *it;
    char chunk[4096];
    for (;;) {
        // Never hold more than one byte past the limit: that byte already decides the answer.
        const qsizetype room = c.answered
                                   ? qsizetype(sizeof chunk)
                                   : std::min<qsizetype>(sizeof chunk, maximumRequestBytes + 1 - c.buffer.size());
        const ssize_t n = ::recv(c.descriptor, chunk, size_t(room), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            // The peer has ended its side or the read failed: answer what came, or, once answered,
            // the connection is over.
            if (c.answered) {
                drop(id);
            } else {
                c.peerEnded = true;
                respond(id);
            }
            return;
        }
        c.lastActivity = ++m_activity;
        // After the answer, whatever still comes is read and dropped: closing with unread bytes
        // would reset the connection, and the peer could lose the answer.
        if (c.answered)
            continue;
        // The whole head must arrive within the time-out from its first byte; later bytes do not
        // extend it. (A browser may open a connection well before it sends its request.)
        if (!c.firstByte) {
            c.firstByte = c.lastActivity;
            restartTimeout(c);
        }
        c.buffer.append(chunk, n);
        const qsizetype end = BlockPageRequest::headEnd(c.buffer);
        if (c.buffer.size() > maximumRequestBytes || end >= 0) {
            // A read that came back short emptied the socket; with nothing past the head either,
            // there is nothing unread unless the head itself announces more.
            c.nothingUnread = end == c.buffer.size() && n < room;
            respond(id);
            return;
        }
    }
}

void LocalBlockPageServer::respond(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end() || it->answered)
        return;
    it->answered = true;
    // A peer that never reads must not keep the connection forever either.
    restartTimeout(*it);
    const auto target = BlockPageRequest::readTarget(std::exchange(it->buffer, QByteArray()), m_port);
    if (const auto* why = std::get_if<BlockPageRequest::Refusal>(&target)) {
        // A refused head may announce a body of its own, or may not have been read to its end.
        it->nothingUnread = false;
        answer(id, refusal(*why));
        return;
    }
    const auto& [path, query, address, announcesBody] = std::get<BlockPageRequest::Target>(target);
    if (announcesBody)
        it->nothingUnread = false;
    if (address) {
        answer(id, addressRedirect(query, *address));
        return;
    }
    answer(id, route(path, query));
}

void LocalBlockPageServer::answer(quint64 id, const QByteArray& response)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    it->unsent = response;
    send(id);
}

void LocalBlockPageServer::send(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection& c = *it;
    qsizetype sent = 0;
    while (sent < c.unsent.size()) {
        const ssize_t n =
            ::send(c.descriptor, c.unsent.constData() + sent, size_t(c.unsent.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            c.unsent.remove(0, sent);
            // Nothing is read until the answer is out: a peer that has ended its side may still
            // be reading.
            watch(id, c, EPOLLOUT);
            if (c.watched != EPOLLOUT)
                drop(id);
            return;
        }
        if (n < 0) {
            drop(id);
            return;
        }
        sent += n;
        c.lastActivity = ++m_activity;
    }
    c.unsent.clear();
    // The whole answer is out. With nothing unread, closing now ends the connection as cleanly
    // as the peer's own close would, and frees its place at once.
    if (c.nothingUnread || c.peerEnded) {
        drop(id);
        return;
    }
    // Otherwise close our side and wait for the peer to close its own.
    ::shutdown(c.descriptor, SHUT_WR);
    watch(id, c, EPOLLIN);
    if (c.watched != EPOLLIN)
        drop(id);
}

void LocalBlockPageServer::drop(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    // Closing takes the descriptor out of the epoll set as well.
    ::close(it->descriptor);
    m_connections.erase(it);
}
