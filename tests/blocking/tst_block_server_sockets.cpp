#include "BlockServerWire.h"
#include "blocking/LocalBlockPageServer.h"

#include <QSignalSpy>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace BlockServerWire;

namespace {

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

// The block-page server over real connections: arrival in pieces, closing, the connection cap and
// the listening port.
class TestBlockServerSockets : public QObject {
    Q_OBJECT

private slots:

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
        s.store->addTodo(todo(QString(titleLength, u'x'), TaskItem::Priority::high, s.f.clock.now() - 60));
        s.store->setFocusTodoID(s.store->todos().front().id);
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

QTEST_GUILESS_MAIN(TestBlockServerSockets)
#include "tst_block_server_sockets.moc"
