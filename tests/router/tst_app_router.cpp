#include "router/AppRouter.h"

#include <QSignalSpy>
#include <QtTest>

using Destination = AppRouter::Destination;
using Query = QHash<QString, QString>;

Q_DECLARE_METATYPE(Destination)
Q_DECLARE_METATYPE(std::optional<QUuid>)
Q_DECLARE_METATYPE(std::optional<Query>)

namespace {

const QUuid ruleA = QUuid::fromString(QStringLiteral("5a6b7c8d-1234-4cde-9f01-23456789abcd"));
const QUuid ruleB = QUuid::fromString(QStringLiteral("0f1e2d3c-4b5a-4968-8776-655443322110"));

QString text(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces);
}

} // namespace

// The links the block page opens, and the router state that the screens watch.
class TestAppRouter : public QObject {
    Q_OBJECT

private slots:
    void startsOnTheToDosWithNoRequests()
    {
        const AppRouter router;
        QCOMPARE(router.destination(), Destination::todos);
        QCOMPARE(router.urgentBreakRuleID(), std::nullopt);
        QCOMPARE(router.newItemRequest(), std::nullopt);
        QCOMPARE(router.showTodayRequest(), 0);
    }

    void destinationRawValues()
    {
        for (Destination d : {Destination::todos, Destination::block, Destination::notes, Destination::settings})
            QCOMPARE(AppRouter::destinationFromRaw(AppRouter::rawValue(d)), d);
        QCOMPARE(AppRouter::rawValue(Destination::settings), QStringLiteral("settings"));
        QCOMPARE(AppRouter::destinationFromRaw(QStringLiteral("Settings")), std::nullopt);
        QCOMPARE(AppRouter::destinationFromRaw(QString()), std::nullopt);
    }

    // Each link starts from the Notes page with rule B already requested, so that both what a
    // link sets and what it leaves alone show.
    void handle_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<Destination>("destination");
        QTest::addColumn<std::optional<QUuid>>("rule");

        const std::optional<QUuid> none;
        const std::optional<QUuid> kept = ruleB;
        const QString urgent = QStringLiteral("quillharbour://urgent-break");

        QTest::newRow("urgent break, valid rule")
            << urgent + "?rule=" + text(ruleA) << Destination::block << std::optional(ruleA);
        QTest::newRow("urgent break, upper-case rule")
            << urgent + "?rule=" + text(ruleA).toUpper() << Destination::block << std::optional(ruleA);
        QTest::newRow("urgent break, rule among others")
            << urgent + "?from=page&rule=" + text(ruleA) + "&x" << Destination::block << std::optional(ruleA);
        QTest::newRow("urgent break, path before query")
            << urgent + "/?rule=" + text(ruleA) << Destination::block << std::optional(ruleA);
        QTest::newRow("urgent break, rule not a UUID") << urgent + "?rule=tomorrow" << Destination::block << none;
        QTest::newRow("urgent break, rule in braces")
            << urgent + "?rule={" + text(ruleA) + "}" << Destination::block << none;
        QTest::newRow("urgent break, rule with trailing text")
            << urgent + "?rule=" + text(ruleA) + "x" << Destination::block << none;
        QTest::newRow("urgent break, empty rule") << urgent + "?rule=" << Destination::block << none;
        QTest::newRow("urgent break, no query") << urgent << Destination::block << none;
        QTest::newRow("urgent break, empty query") << urgent + "?" << Destination::block << none;
        QTest::newRow("urgent break, other items only") << urgent + "?id=" + text(ruleA) << Destination::block << none;
        QTest::newRow("urgent break, rule name in other case")
            << urgent + "?Rule=" + text(ruleA) << Destination::block << none;
        QTest::newRow("urgent break, two rules: last wins")
            << urgent + "?rule=" + text(ruleA) + "&rule=" + text(ruleB) << Destination::block << std::optional(ruleB);
        QTest::newRow("urgent break, valid then invalid rule")
            << urgent + "?rule=" + text(ruleA) + "&rule=nope" << Destination::block << none;
        QTest::newRow("urgent break, rule then rule without value")
            << urgent + "?rule=" + text(ruleA) + "&rule" << Destination::block << none;
        QTest::newRow("urgent break, rule without value then rule")
            << urgent + "?rule&rule=" + text(ruleA) << Destination::block << std::optional(ruleA);
        QTest::newRow("urgent break, other scheme")
            << "https://urgent-break?rule=" + text(ruleA) << Destination::block << std::optional(ruleA);

