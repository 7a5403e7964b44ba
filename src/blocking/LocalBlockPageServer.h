#pragma once

#include "blocking/BlockPageRequest.h"
#include "model/Clock.h"
#include "model/SharedState.h"
#include "model/TaskItem.h"
#include "system/HostAddresses.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QUuid>
#include <optional>
#include <vector>

class QSocketNotifier;
class QTcpServer;
class QTimer;
class StorageService;

// The loopback HTTP/1.1 server a blocked tab is pointed at: one GET per connection, answered
// from the store and closed.
//
// It runs on the main event loop. Every answer reads the store, which lives on the main thread,
// so a thread of its own would only add a hop per request; the socket work itself is small.
class LocalBlockPageServer : public QObject {
    Q_OBJECT
public:
    explicit LocalBlockPageServer(StorageService* storage, QObject* parent = nullptr);
    ~LocalBlockPageServer() override;

    static constexpr quint16 defaultPort = 47831;
    // The most a request's head (request line, headers and the empty line) may take.
    static constexpr qsizetype maximumRequestBytes = BlockPageRequest::maximumHeadBytes;
    // A connection that sends nothing is let go after this long, and so is one whose request head
    // has not ended this long after its first byte (however steadily the bytes trickle in).
    static constexpr int idleTimeoutMs = 10000;
    // Tests shorten the time-outs rather than wait for them.
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }
    // When all are taken, a newcomer pushes out the connection idle longest, or else the oldest
    // unfinished request.
    static constexpr int maximumConnections = 64;

    // Listens on 127.0.0.1; with allowFallback, a port that cannot be had is retried once on a
    // port the system chooses.
    void start(quint16 port = defaultPort, bool allowFallback = true);
    bool isStarted() const { return m_listener != nullptr; }

    std::optional<quint16> port() const { return m_port; }
    std::optional<QString> lastError() const { return m_lastError; }

    // Where a blocked tab is sent; nothing until the server listens.
    std::optional<QUrl> blockedPageURL(const QUuid& rule, const QString& domain, const QString& from) const;
    // Where a tab showing `pageAddress` goes back to once blocking ends: for this server's block
    // page, the address it came from when the page itself would return there; else nothing.
    std::optional<QString> returnAddress(const QString& pageAddress) const;

    // Request bytes to response bytes: the whole protocol apart from the sockets.
    QByteArray handleRequest(const QByteArray& request) const;

    // A block page sends the tab back to where it came from, unless that address is known to lead
    // to this computer (a name in the hosts file can lead here as well as "localhost" can). No
    // name is looked up: a silent name server would hold the page, and where a name leads is the
    // browser's to find out, through its own resolver, proxy or secure DNS. Tests give a hosts
    // file of their own.
    void setHostsFile(const QString& path) { m_hostsFile = path; }

    static QByteArray makeResponse(const QByteArray& status, const QByteArray& contentType,
                                   const QByteArray& cacheControl, const QByteArray& body);
    static const std::optional<QByteArray>& appIconPNG();

    int openConnections() const { return static_cast<int>(m_connections.size()); }
    // Connections that hold no request in progress: the ones a newcomer may push out.
    int idleConnections() const;
    // How often the block page's to-do lists were computed from the store (they are kept until
    // the store changes), and how often a block page was rendered.
    int pageListComputations() const { return m_pageListComputations; }
    int pageRenderings() const { return m_pageRenderings; }

signals:
    void portChanged();
    void lastErrorChanged();

