#include "ExtensionBrowserRig.h"
#include "linux/DevToolsClient.h"
#include "linux/LinuxBrowsers.h"
#include "model/Json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>

using namespace ExtensionBrowserRig;

namespace {

const QString chromiumID = QStringLiteral("chromium");

// Debian's chromium with the extension unpacked, on this test's HOME and private desktop, its
// debugging port for the test's own eyes only.
struct Chromium {
    QProcess process;
    quint16 debugPort = 0;
    // The usual profile folder, where the program writes the browser's link file.
    const QString profile = LinuxBrowsers::homeFolder(QDir::homePath(), QStringLiteral(".config/chromium"));

    bool start(quint16 sitePort)
    {
        QFile::remove(QDir(profile).filePath(QStringLiteral("DevToolsActivePort")));
        process.setProgram(QStringLiteral("chromium"));
        process.setArguments(chromiumArguments(sitePort) +
                             QStringList{QStringLiteral("--user-data-dir=") + profile,
                                         QStringLiteral("--remote-debugging-port=0"),
                                         QStringLiteral("--load-extension=") + QStringLiteral(QH_EXTENSION) +
                                             QStringLiteral("/chromium"),
                                         QStringLiteral("about:blank")});
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start();
        if (!process.waitForStarted(patience))
            return false;
        return QTest::qWaitFor(
            [&] {
                QFile f(QDir(profile).filePath(QStringLiteral("DevToolsActivePort")));
                debugPort = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readLine()).trimmed().toUShort() : 0;
                return debugPort != 0;
            },
            patience);
    }
    ~Chromium() { stop(process); }

    // What the browser lists of its targets.
    QJsonArray targets() const
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, debugPort);
        if (!s.waitForConnected(5000))
            return {};
        // The addresses it lists are built on the Host it was asked at.
        s.write("GET /json/list HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(debugPort) +
                "\r\nConnection: close\r\n\r\n");
        // The browser keeps the connection open whatever the request asks: the answer ends
        // where its length says.
        QByteArray all;
        const auto complete = [&] {
            const qsizetype head = all.indexOf("\r\n\r\n");
            if (head < 0)
                return false;
            static const QRegularExpression length(QStringLiteral("(?im)^content-length:\\s*(\\d+)"));
            const QRegularExpressionMatch m = length.match(QString::fromLatin1(all.left(head)));
            return m.hasMatch() && all.size() - head - 4 >= m.captured(1).toLongLong();
        };
        while (!complete() && s.waitForReadyRead(5000))
            all += s.readAll();
        return QJsonDocument::fromJson(all.mid(all.indexOf("\r\n\r\n") + 4)).array();
    }

    // The tabs, as "title\turl".
    QStringList pages() const
    {
        QStringList pages;
        for (const QJsonValue& v : targets())
            if (v.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                pages.append(v.toObject().value(QStringLiteral("title")).toString() + u'\t' +
                             v.toObject().value(QStringLiteral("url")).toString());
        return pages;
    }
    bool shows(const QString& part) const
    {
        const QStringList all = pages();
        return std::any_of(all.cbegin(), all.cend(), [&](const QString& p) { return p.contains(part); });
    }
    bool showing(const QString& part) const
    {
        return QTest::qWaitFor([&] { return shows(part); }, patience);
    }

    // How many redirect rules the extension holds, asked in its own worker; nothing when that
    // cannot be reached.
    std::optional<int> extensionRules() const
    {
        QString endpoint;
        for (const QJsonValue& v : targets())
            if (v.toObject().value(QStringLiteral("type")).toString() == QLatin1String("service_worker") &&
                v.toObject()
                    .value(QStringLiteral("url"))
                    .toString()
                    .startsWith(QStringLiteral("chrome-extension://") + NativeMessaging::chromiumExtensionId))
                endpoint = v.toObject().value(QStringLiteral("webSocketDebuggerUrl")).toString();
        if (endpoint.isEmpty()) {
            return std::nullopt;
        }
        DevToolsClient worker;
        std::optional<QString> opened;
        worker.open(QUrl(endpoint), 5000, [&](const QString& error) { opened = error; });
        if (!QTest::qWaitFor([&] { return opened.has_value(); }, 6000) || !opened->isEmpty())
            return std::nullopt;
        std::optional<QJsonObject> answer;
        worker.send(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"),
                      QStringLiteral("chrome.declarativeNetRequest.getDynamicRules().then((r) => r.length)")},
                     {QStringLiteral("awaitPromise"), true},
                     {QStringLiteral("returnByValue"), true}},
                    5000, [&](const QJsonObject& result, const QString&) { answer = result; });
        if (!QTest::qWaitFor([&] { return answer.has_value(); }, 6000))
            return std::nullopt;
        const QJsonValue value = answer->value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
        return value.isDouble() ? std::optional<int>(value.toInt()) : std::nullopt;
    }
};

} // namespace

