#include "HeadlessChromium.h"
#include "StoreFixture.h"
#include "blocking/LocalBlockPageServer.h"
#include "linux/DevToolsClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QtTest>

// The block page in a real browser: it must return the tab to exactly the address it came from
// once the block ends, and never run the person's text as script.
class TestBlockPageBrowser : public QObject {
    Q_OBJECT

    std::unique_ptr<HeadlessChromium> browser;
    std::unique_ptr<DevToolsClient> devtools;

    QJsonObject call(const QString& method, const QJsonObject& params = {}, const QString& session = {})
    {
        std::optional<QJsonObject> answer;
        QString error;
        devtools->send(
            method, params, 10000,
            [&](const QJsonObject& result, const QString& e) {
                answer = result;
                error = e;
            },
            session);
        if (!QTest::qWaitFor([&] { return answer.has_value(); }, 12000))
            return {};
        if (!error.isEmpty())
            qWarning() << method << error;
        return *answer;
    }

    QString targetUrl(const QString& targetId)
    {
        const QJsonArray targets =
            call(QStringLiteral("Target.getTargets")).value(QStringLiteral("targetInfos")).toArray();
        for (const QJsonValue& t : targets)
            if (t.toObject().value(QStringLiteral("targetId")).toString() == targetId)
                return t.toObject().value(QStringLiteral("url")).toString();
        return {};
    }

    QString evaluate(const QString& targetId, const QString& expression)
    {
        const QString session = call(QStringLiteral("Target.attachToTarget"),
                                     {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}})
                                    .value(QStringLiteral("sessionId"))
                                    .toString();
        const QJsonObject result =
            call(QStringLiteral("Runtime.evaluate"),
                 {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}}, session);
        call(QStringLiteral("Target.detachFromTarget"), {{QStringLiteral("sessionId"), session}});
        return result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toString();
    }

    static BlockRule allDayRule(const QString& domain, Date created)
    {
        BlockRule r;
        r.id = QUuid::createUuid();
        r.domain = domain;
        r.displayName = BlockRule::suggestedDisplayName(domain);
        r.createdAt = r.updatedAt = created;
        return r;
    }

private slots:
    void initTestCase()
    {
        if (!HeadlessChromium::isInstalled())
            QFAIL("chromium is not installed (scripts/install-deps installs it)");
        browser = std::make_unique<HeadlessChromium>();
        const std::optional<QUrl> endpoint = browser->browserEndpoint();
        QVERIFY2(endpoint, "chromium did not open its debugging port");
        devtools = std::make_unique<DevToolsClient>();
        QString error = QStringLiteral("pending");
        devtools->open(*endpoint, 10000, [&error](const QString& e) { error = e; });
        QTRY_VERIFY_WITH_TIMEOUT(error != QLatin1String("pending"), 12000);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanupTestCase()
    {
        devtools.reset();
        browser.reset(); // stops the browser by its process
    }

    void returnsToTheExactAddressWhenTheBlockEnds_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("plain") << QStringLiteral("https://www.example.com/feed?tab=1#top");
        QTest::newRow("hostile") << QStringLiteral("https://www.example.com/it's?q=</script><script>alert(1)</script>");
    }
    void returnsToTheExactAddressWhenTheBlockEnds()
    {
        QFETCH(QString, from);
        StoreFixture f;
        StorageService& store = f.make();
        const BlockRule rule = allDayRule(QStringLiteral("example.com"), f.clock.now() - 3600);
        store.blocking().addRule(rule);
        QCOMPARE(store.blocking().state().blockedNow.size(), size_t(1));
        LocalBlockPageServer server(&store);
        server.start(0, false);
        QVERIFY(server.port());

        const QUrl page = server.blockedPageURL(rule.id, rule.domain, from).value();
        const QString targetId =
            call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), page.toString(QUrl::FullyEncoded)}})
                .value(QStringLiteral("targetId"))
                .toString();
        QVERIFY(!targetId.isEmpty());
        // While blocked, the page stays (it polls every two seconds).
        QTest::qWait(2500);
        QVERIFY(targetUrl(targetId).startsWith(QStringLiteral("http://127.0.0.1:")));

        store.blocking().removeRule(rule.id);
        QVERIFY(store.blocking().state().blockedNow.empty());
        // Within a poll or two the page replaces itself with the address the tab came from. The
        // site cannot load here (no network), so the target's URL is what the browser attempted.
        const QString expected = QUrl(from).toString(QUrl::FullyEncoded);
        QTRY_COMPARE_WITH_TIMEOUT(targetUrl(targetId), expected, 30000);
        call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), targetId}});

        // The block page opened again once its rule is gone (a tab restored, a reload) is the
        // ended page, which takes the tab back to the rule's own site by itself as well.
        const QString again =
            call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), page.toString(QUrl::FullyEncoded)}})
                .value(QStringLiteral("targetId"))
                .toString();
        QVERIFY(!again.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(targetUrl(again), expected, 30000);
        call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), again}});
    }

    void hostileTitleIsShownAsText()
    {
        StoreFixture f;
        StorageService& store = f.make();
        const BlockRule rule = allDayRule(QStringLiteral("news.example"), f.clock.now() - 3600);
        store.blocking().addRule(rule);
        TaskItem todo;
        todo.id = QUuid::createUuid();
        todo.title =
            QStringLiteral("<img src=x onerror=\"document.title='pwned'\"><script>document.title='pwned'</script>");
        todo.time = TaskItem::anytime;
        todo.priority = TaskItem::Priority::high;
        todo.createdAt = todo.updatedAt = f.clock.now() - 60;
        store.todos().addTodo(todo);
        LocalBlockPageServer server(&store);
        server.start(0, false);

        const QUrl page = server.blockedPageURL(rule.id, rule.domain, QStringLiteral("https://news.example/")).value();
        const QString targetId =
            call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), page.toString(QUrl::FullyEncoded)}})
                .value(QStringLiteral("targetId"))
                .toString();
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(targetId, QStringLiteral("document.readyState")), QStringLiteral("complete"),
                                  30000);
        QTest::qWait(300); // an error handler of an injected image would have run by now
        QCOMPARE(evaluate(targetId, QStringLiteral("document.title")),
                 QStringLiteral("Before you scroll… · Quillharbour"));
        QCOMPARE(evaluate(targetId, QStringLiteral("document.querySelector('.hero h2').textContent")), todo.title);
        QCOMPARE(
            evaluate(targetId, QStringLiteral("String(document.querySelectorAll('.hero img, .hero script').length)")),
            QStringLiteral("0"));
        call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), targetId}});
    }
};

QTEST_GUILESS_MAIN(TestBlockPageBrowser)
#include "tst_block_page_browser.moc"
