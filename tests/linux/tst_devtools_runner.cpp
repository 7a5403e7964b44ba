#include "HeadlessChromium.h"
#include "SessionBus.h"
#include "SiteServer.h"
#include "linux/DevToolsClient.h"
#include "linux/DevToolsConnections.h"
#include "linux/DevToolsNavigationInterceptor.h"
#include "linux/DevToolsScriptRunner.h"
#include "platform/BrowserCommand.h"

#include <QDir>
#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

Q_DECLARE_METATYPE(BrowserScriptResult)
Q_DECLARE_METATYPE(BrowserCommand)

namespace {

// Accepts connections and hangs up at once, like a port file whose browser has gone and whose
// port something else now holds.
class HangUpServer : public QTcpServer {
public:
    HangUpServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                s->disconnectFromHost();
            }
        });
    }
};

const SupportedBrowser& chrome()
{
    return *SupportedBrowser::withId(QStringLiteral("chrome"));
}

BrowserCommand readCommand(const SupportedBrowser& browser = chrome())
{
    return BrowserCommand::read(browser);
}

BrowserCommand redirectCommand(const QString& from, const QString& to)
{
    return BrowserCommand::redirect(chrome(), from, to);
}

BrowserCommand closeCommand(const QString& url)
{
    return BrowserCommand::close(chrome(), url);
}

BrowserScriptResult text(const QString& output)
{
    return BrowserScriptResult::answer(output);
}

// A focused read's answer written as "focused" or "background", a line feed and the address.
BrowserScriptResult focusAnswer(const QString& written)
{
    const qsizetype newline = written.indexOf(u'\n');
    return BrowserScriptResult::focusedRead(written.left(newline) == QLatin1String("focused"),
                                            written.mid(newline + 1));
}

const QString start = QStringLiteral("http://example.com/start");

} // namespace

namespace QTest {
template <> char* toString(const BrowserScriptResult& r)
{
    return qstrdup(QStringLiteral("output=%1 error=%2 (%3)")
                       .arg(r.output ? QLatin1Char('"') + *r.output + QLatin1Char('"') +
                                           (r.focused ? (*r.focused ? " (focused)" : " (background)") : "")
                                     : QStringLiteral("none"),
                            r.error ? QString::number(int(*r.error)) : QStringLiteral("none"),
                            r.errorMessage.value_or(QString()))
                       .toUtf8()
                       .constData());
}
} // namespace QTest

// The browser scripts carried out on a real Chromium through its debugging port, found in the
// profile folder where Google Chrome keeps it.
class TestDevToolsRunner : public QObject {
    Q_OBJECT

    // How long a condition may take on a busy machine; a condition met early ends the wait.
    static constexpr int patience = 30000;

    std::unique_ptr<SessionBus> bus;
    std::unique_ptr<SiteServer> site;
    std::unique_ptr<HeadlessChromium> browser;
    std::unique_ptr<DevToolsClient> driver; // what the person at the keyboard does
    QTemporaryDir home;
    bool running = true;
    std::unique_ptr<DevToolsScriptRunner> runner;
    QString page; // the one tab each test starts with

    BrowserScriptResult run(DevToolsScriptRunner& r, const BrowserCommand& script)
    {
        std::optional<BrowserScriptResult> result;
        int answers = 0;
        r.run(script, [&](const BrowserScriptResult& value) {
            ++answers;
            if (!result)
                result = value;
        });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
            return {std::nullopt, BrowserCommandError::failed, QStringLiteral("no answer")};
        // An answer is given once; a late second one would reach a finished job.
        QTest::qWait(20);
        if (answers != 1)
            return {std::nullopt, BrowserCommandError::failed, QStringLiteral("answered %1 times").arg(answers)};
        return *result;
    }
    BrowserScriptResult run(const BrowserCommand& script) { return run(*runner, script); }