// The companion extension in real browsers on a private desktop: the program's pieces run in this
// test (store, block page, engine, the extensions' socket), the browsers start the built program
// as their native-messaging host, and it relays to this test.
class TestExtensionBrowsers : public QObject {
    Q_OBJECT

    PrivateDesktop session;
    SiteServer* site = nullptr;

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
            QSKIP("Debian's chromium is not installed");
        const QString failed = session.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        site = session.site.get();
        QCOMPARE(hostManifestsFor(chromiumID), QString());
    }

    void cleanupTestCase() { session.stop(); }

    void chromiumThroughTheExtension()
    {
        Program program;
        QVERIFY(program.start());
        program.block(QStringLiteral("example.com"));
        Chromium chromium;
        QVERIFY(chromium.start(site->serverPort()));
        QTRY_VERIFY_WITH_TIMEOUT(program.bridge.connectedBrowsers().contains(chromiumID), patience);

        // A typed blocked address never reaches the site and shows the block page, with the address
        // as `from`. Its fragment, which no browser sends to a server, stays on the page's address.
        // The window has the focus once the extension says so; keys typed before that go nowhere.
        // A profile's first connection stops addresses once the extension has put the rule in
        // place, a moment after it says hello.
        QTRY_VERIFY_WITH_TIMEOUT(program.report(chromiumID).windowFocused, patience);
        QTRY_COMPARE_WITH_TIMEOUT(chromium.extensionRules(), std::optional<int>(1), patience);
        // The extension's rule decides alone: the program never hears of the address on its way,
        // or it would send the tab to the block page once more and start the navigation over.
        // The page server, on this thread, first holds the navigation past the extension's
        // once-a-second look at the tab in front.
        QStringList reported;
        QObject::connect(&program.bridge, &ExtensionLink::reportChanged, &program.bridge,
                         [&] { reported.append(program.report(chromiumID).url); });
        bool held = false;
        QVERIFY(
            typeUntil(chromium.process.processId(), QStringLiteral("http://www.example.com/feed?a=1&b=%20#top"), [&] {
                if (!std::exchange(held, true))
                    QThread::msleep(2500);
                return chromium.shows(QStringLiteral("Quillharbour\t") + program.blockPage() +
                                      QStringLiteral("?rule=")) &&
                       chromium.shows(
                           QStringLiteral("&from=http%3A%2F%2Fwww.example.com%2Ffeed%3Fa%3D1%26b%3D%2520#top"));
            }));
        QVERIFY2(!site->received("example.com"), site->requests.join(' ').constData());
        QVERIFY2(
            std::none_of(reported.cbegin(), reported.cend(),
                         [](const QString& url) { return url.startsWith(QLatin1String("http://www.example.com/")); }),
            qPrintable(reported.join(' ')));
        QObject::disconnect(&program.bridge, &ExtensionLink::reportChanged, &program.bridge, nullptr);

        // A tab already open on a site when its block starts is moved to the block page. It opens
        // beside the first one, so closing it later leaves the browser running.
        const QString open = QStringLiteral("http://www.example.net/open?x=1&y=%20");
        // Keys typed before the new tab is up go to the one before it.
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+t")});
        QTRY_COMPARE_WITH_TIMEOUT(chromium.pages().size(), 2, patience);
        QVERIFY(typeUntil(chromium.process.processId(), open,
                          [&] { return chromium.shows(QStringLiteral("site\t") + open); }));
        QTRY_COMPARE_WITH_TIMEOUT(program.report(chromiumID).url, open, patience);
        const auto openMoved = [&] {
            return chromium.showing(QStringLiteral("Quillharbour\t") + program.blockPage()) &&
                   QTest::qWaitFor([&] { return program.reportsBlockPageFor(chromiumID, open); }, patience);
        };
        QUuid rule = program.block(QStringLiteral("example.net"));
        QVERIFY(openMoved());

        // The block ends: the block page's own poll returns the tab to the site.
        QVERIFY(program.store.blocking().removeRule(rule));
        QTRY_COMPARE_WITH_TIMEOUT(program.report(chromiumID).url, open, patience);
        QVERIFY(chromium.showing(QStringLiteral("site\t") + open));

        // Blocked again, then "close this tab" from the block page closes that tab and no other.
        rule = program.block(QStringLiteral("example.net"));
        QVERIFY(openMoved());
        QVERIFY(typeUntil(
            chromium.process.processId(), QStringLiteral("http://127.0.0.1:%1/close").arg(*program.server.port()), [&] {
                const QStringList pages = chromium.pages();
                return pages.size() == 1 && pages.first().contains(QLatin1String("www.example.com%2Ffeed"));
            }));

        // The browser's own extensions page, which it opens for its extension and not from its
        // command line; anything else the extension refuses to open.
        const QString ours = QStringLiteral("chrome://extensions/?id=") + NativeMessaging::chromiumExtensionId;
        for (const QString& page : {QStringLiteral("http://www.example.org/not-opened"), ours}) {
            std::optional<bool> opened;
            program.bridge.openPage(chromiumID, page, [&](bool ok) { opened = ok; });
            QTRY_VERIFY_WITH_TIMEOUT(opened.has_value(), patience);
            QCOMPARE(*opened, page == ours);
        }
        QVERIFY(chromium.showing(u'\t' + ours));
        QTRY_COMPARE_WITH_TIMEOUT(program.report(chromiumID).url, ours, patience);
        QVERIFY(!site->received("www.example.org/not-opened"));
    }

    // The focus reports count toward a one-minute daily limit, which then blocks; quitting the
    // program makes the extension drop its rules, and the site loads again.
    void chromiumDailyLimitThenQuit()
    {
        auto program = std::make_unique<Program>();
        QVERIFY(program->start());
        const QUuid rule = program->block(QStringLiteral("example.org"), 1);
        QVERIFY(!rule.isNull());
        Chromium chromium;
        QVERIFY(chromium.start(site->serverPort()));
        QTRY_VERIFY_WITH_TIMEOUT(program->bridge.connectedBrowsers().contains(chromiumID), patience);
        QTRY_VERIFY_WITH_TIMEOUT(program->report(chromiumID).windowFocused, patience);
        const QString reading = QStringLiteral("http://www.example.org/reading?p=1");
        QVERIFY(typeUntil(chromium.process.processId(), reading,
                          [&] { return chromium.shows(QStringLiteral("site\t") + reading); }));
        QTRY_COMPARE_WITH_TIMEOUT(program->report(chromiumID).url, reading, patience);

        // Each check that may count asks how long the person has been idle. The clock moves by
        // two seconds, the most one check counts, each time such a check has looked, so every
        // second counts once however slowly the checks come.
        const auto used = [&] {
            return program->store.blocking().state().usageSecondsByRuleId.value(uuidText(rule), 0);
        };
        for (int step = 0; step < 40 && !program->store.blocking().state().exceededRuleIds.contains(rule); ++step) {
            const int looks = program->idle.looks;
            program->f.clock.advance(2);
            QVERIFY2(QTest::qWaitFor([&] { return program->idle.looks > looks; }, patience),
                     "no check counted the browser in front");
        }
        QCOMPARE(used(), 60);
        QVERIFY(program->store.blocking().state().exceededRuleIds.contains(rule));

        // Over the limit, the open tab moves to the block page and a typed address is stopped.
        QVERIFY(chromium.showing(QStringLiteral("Quillharbour\t") + program->blockPage()));
        QTRY_VERIFY_WITH_TIMEOUT(program->reportsBlockPageFor(chromiumID, reading), patience);
        QTRY_COMPARE_WITH_TIMEOUT(chromium.extensionRules(), std::optional<int>(1), patience);
        const QString typed = QStringLiteral("http://www.example.org/typed");
        QVERIFY(typeUntil(chromium.process.processId(), typed,
                          [&] { return program->reportsBlockPageFor(chromiumID, typed); }));
        QVERIFY(!site->received("www.example.org/typed"));

        // The program quits: its relay tells the extension, which lifts the rules it holds and
        // sends the tab on the block page back to the site it came from.
        program.reset();
        QTRY_COMPARE_WITH_TIMEOUT(chromium.extensionRules(), std::optional<int>(0), patience);
        QVERIFY(chromium.showing(QStringLiteral("site\t") + typed));
        QVERIFY(site->received("www.example.org/typed"));
        const QString after = QStringLiteral("http://www.example.org/after-quit");
        QVERIFY(typeUntil(chromium.process.processId(), after,
                          [&] { return chromium.shows(QStringLiteral("site\t") + after); }));
        // The tab was already on the site: its title says "site" before the new page commits.
        QTRY_VERIFY_WITH_TIMEOUT(site->received("www.example.org/after-quit"), patience);
    }
};

QTEST_MAIN(TestExtensionBrowsers)
#include "tst_extension_browsers.moc"
