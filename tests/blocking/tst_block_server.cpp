#include "StoreFixture.h"
#include "blocking/BlockPage.h"
#include "blocking/BlockPageRequest.h"
#include "blocking/LocalBlockPageServer.h"
#include "model/Json.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

// The fixture's clock stands on Monday 2026-12-07, 10:00 in New York.

namespace {

const QByteArray policy = "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src 'self'; "
                          "connect-src 'self'; base-uri 'none'; form-action 'none'";
const QByteArray plainType = "text/plain; charset=utf-8";
const QByteArray htmlType = "text/html; charset=utf-8";
const QByteArray jsonType = "application/json; charset=utf-8";

// The whole answer as it must appear on the wire.
QByteArray wire(const QByteArray& status, const QByteArray& type, const QByteArray& body,
                const QByteArray& cache = "no-store")
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nCache-Control: " + cache +
           "\r\nX-Content-Type-Options: nosniff\r\nContent-Security-Policy: " + policy +
           "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray ok(const QByteArray& type, const QByteArray& body)
{
    return wire("200 OK", type, body);
}

const QByteArray health = ok(plainType, "ok");
const QByteArray notFound = wire("404 Not Found", plainType, "Not found");
const QByteArray notAllowed = wire("405 Method Not Allowed", plainType, "Only GET is supported");
const QByteArray badRequest = wire("400 Bad Request", plainType, "Bad request");
const QByteArray blockedTrue = ok(jsonType, "{\"blocked\":true}");
const QByteArray blockedFalse = ok(jsonType, "{\"blocked\":false}");

// Every request names the server; one that is not listening has no port to check.
const QByteArray anyHost = "Host: 127.0.0.1\r\n";

QByteArray get(const QByteArray& target, const QByteArray& headers = anyHost)
{
    return "GET " + target + " HTTP/1.1\r\n" + headers + "\r\n";
}

QByteArray bodyOf(const QByteArray& response)
{
    const qsizetype end = response.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : response.mid(end + 4);
}

// The address the page's script returns to; none when the target is null.
// This computer's address on its network, or the loopback one where it has none.
QString ownAddress()
{
    QString own = QStringLiteral("127.0.0.1");
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (!a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol)
            own = a.toString();
    return own;
}

std::optional<QString> scriptTarget(const QByteArray& response)
{
    static const QRegularExpression target(QStringLiteral("var target = (?:null|atob\\('([A-Za-z0-9+/=]*)'\\));"));
    const QRegularExpressionMatch m = target.match(QString::fromUtf8(bodyOf(response)));
    if (!m.hasMatch() || m.captured(1).isNull())
        return std::nullopt;
    return QString::fromUtf8(QByteArray::fromBase64(m.captured(1).toLatin1()));
}

// A port nobody listens on right now.
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// The request path and query of a URL, as a browser puts them on the request line.
QByteArray requestTarget(const QUrl& url)
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

BlockRule allDayRule(const QString& domain, bool allowBreak = true)
{
    BlockRule r;
    r.id = QUuid::createUuid();
    r.domain = domain;
    r.displayName = domain;
    r.allowOneBreak = allowBreak;
    r.createdAt = r.updatedAt = TestEnvironment::at(2026, 12, 1, 9);
    return r;
}

TaskItem todo(const QString& title, TaskItem::Priority priority, Date createdAt, bool done = false)
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
        store->blocking().addRule(blocked);
        store->blocking().addRule(later);
        store->blocking().refreshBlockingState();
    }
    const BlockedSiteSnapshot& snapshot() const { return store->blocking().state().blockedNow.at(0); }
    QByteArray id(bool lower = false) const
    {
        const QString text = uuidText(blocked.id);
        return (lower ? text.toLower() : text).toLatin1();
    }
    TaskItem stored(const QString& title) const
    {
        for (const TaskItem& t : store->todos().todos())
            if (t.title == title)
                return t;
        return {};
    }
};

// Lowers the descriptor limit to the lowest free descriptor, so the process can open no other
// until the limit `before` is put back.
bool openNoMoreDescriptors(rlimit* before)
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

// A peer on a plain descriptor: unlike a QTcpSocket, it keeps its side open after the server has
// ended its own, until it is destroyed.
struct RawPeer {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QByteArray received;

    ~RawPeer()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // The handshake completes in the kernel, whether or not the server has taken the connection.
    bool connect(quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    bool send(const QByteArray& bytes)
    {
        return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    // Reads until the server ends its side.
    bool waitForEnd(int ms = 5000)
    {
        if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0)
            return false;
        return QTest::qWaitFor(
            [&] {
                char chunk[4096];
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n > 0)
                    received.append(chunk, n);
                return n == 0;
            },
            ms);
    }
};

} // namespace

class TestBlockServer : public QObject {
    Q_OBJECT

private slots:
    // ------------------------------------------------------------ routes and response bytes