    QJsonObject call(const QString& method, const QJsonObject& params = {}, const QString& session = {})
    {
        std::optional<QJsonObject> answer;
        driver->send(
            method, params, 5000, [&](const QJsonObject& result, const QString&) { answer = result; }, session);
        if (!QTest::qWaitFor([&] { return answer.has_value(); }, 6000))
            return {};
        return *answer;
    }

    // Page targets by id, with their addresses.
    QHash<QString, QString> pages()
    {
        QHash<QString, QString> out;
        for (const QJsonValue& t :
             call(QStringLiteral("Target.getTargets")).value(QStringLiteral("targetInfos")).toArray())
            if (t.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                out.insert(t.toObject().value(QStringLiteral("targetId")).toString(),
                           t.toObject().value(QStringLiteral("url")).toString());
        return out;
    }

    QString attach(const QString& targetId)
    {
        return call(QStringLiteral("Target.attachToTarget"),
                    {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}})
            .value(QStringLiteral("sessionId"))
            .toString();
    }

    QString evaluate(const QString& targetId, const QString& expression, int timeoutMs = 5000)
    {
        const QString session = attach(targetId);
        std::optional<QJsonObject> answer;
        driver->send(
            QStringLiteral("Runtime.evaluate"),
            {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}}, timeoutMs,
            [&](const QJsonObject& result, const QString&) { answer = result; }, session);
        [[maybe_unused]] const bool answered = QTest::qWaitFor([&] { return answer.has_value(); }, timeoutMs + 1000);
        call(QStringLiteral("Target.detachFromTarget"), {{QStringLiteral("sessionId"), session}});
        return answer.value_or(QJsonObject())
            .value(QStringLiteral("result"))
            .toObject()
            .value(QStringLiteral("value"))
            .toVariant()
            .toString();
    }

    void navigate(const QString& targetId, const QString& url)
    {
        const QString session = attach(targetId);
        call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}, session);
        call(QStringLiteral("Target.detachFromTarget"), {{QStringLiteral("sessionId"), session}});
    }

    // A new tab showing the address, once its document is there. (A headless tab created with
    // an address shows "about:blank" until it is told to navigate.)
    QString openPage(const QString& url)
    {
        const QString id =
            call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), QStringLiteral("about:blank")}})
                .value(QStringLiteral("targetId"))
                .toString();
        navigate(id, url);
        if (!QTest::qWaitFor(
                [&] {
                    return evaluate(id, QStringLiteral("location.href + ' ' + document.readyState")) ==
                           url + QStringLiteral(" complete");
                },
                5000))
            return {};
        return id;
    }

    void closeAllPagesBut(const QString& keep)
    {
        for (const QString& id : pages().keys())
            if (id != keep)
                call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), id}});
        QTRY_VERIFY_WITH_TIMEOUT(pages().size() == (keep.isEmpty() ? 0 : 1), patience);
    }

