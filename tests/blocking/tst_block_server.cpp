#include "BlockServerWire.h"
#include "blocking/BlockPageRequest.h"
#include "blocking/LocalBlockPageServer.h"

#include <QHostInfo>
#include <QNetworkInterface>

using namespace BlockServerWire;

// The block-page server's protocol, request bytes to answer bytes: routes, the Host check, the
// pages and the return address.
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
            << ok(htmlType, BlockPage::blockEnded(QStringLiteral("https://news.example/")).toUtf8());
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
        s.store->addTodo(todo(QStringLiteral("Low"), TaskItem::Priority::low, today));
        s.store->addTodo(todo(QStringLiteral("High"), TaskItem::Priority::high, today));
        s.store->addTodo(todo(QStringLiteral("Medium"), TaskItem::Priority::medium, today));
        s.store->addTodo(todo(QStringLiteral("Done"), TaskItem::Priority::high, today, true));
        s.store->addTodo(todo(QStringLiteral("Yesterday"), TaskItem::Priority::high, today - 86400));
        s.store->setFocusTodoID(s.stored(QStringLiteral("Low")).id);

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
        s.store->toggleTodo(s.stored(QStringLiteral("Low")).id);
        s.store->toggleTodo(s.stored(QStringLiteral("High")).id);
        s.store->toggleTodo(s.stored(QStringLiteral("Medium")).id);
        QCOMPARE(server.handleRequest(get("/blocked?rule=" + s.id())),
                 ok(htmlType, BlockPage::render(s.snapshot(), {}, 4, std::nullopt).toUtf8()));
    }

    // The page's to-do lists are built, and the page rendered, once per change of the store or of
    // the query, never per request; every change that alters them is seen.
    void blockedListsFollowTheStore()
    {
        BlockedStore s;
        const Date today = s.f.clock.now() - 3600;
        s.store->addTodo(todo(QStringLiteral("A"), TaskItem::Priority::medium, today));
        s.store->addTodo(todo(QStringLiteral("B"), TaskItem::Priority::low, today));
        s.store->setFocusTodoID(s.stored(QStringLiteral("A")).id);
        LocalBlockPageServer server(s.store);
        const QByteArray request = get("/blocked?rule=" + s.id());
        // What the store's own queries give at this moment.
        const auto fresh = [&s] {
            std::vector<TaskItem> tasks;
            if (const auto focus = s.store->focusTodo()) {
                tasks.push_back(*focus);
                for (const TaskItem& t : s.store->openTodos())
                    if (t.id != focus->id)
                        tasks.push_back(t);
            }
            return ok(htmlType, BlockPage::render(s.store->state().blockedNow.at(0), tasks,
                                                  qint64(s.store->todayTodos().size()), std::nullopt)
                                    .toUtf8());
        };

        QCOMPARE(server.handleRequest(request), fresh());
        QCOMPARE(server.handleRequest(request), fresh());
        QCOMPARE(server.pageListComputations(), 1);
        s.store->refreshBlockingState(); // the state changes often; the lists do not
        s.store->recordUsage(s.blocked, 30);
        QCOMPARE(server.handleRequest(request), fresh());
        QCOMPARE(server.pageListComputations(), 1);
        QCOMPARE(server.pageRenderings(), 1);
        const QByteArray elsewhere = get("/blocked?rule=" + s.id() + "&from=https%3A%2F%2Fnews.example%2F");
        QVERIFY(server.handleRequest(elsewhere) != server.handleRequest(request));
        QVERIFY(server.handleRequest(elsewhere).contains(QByteArray("https://news.example/").toBase64()));
        QCOMPARE(server.pageRenderings(), 2);

        const std::vector<std::function<void()>> changes{
            [&] { s.store->setFocusTodoID(s.stored(QStringLiteral("B")).id); },
            [&] { s.store->toggleTodo(s.stored(QStringLiteral("B")).id); },
            [&] { s.store->addTodo(todo(QStringLiteral("C"), TaskItem::Priority::high, today)); },
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

    void blockedEndedPage_data()
    {
        QTest::addColumn<QByteArray>("query"); // {R}: the blocked rule, {O}: a rule not blocked
        QTest::addColumn<std::optional<QString>>("from");

        const std::optional<QString> none;
        QTest::newRow("no rule") << QByteArray("from=https%3A%2F%2Fnews.example%2F")
                                 << std::optional<QString>(QStringLiteral("https://news.example/"));
        QTest::newRow("rule not blocked now") << QByteArray("rule={O}&from=https://later.example/a%26b")
                                              << std::optional<QString>(QStringLiteral("https://later.example/a&b"));
        QTest::newRow("malformed rule") << QByteArray("rule=xyz") << none;
        QTest::newRow("from without =") << QByteArray("rule=00000000-0000-0000-0000-000000000001&from") << none;
        QTest::newRow("plus stays a plus") << QByteArray("from=https://news.example/?q=a+b")
                                           << std::optional<QString>(QStringLiteral("https://news.example/?q=a+b"));
    }

    void blockedEndedPage()
    {
        QFETCH(QByteArray, query);
        QFETCH(std::optional<QString>, from);
        BlockedStore s;
        query.replace("{R}", s.id()).replace("{O}", uuidText(s.later.id).toLatin1());
        LocalBlockPageServer server(s.store);
        const QByteArray response = server.handleRequest(get("/blocked?" + query));
        QCOMPARE(response, ok(htmlType, BlockPage::blockEnded(from).toUtf8()));
        QCOMPARE(scriptTarget(response), from);
    }

    // The page sends the tab back only to a host that resolves to another computer: a name that
    // leads here (hosts file, this computer's own address) or nowhere gets no return address.
    void returnHostIsResolved_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QStringList>("addresses"); // what the name resolves to; "system": the real resolver
        QTest::addColumn<bool>("returns");
        QString own = QStringLiteral("127.0.0.1");
        for (const QHostAddress& a : QNetworkInterface::allAddresses())
            if (!a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol)
                own = a.toString();
        QTest::newRow("another computer") << "https://news.example/a?b" << QStringList{"93.184.216.34"} << true;
        QTest::newRow("hosts-file name for this computer")
            << "http://box.example:47831/" << QStringList{"93.184.216.34", "127.0.1.1"} << false;
        QTest::newRow("name for this computer's network address") << "http://box.example/" << QStringList{own} << false;
        QTest::newRow("this computer's address written out")
            << QStringLiteral("http://%1:47831/").arg(own) << QStringList{own} << false;
        QTest::newRow("name that does not resolve") << "https://nowhere.example/" << QStringList() << false;
        QTest::newRow("this computer's own name")
            << QStringLiteral("http://%1:47831/").arg(QHostInfo::localHostName()) << QStringList{"system"} << false;
    }
    void returnHostIsResolved()
    {
        QFETCH(QString, from);
        QFETCH(QStringList, addresses);
        QFETCH(bool, returns);
        LocalBlockPageServer server(nullptr);
        QStringList asked;
        if (addresses != QStringList{"system"})
            server.setResolver(
                [&](const QString& host, QObject* context, std::function<void(const QList<QHostAddress>&)> done) {
                    asked.append(host);
                    QList<QHostAddress> list;
                    for (const QString& a : addresses)
                        list.append(QHostAddress(a));
                    QMetaObject::invokeMethod(
                        context, [done, list] { done(list); }, Qt::QueuedConnection);
                });
        server.start(freePort(), true);
        QVERIFY(server.port());
        Client client(*server.port());
        QVERIFY(client.connected());
        client.send(get("/blocked?from=" + QUrl::toPercentEncoding(from),
                        "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n"));
        QVERIFY(client.closed(30000));
        QCOMPARE(scriptTarget(client.received), returns ? std::optional(from) : std::nullopt);
        if (addresses != QStringList{"system"})
            QCOMPARE(asked.size(), 1);
    }

    // What a return host resolved to is kept a while: a page shown again, or in several tabs at
    // once, costs one lookup; after the time (shorter for a name that did not resolve) it is asked
    // again, so a name that starts to lead here is not trusted for long.
    void returnHostLookupIsKept_data()
    {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<bool>("together"); // the second tab asks before the first lookup answers
        QTest::addColumn<double>("later");  // seconds between the first and the second visit
        QTest::addColumn<int>("lookups");
        const QStringList elsewhere{"93.184.216.34"};
        QTest::newRow("two tabs at once") << elsewhere << true << 0.0 << 1;
        QTest::newRow("shown again within the minute") << elsewhere << false << 59.0 << 1;
        QTest::newRow("shown again after the minute") << elsewhere << false << 61.0 << 2;
        QTest::newRow("unresolved, shown again soon") << QStringList() << false << 9.0 << 1;
        QTest::newRow("unresolved, shown again after 10 s") << QStringList() << false << 11.0 << 2;
    }
    void returnHostLookupIsKept()
    {
        QFETCH(QStringList, addresses);
        QFETCH(bool, together);
        QFETCH(double, later);
        QFETCH(int, lookups);
        struct StepClock final : MonotonicClock {
            double now = 500;
            double seconds() const override { return now; }
        } clock;
        LocalBlockPageServer server(nullptr);
        server.setMonotonicClock(&clock);
        int asked = 0;
        std::vector<std::function<void()>> pending; // lookups answer when the test says so
        server.setResolver([&](const QString&, QObject*, std::function<void(const QList<QHostAddress>&)> done) {
            ++asked;
            QList<QHostAddress> list;
            for (const QString& a : addresses)
                list.append(QHostAddress(a));
            pending.push_back([done, list] { done(list); });
        });
        server.start(freePort(), true);
        QVERIFY(server.port());
        const QString from = QStringLiteral("https://news.example/story");
        const QByteArray request = get("/blocked?from=" + QUrl::toPercentEncoding(from),
                                       "Host: 127.0.0.1:" + QByteArray::number(*server.port()) + "\r\n");
        const auto answerLookups = [&] {
            for (const auto& answer : std::exchange(pending, {}))
                answer();
        };
        Client first(*server.port());
        QVERIFY(first.connected());
        first.send(request);
        QVERIFY(QTest::qWaitFor([&] { return asked == 1; }, 30000));
        if (!together) {
            answerLookups();
            QVERIFY(first.closed(30000));
            clock.now += later;
        }
        Client second(*server.port());
        QVERIFY(second.connected());
        second.send(request);
        if (together)
            QVERIFY(QTest::qWaitFor([&] { return server.waitingForLookups() == 2; }, 30000));
        QVERIFY(QTest::qWaitFor(
            [&] {
                answerLookups();
                return second.socket.state() == QAbstractSocket::UnconnectedState;
            },
            30000));
        QVERIFY(first.closed(30000));
        second.closed(30000);
        QCOMPARE(asked, lookups);
        const std::optional<QString> target = addresses.isEmpty() ? std::nullopt : std::optional(from);
        QCOMPARE(scriptTarget(first.received), target);
        QCOMPARE(scriptTarget(second.received), target);
    }

    void blockEndsWhileTheRuleStays()
    {
        BlockedStore s;
        LocalBlockPageServer server(s.store);
        const QByteArray status = get("/status?rule=" + s.id());
        const QByteArray page = get("/blocked?rule=" + s.id() + "&from=https%3A%2F%2Fnews.example%2F");
        QCOMPARE(server.handleRequest(status), blockedTrue);

        QVERIFY(s.store->startUrgentBreak(s.blocked.id));
        QCOMPARE(s.store->rules().size(), size_t(2));
        QCOMPARE(server.handleRequest(status), blockedFalse);
        QCOMPARE(server.handleRequest(page),
                 ok(htmlType, BlockPage::blockEnded(QStringLiteral("https://news.example/")).toUtf8()));
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
            << QByteArray("http://www.example.com/feed?a=1&b=%20&url=x&from=y")
            << std::optional<QString>(QStringLiteral("http://www.example.com/feed?a=1&b=%20&url=x&from=y"));
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
};

QTEST_GUILESS_MAIN(TestBlockServer)
#include "tst_block_server.moc"