private:
    void accept(int descriptor);
    void acceptWaiting();
    void resumeAccepting();
    void receive(quint64 id);
    void respond(quint64 id);
    void answer(quint64 id, const QByteArray& response);
    // The answer to a request read already.
    QByteArray route(const QString& path, const QString& query) const;
    void send(quint64 id);
    void drop(quint64 id);
    void setPort(std::optional<quint16> port);
    void setLastError(std::optional<QString> error);
    bool evictForNewcomer();
    struct PageTodos {
        std::vector<TaskItem> tasks;
        qint64 todayCount = 0;
        qint64 dayId = 0;
    };
    const PageTodos& pageTodos() const;
    QByteArray blockedResponse(const QString& query) const;
    // What a query asks for, read once per query text: a tab that reloads, several tabs of one
    // site, and every request that waited for one lookup come with the same text.
    struct QueryReading {
        std::optional<QUuid> rule;
        std::optional<QString> from;
        std::optional<QString> returnHost; // none when the tab may not go back there
        QString pageKey, pageKeyWithFrom;  // the rendered page's key, without and with the return
    };
    QueryReading readQuery(const QString& query) const;
    // Whether `host` is the site of the rule (or doom-scroll site) with that id, or under it.
    bool isRuleSite(const std::optional<QUuid>& rule, const QString& host) const;
    // The site of every rule and doom-scroll site the store has held in this run, removed ones too.
    void rememberRuleSites();
    QHash<QUuid, QString> m_ruleSites;
    mutable QHash<QString, QueryReading> m_queries;

    QPointer<StorageService> m_storage;
    QString m_hostsFile = QStringLiteral("/etc/hosts");
    QTcpServer* m_listener = nullptr;
    std::optional<quint16> m_port;
    std::optional<QString> m_lastError;
    // Connections are plain descriptors: a QTcpSocket closes itself as soon as the peer ends its
    // side, so a peer that half-closes after its request could not be answered. They are watched
    // through one epoll set, itself watched by the event loop: a notifier of each connection's
    // own would be made, switched on and off and thrown away for every request, and each of those
    // steps wakes the event loop once more.
    struct Connection {
        int descriptor = -1;
        QByteArray buffer;
        QByteArray unsent;
        bool answered = false;
        // Nothing is left in the socket, nor announced, past the request; or the peer has ended
        // its side, so nothing more can come. Either way the answer ends the connection.
        bool nothingUnread = false;
        bool peerEnded = false;
        quint64 lastActivity = 0; // order of the latest accept, read or write: lower is idler
        quint64 firstByte = 0;    // order of the request's first byte; 0 before it
        quint32 watched = 0;      // the epoll events asked for; 0 while out of the set
        qint64 deadline = 0;      // on m_clock: let go when it passes
        bool isIdle() const;
    };
    // Reading (the request, then the peer's close) or writing (an answer that had to wait).
    void watch(quint64 id, Connection& c, quint32 events);
    void readyConnections();
    int m_epoll = -1;
    static constexpr quint64 listenerKey = ~quint64(0); // the listener's entry in the epoll set
    static constexpr int acceptBatch = 16;
    static constexpr int acceptRetryMs = 100;
    bool m_accepting = false;
    QSocketNotifier* m_epollNotifier = nullptr;
    QHash<quint64, Connection> m_connections; // by a serial number, never reused
    quint64 m_nextConnection = 0;
    quint64 m_activity = 0;
    int m_idleTimeoutMs = idleTimeoutMs;
    // One timer for every connection's time-out, aimed at the earliest: a timer of each
    // connection's own would be made, armed and thrown away for every request.
    void restartTimeout(Connection& c);
    void dropTimedOut();
    QTimer* m_timeouts = nullptr;
    qint64 m_timeoutsAt = 0;
    QElapsedTimer m_clock;
    // The to-do lists of the block page, computed once per change of the store: building them
    // walks every to-do, and the page is asked for on the thread that runs the enforcement timers.
    mutable std::optional<PageTodos> m_pageTodos;
    mutable int m_pageListComputations = 0;
    // Rendered block pages by the query values they show, each valid while the site's snapshot
    // and the to-do lists it was made from stay the same: a tab that reloads, or several tabs of
    // one site, cost one rendering.
    struct RenderedPage {
        std::optional<BlockedSiteSnapshot> snapshot;
        quint64 lists = 0;
        QByteArray response;
    };
    mutable QHash<QString, RenderedPage> m_rendered;
    mutable quint64 m_listsGeneration = 0;
    mutable int m_pageRenderings = 0;
};