        QTest::newRow("settings keeps the rule") << "quillharbour://settings" << Destination::settings << kept;
        QTest::newRow("settings with a query")
            << "quillharbour://settings?rule=" + text(ruleA) << Destination::settings << kept;
        QTest::newRow("settings, other scheme") << "mailto-ish://settings" << Destination::settings << kept;

        // The host is compared exactly as written.
        QTest::newRow("Settings in other case") << "quillharbour://Settings" << Destination::todos << kept;
        QTest::newRow("SETTINGS") << "quillharbour://SETTINGS" << Destination::todos << kept;
        QTest::newRow("urgent break in other case")
            << "quillharbour://Urgent-Break?rule=" + text(ruleA) << Destination::todos << kept;
        QTest::newRow("scheme in other case") << "QuillHarbour://settings" << Destination::settings << kept;
        QTest::newRow("settings behind user and port")
            << "quillharbour://me@settings:8080/x" << Destination::settings << kept;

        QTest::newRow("open") << "quillharbour://open" << Destination::todos << kept;
        QTest::newRow("unknown host") << "quillharbour://notes" << Destination::todos << kept;
        QTest::newRow("host with trailing dot") << "quillharbour://settings." << Destination::todos << kept;
        QTest::newRow("no host") << "quillharbour:settings" << Destination::todos << kept;
        QTest::newRow("empty host") << "quillharbour:///settings" << Destination::todos << kept;
        QTest::newRow("urgent break as path")
            << "quillharbour:urgent-break?rule=" + text(ruleA) << Destination::todos << kept;
        QTest::newRow("other scheme, other host") << "https://example.com/settings" << Destination::todos << kept;
        QTest::newRow("not a URL") << "quillharbour://a b" << Destination::todos << kept;
        QTest::newRow("empty") << QString() << Destination::todos << kept;
    }

    void handle()
    {
        QFETCH(QString, link);
        QFETCH(Destination, destination);
        QFETCH(std::optional<QUuid>, rule);

        AppRouter router;
        router.setDestination(Destination::notes);
        router.setUrgentBreakRuleID(ruleB);
        router.setNewItemRequest(AppRouter::NewItem::note);
        router.handle(link);
        QCOMPARE(router.destination(), destination);
        QCOMPARE(router.urgentBreakRuleID(), rule);
        // Links never touch the other requests.
        QCOMPARE(router.newItemRequest(), std::optional(AppRouter::NewItem::note));
        QCOMPARE(router.showTodayRequest(), 0);
    }

    // The same links as URLs, wherever the host's letter case does not matter.
    void handleUrl()
    {
        AppRouter router;
        router.handle(QUrl(QStringLiteral("quillharbour://urgent-break?rule=") + text(ruleA)));
        QCOMPARE(router.destination(), Destination::block);
        QCOMPARE(router.urgentBreakRuleID(), std::optional(ruleA));
        router.handle(QUrl(QStringLiteral("quillharbour://settings")));
        QCOMPARE(router.destination(), Destination::settings);
        QCOMPARE(router.urgentBreakRuleID(), std::optional(ruleA));
        router.handle(QUrl(QStringLiteral("quillharbour://urgent-break")));
        QCOMPARE(router.destination(), Destination::block);
        QCOMPARE(router.urgentBreakRuleID(), std::nullopt);
        router.handle(QUrl(QStringLiteral("quillharbour:")));
        QCOMPARE(router.destination(), Destination::todos);
    }

    void queryParameters_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<std::optional<Query>>("expected");

        QTest::newRow("no query") << "quillharbour://urgent-break" << std::optional<Query>();
        QTest::newRow("no query, fragment") << "quillharbour://urgent-break#rule=x" << std::optional<Query>();
        QTest::newRow("empty query") << "quillharbour://urgent-break?" << std::optional(Query());
        QTest::newRow("one item") << "quillharbour://h?rule=abc" << std::optional(Query{{"rule", "abc"}});
        QTest::newRow("empty value") << "quillharbour://h?rule=" << std::optional(Query{{"rule", ""}});
        QTest::newRow("no value") << "quillharbour://h?rule" << std::optional(Query());
        QTest::newRow("last value wins") << "quillharbour://h?a=1&b=2&a=3"
                                         << std::optional(Query{{"a", "3"}, {"b", "2"}});
        QTest::newRow("no value removes") << "quillharbour://h?a=1&b=2&a" << std::optional(Query{{"b", "2"}});
        QTest::newRow("value after removal") << "quillharbour://h?a=1&a&a=4" << std::optional(Query{{"a", "4"}});
        QTest::newRow("empty items") << "quillharbour://h?&a=1&&" << std::optional(Query{{"a", "1"}});
        QTest::newRow("empty name") << "quillharbour://h?=v" << std::optional(Query{{"", "v"}});
        QTest::newRow("second equals sign") << "quillharbour://h?a=b=c" << std::optional(Query{{"a", "b=c"}});
        QTest::newRow("names are case-sensitive")
            << "quillharbour://h?a=1&A=2" << std::optional(Query{{"a", "1"}, {"A", "2"}});
        QTest::newRow("percent-encoding") << "quillharbour://h?to=a%26b%3Dc&p=%25&s=%20x+y"
                                          << std::optional(Query{{"to", "a&b=c"}, {"p", "%"}, {"s", " x+y"}});
        QTest::newRow("encoded name") << "quillharbour://h?a%3Db=1" << std::optional(Query{{"a=b", "1"}});
        QTest::newRow("query before fragment") << "quillharbour://h?a=1#b=2" << std::optional(Query{{"a", "1"}});
        QTest::newRow("non-ASCII") << QStringLiteral("quillharbour://h?n=%C3%A9t%C3%A9")
                                   << std::optional(Query{{"n", "été"}});
        QTest::newRow("invalid URL") << "quillharbour://a b?a=1" << std::optional<Query>();
    }

    void queryParameters()
    {
        QFETCH(QString, link);
        QFETCH(std::optional<Query>, expected);
        QCOMPARE(AppRouter::queryParameters(QUrl(link)), expected);
    }

    void signalsOnlyOnRealChanges()
    {
        AppRouter router;
        QSignalSpy destination(&router, &AppRouter::destinationChanged);
        QSignalSpy rule(&router, &AppRouter::urgentBreakRuleIDChanged);
        QSignalSpy newItem(&router, &AppRouter::newItemRequestChanged);
        QSignalSpy today(&router, &AppRouter::showTodayRequestChanged);

        router.handle(QStringLiteral("quillharbour://open")); // already on the to-dos, no rule
        router.setDestination(Destination::todos);
        router.setUrgentBreakRuleID(std::nullopt);
        router.setNewItemRequest(std::nullopt);
        QCOMPARE(destination.count(), 0);
        QCOMPARE(rule.count(), 0);
        QCOMPARE(newItem.count(), 0);

        const QString link = QStringLiteral("quillharbour://urgent-break?rule=") + text(ruleA);
        router.handle(link);
        QCOMPARE(destination.count(), 1);
        QCOMPARE(rule.count(), 1);
        router.handle(link);
        QCOMPARE(destination.count(), 1);
        QCOMPARE(rule.count(), 1);
        // The same rule written in capitals is the same rule.
        router.handle(QStringLiteral("quillharbour://urgent-break?rule=") + text(ruleA).toUpper());
        QCOMPARE(rule.count(), 1);

        router.handle(QStringLiteral("quillharbour://settings"));
        QCOMPARE(destination.count(), 2);
        QCOMPARE(rule.count(), 1);
        router.handle(QStringLiteral("quillharbour://urgent-break?rule=x"));
        QCOMPARE(destination.count(), 3);
        QCOMPARE(rule.count(), 2);
        QCOMPARE(router.urgentBreakRuleID(), std::nullopt);
        router.handle(QStringLiteral("quillharbour://urgent-break"));
        QCOMPARE(destination.count(), 3);
        QCOMPARE(rule.count(), 2);

        router.setNewItemRequest(AppRouter::NewItem::todo);
        router.setNewItemRequest(AppRouter::NewItem::todo);
        QCOMPARE(newItem.count(), 1);
        router.setNewItemRequest(AppRouter::NewItem::note);
        router.setNewItemRequest(std::nullopt);
        QCOMPARE(newItem.count(), 3);

        // The counter's value means nothing; every request must be seen.
        router.requestShowToday();
        router.requestShowToday();
        QCOMPARE(today.count(), 2);
        QCOMPARE(router.showTodayRequest(), 2);
        QCOMPARE(destination.count(), 3);
    }
};

QTEST_GUILESS_MAIN(TestAppRouter)
#include "tst_app_router.moc"