    void routeTable_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("health") << get("/health") << health;
        QTest::newRow("close") << get("/close") << ok(htmlType, BlockPage::closing().toUtf8());
        QTest::newRow("status without a store")
            << get("/status?rule=3F2A9C4E-1B7D-4E8A-9C0F-A1B2C3D4E5F6") << blockedFalse;
        QTest::newRow("blocked without a store")
            << get("/blocked?rule=3F2A9C4E-1B7D-4E8A-9C0F-A1B2C3D4E5F6&from=https%3A%2F%2Fnews.example%2F")
            << ok(htmlType, BlockPage::blockEnded(QStringLiteral("https://news.example/"), false).toUtf8());
        QTest::newRow("an address after url= on another path")
            << get("/status?rule=3F2A9C4E-1B7D-4E8A-9C0F-A1B2C3D4E5F6&url=http://a.example/?b&c") << blockedFalse;
        QTest::newRow("unknown path") << get("/nothing") << notFound;
        QTest::newRow("root") << get("/") << notFound;
        QTest::newRow("POST") << QByteArray("POST /status HTTP/1.1\r\n\r\n") << notAllowed;
        QTest::newRow("too large") << QByteArray(16385, 'G') << badRequest;
    }

    void routeTable()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        LocalBlockPageServer server(nullptr);
        QCOMPARE(server.handleRequest(request), expected);
    }

    void appIcon()
    {
        LocalBlockPageServer server(nullptr);
        const QByteArray response = server.handleRequest(get("/app-icon.png"));
        const std::optional<QByteArray>& icon = LocalBlockPageServer::appIconPNG();
        QVERIFY(icon);
        QVERIFY(icon->startsWith("\x89PNG\r\n\x1a\n"));
        QCOMPARE(response, wire("200 OK", "image/png", *icon, "public, max-age=86400"));
        // Kept for the process: the same bytes every time.
        QCOMPARE(LocalBlockPageServer::appIconPNG()->constData(), icon->constData());
        QCOMPARE(server.handleRequest(get("/app-icon.png")), response);
    }

    void requestLine_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("HTTP/1.0 is answered as 1.1")
            << QByteArray("GET /health HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n") << health;
        QTest::newRow("runs of spaces") << QByteArray("GET    /health     HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                                        << health;
        QTest::newRow("leading space") << QByteArray("  GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") << health;
        QTest::newRow("version with spaces")
            << QByteArray("GET /health HTTP/1.1 and more\r\nHost: 127.0.0.1\r\n\r\n") << health;
        QTest::newRow("no terminator") << QByteArray("GET /health HTTP/1.1\r\nHost: 127.0.0.1") << health;
        QTest::newRow("mixed line ends") << QByteArray("GET /health HTTP/1.1\r\nHost: 127.0.0.1\n\r\n") << health;
        QTest::newRow("headers and body ignored")
            << QByteArray("GET /health HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\n\r\nPOST / HTTP/1.1\r\n\r\n\xff")
            << health;
        QTest::newRow("query on health") << get("/health?x=1") << health;
        QTest::newRow("fragment") << get("/health#top") << health;
        QTest::newRow("non-ASCII header") << get("/health", "X-Name: Zoë\r\n" + anyHost) << health;

        QTest::newRow("no version") << QByteArray("GET /health\r\n\r\n") << notAllowed;
        QTest::newRow("no version, no terminator") << QByteArray("GET /health") << notAllowed;
        QTest::newRow("trailing spaces are no version") << QByteArray("GET /health   \r\n\r\n") << notAllowed;
        QTest::newRow("lower-case method") << QByteArray("get /health HTTP/1.1\r\n\r\n") << notAllowed;
        QTest::newRow("mixed-case method") << QByteArray("Get /health HTTP/1.1\r\n\r\n") << notAllowed;
        QTest::newRow("HEAD") << QByteArray("HEAD /health HTTP/1.1\r\n\r\n") << notAllowed;
        QTest::newRow("POST") << QByteArray("POST /status HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << notAllowed;
        QTest::newRow("tabs do not separate") << QByteArray("GET\t/health\tHTTP/1.1\r\n\r\n") << notAllowed;
        QTest::newRow("empty") << QByteArray() << notAllowed;
        QTest::newRow("blank lines") << QByteArray("\r\n\r\n") << notAllowed;

        QTest::newRow("trailing slash") << get("/blocked/") << notFound;
        QTest::newRow("capital letter") << get("/Health") << notFound;
        QTest::newRow("longer path") << get("/healthz") << notFound;
        QTest::newRow("double slash") << get("//health") << notFound;

        QTest::newRow("asterisk target") << get("*") << badRequest;
        QTest::newRow("authority in target") << get("@evil.example/health") << badRequest;
        QTest::newRow("broken percent-encoding") << get("/%zz") << badRequest;
        QTest::newRow("invalid byte") << QByteArray("GET /health HTTP/1.1\r\nX: \xff\r\n\r\n") << badRequest;
        QTest::newRow("cut sequence at the end") << QByteArray("GET /health HTTP/1.1\r\nX: \xc3") << badRequest;
        QTest::newRow("overlong slash") << QByteArray("GET /health\xc0\xaf HTTP/1.1\r\n\r\n") << badRequest;
        QTest::newRow("encoded surrogate")
            << QByteArray("GET /health HTTP/1.1\r\nX: \xed\xa0\x80\r\n\r\n") << badRequest;
    }

    void requestLine()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        LocalBlockPageServer server(nullptr);
        QCOMPARE(server.handleRequest(request), expected);
    }

    // Whether more bytes may follow the head: the server then waits for the peer's close rather
    // than closing on bytes it has not read.
    void bodyAnnounced_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<bool>("announced");
        QTest::newRow("none") << anyHost << false;
        QTest::newRow("length 0") << "Content-Length: 0\r\n" + anyHost << false;
        QTest::newRow("length 0, spaced") << "Content-Length:   0  \r\n" + anyHost << false;
        QTest::newRow("length") << "Content-Length: 12\r\n" + anyHost << true;
        QTest::newRow("length, lower case, no space") << "content-length:12\r\n" + anyHost << true;
        QTest::newRow("length 00") << "Content-Length: 00\r\n" + anyHost << true;
        QTest::newRow("transfer coding") << anyHost + "Transfer-Encoding: chunked\r\n" << true;
        QTest::newRow("transfer coding, odd case") << anyHost + "TRANSFER-encoding : gzip\r\n" << true;
        QTest::newRow("name within another") << anyHost + "X-Content-Length: 12\r\n" << false;
        QTest::newRow("only in the value") << anyHost + "X-Note: Content-Length: 12\r\n" << false;
    }

    void bodyAnnounced()
    {
        QFETCH(QByteArray, headers);
        QFETCH(bool, announced);
        // After the head's end a line is body, never a header.
        const auto read = [](const QByteArray& request) {
            const auto target = BlockPageRequest::readTarget(request, std::nullopt);
            return std::holds_alternative<BlockPageRequest::Target>(target)
                       ? std::optional(std::get<BlockPageRequest::Target>(target).announcesBody)
                       : std::nullopt;
        };
        QCOMPARE(read(get("/health", headers)), std::optional(announced));
        QCOMPARE(read(get("/health", headers).replace("\r\n", "\n")), std::optional(announced));
        QCOMPARE(read(get("/health", anyHost) + headers), std::optional(false));
    }

    void sizeLimit()
    {
        LocalBlockPageServer server(nullptr);
        const auto padded = [](qsizetype size) {
            const QByteArray head = "GET /health HTTP/1.1\r\n" + anyHost + "X-Pad: ";
            const QByteArray tail = "\r\n\r\n";
            return head + QByteArray(size - head.size() - tail.size(), 'a') + tail;
        };
        QCOMPARE(padded(16384).size(), 16384);
        QCOMPARE(server.handleRequest(padded(16384)), health);
        QCOMPARE(server.handleRequest(padded(16385)), badRequest);
        QCOMPARE(server.handleRequest(padded(40000)), badRequest);
    }

    // ------------------------------------------------------------ "/status" and query items

    void status_data()
    {
        QTest::addColumn<QByteArray>("query"); // {R}: the blocked rule, {r}: in lower case, {O}: a rule not blocked
        QTest::addColumn<bool>("blocked");

        QTest::newRow("blocked rule") << QByteArray("rule={R}") << true;
        QTest::newRow("lower-case id") << QByteArray("rule={r}") << true;
        QTest::newRow("among other items") << QByteArray("domain=x&rule={R}&from=y") << true;
        QTest::newRow("percent-encoded value") << QByteArray("rule=%{R}") << true;
        QTest::newRow("percent-encoded name") << QByteArray("r%75le={R}") << true;
        QTest::newRow("first occurrence wins") << QByteArray("rule={R}&rule={O}") << true;
        QTest::newRow("first occurrence loses") << QByteArray("rule={O}&rule={R}") << false;
        QTest::newRow("item without = is absent") << QByteArray("rule&rule={R}") << false;
        QTest::newRow("empty value") << QByteArray("rule=") << false;
        QTest::newRow("rule not blocked now") << QByteArray("rule={O}") << false;
        QTest::newRow("unknown rule") << QByteArray("rule=00000000-0000-0000-0000-000000000001") << false;
        QTest::newRow("no query") << QByteArray() << false;
        QTest::newRow("other name case") << QByteArray("Rule={R}") << false;
        QTest::newRow("braces") << QByteArray("rule=%7B{R}%7D") << false;
        QTest::newRow("plus is not a space") << QByteArray("rule={R}+") << false;
        QTest::newRow("not a UUID") << QByteArray("rule=news.example") << false;
        QTest::newRow("no hyphens") << QByteArray("rule={R-}") << false;
    }

    void status()
    {
        QFETCH(QByteArray, query);
        QFETCH(bool, blocked);
        BlockedStore s;
        const QByteArray upper = s.id();
        QByteArray q = query;
        q.replace("%{R}", "%" + QByteArray::number(upper.at(0), 16) + upper.mid(1));
        q.replace("{R-}", QByteArray(upper).replace("-", ""));
        q.replace("{R}", upper).replace("{r}", s.id(true)).replace("{O}", uuidText(s.later.id).toLatin1());

        LocalBlockPageServer server(s.store);
        QCOMPARE(server.handleRequest(get("/status" + (q.isEmpty() ? q : "?" + q))),
                 blocked ? blockedTrue : blockedFalse);
    }

    // ------------------------------------------------------------ "/blocked"

    void blockedServesThePriorities()
    {
        BlockedStore s;
        const Date today = s.f.clock.now() - 3600;
        s.store->todos().addTodo(todo(QStringLiteral("Low"), TaskItem::Priority::low, today));
        s.store->todos().addTodo(todo(QStringLiteral("High"), TaskItem::Priority::high, today));
        s.store->todos().addTodo(todo(QStringLiteral("Medium"), TaskItem::Priority::medium, today));
        s.store->todos().addTodo(todo(QStringLiteral("Done"), TaskItem::Priority::high, today, true));
        s.store->todos().addTodo(todo(QStringLiteral("Yesterday"), TaskItem::Priority::high, today - 86400));
        s.store->todos().setFocusTodoID(s.stored(QStringLiteral("Low")).id);

        LocalBlockPageServer server(s.store);
        const QString from = QStringLiteral("https://news.example/story?id=7");
        const QByteArray response = server.handleRequest(
            get("/blocked?rule=" + s.id(true) + "&domain=evil.example&from=" + QUrl::toPercentEncoding(from)));
        // Focus first, then the other open to-dos of today in display order; four to-dos today.
        const std::vector<TaskItem> expected{s.stored(QStringLiteral("Low")), s.stored(QStringLiteral("High")),
                                             s.stored(QStringLiteral("Medium"))};
        const QByteArray page = BlockPage::render(s.snapshot(), expected, 4, from).toUtf8();
        QCOMPARE(response, ok(htmlType, page));
        QVERIFY(page.contains("<h2>Low</h2>"));
        QVERIFY(page.contains("<p class=\"eyebrow\">news.example · "));

        // Without open to-dos the page has no priorities but still counts today's list.
        s.store->todos().toggleTodo(s.stored(QStringLiteral("Low")).id);
        s.store->todos().toggleTodo(s.stored(QStringLiteral("High")).id);
        s.store->todos().toggleTodo(s.stored(QStringLiteral("Medium")).id);
        QCOMPARE(server.handleRequest(get("/blocked?rule=" + s.id())),
                 ok(htmlType, BlockPage::render(s.snapshot(), {}, 4, std::nullopt).toUtf8()));
    }

    // The page's to-do lists are built, and the page rendered, once per change of the store or of
    // the query, never per request; every change that alters them is seen.
    void blockedListsFollowTheStore()
    {
        BlockedStore s;
        const Date today = s.f.clock.now() - 3600;
        s.store->todos().addTodo(todo(QStringLiteral("A"), TaskItem::Priority::medium, today));
        s.store->todos().addTodo(todo(QStringLiteral("B"), TaskItem::Priority::low, today));
        s.store->todos().setFocusTodoID(s.stored(QStringLiteral("A")).id);
        LocalBlockPageServer server(s.store);
        const QByteArray request = get("/blocked?rule=" + s.id());
        // What the store's own queries give at this moment.
        const auto fresh = [&s] {
            std::vector<TaskItem> tasks;
            if (const auto focus = s.store->todos().focusTodo()) {
                tasks.push_back(*focus);
                for (const TaskItem& t : s.store->todos().openTodos())
                    if (t.id != focus->id)
                        tasks.push_back(t);
            }
            return ok(htmlType, BlockPage::render(s.store->blocking().state().blockedNow.at(0), tasks,
                                                  qint64(s.store->todos().todayTodos().size()), std::nullopt)
                                    .toUtf8());
        };

        QCOMPARE(server.handleRequest(request), fresh());
        QCOMPARE(server.handleRequest(request), fresh());
        QCOMPARE(server.pageListComputations(), 1);
        s.store->blocking().refreshBlockingState(); // the state changes often; the lists do not
        s.store->blocking().recordUsage(s.blocked, 30);
        QCOMPARE(server.handleRequest(request), fresh());
        QCOMPARE(server.pageListComputations(), 1);
        QCOMPARE(server.pageRenderings(), 1);
        const QByteArray elsewhere = get("/blocked?rule=" + s.id() + "&from=https%3A%2F%2Fnews.example%2F");
        QVERIFY(server.handleRequest(elsewhere) != server.handleRequest(request));
        QVERIFY(server.handleRequest(elsewhere).contains(QByteArray("https://news.example/").toBase64()));
        QCOMPARE(server.pageRenderings(), 2);

        const std::vector<std::function<void()>> changes{
            [&] { s.store->todos().setFocusTodoID(s.stored(QStringLiteral("B")).id); },
            [&] { s.store->todos().toggleTodo(s.stored(QStringLiteral("B")).id); },
            [&] { s.store->todos().addTodo(todo(QStringLiteral("C"), TaskItem::Priority::high, today)); },
            [&] {
                s.f.clock.advance(86400); // a new day: today's list is another one
                s.store->handleClockEvent();
            },
        };
        for (size_t i = 0; i < changes.size(); ++i) {
            changes[i]();
            QCOMPARE(server.handleRequest(request), fresh());
            QCOMPARE(server.handleRequest(request), fresh());
            QCOMPARE(server.pageListComputations(), int(i) + 2);
            QCOMPARE(server.pageRenderings(), int(i) + 3);
        }
    }

    // Once the block has ended the tab goes back by itself only to the site of its rule, where
    // this program sent it from; any other address (a link a page made up) is only offered.
    void blockedEndedPage_data()
    {
        QTest::addColumn<QByteArray>("query"); // {R}: the blocked rule, {O}: a rule not blocked, {X}: a removed rule
        QTest::addColumn<std::optional<QString>>("from");
        QTest::addColumn<bool>("goesBack");

        const std::optional<QString> none;
        const auto address = [](const char* text) { return std::optional<QString>(QLatin1String(text)); };
        QTest::newRow("no rule") << QByteArray("from=https%3A%2F%2Fnews.example%2F") << address("https://news.example/")
                                 << false;
        QTest::newRow("rule not blocked now")
            << QByteArray("rule={O}&from=https://later.example/a%26b") << address("https://later.example/a&b") << true;
        QTest::newRow("under the rule's site")
            << QByteArray("rule={O}&from=https://m.Later.example/") << address("https://m.Later.example/") << true;
        QTest::newRow("another site than the rule's")
            << QByteArray("rule={O}&from=https://elsewhere.example/") << address("https://elsewhere.example/") << false;
        QTest::newRow("a name ending like the rule's")
            << QByteArray("rule={O}&from=https://notlater.example/") << address("https://notlater.example/") << false;
        QTest::newRow("a rule removed since, its own site") << QByteArray("rule={X}&from=https://www.gone.example/feed")
                                                            << address("https://www.gone.example/feed") << true;
        QTest::newRow("a rule removed since, another site")
            << QByteArray("rule={X}&from=https://elsewhere.example/") << address("https://elsewhere.example/") << false;
        QTest::newRow("unknown rule, a LAN address")
            << QByteArray("rule=00000000-0000-0000-0000-000000000001&from=http://192.168.1.1/admin")
            << address("http://192.168.1.1/admin") << false;
        QTest::newRow("malformed rule") << QByteArray("rule=xyz") << none << false;
        QTest::newRow("from without =") << QByteArray("rule=00000000-0000-0000-0000-000000000001&from") << none
                                        << false;
        QTest::newRow("plus stays a plus")
            << QByteArray("from=https://news.example/?q=a+b") << address("https://news.example/?q=a+b") << false;
    }

    void blockedEndedPage()
    {
        QFETCH(QByteArray, query);
        QFETCH(std::optional<QString>, from);
        QFETCH(bool, goesBack);
        BlockedStore s;
        const BlockRule gone = allDayRule(QStringLiteral("gone.example"));
        QVERIFY(s.store->blocking().addRule(gone));
        query.replace("{R}", s.id()).replace("{O}", uuidText(s.later.id).toLatin1());
        query.replace("{X}", uuidText(gone.id).toLatin1());
        LocalBlockPageServer server(s.store);
        QVERIFY(s.store->blocking().removeRule(gone.id));
        const QByteArray response = server.handleRequest(get("/blocked?" + query));
        QCOMPARE(response, ok(htmlType, BlockPage::blockEnded(from, goesBack).toUtf8()));
        QCOMPARE(scriptTarget(response), from);
        QCOMPARE(response.contains("\nwindow.location.replace(target);\n"), goesBack && from);
        QCOMPARE(response.contains("Taking you back"), goesBack && from);
    }

    // The page sends the tab back unless its host is known, without the network, to be this
    // computer: written out, "localhost", this computer's own name, or a name the hosts file gives
    // one of its addresses. Everything else is the browser's to resolve, even offline.
    void returnHostOnlyLeavesThisComputer_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("returns");
        const QString own = ownAddress();
        const QString self = QHostInfo::localHostName();
        QTest::newRow("public name") << "https://news.example/a?b" << true;
        QTest::newRow("name that resolves nowhere here") << "https://nowhere.invalid/" << true;
        QTest::newRow("public address written out") << "http://93.184.216.34/" << true;
        QTest::newRow("LAN name not in the hosts file") << "http://printer.lan/" << true;
        QTest::newRow("loopback literal") << "http://127.0.0.1:8080/" << false;
        QTest::newRow("other loopback literal") << "http://127.0.1.1/" << false;
        QTest::newRow("IPv6 loopback") << "http://[::1]:47831/" << false;
        QTest::newRow("unspecified") << "http://0.0.0.0:47831/" << false;
        QTest::newRow("this computer's address written out") << QStringLiteral("http://%1:47831/").arg(own) << false;
        QTest::newRow("localhost") << "http://localhost:47831/" << false;
        QTest::newRow("LOCALHOST with a dot") << "http://LOCALHOST.:3000/" << false;
        QTest::newRow("under localhost") << "http://app.localhost/" << false;
        QTest::newRow("this computer's own name") << QStringLiteral("http://%1:47831/").arg(self) << false;
        QTest::newRow("hosts-file name for loopback") << "http://box.example:47831/" << false;
        QTest::newRow("hosts-file alias, other case") << "http://Dev.Box.Example/" << false;
        QTest::newRow("hosts-file name for own address") << "http://mine.example/" << false;
        QTest::newRow("hosts-file name for another computer") << "http://peer.example/" << true;
        QTest::newRow("name in a hosts-file comment") << "http://commented.example/" << true;
    }
    void returnHostOnlyLeavesThisComputer()
    {
        QFETCH(QString, from);
        QFETCH(bool, returns);
        QTemporaryDir folder;
        const QString hosts = folder.filePath(QStringLiteral("hosts"));
        const QString own = ownAddress();
        QFile file(hosts);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(("127.0.0.1\tlocalhost\n127.0.1.1 box.example  dev.box.example # ours\n" + own.toLatin1() +
                    " mine.example\n192.0.2.7 peer.example\n# 127.0.0.1 commented.example\n"));
        file.close();
        LocalBlockPageServer server(nullptr);
        server.setHostsFile(hosts);
        const QByteArray response = server.handleRequest(get("/blocked?from=" + QUrl::toPercentEncoding(from)));
        QCOMPARE(scriptTarget(response), returns ? std::optional(from) : std::nullopt);
    }

    // No request waits for a name server: with one that never answers, every tab on the block
    // page is answered in the same turn of the event loop that read its request.
    void blockPageNeverWaitsForNames()
    {
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        std::vector<std::unique_ptr<Client>> clients;
        const QStringList from{"https://news.example/a", "https://unresolvable.invalid/", "https://news.example/a",
                               "http://localhost/"};
        for (const QString& address : from) {
            clients.push_back(std::make_unique<Client>(*server.port()));
            QVERIFY(clients.back()->connected());
            clients.back()->send(get("/blocked?from=" + QUrl::toPercentEncoding(address),
                                     "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n"));
        }
        for (size_t i = 0; i < clients.size(); ++i) {
            QVERIFY(clients[i]->closed(30000));
            QCOMPARE(scriptTarget(clients[i]->received), i == 3 ? std::nullopt : std::optional(from[qsizetype(i)]));
        }
    }

    void blockEndsWhileTheRuleStays()
    {
        BlockedStore s;
        LocalBlockPageServer server(s.store);
        const QByteArray status = get("/status?rule=" + s.id());
        const QByteArray page = get("/blocked?rule=" + s.id() + "&from=https%3A%2F%2Fnews.example%2F");
        QCOMPARE(server.handleRequest(status), blockedTrue);

        QVERIFY(s.store->blocking().startUrgentBreak(s.blocked.id));
        QCOMPARE(s.store->blocking().rules().size(), size_t(2));
        QCOMPARE(server.handleRequest(status), blockedFalse);
        QCOMPARE(server.handleRequest(page),
                 ok(htmlType, BlockPage::blockEnded(QStringLiteral("https://news.example/")).toUtf8()));
    }

    // An open block page asks for its status every two seconds; the program itself hears of the
    // block's end from the one deadline it armed at that end, not by asking anything.
    void blockEndsAtItsDeadline()
    {
        StoreFixture f;
        BlockRule morning = allDayRule(QStringLiteral("news.example"));
        morning.blockApplySchedule.isAllDay = false;
        morning.blockApplySchedule.startHour = 9;
        morning.blockApplySchedule.startMinute = 0;
        morning.blockApplySchedule.endHour = 10;
        morning.blockApplySchedule.endMinute = 30;
        const Date end = f.clock.now() + 1800;
        f.clock.set(end - 0.001);
        StorageService& store = f.make();
        store.blocking().addRule(morning);
        store.blocking().refreshBlockingState();
        LocalBlockPageServer server(&store);
        const QByteArray status = get("/status?rule=" + uuidText(morning.id).toLatin1());
        QCOMPARE(server.handleRequest(status), blockedTrue);
        QCOMPARE(store.blocking().scheduledBoundary(), std::optional<Date>(end));

        QSignalSpy changed(&store.blocking(), &BlockingStore::stateChanged);
        f.clock.set(end + 1);
        QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 30000);
        QVERIFY(store.blocking().state().blockedNow.empty());
        QCOMPARE(server.handleRequest(status), blockedFalse);
        QVERIFY(store.blocking().scheduledBoundary() > std::optional<Date>(end + 3600));
    }

    void vanishedStoreIsNothingBlocked()
    {
        BlockedStore s;
        LocalBlockPageServer server(s.store);
        const QByteArray status = get("/status?rule=" + s.id());
        QCOMPARE(server.handleRequest(status), blockedTrue);
        s.f.store.reset();
        QCOMPARE(server.handleRequest(status), blockedFalse);
        QCOMPARE(server.handleRequest(get("/blocked?rule=" + s.id())),
                 ok(htmlType, BlockPage::blockEnded(std::nullopt).toUtf8()));
    }

    // ------------------------------------------------------------ the block-page address

    void blockedPageURL()
    {
        BlockedStore s;
        LocalBlockPageServer server(s.store);
        QVERIFY(
            !server.blockedPageURL(s.blocked.id, QStringLiteral("news.example"), QStringLiteral("https://a.example/")));

        server.start(freePort(), true);
        QVERIFY(server.port());
        const QString from = QStringLiteral("https://news.example/search?q=a b&x=%41&y=1+2#frag ü€ 'x'");
        const std::optional<QUrl> url = server.blockedPageURL(s.blocked.id, QStringLiteral("news.example"), from);
        QVERIFY(url);
        QVERIFY(url->isValid());
        QCOMPARE(url->scheme(), QStringLiteral("http"));
        QCOMPARE(url->host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(url->port(), int(*server.port()));
        QCOMPARE(url->path(), QStringLiteral("/blocked"));
        QVERIFY(!url->hasFragment());
        const QString query = url->query(QUrl::FullyEncoded);
        QVERIFY2(query.startsWith(QStringLiteral("rule=") + uuidText(s.blocked.id) +
                                  QStringLiteral("&domain=news.example&from=")),
                 qPrintable(query));
        QCOMPARE(query.count(u'&'), 2);

        // The server reads back exactly the address the tab showed.
        const QByteArray response = server.handleRequest(
            get(requestTarget(*url), "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n"));
        QCOMPARE(scriptTarget(response), std::optional<QString>(from));
        QCOMPARE(response, ok(htmlType, BlockPage::render(s.snapshot(), {}, 0, from).toUtf8()));
        // A tab left on it when the program quits goes back to exactly that address, or to the
        // address an extension's rule appended; any other page stays where it is.
        QCOMPARE(server.returnAddress(url->toString(QUrl::FullyEncoded)), std::optional<QString>(from));
        const QString page = QStringLiteral("http://127.0.0.1:%1/blocked?rule=R").arg(*server.port());
        QCOMPARE(server.returnAddress(page + QStringLiteral("&url=http://a.example/p?x=1&y=2#top")),
                 std::optional<QString>(QStringLiteral("http://a.example/p?x=1&y=2#top")));
        for (const QString& stays : {page, page + QStringLiteral("&from=javascript%3Aalert(1)"),
                                     page + QStringLiteral("&from=http%3A%2F%2Flocalhost%3A8080%2F"),
                                     QStringLiteral("http://127.0.0.1:1/blocked?from=http%3A%2F%2Fa.example%2F")})
            QVERIFY2(!server.returnAddress(stays), qPrintable(stays));
    }

    void blockedPageURLLeavesOutHugeAddresses_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("kept");
        QTest::newRow("8,000 characters") << QStringLiteral("https://news.example/") + QString(8000, u'a') << true;
        QTest::newRow("20,000 characters") << QStringLiteral("https://news.example/") + QString(20000, u'a') << false;
        QTest::newRow("5,000 characters that encode to 45,000")
            << QStringLiteral("https://news.example/") + QString(5000, QChar(0x20AC)) << false;
    }

    void blockedPageURLLeavesOutHugeAddresses()
    {
        QFETCH(QString, from);
        QFETCH(bool, kept);
        BlockedStore s;
        LocalBlockPageServer server(s.store);
        server.start(freePort(), true);
        const std::optional<QUrl> url = server.blockedPageURL(s.blocked.id, QStringLiteral("news.example"), from);
        QVERIFY(url);
        const QString query = url->query(QUrl::FullyEncoded);
        QVERIFY(query.startsWith(QStringLiteral("rule=") + uuidText(s.blocked.id) +
                                 QStringLiteral("&domain=news.example")));
        QCOMPARE(query.contains(QStringLiteral("from=")), kept);

        // With a browser's usual headers the request stays within the limit and is served.
        const QByteArray request = get(
            requestTarget(*url), "Host: 127.0.0.1:" + QByteArray::number(*server.port()) +
                                     "\r\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like "
                                     "Gecko) Chrome/120.0 Safari/537.36\r\nAccept: text/html,application/xhtml+xml,"
                                     "application/xml;q=0.9,*/*;q=0.8\r\nAccept-Language: en-US,en;q=0.9\r\n"
                                     "Accept-Encoding: gzip, deflate, br\r\nConnection: keep-alive\r\n");
        QVERIFY(request.size() <= LocalBlockPageServer::maximumRequestBytes);
        const QByteArray response = server.handleRequest(request);
        QVERIFY(response.startsWith("HTTP/1.1 200 OK\r\n"));
        QCOMPARE(scriptTarget(response), kept ? std::optional<QString>(from) : std::nullopt);
    }

    // An extension's redirect rule appends the address as the browser had it, unencoded, after
    // `url=`; the page is asked for again with it as `from`, exactly as the tab showed it.
    void addressAsItWasComesBackAsFrom_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<std::optional<QString>>("from");
        QTest::newRow("plain") << QByteArray("https://news.example/a")
                               << std::optional<QString>(QStringLiteral("https://news.example/a"));
        QTest::newRow("its own query, escapes and url=")
            << QByteArray("http://www.news.example/feed?a=1&b=%20&url=x&from=y")
            << std::optional<QString>(QStringLiteral("http://www.news.example/feed?a=1&b=%20&url=x&from=y"));
        QTest::newRow("characters a strict URL refuses")
            << QByteArray("http://news.example/a?x={|}^`")
            << std::optional<QString>(QStringLiteral("http://news.example/a?x={|}^`"));
        QTest::newRow("too long to carry on")
            << "https://news.example/" + QByteArray(13000, 'a') << std::optional<QString>();
    }

    // The same over a connection, as a browser asks for it.
    void addressAsItWasOverAConnection()
    {
        BlockedStore s;
        LocalBlockPageServer server(s.store);
        server.start(freePort(), true);
        QVERIFY(server.port());
        Client client(*server.port());
        QVERIFY(client.connected());
        client.send(get("/blocked?rule=" + uuidText(s.blocked.id).toLatin1() + "&url=https://news.example/a?b&c",
                        "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n"));
        QVERIFY(client.closed(30000));
        QVERIFY2(client.received.startsWith("HTTP/1.1 302 Found\r\nLocation: /blocked?rule="),
                 client.received.left(200).constData());
        QVERIFY(client.received.contains("&from=" + QUrl::toPercentEncoding("https://news.example/a?b&c") + "\r\n"));
    }

    void addressAsItWasComesBackAsFrom()
    {
        QFETCH(QByteArray, address);
        QFETCH(std::optional<QString>, from);
        BlockedStore s;
        LocalBlockPageServer server(s.store);
        server.start(freePort(), true);
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n";
        const QByteArray redirect = server.handleRequest(
            get("/blocked?rule=" + uuidText(s.blocked.id).toLatin1() + "&domain=news.example&url=" + address, host));
        QVERIFY2(redirect.startsWith("HTTP/1.1 302 Found\r\nLocation: /blocked?rule="), redirect.left(200).constData());
        QCOMPARE(bodyOf(redirect), QByteArray());
        const qsizetype at = redirect.indexOf("Location: ") + 10;
        const QByteArray location = redirect.mid(at, redirect.indexOf("\r\n", at) - at);
        const QByteArray page = server.handleRequest(get(location, host));
        QVERIFY(page.startsWith("HTTP/1.1 200 OK\r\n"));
        QCOMPARE(scriptTarget(page), from);
    }

    // ------------------------------------------------------------ Host header

    void hostHeader_data()
    {
        QTest::addColumn<QByteArray>("headers"); // {P}: the server's port, {Q}: another port
        QTest::addColumn<bool>("served");

        QTest::newRow("no Host") << QByteArray() << false;
        QTest::newRow("address and port") << QByteArray("Host: 127.0.0.1:{P}\r\n") << true;
        QTest::newRow("localhost and port") << QByteArray("Host: localhost:{P}\r\n") << true;
        QTest::newRow("case-insensitive") << QByteArray("HOST: LocalHost:{P}\r\n") << true;
        QTest::newRow("no blank after colon") << QByteArray("host:127.0.0.1:{P}\r\n") << true;
        QTest::newRow("other headers only") << QByteArray("X-Forwarded-Host: evil.example\r\nHostname: x\r\n") << false;
        QTest::newRow("Host only in the body") << QByteArray("\r\nHost: 127.0.0.1:{P}") << false;
        QTest::newRow("second Host the same") << QByteArray("Host: 127.0.0.1:{P}\r\nHost: 127.0.0.1:{P}\r\n") << false;
        QTest::newRow("foreign name") << QByteArray("Host: evil.example:{P}\r\n") << false;
        QTest::newRow("rebound name") << QByteArray("Host: 127.0.0.1.nip.example:{P}\r\n") << false;
        QTest::newRow("no port") << QByteArray("Host: 127.0.0.1\r\n") << false;
        QTest::newRow("other port") << QByteArray("Host: localhost:{Q}\r\n") << false;
        QTest::newRow("empty") << QByteArray("Host: \r\n") << false;
        QTest::newRow("second Host foreign") << QByteArray("Host: 127.0.0.1:{P}\r\nHost: evil.example\r\n") << false;
    }

    void hostHeader()
    {
        QFETCH(QByteArray, headers);
        QFETCH(bool, served);
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        const quint16 port = *server.port();
        headers.replace("{P}", QByteArray::number(port))
            .replace("{Q}", QByteArray::number(port == 65535 ? 1 : port + 1));
        // Bare line feeds end lines just as well: the check must not be skipped for them.
        const QByteArray request = get("/health", headers);
        QCOMPARE(server.handleRequest(request), served ? health : badRequest);
        QCOMPARE(server.handleRequest(QByteArray(request).replace("\r\n", "\n")), served ? health : badRequest);
    }

    // ------------------------------------------------------------ real sockets

    void oneRequestPerConnection()
    {
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n";

        Client c(*server.port());
        QVERIFY(c.connected());
        // A second request in the same write is never answered: one answer, then the close.
        c.send(get("/health", host) + get("/close", host));
        QVERIFY(c.closed());
        QCOMPARE(c.received, health);
        QTRY_COMPARE(server.openConnections(), 0);

        Client foreign(*server.port());
        QVERIFY(foreign.connected());
        foreign.send(get("/health", "Host: evil.example\r\n"));
        QVERIFY(foreign.closed());
        QCOMPARE(foreign.received, badRequest);
    }

    // Answered with nothing left unread, the connection is closed by the server at once, and its
    // place is free even while the peer keeps its own side open. When more bytes may still come,
    // closing would reset the connection and could cost the peer the answer: the server waits for
    // the peer's close.
    void closesOnceNothingIsUnread_data()
    {
        QTest::addColumn<QByteArray>("request"); // {H}: the Host header
        QTest::addColumn<bool>("halfClose");
        QTest::addColumn<bool>("closedAtOnce");
        QTest::newRow("request alone") << get("/health", "{H}") << false << true;
        QTest::newRow("block page alone") << get("/blocked?rule=x", "{H}") << false << true;
        QTest::newRow("refused") << get("/health", "Host: evil.example\r\n") << false << false;
        QTest::newRow("peer ended its side") << get("/health", "{H}") << true << true;
        QTest::newRow("refused, peer ended its side") << get("/health", "Host: evil.example\r\n") << true << true;
        QTest::newRow("a body announced") << get("/health", "{H}Content-Length: 5\r\n") << false << false;
        QTest::newRow("a body announced, peer ended its side")
            << get("/health", "{H}Content-Length: 5\r\n") + "hello" << true << true;
        QTest::newRow("bytes after the head") << get("/health", "{H}") + "hello" << false << false;
    }

    void closesOnceNothingIsUnread()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, halfClose);
        QFETCH(bool, closedAtOnce);
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        request.replace("{H}", "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n");
        const QByteArray expected = server.handleRequest(request);

        std::optional<RawPeer> peer(std::in_place);
        QVERIFY(peer->connect(*server.port()));
        QTRY_COMPARE(server.openConnections(), 1);
        QVERIFY(peer->send(request));
        if (halfClose)
            QCOMPARE(::shutdown(peer->fd, SHUT_WR), 0);
        QVERIFY(peer->waitForEnd());
        QCOMPARE(peer->received, expected);
        if (closedAtOnce) {
            QTRY_COMPARE(server.openConnections(), 0);
            return;
        }
        // The server's side has ended; it waits for the peer's, reading what still comes.
        QTest::qWait(100);
        QCOMPARE(server.openConnections(), 1);
        QVERIFY(peer->send("hello"));
        peer.reset();
        QTRY_COMPARE(server.openConnections(), 0);
    }

    void requestInPieces()
    {
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        Client c(*server.port());
        QVERIFY(c.connected());
        for (const QByteArray& piece : {QByteArray("GET /hea"), QByteArray("lth HTTP/1.1\r\nHost: 127.0.0.1:") +
                                                                    QByteArray::number(*server.port()) + "\r\n\r"}) {
            c.send(piece);
            QTest::qWait(100);
            QCOMPARE(c.socket.state(), QAbstractSocket::ConnectedState);
            QVERIFY(c.received.isEmpty());
        }
        QCOMPARE(server.openConnections(), 1);
        c.send("\n");
        QVERIFY(c.closed());
        QCOMPARE(c.received, health);
    }

    // Clients at once, over real connections, each get the whole page, and it is rendered once;
    // a page larger than the sockets hold goes out as each client reads, to one that has ended
    // its side too.
    void clientsAtOnceShareOneRendering_data()
    {
        QTest::addColumn<int>("clients");
        QTest::addColumn<int>("titleLength");
        QTest::addColumn<bool>("halfClose");
        QTest::newRow("one") << 1 << 10 << false;
        QTest::newRow("sixteen") << 16 << 10 << false;
        QTest::newRow("sixteen, half-closed") << 16 << 10 << true;
        QTest::newRow("one, larger than the sockets hold") << 1 << 4000000 << false;
        QTest::newRow("eight, larger than the sockets hold, half-closed") << 8 << 4000000 << true;
    }

    void clientsAtOnceShareOneRendering()
    {
        QFETCH(int, clients);
        QFETCH(int, titleLength);
        QFETCH(bool, halfClose);
        BlockedStore s;
        s.store->todos().addTodo(todo(QString(titleLength, u'x'), TaskItem::Priority::high, s.f.clock.now() - 60));
        s.store->todos().setFocusTodoID(s.store->todos().todos().front().id);
        LocalBlockPageServer server(s.store);
        server.start(freePort(), true);
        QVERIFY(server.port());
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n";
        const QByteArray request = get("/blocked?rule=" + s.id(), host);
        const QByteArray expected = server.handleRequest(request);
        QVERIFY(expected.size() > titleLength);
        QCOMPARE(server.pageRenderings(), 1);

        std::vector<std::unique_ptr<Client>> all;
        for (int i = 0; i < clients; ++i) {
            all.push_back(std::make_unique<Client>(*server.port()));
            QVERIFY(all.back()->connected());
        }
        for (auto& c : all) {
            c->send(request);
            if (halfClose)
                QCOMPARE(::shutdown(int(c->socket.socketDescriptor()), SHUT_WR), 0);
        }
        for (auto& c : all) {
            QVERIFY(c->closed(30000));
            QCOMPARE(c->received.size(), expected.size());
            QVERIFY(c->received == expected);
        }
        QCOMPARE(server.pageRenderings(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 30000);
    }

    void halfClosedPeerIsAnswered_data()
    {
        QTest::addColumn<QByteArray>("request"); // {P}: the server's port
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("request line and Host") << QByteArray("GET /health HTTP/1.1\r\nHost: 127.0.0.1:{P}") << health;
        QTest::newRow("request line only") << QByteArray("GET /health HTTP/1.1") << badRequest;
        QTest::newRow("nothing sent") << QByteArray() << notAllowed;
    }

    void halfClosedPeerIsAnswered()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        Client c(*server.port());
        QVERIFY(c.connected());
        if (!request.isEmpty())
            c.send(request.replace("{P}", QByteArray::number(*server.port())));
        QCOMPARE(c.socket.bytesToWrite(), 0);
        QTest::qWait(50);
        QVERIFY(c.received.isEmpty());
        QCOMPARE(::shutdown(int(c.socket.socketDescriptor()), SHUT_WR), 0);
        QVERIFY(c.closed());
        QCOMPARE(c.received, expected);
    }

    // The size limit, the line ends and the Host check give the same answer however the bytes
    // arrive: in one write, or in pieces that cut the head anywhere.
    void answerDoesNotDependOnArrival_data()
    {
        QTest::addColumn<QByteArray>("request"); // {P}: the server's port
        QTest::addColumn<bool>("halfClose");     // the peer ends its side after sending
        QTest::addColumn<QByteArray>("expected");

        const QByteArray host = "Host: 127.0.0.1:{P}\r\n";
        const auto padded = [&](qsizetype size, const QByteArray& end) {
            const QByteArray head = "GET /health HTTP/1.1\r\n" + host + "X-Pad: ";
            return head + QByteArray(size - head.size() - end.size() + 2, 'a') + end;
        };
        // (The port's digits change the padding by at most three bytes either way.)
        QTest::newRow("head at the limit") << padded(16300, "\r\n\r\n") << false << health;
        QTest::newRow("head over the limit") << padded(20000, "\r\n\r\n") << false << badRequest;
        QTest::newRow("never-ending head") << padded(30000, "") << false << badRequest;
        QTest::newRow("cut at the limit by the peer") << padded(16300, "") << true << health;
        QTest::newRow("bare line feeds") << QByteArray("GET /health HTTP/1.1\n" + host + "\n").replace("\r", "")
                                         << false << health;
        QTest::newRow("bare line feeds, foreign Host")
            << QByteArray("GET /health HTTP/1.1\nHost: evil.example\n\n") << false << badRequest;
        QTest::newRow("body after the head")
            << "GET /health HTTP/1.1\r\n" + host + "\r\n" + QByteArray(30000, 'b') << false << health;
    }

    void answerDoesNotDependOnArrival()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, halfClose);
        QFETCH(QByteArray, expected);
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        request.replace("{P}", QByteArray::number(*server.port()));

        for (const qsizetype piece : {qsizetype(0), qsizetype(97), qsizetype(4093), qsizetype(16383)}) {
            Client c(*server.port());
            QVERIFY(c.connected());
            if (piece == 0) {
                c.send(request);
            } else {
                for (qsizetype at = 0; at < request.size() && c.socket.state() == QAbstractSocket::ConnectedState;
                     at += piece) {
                    c.send(request.mid(at, piece));
                    QTest::qWait(piece < 100 ? 1 : 10);
                }
            }
            if (halfClose)
                ::shutdown(int(c.socket.socketDescriptor()), SHUT_WR);
            QVERIFY2(c.closed(), qPrintable(QStringLiteral("pieces of %1").arg(piece)));
            QVERIFY2(
                c.received == expected,
                qPrintable(QStringLiteral("pieces of %1: %2").arg(piece).arg(QString::fromUtf8(c.received.left(40)))));
        }
    }

    void fullRequestWithoutTerminatorIsAnswered()
    {
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        const QByteArray head =
            "GET /health HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\nX-Pad: ";
        // Exactly the limit and no terminator: the head may still end, so the answer waits for
        // the peer's next byte or the end of its side.
        Client c(*server.port());
        QVERIFY(c.connected());
        c.send(head + QByteArray(LocalBlockPageServer::maximumRequestBytes - head.size(), 'a'));
        QCOMPARE(::shutdown(int(c.socket.socketDescriptor()), SHUT_WR), 0);
        QVERIFY(c.closed());
        QCOMPARE(c.received, health);

        Client more(*server.port());
        QVERIFY(more.connected());
        more.send(head + QByteArray(LocalBlockPageServer::maximumRequestBytes - head.size() + 1, 'a'));
        QVERIFY(more.closed());
        QCOMPARE(more.received, badRequest);
    }

    void connectionCap()
    {
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        const quint16 port = *server.port();
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
        QCOMPARE(LocalBlockPageServer::maximumConnections, 64);

        // The oldest connection has a request on its way; all others are idle.
        std::vector<std::unique_ptr<Client>> held;
        for (int i = 0; i < LocalBlockPageServer::maximumConnections; ++i) {
            held.push_back(std::make_unique<Client>(port));
            QVERIFY(held.back()->connected());
            QTRY_COMPARE(server.openConnections(), i + 1);
            if (i == 0) {
                held.front()->send("GET /health HTTP/1.1\r\n");
                QTRY_COMPARE(server.idleConnections(), 0);
            }
        }
        QCOMPARE(server.idleConnections(), LocalBlockPageServer::maximumConnections - 1);

        // A newcomer pushes out the connection idle longest, never the request in progress.
        Client newcomer(port);
        QVERIFY(newcomer.connected());
        QVERIFY(held.at(1)->closed());
        QVERIFY(held.at(1)->received.isEmpty());
        QCOMPARE(server.openConnections(), LocalBlockPageServer::maximumConnections);
        newcomer.send(get("/status", host));
        QVERIFY(newcomer.closed());
        QCOMPARE(newcomer.received, blockedFalse);
        held.front()->send(host + "\r\n");
        QVERIFY(held.front()->closed());
        QCOMPARE(held.front()->received, health);

        // With every place taken by a request in progress, the one that started first makes room.
        for (auto& c : held)
            c->socket.abort();
        QTRY_COMPARE(server.openConnections(), 0);
        std::vector<std::unique_ptr<Client>> busy;
        for (int i = 0; i < LocalBlockPageServer::maximumConnections; ++i) {
            busy.push_back(std::make_unique<Client>(port));
            QVERIFY(busy.back()->connected());
            QTRY_COMPARE(server.openConnections(), i + 1);
        }
        // The first to connect is the last to start its request.
        for (int i = 1; i <= LocalBlockPageServer::maximumConnections; ++i) {
            busy.at(i % LocalBlockPageServer::maximumConnections)->send("GET /health HTTP/1.1\r\n");
            QTRY_COMPARE(server.idleConnections(), LocalBlockPageServer::maximumConnections - i);
        }
        Client served(port);
        QVERIFY(served.connected());
        QVERIFY(busy.at(1)->closed());
        QVERIFY(busy.at(1)->received.isEmpty());
        served.send(get("/health", host));
        QVERIFY(served.closed());
        QCOMPARE(served.received, health);
        QCOMPARE(busy.front()->socket.state(), QAbstractSocket::ConnectedState);

        // A peer that goes away frees its place too.
        for (auto& c : busy)
            c->socket.abort();
        QTRY_COMPARE(server.openConnections(), 0);
    }

    // 64 local connections that each trickle a byte now and then, and come back when pushed out,
    // do not keep the health check out.
    void tricklingConnectionsDoNotShutOutRequests()
    {
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        const quint16 port = *server.port();
        std::vector<std::unique_ptr<Client>> tricklers(LocalBlockPageServer::maximumConnections);
        QTimer trickle;
        QObject::connect(&trickle, &QTimer::timeout, [&] {
            for (auto& t : tricklers) {
                if (!t || t->socket.state() == QAbstractSocket::UnconnectedState)
                    t = std::make_unique<Client>(port);
                else if (t->socket.state() == QAbstractSocket::ConnectedState)
                    t->send("G");
            }
        });
        trickle.start(20);
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), LocalBlockPageServer::maximumConnections, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(server.idleConnections(), 0, 30000);

        const int attempts = 40;
        int answered = 0;
        for (int i = 0; i < attempts; ++i) {
            Client check(port);
            if (!check.connected())
                continue;
            check.send(get("/health", "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n"));
            if (check.closed(10000) && check.received == health)
                ++answered;
        }
        trickle.stop();
        QVERIFY2(answered * 10 >= attempts * 9, qPrintable(QStringLiteral("%1 of %2").arg(answered).arg(attempts)));
    }

    // Silent and unfinished requests are let go after the idle time (shortened here); a peer that
    // never reads its answer too.
    void idleConnectionsTimeOut()
    {
        LocalBlockPageServer server(nullptr);
        server.setIdleTimeout(300);
        server.start(freePort(), true);
        QVERIFY(server.port());

        Client silent(*server.port());
        Client partial(*server.port());
        QVERIFY(silent.connected());
        QVERIFY(partial.connected());
        partial.send("GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n");
        QVERIFY(silent.closed(10000));
        QVERIFY(partial.closed(10000));
        QVERIFY(silent.received.isEmpty());
        QVERIFY(partial.received.isEmpty());
        QTRY_COMPARE(server.openConnections(), 0);
    }

    // Out of descriptors, the listener is not given up: the connection that waited is taken
    // and answered once descriptors are free again.
    void acceptsAgainAfterRunningOutOfDescriptors()
    {
        LocalBlockPageServer server(nullptr);
        server.start(freePort(), true);
        QVERIFY(server.port());
        RawPeer peer;
        QVERIFY(peer.fd >= 0);

        rlimit before{};
        QVERIFY(openNoMoreDescriptors(&before));
        // The server's attempts to take the connection fail meanwhile.
        const bool connected = peer.connect(*server.port());
        const bool sent =
            connected && peer.send(get("/health", "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n"));
        QTest::qWait(300);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &before), 0);
        QVERIFY(connected);
        QVERIFY(sent);
        QVERIFY(peer.waitForEnd(30000));
        QCOMPARE(peer.received, health);
    }

    // ------------------------------------------------------------ starting

    void startsOnTheRequestedPort()
    {
        LocalBlockPageServer server(nullptr);
        QVERIFY(!server.port());
        QVERIFY(!server.isStarted());
        QSignalSpy portChanged(&server, &LocalBlockPageServer::portChanged);
        const quint16 wanted = freePort();
        server.start(wanted, true);
        QCOMPARE(server.port(), std::optional<quint16>(wanted));
        QVERIFY(!server.lastError());
        QCOMPARE(portChanged.size(), 1);
    }

    void fallsBackWhenThePortIsTaken()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        const quint16 taken = holder.serverPort();

        LocalBlockPageServer server(nullptr);
        QSignalSpy errorChanged(&server, &LocalBlockPageServer::lastErrorChanged);
        server.start(taken, true);
        QVERIFY(server.port());
        QVERIFY(*server.port() != taken);
        QVERIFY(!server.lastError());
        QCOMPARE(errorChanged.size(), 0);
        QVERIFY(server.isStarted());

        Client c(*server.port());
        QVERIFY(c.connected());
        QCOMPARE(c.socket.peerAddress(), QHostAddress(QHostAddress::LocalHost));
        c.send(get("/health", "Host: localhost:" + QByteArray::number(*server.port()) + "\r\n"));
        QVERIFY(c.closed());
        QCOMPARE(c.received, health);
        QCOMPARE(server.blockedPageURL(QUuid::createUuid(), QStringLiteral("a.example"), QString())->port(),
                 int(*server.port()));
    }

    void failsWithoutFallback()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        LocalBlockPageServer server(nullptr);
        QSignalSpy errorChanged(&server, &LocalBlockPageServer::lastErrorChanged);
        server.start(holder.serverPort(), false);
        QVERIFY(!server.port());
        QVERIFY(!server.isStarted());
        QCOMPARE(errorChanged.size(), 1);
        const QString prefix = QStringLiteral("The local priorities page could not start: ");
        QVERIFY(server.lastError());
        QVERIFY2(server.lastError()->startsWith(prefix), qPrintable(*server.lastError()));
        QVERIFY(server.lastError()->size() > prefix.size());
        QVERIFY(!server.blockedPageURL(QUuid::createUuid(), QStringLiteral("a.example"), QString()));
    }

    // Both attempts fail when the process may not open another socket at all.
    void failsWhenTheFallbackFailsToo()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
        LocalBlockPageServer server(nullptr);

        rlimit before{};
        QVERIFY(openNoMoreDescriptors(&before));
        server.start(holder.serverPort(), true);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &before), 0);

        QVERIFY(!server.port());
        QVERIFY(!server.isStarted());
        QVERIFY(server.lastError());
        QVERIFY2(server.lastError()->startsWith(QStringLiteral("The local priorities page could not start: ")),
                 qPrintable(*server.lastError()));
    }
};

QTEST_GUILESS_MAIN(TestBlockServer)
#include "tst_block_server.moc"