private slots:
    void initTestCase()
    {
        if (!HeadlessChromium::isInstalled())
            QFAIL("chromium is not installed (scripts/install-deps installs it)");
        bus = std::make_unique<SessionBus>();
        QVERIFY2(!bus->address().isEmpty(), "dbus-daemon could not be started");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toLocal8Bit());
        site = std::make_unique<SiteServer>();
        QVERIFY(site->isListening());
        const QString rules =
            QStringLiteral("MAP example.com 127.0.0.1:%1, MAP nowhere.example.org ~NOTFOUND").arg(site->serverPort());
        browser = std::make_unique<HeadlessChromium>(QStringList{QStringLiteral("--host-resolver-rules=") + rules});
        const std::optional<QUrl> endpoint = browser->browserEndpoint();
        QVERIFY2(endpoint, "chromium did not open its debugging port");

        // The runner looks where Google Chrome keeps its profile under its home.
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral(".config"))));
        QCOMPARE(symlink(browser->profilePath().toLocal8Bit().constData(),
                         home.filePath(QStringLiteral(".config/google-chrome")).toLocal8Bit().constData()),
                 0);

        driver = std::make_unique<DevToolsClient>();
        QString error = QStringLiteral("pending");
        driver->open(*endpoint, 10000, [&error](const QString& e) { error = e; });
        QTRY_VERIFY_WITH_TIMEOUT(error != QLatin1String("pending"), 12000);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        runner = std::make_unique<DevToolsScriptRunner>([this](const QString&) { return running; }, home.path());
    }

    void init()
    {
        running = true;
        // A single tab still on the start page, as the last test left it, serves again.
        if (const QHash<QString, QString> open = pages(); open.size() == 1 && open.value(page) == start)
            return;
        page = openPage(start);
        QVERIFY(!page.isEmpty());
        closeAllPagesBut(page);
    }

    void readsTheCurrentTab()
    {
        QVERIFY(evaluate(page, QStringLiteral("history.pushState(null, '', '/moved?x=1'); location.href"))
                    .endsWith(QLatin1String("/moved?x=1")));
        QCOMPARE(run(readCommand()), text(QStringLiteral("http://example.com/moved?x=1")));
    }

    // Once the browser has told of its tabs, a read asks it nothing: its reports keep the
    // address of each tab, however the tab got there.
    void readsFromTheBrowsersReports_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("expected");
        QTest::newRow("as it stands") << "none" << start;
        QTest::newRow("an address set by the page") << "pushState"
                                                    << "http://example.com/moved?y=2";
        QTest::newRow("a load") << "navigate"
                                << "http://example.com/next";
    }

    void readsFromTheBrowsersReports()
    {
        QFETCH(QString, how);
        QFETCH(QString, expected);
        DevToolsConnections connections(home.path());
        DevToolsScriptRunner reader([this](const QString&) { return running; }, &connections);
        QCOMPARE(run(reader, readCommand()), text(start));
        const QString browserId = chrome().id;
        QTRY_VERIFY_WITH_TIMEOUT(connections.targets(browserId).has_value(), 30000);
        DevToolsClient* client = connections.openClient(browserId);
        QVERIFY(client);
        const qint64 sent = client->commandsSent();
        // Answered from the reports alone, a read stands until the browser tells of a change.
        QCOMPARE(run(reader, readCommand()), text(start));
        QVERIFY(reader.readUnchanged(browserId));
        if (how == QLatin1String("pushState"))
            evaluate(page, QStringLiteral("history.pushState(null, '', '/moved?y=2'); location.href"));
        else if (how == QLatin1String("navigate"))
            navigate(page, QStringLiteral("http://example.com/next"));
        if (how != QLatin1String("none"))
            QTRY_VERIFY_WITH_TIMEOUT(!reader.readUnchanged(browserId), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(run(reader, readCommand()), text(expected), 30000);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(run(reader, readCommand()), text(expected));
        QCOMPARE(client->commandsSent(), sent);
        QVERIFY(reader.readUnchanged(browserId));
        QVERIFY(!reader.readUnchanged(QStringLiteral("brave")));
    }

    void noPageAnswersAsNoWindow()
    {
        closeAllPagesBut(QString());
        QCOMPARE(run(readCommand()), text(QString()));
        QCOMPARE(run(redirectCommand(start, QStringLiteral("http://example.com/blocked"))),
                 text(QStringLiteral("no-window")));
        QCOMPARE(run(closeCommand(start)), text(QStringLiteral("no-window")));
    }

    void redirect_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("plain") << "http://example.com/blocked?from=start"
                               << "http://example.com/blocked?from=start";
        // Whatever the target holds stays one string inside the page.
        QTest::newRow("quotes and backslash")
            << "http://example.com/b?q=it's \"x\"\\');location.replace('http://example.org/')//"
            << "http://example.com/b?q=it%27s%20%22x%22\\%27);location.replace(%27http://example.org/%27)//";
    }

    void redirect()
    {
        QFETCH(QString, to);
        QFETCH(QString, loaded);
        const BrowserScriptResult read = run(readCommand());
        QCOMPARE(read, text(start));
        QCOMPARE(run(redirectCommand(*read.output, to)), text(QStringLiteral("redirected")));
        QTRY_COMPARE_WITH_TIMEOUT(pages().value(page), loaded, patience);
        QCOMPARE(run(readCommand()), text(loaded));
        // An ordinary navigation: the blocked address stays in the history, one step back.
        evaluate(page, QStringLiteral("history.back(); 1"));
        QTRY_COMPARE_WITH_TIMEOUT(pages().value(page), start, patience);
    }

    void redirectOfAChangedTabDoesNothing()
    {
        // Only the address as a whole counts.
        QCOMPARE(run(redirectCommand(start + QLatin1Char('/'), QStringLiteral("http://example.com/blocked"))),
                 text(QStringLiteral("changed")));
        QCOMPARE(run(redirectCommand(QStringLiteral("http://EXAMPLE.com/start#x"),
                                     QStringLiteral("http://example.com/blocked"))),
                 text(QStringLiteral("changed")));
        QTest::qWait(300);
        QCOMPARE(pages().value(page), start);
    }

    void close()
    {
        const QString other = openPage(QStringLiteral("http://example.com/other"));
        QVERIFY(!other.isEmpty());
        // The most recently activated tab is the current one.
        QCOMPARE(run(readCommand()), text(QStringLiteral("http://example.com/other")));
        QCOMPARE(run(closeCommand(start)), text(QStringLiteral("changed")));
        QTest::qWait(200);
        QCOMPARE(pages().size(), 2);
        QCOMPARE(run(closeCommand(QStringLiteral("http://example.com/other"))), text(QStringLiteral("closed")));
        QTRY_VERIFY_WITH_TIMEOUT(!pages().contains(other), patience);
        QVERIFY(pages().contains(page));
    }

    void errorPageRedirectsByItsAttemptedAddress()
    {
        const QString failed = QStringLiteral("http://nowhere.example.org/feed");
        navigate(page, failed);
        QTRY_COMPARE_WITH_TIMEOUT(evaluate(page, QStringLiteral("location.href")),
                                  QStringLiteral("chrome-error://chromewebdata/"), patience);
        QCOMPARE(run(readCommand()), text(failed));
        QCOMPARE(run(redirectCommand(QStringLiteral("http://nowhere.example.org/other"),
                                     QStringLiteral("http://example.com/blocked"))),
                 text(QStringLiteral("changed")));
        QCOMPARE(run(redirectCommand(failed, QStringLiteral("http://example.com/blocked"))),
                 text(QStringLiteral("redirected")));
        QTRY_COMPARE_WITH_TIMEOUT(pages().value(page), QStringLiteral("http://example.com/blocked"), patience);
    }

    void openAlertDoesNotHang()
    {
        const auto openAlert = [this] {
            evaluate(page, QStringLiteral("setTimeout(() => alert('wait'), 0); 1"));
            QTest::qWait(200);
            // While the alert is open the page cannot answer.
            return evaluate(page, QStringLiteral("location.href"), 500).isEmpty();
        };
        QVERIFY(openAlert());

        // Every step has its own time-out, so the runner answers although the page cannot.
        QCOMPARE(run(readCommand()), text(start));
        const BrowserScriptResult redirected =
            run(redirectCommand(start, QStringLiteral("http://example.com/blocked")));
        if (redirected.error == BrowserCommandError::timedOut) {
            // The browser would not navigate with the alert open; the engine's next check retries.
            call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), page}});
            return;
        }
        QCOMPARE(redirected, text(QStringLiteral("redirected")));
        QTRY_COMPARE_WITH_TIMEOUT(pages().value(page), QStringLiteral("http://example.com/blocked"), patience);

        // Closing works with an alert open too.
        QVERIFY(openAlert());
        QCOMPARE(run(closeCommand(QStringLiteral("http://example.com/blocked"))), text(QStringLiteral("closed")));
        QTRY_VERIFY_WITH_TIMEOUT(!pages().contains(page), patience);
    }

    // Answers that never reach the browser: a browser that is not running, or one without a
    // debugging port.
    void answersWithoutTheBrowser_data()
    {
        QTest::addColumn<BrowserCommand>("script");
        QTest::addColumn<bool>("isRunning");
        QTest::addColumn<QString>("profile"); // "browser", "empty" (no port file), "stale", "none"
        QTest::addColumn<BrowserScriptResult>("expected");

        const QString to = QStringLiteral("http://example.com/blocked");
        QTest::newRow("not running: read") << readCommand() << false << "browser" << text(QString());
        QTest::newRow("not running: redirect")
            << redirectCommand(start, to) << false << "browser" << text(QStringLiteral("no-window"));
        QTest::newRow("not running: close")
            << closeCommand(start) << false << "browser" << text(QStringLiteral("no-window"));

        const BrowserScriptResult refused{
            std::nullopt, BrowserCommandError::notPermitted,
            QStringLiteral("The browser was started without remote debugging, so Quillharbour cannot see its tabs.")};
        QTest::newRow("no profile folder") << readCommand() << true << "none" << refused;
        QTest::newRow("no port file") << redirectCommand(start, to) << true << "empty" << refused;
        QTest::newRow("port file of a gone browser")
            << readCommand() << true << "stale"
            << BrowserScriptResult{std::nullopt, BrowserCommandError::browserNotRunning,
                                   QStringLiteral("The browser is not running.")};
        QTest::newRow("browser the protocol cannot reach")
            << readCommand(*SupportedBrowser::withId(QStringLiteral("firefox"))) << true << "browser"
            << BrowserScriptResult{std::nullopt, BrowserCommandError::unsupported,
                                   QStringLiteral("This browser cannot be reached on this system.")};
    }

    void answersWithoutTheBrowser()
    {
        QFETCH(BrowserCommand, script);
        QFETCH(bool, isRunning);
        QFETCH(QString, profile);
        QFETCH(BrowserScriptResult, expected);

        QTemporaryDir otherHome;
        HangUpServer hangUp;
        QString runnerHome = home.path();
        if (profile != QLatin1String("browser")) {
            runnerHome = otherHome.path();
            const QDir folder(otherHome.filePath(QStringLiteral(".config/google-chrome")));
            if (profile != QLatin1String("none"))
                QVERIFY(QDir().mkpath(folder.path()));
            if (profile == QLatin1String("stale")) {
                QFile port(folder.filePath(QStringLiteral("DevToolsActivePort")));
                QVERIFY(port.open(QIODevice::WriteOnly));
                port.write(QByteArray::number(hangUp.serverPort()) +
                           "\n/devtools/browser/0b0e9c1a-5d3c-4f4e-9a51-000000000000");
            }
        }
        DevToolsScriptRunner r([isRunning](const QString&) { return isRunning; }, runnerHome);
        QCOMPARE(run(r, script), expected);
        QCOMPARE(pages().value(page), start);
    }

    // What the browser is asked to hold: the domain and its subdomains, on any port, in the
    // encoded form the browser compares; never a text that would read as wildcards.
    // Asked every check where the desktop names no front window: the tab found with the focus
    // the last time is asked alone while it keeps it, in one round trip.
    void focusedReads_data()
    {
        QTest::addColumn<QString>("change"); // between the two reads
        QTest::addColumn<QString>("second"); // the second read's answer; %1: the start page
        QTest::addColumn<bool>("alone");     // answered by one command at most
        QTest::newRow("the same tab, unchanged") << ""
                                                 << "focused\n%1" << true;
        QTest::newRow("navigated since") << "navigate"
                                         << "focused\nhttp://example.com/next" << true;
        QTest::newRow("an error page: the address it tried") << "error"
                                                             << "focused\nhttp://nowhere.example.org/" << false;
        QTest::newRow("that tab closed, another open") << "close"
                                                       << "focused\nhttp://example.com/other" << false;
    }

    void focusedReads()
    {
        QFETCH(QString, change);
        QFETCH(QString, second);
        QFETCH(bool, alone);
        DevToolsConnections connections(home.path());
        DevToolsScriptRunner focusRunner([this](const QString&) { return running; }, &connections);
        // A headless window has no focus of its own: the page is told it has it while this
        // session lasts.
        const QString session = attach(page);
        call(QStringLiteral("Emulation.setFocusEmulationEnabled"), {{QStringLiteral("enabled"), true}}, session);
        const BrowserCommand focused = BrowserCommand::readFocused(chrome());
        QCOMPARE(run(focusRunner, focused), BrowserScriptResult::focusedRead(true, start));
        DevToolsClient* client = connections.openClient(chrome().id);
        QVERIFY(client);
        const auto go = [&](const QString& url) {
            call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}, session);
            QTRY_COMPARE_WITH_TIMEOUT(pages().value(page), url, patience);
        };
        if (change == QLatin1String("navigate"))
            go(QStringLiteral("http://example.com/next"));
        else if (change == QLatin1String("error"))
            go(QStringLiteral("http://nowhere.example.org/"));
        if (change == QLatin1String("close")) {
            QVERIFY(!openPage(QStringLiteral("http://example.com/other")).isEmpty());
            call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), page}});
            QTRY_COMPARE_WITH_TIMEOUT(pages().size(), 1, patience);
        }
        // The first read began the page's watch; its last command follows an answer, so the
        // count starts once nothing is awaited.
        QTRY_COMPARE_WITH_TIMEOUT(client->commandsAwaited(), 0, patience);
        const qint64 before = client->commandsSent();
        QCOMPARE(run(focusRunner, focused), focusAnswer(QString(second).replace(QStringLiteral("%1"), start)));
        // A page that has told of its focus since costs nothing; one in between documents is asked.
        if (alone)
            QVERIFY(client->commandsSent() - before <= 1);
        if (change != QLatin1String("close"))
            call(QStringLiteral("Target.detachFromTarget"), {{QStringLiteral("sessionId"), session}});
    }

    // What each check costs where the desktop names no front window, counted in commands sent:
    // once asked, each page tells of its focus and visibility itself, so a check after which
    // nothing changed sends nothing; a tab that gains or loses the focus is seen from what it told,
    // without asking, and a tab not heard from yet (just opened, or on a new connection) is asked.
    void commandsPerCheck_data()
    {
        QTest::addColumn<bool>("twoTabs");   // a second tab before the first check
        QTest::addColumn<QString>("before"); // the tab with the focus at the first check
        QTest::addColumn<QString>("change"); // once checks cost nothing
        QTest::addColumn<QString>("told");   // what a page tells after the change, awaited
        QTest::addColumn<QString>("answer"); // the next check's; %1: the start page, %2: the other
        QTest::addColumn<bool>("asks");      // the next check sends commands
        QTest::newRow("no tab focused for several checks") << false << ""
                                                           << ""
                                                           << ""
                                                           << "background\n%1" << false;
        QTest::newRow("the focused tab keeps it") << false << "first"
                                                  << ""
                                                  << ""
                                                  << "focused\n%1" << false;
        QTest::newRow("a tab gains the focus") << false << ""
                                               << "focus first"
                                               << "2"
                                               << "focused\n%1" << false;
        QTest::newRow("the focused tab loses it") << false << "first"
                                                  << "unfocus"
                                                  << "0"
                                                  << "background\n%1" << false;
        QTest::newRow("the focus moves to another tab") << true << "first"
                                                        << "focus second"
                                                        << "2"
                                                        << "focused\n%2" << false;
        QTest::newRow("a tab opened while unfocused, then focused") << false << ""
                                                                    << "open second, focus it"
                                                                    << ""
                                                                    << "focused\n%2" << true;
        QTest::newRow("a tab closed while unfocused") << true << ""
                                                      << "close second"
                                                      << ""
                                                      << "background\n%1" << false;
        QTest::newRow("a page navigated while focused") << false << "first"
                                                        << "navigate"
                                                        << "2"
                                                        << "focused\n%2" << false;
        // Its main world holds no such function, and events it makes up are not the browser's.
        QTest::newRow("a focused page claims to be in the background") << false << "first"
                                                                       << "fake"
                                                                       << ""
                                                                       << "focused\n%1" << false;
        QTest::newRow("the connection lost and back") << false << ""
                                                      << "hang up"
                                                      << ""
                                                      << "background\n%1" << true;
    }

    void commandsPerCheck()
    {
        QFETCH(bool, twoTabs);
        QFETCH(QString, before);
        QFETCH(QString, change);
        QFETCH(QString, told);
        QFETCH(QString, answer);
        QFETCH(bool, asks);
        const QString other = QStringLiteral("http://example.com/other");
        DevToolsConnections connections(home.path());
        DevToolsScriptRunner focusRunner([this](const QString&) { return running; }, &connections);
        const BrowserCommand focused = BrowserCommand::readFocused(chrome());
        QString second = twoTabs ? openPage(other) : QString();
        QVERIFY(!twoTabs || !second.isEmpty());
        // A page has the focus while its tab is the active one of a window shown; with every
        // window minimized none has it, as with the browser in the background.
        const auto windows = [&](const QString& state) {
            for (const QString& target : pages().keys())
                call(QStringLiteral("Browser.setWindowBounds"),
                     {{QStringLiteral("windowId"),
                       call(QStringLiteral("Browser.getWindowForTarget"), {{QStringLiteral("targetId"), target}})
                           .value(QStringLiteral("windowId"))},
                      {QStringLiteral("bounds"), QJsonObject{{QStringLiteral("windowState"), state}}}});
        };
        const auto hasFocus = [&](const QString& target) {
            return evaluate(target, QStringLiteral("String(document.hasFocus())")) == QLatin1String("true");
        };
        const auto focus = [&](const QString& target) {
            windows(QStringLiteral("normal"));
            call(QStringLiteral("Target.activateTarget"), {{QStringLiteral("targetId"), target}});
            QTRY_VERIFY_WITH_TIMEOUT(hasFocus(target), patience);
        };
        const auto unfocus = [&] {
            windows(QStringLiteral("minimized"));
            QTRY_VERIFY_WITH_TIMEOUT(!hasFocus(page), patience);
        };
        if (before == QLatin1String("first"))
            focus(page);
        else
            unfocus();
        QVERIFY(run(focusRunner, focused).output.has_value());
        DevToolsClient* client = connections.openClient(chrome().id);
        QVERIFY(client);
        // What the pages tell, as the runner hears it.
        QStringList heard;
        QObject::connect(client, &DevToolsClient::protocolEvent, this,
                         [&heard](const QString& method, const QJsonObject& params, const QString&) {
                             if (method == QLatin1String("Runtime.bindingCalled"))
                                 heard.append(params.value(QStringLiteral("payload")).toString());
                         });

        const auto cost = [&] {
            DevToolsClient* before = connections.openClient(chrome().id);
            const qint64 sent = before ? before->commandsSent() : 0;
            const BrowserScriptResult result = run(focusRunner, focused);
            DevToolsClient* after = connections.openClient(chrome().id);
            return std::make_pair(result, after ? after->commandsSent() - (after == before ? sent : 0) : -1);
        };
        // The pages were asked once; their first word comes soon after. (A page whose window was
        // just minimized may still have called itself visible when asked.)
        const auto free = [&](const std::optional<BrowserScriptResult>& expected) {
            const auto [result, sent] = cost();
            return result.output && (!expected || result == *expected) && sent == 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(free(std::nullopt), patience);

        heard.clear();
        if (change == QLatin1String("focus first")) {
            focus(page);
        } else if (change == QLatin1String("unfocus")) {
            unfocus();
        } else if (change == QLatin1String("focus second")) {
            focus(second);
        } else if (change == QLatin1String("open second, focus it")) {
            second = openPage(other);
            QVERIFY(!second.isEmpty());
            focus(second);
        } else if (change == QLatin1String("close second")) {
            call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), second}});
            QTRY_COMPARE_WITH_TIMEOUT(pages().size(), 1, patience);
        } else if (change == QLatin1String("navigate")) {
            navigate(page, other);
            QTRY_COMPARE_WITH_TIMEOUT(evaluate(page, QStringLiteral("location.href + ' ' + document.readyState")),
                                      other + QStringLiteral(" complete"), patience);
        } else if (change == QLatin1String("fake")) {
            QCOMPARE(evaluate(page, QStringLiteral("document.hasFocus = () => false;"
                                                   "window.dispatchEvent(new Event('blur'));"
                                                   "document.dispatchEvent(new Event('visibilitychange'));"
                                                   "try { quillharbourFocus('0'); 'called' } catch (e) { 'none' }")),
                     QStringLiteral("none"));
        } else if (change == QLatin1String("hang up")) {
            client->close();
            QTRY_VERIFY_WITH_TIMEOUT(!connections.openClient(chrome().id), patience);
        }
        if (!told.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(heard.contains(told), patience);
        const BrowserScriptResult expected =
            focusAnswer(answer.replace(QStringLiteral("%1"), start).replace(QStringLiteral("%2"), other));
        // What was awaited may be a late word of the page before the change, and a new document
        // tells first before its focus arrives: the checks follow what is told until it settles.
        std::optional<qint64> first;
        qint64 spent = 0;
        const auto settled = [&] {
            const auto [result, sent] = cost();
            first = first.value_or(sent);
            spent += sent;
            return result == expected;
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), patience);
        QCOMPARE(*first > 0, asks);
        if (asks)
            QTRY_VERIFY_WITH_TIMEOUT(free(expected), patience);
        else
            QCOMPARE(spent, 0);
        for (int i = 0; i < 2; ++i) {
            const auto [again, later] = cost();
            QCOMPARE(again, expected);
            QCOMPARE(later, 0);
        }
        windows(QStringLiteral("normal"));
    }

    void heldPatterns_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QStringList>("patterns");
        const auto of = [](const QString& host) {
            return QStringList{QStringLiteral("*://%1/*").arg(host), QStringLiteral("*://%1:*").arg(host),
                               QStringLiteral("*://*.%1/*").arg(host), QStringLiteral("*://*.%1:*").arg(host)};
        };
        QTest::newRow("plain") << QStringLiteral("example.com") << of(QStringLiteral("example.com"));
        QTest::newRow("letter case and spaces") << QStringLiteral(" Example.COM ") << of(QStringLiteral("example.com"));
        QTest::newRow("international") << QStringLiteral("bücher.de") << of(QStringLiteral("xn--bcher-kva.de"));
        QTest::newRow("a wildcard") << QStringLiteral("*.example.com") << QStringList();
        QTest::newRow("an escape") << QStringLiteral("exa\\mple.com") << QStringList();
        QTest::newRow("empty") << QString() << QStringList();
    }
    void heldPatterns()
    {
        QFETCH(QString, domain);
        QFETCH(QStringList, patterns);
        QCOMPARE(DevToolsNavigationInterceptor::patterns(domain), patterns);
    }
};

QTEST_GUILESS_MAIN(TestDevToolsRunner)
#include "tst_devtools_runner.moc"
