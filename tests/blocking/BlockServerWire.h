#pragma once

// What the block-page server's tests share: the answers as they must appear on the wire, a store
// with a blocked site, and a client over a real connection.

#include "StoreFixture.h"
#include "blocking/BlockPage.h"
#include "model/Json.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

// The fixture's clock stands on Monday 2026-12-07, 10:00 in New York.

namespace BlockServerWire {

inline const QByteArray policy =
    "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'";
inline const QByteArray plainType = "text/plain; charset=utf-8";
inline const QByteArray htmlType = "text/html; charset=utf-8";
inline const QByteArray jsonType = "application/json; charset=utf-8";

// The whole answer as it must appear on the wire.
inline QByteArray wire(const QByteArray& status, const QByteArray& type, const QByteArray& body,
                       const QByteArray& cache = "no-store")
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nCache-Control: " + cache +
           "\r\nX-Content-Type-Options: nosniff\r\nContent-Security-Policy: " + policy +
           "\r\nConnection: close\r\n\r\n" + body;
}

inline QByteArray ok(const QByteArray& type, const QByteArray& body)
{
    return wire("200 OK", type, body);
}

inline const QByteArray health = ok(plainType, "ok");
inline const QByteArray notFound = wire("404 Not Found", plainType, "Not found");
inline const QByteArray notAllowed = wire("405 Method Not Allowed", plainType, "Only GET is supported");
inline const QByteArray badRequest = wire("400 Bad Request", plainType, "Bad request");
inline const QByteArray blockedTrue = ok(jsonType, "{\"blocked\":true}");
inline const QByteArray blockedFalse = ok(jsonType, "{\"blocked\":false}");

// Every request names the server; one that is not listening has no port to check.
inline const QByteArray anyHost = "Host: 127.0.0.1\r\n";

inline QByteArray get(const QByteArray& target, const QByteArray& headers = anyHost)
{
    return "GET " + target + " HTTP/1.1\r\n" + headers + "\r\n";
}

inline QByteArray bodyOf(const QByteArray& response)
{
    const qsizetype end = response.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : response.mid(end + 4);
}

// The address the page's script returns to; none when the target is null.
inline std::optional<QString> scriptTarget(const QByteArray& response)
{
    static const QRegularExpression target(QStringLiteral("var target = (?:null|atob\\('([A-Za-z0-9+/=]*)'\\));"));
    const QRegularExpressionMatch m = target.match(QString::fromUtf8(bodyOf(response)));
    if (!m.hasMatch() || m.captured(1).isNull())
        return std::nullopt;
    return QString::fromUtf8(QByteArray::fromBase64(m.captured(1).toLatin1()));
}

// A port nobody listens on right now.
inline quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// The request path and query of a URL, as a browser puts them on the request line.
inline QByteArray requestTarget(const QUrl& url)
{
    return url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
}

// A test client that keeps everything the server sends, also after the server has closed.
struct Client {
    QTcpSocket socket;
    QByteArray received;

    explicit Client(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool connected(int ms = 5000)
    {
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, ms);
    }
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    bool closed(int ms = 5000)
    {
        const bool done = QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
        received += socket.readAll();
        return done;
    }
};

inline BlockRule allDayRule(const QString& domain, bool allowBreak = true)
{
    BlockRule r;
    r.id = QUuid::createUuid();
    r.domain = domain;
    r.displayName = domain;
    r.allowOneBreak = allowBreak;
    r.createdAt = r.updatedAt = TestEnvironment::at(2026, 12, 1, 9);
    return r;
}

inline TaskItem todo(const QString& title, TaskItem::Priority priority, Date createdAt, bool done = false)
{
    TaskItem t;
    t.id = QUuid::createUuid();
    t.title = title;
    t.priority = priority;
    t.createdAt = t.updatedAt = createdAt;
    t.isCompleted = done;
    return t;
}

// A store with one blocked rule ("news.example") and one that is not blocked right now.
struct BlockedStore {
    StoreFixture f;
    BlockRule blocked = allDayRule(QStringLiteral("news.example"));
    BlockRule later = allDayRule(QStringLiteral("later.example"));
    StorageService* store = nullptr;

    BlockedStore()
    {
        later.activeWeekdays = {1}; // Sundays only; the clock stands on a Monday
        store = &f.make();
        store->addRule(blocked);
        store->addRule(later);
        store->refreshBlockingState();
    }
    const BlockedSiteSnapshot& snapshot() const { return store->state().blockedNow.at(0); }
    QByteArray id(bool lower = false) const
    {
        const QString text = uuidText(blocked.id);
        return (lower ? text.toLower() : text).toLatin1();
    }
    TaskItem stored(const QString& title) const
    {
        for (const TaskItem& t : store->todos())
            if (t.title == title)
                return t;
        return {};
    }
};

// Lowers the descriptor limit to the lowest free descriptor, so the process can open no other
// until the limit `before` is put back.
inline bool openNoMoreDescriptors(rlimit* before)
{
    if (::getrlimit(RLIMIT_NOFILE, before) != 0)
        return false;
    const int lowestFree = ::open("/dev/null", O_RDONLY);
    if (lowestFree < 0)
        return false;
    ::close(lowestFree);
    rlimit tight = *before;
    tight.rlim_cur = rlim_t(lowestFree);
    return ::setrlimit(RLIMIT_NOFILE, &tight) == 0;
}

} // namespace BlockServerWire
