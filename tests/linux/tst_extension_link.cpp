#include "FakeWorkspace.h"
#include "StoreFixture.h"
#include "TestEnvironment.h"
#include "blocking/ExtensionBlockList.h"
#include "blocking/LocalBlockPageServer.h"
#include "linux/ChromiumProfiles.h"
#include "linux/ExtensionBridge.h"
#include "linux/ExtensionInstaller.h"
#include "linux/ExtensionRoute.h"
#include "linux/FileWatches.h"
#include "linux/HostManifests.h"
#include "linux/LocalSocketName.h"
#include "linux/NativeMessaging.h"
#include "linux/NativeMessagingHost.h"
#include "platform/BrowserCommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(BrowserCommand)

using Status = NativeMessaging::FrameReader::Status;

namespace {

constexpr int patience = 30000;

QByteArray header(quint32 length)
{
    QByteArray out(4, Qt::Uninitialized);
    std::memcpy(out.data(), &length, 4);
    return out;
}
QByteArray raw(const QByteArray& body)
{
    return header(quint32(body.size())) + body;
}
QJsonObject type(const QString& t)
{
    return {{QStringLiteral("type"), t}};
}
QJsonObject hello(const QString& brand)
{
    return {{QStringLiteral("type"), QStringLiteral("hello")},
            {QStringLiteral("protocol"), NativeMessaging::protocolVersion},
            {QStringLiteral("browser"), brand},
            {QStringLiteral("browserVersion"), QStringLiteral("1")},
            {QStringLiteral("extensionVersion"), QStringLiteral("1.0.0")},
            {QStringLiteral("privateWindowsAllowed"), true}};
}
QJsonObject tab(qint64 id, const QString& url, bool focused)
{
    return {{QStringLiteral("type"), QStringLiteral("tab")},
            {QStringLiteral("tabId"), double(id)},
            {QStringLiteral("url"), url},
            {QStringLiteral("focused"), focused}};
}

// The program in its host mode, started the way a browser starts it, with this test standing in
// for the browser on its stdin and stdout.
struct Relay {
    QProcess process;
    NativeMessaging::FrameReader reader;
    QList<QJsonObject> received;

    explicit Relay(const QStringList& arguments = {NativeMessagingHost::argument})
    {
        process.setProgram(QStringLiteral(QH_PROGRAM));
        process.setArguments(arguments);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] {
            reader.append(process.readAllStandardOutput());
            for (auto r = reader.next(); r.status != Status::needMore; r = reader.next())
                if (r.status == Status::message)
                    received.append(r.message);
        });
        process.start();
        process.waitForStarted(patience);
    }
    ~Relay()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(patience);
        }
    }
    void send(const QJsonObject& message) { process.write(NativeMessaging::frame(message)); }
    bool heard(const QString& t) const
    {
        return std::any_of(received.cbegin(), received.cend(),
                           [&](const QJsonObject& m) { return m.value(QStringLiteral("type")).toString() == t; });
    }
    bool waitFor(const QString& t)
    {
        return QTest::qWaitFor([&] { return heard(t); }, patience);
    }
    QJsonObject last(const QString& t) const
    {
        for (auto it = received.crbegin(); it != received.crend(); ++it)
            if (it->value(QStringLiteral("type")).toString() == t)
                return *it;
        return {};
    }
    QString log;
    QString errors()
    {
        log += QString::fromUtf8(process.readAllStandardError());
        return log;
    }
};

// An extension link whose answers a test sets.
class FakeLink : public ExtensionLink {
public:
    QHash<QString, ExtensionTabReport> reports;
    QList<std::tuple<QString, qint64, QString, QString>> redirects; // browser, tab, ifURL, to
    QList<std::tuple<QString, qint64, QString>> closes;
    bool answer = true;
    QList<BlockedSite> sites;

    Setup setup(const QString& id) const override
    {
        return reports.contains(id) ? Setup::connected : Setup::extensionMissing;
    }
    QStringList connectedBrowsers() const override { return reports.keys(); }
    mutable int reportsAsked = 0;
    std::optional<ExtensionTabReport> report(const QString& id) const override
    {
        ++reportsAsked;
        return reports.contains(id) ? std::optional(reports.value(id)) : std::nullopt;
    }
    void setBlockedSites(const QList<BlockedSite>& s) override { sites = s; }
    void redirectTab(const QString& id, qint64 t, const QString& ifURL, const QString& to,
                     std::function<void(bool)> done) override
    {
        redirects.append({id, t, ifURL, to});
        done(answer);
    }
    void closeTab(const QString& id, qint64 t, const QString& ifURL, std::function<void(bool)> done) override
    {
        closes.append({id, t, ifURL});
        done(answer);
    }
};

class RecordingRunner : public ScriptRunner {
public:
    QList<BrowserCommand> commands;
    bool tells = false; // says that a read would answer what the last one did
    bool readUnchanged(const QString&) const override { return tells && !commands.isEmpty(); }
    void run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done) override
    {
        commands.append(command);
        done(BrowserScriptResult::answer(QStringLiteral("other route")));
    }
};

ExtensionTabReport reportOf(const QString& browser, bool focused, qint64 tabId, const QString& url = {})
{
    ExtensionTabReport r;
    r.browserId = browser;
    r.windowFocused = focused;
    r.tabId = tabId;
    r.url = url;
    return r;
}

const SupportedBrowser chromium{QStringLiteral("chromium"), QStringLiteral("Chromium"),
                                QStringLiteral("org.chromium.Chromium")};

} // namespace

// The companion extension's link: the framing, the relay the browsers start, the program's end,
// the extension route for the engine, and the files that let the browsers find the relay.
class TestExtensionLink : public QObject {
    Q_OBJECT

    QString socket;

    std::unique_ptr<ExtensionBridge> listening()
    {
        auto bridge = std::make_unique<ExtensionBridge>();
        if (!bridge->listen(socket))
            qWarning("%s", qPrintable(bridge->lastError()));
        return bridge;
    }

private slots:
    void initTestCase()
    {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        QVERIFY(!runtime.isEmpty());
        ::chmod(QFile::encodeName(runtime).constData(), 0700);
        const std::optional<QString> path = NativeMessaging::socketPath();
        QVERIFY(path.has_value());
        socket = *path;
    }

    void frames_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<int>>("statuses"); // every event up to the first needMore after the last chunk
        QTest::addColumn<QStringList>("types");   // of the messages, in order

        const QByteArray a = NativeMessaging::frame(type(QStringLiteral("a")));
        const QByteArray b = NativeMessaging::frame(type(QStringLiteral("b")));
        const QByteArray big = raw(QByteArray(NativeMessaging::maximumMessageBytes + 1, 'x'));
        QTest::newRow("two frames in one chunk")
            << QList<QByteArray>{a + b} << QList<int>{int(Status::message), int(Status::message)}
            << QStringList{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("a frame in single bytes") << [&] {
            QList<QByteArray> bytes;
            for (char c : a)
                bytes.append(QByteArray(1, c));
            return bytes;
        }() << QList<int>{int(Status::message)} << QStringList{QStringLiteral("a")};
        QTest::newRow("oversized frame skipped across chunks, the next one read")
            << QList<QByteArray>{big.left(1000), big.mid(1000), b}
            << QList<int>{int(Status::skipped), int(Status::message)} << QStringList{QStringLiteral("b")};
        QTest::newRow("not JSON, then a message")
            << QList<QByteArray>{raw("{nope") + a} << QList<int>{int(Status::invalid), int(Status::message)}
            << QStringList{QStringLiteral("a")};
        QTest::newRow("JSON but not an object")
            << QList<QByteArray>{raw("[1,2]")} << QList<int>{int(Status::invalid)} << QStringList{};
        QTest::newRow("a length no browser sends")
            << QList<QByteArray>{header(0xFFFFFFF0u) + a} << QList<int>{int(Status::broken)} << QStringList{};
        QTest::newRow("half a header waits") << QList<QByteArray>{a.left(2)} << QList<int>{} << QStringList{};
    }
    void frames()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<int>, statuses);
        QFETCH(QStringList, types);
        NativeMessaging::FrameReader reader;
        QList<int> seen;
        QStringList messages;
        for (const QByteArray& chunk : chunks) {
            reader.append(chunk);
            for (auto r = reader.next(); r.status != Status::needMore; r = reader.next()) {
                seen.append(int(r.status));
                if (r.status == Status::message)
                    messages.append(r.message.value(QStringLiteral("type")).toString());
                if (r.status == Status::broken)
                    break;
            }
        }
        QCOMPARE(seen, statuses);
        QCOMPARE(messages, types);
    }

    void hostInvocation_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("relay");
        QTest::newRow("our flag") << QStringList{NativeMessagingHost::argument} << true;
        QTest::newRow("Chromium's caller origin")
            << QStringList{QStringLiteral("chrome-extension://%1/").arg(NativeMessaging::chromiumExtensionId)} << true;
        QTest::newRow("Firefox's manifest and add-on id")
            << QStringList{QStringLiteral("/home/u/.mozilla/native-messaging-hosts/x.json"),
                           NativeMessaging::firefoxExtensionId}
            << true;
        QTest::newRow("a link") << QStringList{QStringLiteral("quillharbour://open")} << false;
        QTest::newRow("another add-on's id")
            << QStringList{QStringLiteral("/x.json"), QStringLiteral("other@example.com")} << false;
        QTest::newRow("login item") << QStringList{QStringLiteral("--login-item")} << false;
    }
    void hostInvocation()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, relay);
        QCOMPARE(NativeMessagingHost::isHostInvocation(arguments), relay);
    }

    void browserIdentity_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("brand");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Debian chromium") << "/usr/lib/chromium/chromium"
                                         << ""
                                         << "chromium";
        QTest::newRow("Chrome") << "/opt/google/chrome/chrome"
                                << ""
                                << "chrome";
        QTest::newRow("Edge") << "/opt/microsoft/msedge/msedge"
                              << ""
                              << "edge";
        QTest::newRow("Firefox ESR") << "/usr/lib/firefox-esr/firefox-esr"
                                     << ""
                                     << "firefox";
        QTest::newRow("Vivaldi") << "/opt/vivaldi/vivaldi-bin"
                                 << ""
                                 << "vivaldi";
        QTest::newRow("unknown program, brand decides") << "/usr/bin/python3"
                                                        << "Brave"
                                                        << "brave";
        QTest::newRow("unknown program and brand") << "/usr/bin/python3"
                                                   << "Netscape"
                                                   << "";
    }
    void browserIdentity()
    {
        QFETCH(QString, executable);
        QFETCH(QString, brand);
        QFETCH(QString, expected);
        const QString fromProgram = NativeMessagingHost::browserForExecutable(executable);
        QCOMPARE(fromProgram.isEmpty() ? ExtensionBridge::browserForBrand(brand) : fromProgram, expected);
    }

    // What the extension hears from the relay, and when the relay gives up.
    void relayTellsTheExtension_data()
    {
        QTest::addColumn<bool>("programRunning");
        QTest::addColumn<QByteArray>("fromBrowser");
        QTest::addColumn<QString>("heard");
        QTest::addColumn<bool>("exits");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("program absent") << false << QByteArray() << "absent" << false << "";
        QTest::newRow("program present") << true << QByteArray() << "present" << false << "";
        QTest::newRow("garbage is refused and the relay goes on")
            << true << raw("\x01\x02garbage") << "present" << false << "not a JSON object";
        QTest::newRow("over the size limit") << true << raw(QByteArray(NativeMessaging::maximumMessageBytes + 8, ' '))
                                             << "present" << false << "over the";
        QTest::newRow("a length no browser sends ends the relay")
            << true << header(0x7FFFFFFFu) << "present" << true << "more than any browser sends";
    }
    void relayTellsTheExtension()
    {
        QFETCH(bool, programRunning);
        QFETCH(QByteArray, fromBrowser);
        QFETCH(QString, heard);
        QFETCH(bool, exits);
        QFETCH(QString, logLine);
        std::unique_ptr<ExtensionBridge> bridge = programRunning ? listening() : nullptr;
        Relay relay;
        QVERIFY(relay.waitFor(heard));
        if (!fromBrowser.isEmpty())
            relay.process.write(fromBrowser);
        if (exits) {
            QVERIFY(relay.process.waitForFinished(patience));
            QCOMPARE(relay.process.exitCode(), 1);
        } else {
            // Still relaying: a hello after the refused input connects the browser.
            relay.send(hello(QStringLiteral("Chromium")));
            if (bridge)
                QTRY_VERIFY_WITH_TIMEOUT(bridge->connectedBrowsers() == QStringList{chromium.id}, patience);
            QCOMPARE(relay.process.state(), QProcess::Running);
        }
        if (!logLine.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(relay.errors().contains(logLine), patience);
    }

    void relayWithoutPrivateRuntimeFolder()
    {
        QTemporaryDir open;
        ::chmod(QFile::encodeName(open.path()).constData(), 0777);
        for (const QString& folder : {QString(), open.path()}) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(QH_PROGRAM), {NativeMessagingHost::argument});
            QVERIFY(p.waitForFinished(patience));
            QCOMPARE(p.exitCode(), 1);
            NativeMessaging::FrameReader reader;
            reader.append(p.readAllStandardOutput());
            QCOMPARE(reader.next().message, type(QStringLiteral("absent")));
            QVERIFY(!p.readAllStandardError().isEmpty());
        }
    }

    // Connections that hold a place without talking cannot shut the relay out: the one silent
    // longest makes room, and each is let go once its time to say who it is is up.
    void silentConnectionsShutNoRelayOut_data()
    {
        QTest::addColumn<QString>("says"); // what each says first: "", "relay", or "hello" after its relay
        QTest::addColumn<int>("silent");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("stillOpen"); // silent connections left once the relay is in
        const int places = ExtensionBridge::maximumConnections;
        QTest::newRow("every place taken") << "" << places << 600000 << places - 1;
        QTest::newRow("all but one taken") << "" << places - 1 << 600000 << places - 1;
        QTest::newRow("their time is up") << "" << places << 100 << 0;
        QTest::newRow("relays whose extension never says hello") << "relay" << places + 8 << 600000 << places - 1;
        QTest::newRow("relays whose extension never says hello, their time is up") << "relay" << places + 8 << 100 << 0;
        QTest::newRow("profiles that said hello once and went quiet") << "hello" << places << 600000 << places - 1;
    }
    void silentConnectionsShutNoRelayOut()
    {
        QFETCH(QString, says);
        QFETCH(int, silent);
        QFETCH(int, timeoutMs);
        QFETCH(int, stillOpen);
        const bool timesOut = timeoutMs < 600000;
        auto bridge = listening();
        bridge->setIntroductionTimeout(timeoutMs);
        bridge->setBlockedSites({{QStringLiteral("feed.example"), QStringLiteral("http://127.0.0.1:1/blocked?from=")}});
        std::vector<std::unique_ptr<QLocalSocket>> peers;
        for (int i = 0; i < silent; ++i) {
            peers.push_back(std::make_unique<QLocalSocket>());
            peers.back()->connectToServer(LocalSocketName::reachable(socket).value_or(socket));
            QVERIFY(peers.back()->waitForConnected(patience));
            if (!says.isEmpty())
                peers.back()->write(
                    NativeMessaging::frame({{QStringLiteral("type"), QStringLiteral("relay")},
                                            {QStringLiteral("protocol"), NativeMessaging::protocolVersion},
                                            {QStringLiteral("browser"), chromium.storedKey}}));
            if (says == QLatin1String("hello"))
                peers.back()->write(NativeMessaging::frame(hello(QStringLiteral("Chromium"))));
            if (timesOut)
                continue;
            // The bridge takes each in, and hears what it says, before the next comes.
            const int held = std::min(i + 1, ExtensionBridge::maximumConnections);
            QTRY_COMPARE_WITH_TIMEOUT(bridge->openConnections(), held, patience);
            if (!says.isEmpty())
                QTRY_COMPARE_WITH_TIMEOUT(bridge->relayedConnections(), held, patience);
            if (says == QLatin1String("hello"))
                QTRY_VERIFY_WITH_TIMEOUT(peers.back()->bytesAvailable() > 0, patience); // its blocked list
        }
        const auto open = [&peers] {
            return int(std::count_if(peers.begin(), peers.end(),
                                     [](const auto& p) { return p->state() == QLocalSocket::ConnectedState; }));
        };
        if (timesOut) {
            QTRY_COMPARE_WITH_TIMEOUT(open(), 0, patience);
            // The relay's own time to say hello is not what this case is about.
            bridge->setIntroductionTimeout(600000);
        }
        Relay relay;
        QVERIFY(relay.waitFor(QStringLiteral("present")));
        relay.send(hello(QStringLiteral("Chromium")));
        QVERIFY(relay.waitFor(QStringLiteral("blocked")));
        QCOMPARE(relay.last(QStringLiteral("blocked")).value(QStringLiteral("sites")).toArray().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(open(), stillOpen, patience);
        QCOMPARE(bridge->openConnections(), stillOpen + 1);
    }

    // However the browser lets go of the port, the relay passes on what came with the end and
    // ends, even when the browser never read what the relay wrote for it.
    void relayEndsWhenTheBrowserLetsGo_data()
    {
        QTest::addColumn<bool>("reads");     // the browser reads the relay's output
        QTest::addColumn<bool>("lastFrame"); // a hello comes in the same write as the end
        QTest::newRow("plain close") << true << false;
        QTest::newRow("a frame together with the end") << true << true;
        QTest::newRow("output never read") << false << false;
        QTest::newRow("output never read, a frame with the end") << false << true;
    }
    void relayEndsWhenTheBrowserLetsGo()
    {
        QFETCH(bool, reads);
        QFETCH(bool, lastFrame);
        auto bridge = listening();
        QSignalSpy reports(bridge.get(), &ExtensionLink::reportChanged);
        QList<qint64> tabsSeen;
        QObject::connect(bridge.get(), &ExtensionLink::reportChanged, bridge.get(), [&](const QString& id) {
            if (const std::optional<ExtensionTabReport> r = bridge->report(id))
                tabsSeen.append(r->tabId);
        });
        // A list that takes several pipe buffers each time it is sent, within a message's limit.
        QList<ExtensionLink::BlockedSite> sites;
        for (int i = 0; i < 1500; ++i)
            sites.append({QStringLiteral("site%1.example").arg(i), QStringLiteral("http://127.0.0.1:1/blocked?from=")});
        bridge->setBlockedSites(sites);
        QTemporaryDir folder;
        const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("stdout")));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        const int unread = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK); // held, never read
        QVERIFY(unread >= 0);
        const auto closeUnread = qScopeGuard([unread] { ::close(unread); });
        QProcess relay;
        relay.setProgram(QStringLiteral(QH_PROGRAM));
        relay.setArguments({NativeMessagingHost::argument});
        if (!reads)
            relay.setStandardOutputFile(QFile::decodeName(fifo));
        relay.start();
        QVERIFY(relay.waitForStarted(patience));
        // Hellos bring the long list back each time: more than the pipe holds when nobody reads.
        // (Until the relay reaches the program, what the browser says goes nowhere: say it again.)
        const QByteArray greeting = NativeMessaging::frame(hello(QStringLiteral("Chromium")));
        QVERIFY(QTest::qWaitFor(
            [&] {
                relay.write(greeting);
                return !reports.isEmpty();
            },
            patience));
        for (int i = 0; i < 4; ++i)
            relay.write(greeting);
        // The lists go out from this side's event loop: let them be written to the relay.
        QTest::qWait(500);
        if (lastFrame) {
            // Stopped meanwhile, the relay reads the frame and the end in one go.
            ::kill(pid_t(relay.processId()), SIGSTOP);
            relay.write(NativeMessaging::frame(tab(9, QStringLiteral("https://example.org/last"), true)));
            QVERIFY(relay.waitForBytesWritten(patience));
            relay.closeWriteChannel();
            ::kill(pid_t(relay.processId()), SIGCONT);
        } else {
            relay.closeWriteChannel();
        }
        QVERIFY2(relay.waitForFinished(patience), "the relay did not end");
        QCOMPARE(relay.exitStatus(), QProcess::NormalExit);
        QCOMPARE(relay.exitCode(), 0);
        // The tab report that came with the end reached the program.
        if (lastFrame)
            QTRY_VERIFY_WITH_TIMEOUT(tabsSeen.contains(9), patience);
    }

    // The program's side: who counts as connected, and what happens when either end goes.
    void browsersComeAndGo()
    {
        auto bridge = listening();
        QSignalSpy setups(bridge.get(), &ExtensionLink::setupChanged);
        Relay chromiumRelay, firefoxRelay;
        QVERIFY(chromiumRelay.waitFor(QStringLiteral("present")));
        QVERIFY(firefoxRelay.waitFor(QStringLiteral("present")));
        bridge->setBlockedSites(
            {{QStringLiteral("bücher.example"), QStringLiteral("http://127.0.0.1:1/blocked?rule=r&domain=d&from=")}});
        chromiumRelay.send(hello(QStringLiteral("Chromium")));
        firefoxRelay.send(hello(QStringLiteral("Firefox")));
        QTRY_COMPARE_WITH_TIMEOUT(bridge->connectedBrowsers(),
                                  (QStringList{QStringLiteral("chromium"), QStringLiteral("firefox")}), patience);
        // Each hears the blocked list on saying hello, host names in their ASCII form.
        QVERIFY(firefoxRelay.waitFor(QStringLiteral("blocked")));
        QCOMPARE(firefoxRelay.last(QStringLiteral("blocked"))
                     .value(QStringLiteral("sites"))
                     .toArray()
                     .at(0)
                     .toObject()
                     .value(QStringLiteral("domain"))
                     .toString(),
                 QStringLiteral("xn--bcher-kva.example"));

        QSignalSpy reports(bridge.get(), &ExtensionLink::reportChanged);
        firefoxRelay.send(tab(7, QStringLiteral("https://example.org/a"), true));
        QTRY_VERIFY_WITH_TIMEOUT(bridge->report(QStringLiteral("firefox")).value_or(ExtensionTabReport{}).tabId == 7,
                                 patience);
        const ExtensionTabReport r = *bridge->report(QStringLiteral("firefox"));
        QCOMPARE(r.url, QStringLiteral("https://example.org/a"));
        QVERIFY(r.windowFocused && r.privateWindowsAllowed);
        QCOMPARE(reports.last().at(0).toString(), QStringLiteral("firefox"));
        // The same report again changes nothing.
        const qsizetype before = reports.size();
        firefoxRelay.send(tab(7, QStringLiteral("https://example.org/a"), true));
        firefoxRelay.send(tab(8, QStringLiteral("https://example.org/b"), true));
        QTRY_VERIFY_WITH_TIMEOUT(bridge->report(QStringLiteral("firefox"))->tabId == 8, patience);
        QCOMPARE(reports.size(), before + 1);

        // The browser closes the extension's port: its relay ends and the browser is no longer connected.
        firefoxRelay.process.closeWriteChannel();
        QVERIFY(firefoxRelay.process.waitForFinished(patience));
        QCOMPARE(firefoxRelay.process.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(bridge->connectedBrowsers(), QStringList{QStringLiteral("chromium")}, patience);
        QVERIFY(!bridge->report(QStringLiteral("firefox")));
        QVERIFY(setups.size() >= 3);

        // The program quits: the extension hears it and must lift its rules; the relay waits for
        // a new program and connects to it.
        bridge.reset();
        QVERIFY(chromiumRelay.waitFor(QStringLiteral("absent")));
        chromiumRelay.received.clear();
        bridge = listening();
        QVERIFY(chromiumRelay.waitFor(QStringLiteral("present")));
    }

    void tabActions_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("answer"); // "ok", "refused", or "gone" (the relay dies)
        QTest::addColumn<bool>("done");
        QTest::newRow("redirect done") << "redirect"
                                       << "ok" << true;
        QTest::newRow("redirect: tab shows another address") << "redirect"
                                                             << "refused" << false;
        QTest::newRow("close done") << "close"
                                    << "ok" << true;
        QTest::newRow("close: the browser goes away first") << "close"
                                                            << "gone" << false;
    }
    void tabActions()
    {
        QFETCH(QString, action);
        QFETCH(QString, answer);
        QFETCH(bool, done);
        auto bridge = listening();
        Relay relay;
        relay.send(hello(QStringLiteral("Chromium")));
        QTRY_VERIFY_WITH_TIMEOUT(!bridge->connectedBrowsers().isEmpty(), patience);
        std::optional<bool> result;
        const QString id = chromium.id;
        if (action == QLatin1String("redirect"))
            bridge->redirectTab(id, 5, QStringLiteral("https://example.com/"),
                                QStringLiteral("http://127.0.0.1:1/blocked"), [&](bool ok) { result = ok; });
        else
            bridge->closeTab(id, 5, QStringLiteral("http://127.0.0.1:1/close"), [&](bool ok) { result = ok; });
        QVERIFY(relay.waitFor(action));
        const QJsonObject request = relay.last(action);
        QCOMPARE(request.value(QStringLiteral("tabId")).toInteger(), 5);
        if (answer == QLatin1String("gone"))
            relay.process.kill();
        else
            relay.send({{QStringLiteral("type"), QStringLiteral("done")},
                        {QStringLiteral("id"), request.value(QStringLiteral("id"))},
                        {QStringLiteral("ok"), answer == QLatin1String("ok")}});
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), patience);
        QCOMPARE(*result, done);
    }

    // Peers that are not our relay, or speak another version, are shut out.
    void bridgeRefusesStrangers_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::newRow("no relay introduction")
            << NativeMessaging::frame(hello(QStringLiteral("Chromium"))) << QByteArray();
        QTest::newRow("relay of another protocol")
            << NativeMessaging::frame(
                   {{QStringLiteral("type"), QStringLiteral("relay")}, {QStringLiteral("protocol"), 2}})
            << QByteArray();
        QTest::newRow("extension of another protocol")
            << NativeMessaging::frame(
                   {{QStringLiteral("type"), QStringLiteral("relay")}, {QStringLiteral("protocol"), 1}})
            << NativeMessaging::frame(QJsonObject{{QStringLiteral("type"), QStringLiteral("hello")},
                                                  {QStringLiteral("protocol"), 9},
                                                  {QStringLiteral("browser"), QStringLiteral("Chromium")}});
        QTest::newRow("an oversized frame")
            << NativeMessaging::frame(
                   {{QStringLiteral("type"), QStringLiteral("relay")}, {QStringLiteral("protocol"), 1}})
            << header(NativeMessaging::maximumMessageBytes + 1);
    }
    void bridgeRefusesStrangers()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        auto bridge = listening();
        QLocalSocket peer;
        peer.connectToServer(LocalSocketName::reachable(socket).value_or(socket));
        QVERIFY(peer.waitForConnected(patience));
        peer.write(first + second);
        QTRY_COMPARE_WITH_TIMEOUT(peer.state(), QLocalSocket::UnconnectedState, patience);
        QVERIFY(bridge->connectedBrowsers().isEmpty());
    }

    void listenKeepsAnotherProgramsSocket()
    {
        auto first = listening();
        ExtensionBridge second;
        QVERIFY(!second.listen(socket));
        QVERIFY(!second.lastError().isEmpty());
        first.reset();
        // A socket whose program is gone is taken over.
        QVERIFY(second.listen(socket));
        QFileInfo info(socket);
        QCOMPARE(int(info.permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ReadGroup)),
                 0);

        // A socket path past the 107 bytes an address holds: the socket is still made there, the
        // user's alone, and a peer that looks for it there reaches it.
        const QString deep = QFileInfo(socket).absolutePath() + QStringLiteral("/") + QString(110, u'd');
        QVERIFY(QDir().mkpath(deep));
        const QString far = deep + QStringLiteral("/quillharbour-browser-link");
        ExtensionBridge third;
        QVERIFY2(third.listen(far), qPrintable(third.lastError()));
        QVERIFY(QFileInfo(far).exists());
        QCOMPARE(int(QFileInfo(far).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)), 0);
        QLocalSocket peer;
        peer.connectToServer(LocalSocketName::reachable(far).value_or(far));
        QVERIFY(peer.waitForConnected(patience));
        ExtensionBridge fourth;
        QVERIFY(!fourth.listen(far));
    }

    // The engine's commands, answered from the extension's reports and moves.
    void extensionScripts_data()
    {
        QTest::addColumn<BrowserCommand>("command");
        QTest::addColumn<bool>("reported");
        QTest::addColumn<bool>("extensionAgrees");
        QTest::addColumn<QString>("output");
        const QString page = QStringLiteral("http://127.0.0.1:9/blocked?rule=r&domain=example.com&from=x");
        const BrowserCommand read = BrowserCommand::read(chromium);
        const BrowserCommand redirect =
            BrowserCommand::redirect(chromium, QStringLiteral("https://example.com/"), page);
        const BrowserCommand close = BrowserCommand::close(chromium, QStringLiteral("http://127.0.0.1:9/close"));
        QTest::newRow("read: the last report") << read << true << true << "https://example.com/";
        QTest::newRow("read: no report is no window") << read << false << true << "";
        const BrowserCommand focused = BrowserCommand::readFocused(chromium);
        QTest::newRow("focused read: the report's focus and address")
            << focused << true << true << "focused\nhttps://example.com/";
        QTest::newRow("focused read: no report is no window") << focused << false << true << "";
        QTest::newRow("redirect done") << redirect << true << true << "redirected";
        QTest::newRow("redirect: the tab moved on") << redirect << true << false << "changed";
        QTest::newRow("redirect: extension gone") << redirect << false << true << "no-window";
        QTest::newRow("close done") << close << true << true << "closed";
        QTest::newRow("close: the tab moved on") << close << true << false << "changed";
    }
    void extensionScripts()
    {
        QFETCH(BrowserCommand, command);
        QFETCH(bool, reported);
        QFETCH(bool, extensionAgrees);
        QFETCH(QString, output);
        FakeLink link;
        link.answer = extensionAgrees;
        if (reported)
            link.reports.insert(chromium.id, reportOf(chromium.id, true, 42, QStringLiteral("https://example.com/")));
        ExtensionScriptRunner runner(&link);
        std::optional<BrowserScriptResult> result;
        runner.run(command, [&](const BrowserScriptResult& r) { result = r; });
        QVERIFY(result && !result->failed());
        // A focused read's focus is written before its address, as the table has it.
        const QString focus = result->focused
                                  ? (*result->focused ? QStringLiteral("focused\n") : QStringLiteral("background\n"))
                                  : QString();
        QCOMPARE(focus + result->output.value_or(QStringLiteral("<none>")), output);
        if (reported && command.operation == BrowserCommand::Operation::redirect)
            QCOMPARE(link.redirects.value(0),
                     std::make_tuple(chromium.id, qint64(42), command.expectedAddress, command.target));
        if (reported && command.operation == BrowserCommand::Operation::close)
            QCOMPARE(link.closes.value(0), std::make_tuple(chromium.id, qint64(42), command.expectedAddress));
    }

    void routeFollowsTheConnection()
    {
        FakeLink link;
        auto* extension = new RecordingRunner;
        auto* other = new RecordingRunner;
        RoutingScriptRunner router(&link, std::unique_ptr<ScriptRunner>(extension),
                                   std::unique_ptr<ScriptRunner>(other));
        const BrowserCommand read = BrowserCommand::read(chromium);
        router.run(read, [](const BrowserScriptResult&) {});
        link.reports.insert(chromium.id, reportOf(chromium.id, false, 1));
        router.run(read, [](const BrowserScriptResult&) {});
        // A browser whose extension is not connected.
        router.run(BrowserCommand::read(*SupportedBrowser::withId(QStringLiteral("firefox"))),
                   [](const BrowserScriptResult&) {});
        QCOMPARE(other->commands.size(), 2);
        QCOMPARE(extension->commands, QList<BrowserCommand>{read});
    }

    // A read through the extension is its last report: it stands until the link tells of a
    // report or a connection, and only on the route it took.
    void readsStandUntilTheLinkTells_data()
    {
        QTest::addColumn<bool>("connected"); // the extension's route when the read is made
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("stands");
        QTest::newRow("extension, nothing told since") << true << "" << true;
        QTest::newRow("extension, a report since") << true << "report" << false;
        QTest::newRow("extension, a connection came or went") << true << "setup" << false;
        QTest::newRow("extension, a tab moved meanwhile") << true << "redirect" << true;
        QTest::newRow("other route, which can tell") << false << "" << true;
        QTest::newRow("the other route tells") << false << "other" << false;
        QTest::newRow("the extension connected since a read by the other route") << false << "connect" << false;
        QTest::newRow("the extension left since its read") << true << "disconnect" << false;
    }
    void readsStandUntilTheLinkTells()
    {
        QFETCH(bool, connected);
        QFETCH(QString, after);
        QFETCH(bool, stands);
        FakeLink link;
        const QString id = chromium.id;
        const ExtensionTabReport report = reportOf(id, true, 3, QStringLiteral("https://example.org/"));
        if (connected)
            link.reports.insert(id, report);
        auto* other = new RecordingRunner;
        other->tells = true;
        RoutingScriptRunner router(&link, std::make_unique<ExtensionScriptRunner>(&link),
                                   std::unique_ptr<ScriptRunner>(other));
        QVERIFY(!router.readUnchanged(id));
        router.run(BrowserCommand::read(chromium), [](const BrowserScriptResult&) {});
        const QSignalSpy heard(&router, &ScriptRunner::browserTold);

        if (after == QLatin1String("report"))
            emit link.reportChanged(id);
        else if (after == QLatin1String("setup"))
            emit link.setupChanged();
        else if (after == QLatin1String("redirect"))
            router.run(BrowserCommand::redirect(chromium, report.url, QStringLiteral("http://x/")),
                       [](const BrowserScriptResult&) {});
        else if (after == QLatin1String("connect"))
            link.reports.insert(id, report);
        else if (after == QLatin1String("disconnect"))
            link.reports.remove(id);
        else if (after == QLatin1String("other")) {
            other->tells = false;
            emit other->browserTold();
        }
        QCOMPARE(router.readUnchanged(id), stands);
        // Whoever rests on the read hears what either route told (this fake link tells no connection).
        QCOMPARE(!heard.isEmpty(), after == u"report" || after == u"setup" || after == u"other");
        QVERIFY(!router.readUnchanged(QStringLiteral("firefox")));
    }

    // Two profiles of one browser, neither focused: the one heard last is the browser's report,
    // so a report that says the same as before can still change what the browser shows.
    void theProfileHeardLastIsTheReport()
    {
        auto bridge = listening();
        Relay first, second;
        QVERIFY(first.waitFor(QStringLiteral("present")));
        QVERIFY(second.waitFor(QStringLiteral("present")));
        first.send(hello(QStringLiteral("Chromium")));
        second.send(hello(QStringLiteral("Chromium")));
        const QString id = chromium.id;
        const auto shows = [&bridge, &id] { return bridge->report(id).value_or(ExtensionTabReport{}).url; };
        first.send(tab(1, QStringLiteral("https://one.example/"), false));
        QTRY_COMPARE_WITH_TIMEOUT(shows(), QStringLiteral("https://one.example/"), patience);
        second.send(tab(2, QStringLiteral("https://two.example/"), false));
        QTRY_COMPARE_WITH_TIMEOUT(shows(), QStringLiteral("https://two.example/"), patience);

        QSignalSpy reports(bridge.get(), &ExtensionLink::reportChanged);
        first.send(tab(1, QStringLiteral("https://one.example/"), false));
        QTRY_COMPARE_WITH_TIMEOUT(shows(), QStringLiteral("https://one.example/"), patience);
        QCOMPARE(reports.size(), 1);
        // Heard again while it is the report already: nothing changed until the tab moves.
        first.send(tab(1, QStringLiteral("https://one.example/"), false));
        first.send(tab(1, QStringLiteral("https://three.example/"), false));
        QTRY_COMPARE_WITH_TIMEOUT(shows(), QStringLiteral("https://three.example/"), patience);
        QCOMPARE(reports.size(), 2);
        second.send(tab(2, QStringLiteral("https://two.example/"), false));
        QTRY_COMPARE_WITH_TIMEOUT(shows(), QStringLiteral("https://two.example/"), patience);
        QCOMPARE(reports.size(), 3);
    }

    void frontBrowserFromReports_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("focused");
        QTest::addColumn<QString>("desktopFront"); // empty: the desktop cannot tell (Wayland)
        QTest::addColumn<QString>("front");
        // Whether each change of that answer is told: a report's focus leaves by another report.
        QTest::addColumn<bool>("tells");
        QTest::newRow("Wayland: the extension's focus decides") << true << true << ""
                                                                << "chromium" << true;
        QTest::newRow("Wayland: no focus reported, nothing in front") << true << false << ""
                                                                      << "" << false;
        QTest::newRow("X11 answer when the browser has no focus") << true << false << "org.gnome.TextEditor"
                                                                  << "org.gnome.TextEditor" << true;
        // The browser may never tell that it lost the focus: where the desktop can name the
        // window in front, it wins over a report that still says focused.
        QTest::newRow("X11: the desktop wins over a stale focused report") << true << true << "org.gnome.TextEditor"
                                                                           << "org.gnome.TextEditor" << true;
        QTest::newRow("no extension: the desktop's answer") << false << false << "chromium"
                                                            << "chromium" << true;
    }
    void frontBrowserFromReports()
    {
        QFETCH(bool, connected);
        QFETCH(bool, focused);
        QFETCH(QString, desktopFront);
        QFETCH(QString, front);
        FakeLink link;
        QFETCH(bool, tells);
        FakeWorkspace desktop;
        if (!desktopFront.isEmpty())
            desktop.frontmost = desktopFront;
        desktop.tells = !desktopFront.isEmpty();
        if (connected)
            link.reports.insert(chromium.id, reportOf(chromium.id, focused, 1));
        ExtensionWorkspace workspace(desktop, link);
        QCOMPARE(workspace.frontmostApplicationId().value_or(QString()), front);
        QCOMPARE(workspace.tellsFrontmostChanges(), tells);
        QCOMPARE(workspace.isRunning(chromium.id), connected);
    }

    // Where the desktop cannot name the front (Wayland), asked on every check, the front is worked
    // out from the reports again only after the link told of a change.
    void frontFollowsTheLinksChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("front");
        QTest::addColumn<int>("reportsAsked"); // by the three questions after the change

        const QString firefox = QStringLiteral("firefox");
        QTest::newRow("nothing") << "nothing" << chromium.id << 0;
        QTest::newRow("the browser's window loses the focus") << "unfocus"
                                                              << "" << 1;
        QTest::newRow("another browser, focused, in its place") << "replace" << firefox << 1;
        QTest::newRow("the browser disconnects") << "disconnect"
                                                 << "" << 0;
        QTest::newRow("changed but not told: the last answer stands") << "untold" << chromium.id << 0;
    }
    void frontFollowsTheLinksChanges()
    {
        QFETCH(QString, change);
        QFETCH(QString, front);
        QFETCH(int, reportsAsked);
        const QString firefox = QStringLiteral("firefox");
        FakeLink link;
        FakeWorkspace desktop;
        desktop.frontmost = std::nullopt;
        link.reports.insert(chromium.id, reportOf(chromium.id, true, 1));
        ExtensionWorkspace workspace(desktop, link);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(workspace.frontmostApplicationId(), chromium.id);
        QCOMPARE(link.reportsAsked, 1);

        link.reportsAsked = 0;
        if (change == QLatin1String("unfocus")) {
            link.reports.insert(chromium.id, reportOf(chromium.id, false, 1));
            emit link.reportChanged(chromium.id);
        } else if (change == QLatin1String("replace")) {
            link.reports.clear();
            link.reports.insert(firefox, reportOf(firefox, true, 7));
            emit link.setupChanged();
        } else if (change == QLatin1String("disconnect")) {
            link.reports.clear();
            emit link.setupChanged();
        } else if (change == QLatin1String("untold")) {
            link.reports.clear();
        }
        for (int i = 0; i < 3; ++i)
            QCOMPARE(workspace.frontmostApplicationId().value_or(QString()), front);
        QCOMPARE(link.reportsAsked, reportsAsked);
    }

    void hostManifests()
    {
        QTemporaryDir home;
        const QString exe = QStringLiteral("/opt/quillharbour/bin/quillharbour");
        // The Chromium family reads its link files where $XDG_CONFIG_HOME says; Firefox under ~/.mozilla.
        const QByteArray configBefore = qgetenv("XDG_CONFIG_HOME"), homeBefore = qgetenv("HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_CONFIG_HOME", configBefore);
            qputenv("HOME", homeBefore);
        });
        const QString config = home.filePath(QStringLiteral("settings"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        qputenv("HOME", QFile::encodeName(home.path()));
        QDir(home.path()).mkpath(QStringLiteral(".mozilla"));
        QDir(config).mkpath(QStringLiteral("BraveSoftware/Brave-Browser"));
        QVERIFY(HostManifests::writeAll(home.path(), exe).isEmpty());
        QVERIFY(QFileInfo(config + QStringLiteral("/BraveSoftware/Brave-Browser/NativeMessagingHosts/") +
                          NativeMessaging::hostName + QStringLiteral(".json"))
                    .isFile());
        QVERIFY(QFileInfo(home.filePath(QStringLiteral(".mozilla/native-messaging-hosts/")) +
                          NativeMessaging::hostName + QStringLiteral(".json"))
                    .isFile());
        QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral(".config"))));
        const auto read = [&](const QString& id) {
            QFile f(HostManifests::manifestPath(*HostManifests::browser(id), home.path()));
            return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
        };
        const QJsonObject firefox = read(QStringLiteral("firefox"));
        QCOMPARE(firefox.value(QStringLiteral("path")).toString(), exe);
        QCOMPARE(firefox.value(QStringLiteral("allowed_extensions")).toArray(),
                 QJsonArray{NativeMessaging::firefoxExtensionId});
        QCOMPARE(read(QStringLiteral("brave")).value(QStringLiteral("allowed_origins")).toArray(),
                 QJsonArray{QStringLiteral("chrome-extension://%1/").arg(NativeMessaging::chromiumExtensionId)});
        QCOMPARE(HostManifests::offlineSetup(QStringLiteral("brave"), home.path(), exe),
                 ExtensionLink::Setup::extensionMissing);
        // The program moved: the manifests are stale until written again.
        const QString moved = QStringLiteral("/usr/bin/quillharbour");
        QCOMPARE(HostManifests::offlineSetup(QStringLiteral("brave"), home.path(), moved),
                 ExtensionLink::Setup::hostMissing);
        QVERIFY(HostManifests::writeAll(home.path(), moved).isEmpty());
        QCOMPARE(read(QStringLiteral("brave")).value(QStringLiteral("path")).toString(), moved);
        // A whole-machine install added its id: the manifests are stale until they allow it too.
        const QStringList machine{QStringLiteral("aoldolcgicjjlkopnfpmphppdifkjcem")};
        QCOMPARE(HostManifests::offlineSetup(QStringLiteral("brave"), home.path(), moved, machine),
                 ExtensionLink::Setup::hostMissing);
        QVERIFY(HostManifests::writeAll(home.path(), moved, machine).isEmpty());
        QCOMPARE(read(QStringLiteral("brave")).value(QStringLiteral("allowed_origins")).toArray().size(), 2);
        QCOMPARE(HostManifests::offlineSetup(QStringLiteral("brave"), home.path(), moved, machine),
                 ExtensionLink::Setup::extensionMissing);
        // A browser found only as a Flatpak cannot start a host outside its sandbox.
        QDir(home.path()).mkpath(QStringLiteral(".local/share/flatpak/app/com.microsoft.Edge"));
        QCOMPARE(HostManifests::offlineSetup(QStringLiteral("edge"), home.path(), moved),
                 ExtensionLink::Setup::notPossible);
        QVERIFY(!QFileInfo::exists(
            HostManifests::manifestPath(*HostManifests::browser(QStringLiteral("edge")), home.path())));
    }

    // The ids whole-machine installs left for the program to trust, as the files may hold them.
    void machineExtensionIds_data()
    {
        QTest::addColumn<QByteArray>("first");  // <folder>/quillharbour/extension-id; "-": no file
        QTest::addColumn<QByteArray>("second"); // the same in a second folder
        QTest::addColumn<QStringList>("ids");
        const QByteArray a("aoldolcgicjjlkopnfpmphppdifkjcem"), b("ppppppppppppppppppppppppppppppaa");
        QTest::newRow("none installed") << QByteArray("-") << QByteArray("-") << QStringList();
        QTest::newRow("one") << a + '\n' << QByteArray("-") << QStringList{a};
        QTest::newRow("spaces and blank lines") << "\r\n  " + a + "  \r\n\n" << QByteArray("-") << QStringList{a};
        QTest::newRow("one in each, in order") << a << b + '\n' << QStringList{a, b};
        QTest::newRow("the same twice") << a << a << QStringList{a};
        QTest::newRow("not ids") << QByteArray("AOLDOLCGICJJLKOPNFPMPHPPDIFKJCEM\nzzz\n" + a.left(31) + "\n" + a + "q")
                                 << QByteArray("") << QStringList();
        QTest::newRow("a huge file") << QByteArray(1 << 20, 'a') + '\n' + b << QByteArray("-") << QStringList();
    }
    void machineExtensionIds()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QStringList, ids);
        QTemporaryDir one, two;
        for (const auto& [dir, bytes] : {std::pair{&one, first}, std::pair{&two, second}})
            if (bytes != "-")
                QVERIFY(TestEnvironment::writeFile(dir->filePath(QStringLiteral("quillharbour/extension-id")), bytes));
        const QStringList folders{one.path(), two.path(), one.filePath(QStringLiteral("missing"))};
        QCOMPARE(HostManifests::machineExtensionIds(folders), ids);
        // The Chromium family's manifests allow them beside the fixed id; Firefox's id is fixed.
        QJsonArray origins{QStringLiteral("chrome-extension://%1/").arg(NativeMessaging::chromiumExtensionId)};
        for (const QString& id : ids)
            origins.append(QStringLiteral("chrome-extension://%1/").arg(id));
        const auto manifest = [&](const char* browser) {
            return QJsonDocument::fromJson(HostManifests::manifest(*HostManifests::browser(QLatin1String(browser)),
                                                                   QStringLiteral("/usr/bin/quillharbour"), ids))
                .object();
        };
        QCOMPARE(manifest("chrome").value(QStringLiteral("allowed_origins")).toArray(), origins);
        QCOMPARE(manifest("firefox").value(QStringLiteral("allowed_extensions")).toArray(),
                 QJsonArray{NativeMessaging::firefoxExtensionId});
    }

    // Which profiles of a Chromium-family data folder are named as left out, from the files the
    // browser keeps: its profile list and each profile's extensions. "-": no such file.
    void profilesLeftOut_data()
    {
        QTest::addColumn<QByteArray>("localState");
        QTest::addColumn<QByteArray>("second");       // Profile 2/Preferences
        QTest::addColumn<QByteArray>("secondSecure"); // Profile 2/Secure Preferences
        QTest::addColumn<QByteArray>("policy");       // a managed policy file
        QTest::addColumn<QString>("leftOut");
        const QByteArray on = "{\"extensions\":{\"settings\":{\"" + NativeMessaging::chromiumExtensionId.toLatin1() +
                              "\":{\"disable_reasons\":[]}}}}";
        const QByteArray two = "{\"profile\":{\"info_cache\":{\"Default\":{\"name\":\"Your Chromium\"},"
                               "\"Profile 2\":{\"name\":\"Person 1\"}}}}";
        const struct {
            const char* name;
            QByteArray localState, second, secure = "-", policy = "-";
            const char* leftOut = "";
        } rows[] = {
            {"every profile has it", two, on},
            {"the second has none", two, "{\"extensions\":{\"settings\":{}}}", "-", "-", "Person 1"},
            {"switched off in the second", two, QByteArray(on).replace("[]", "[1]"), "-", "-", "Person 1"},
            {"listed in the secure preferences only", two, "{}", on},
            {"the machine-wide copy's own id", two,
             "{\"extensions\":{\"settings\":{\"aoldolcgicjjlkopnfpmphppdifkjcem\":{}}}}"},
            {"a policy force-installs it in every profile", two, "{}", "-",
             "{\"ExtensionInstallForcelist\":[\"aoldolcgicjjlkopnfpmphppdifkjcem;file:///x.xml\"]}"},
            {"a malformed policy", two, "{}", "-", "{\"Ext", "Person 1"},
            {"a malformed profile list", two.left(40), "{}"},
            {"a profile list past its bound", two + QByteArray(5 * 1024 * 1024, ' '), "{}"},
            {"the second's preferences malformed: unknown, not named", two, on.left(30)},
            {"a listed folder that climbs out is no profile",
             "{\"profile\":{\"info_cache\":{\"Default\":{},\"../Profile 2\":{\"name\":\"Out\"}}}}", "{}"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.name) << r.localState << r.second << r.secure << r.policy << QString::fromUtf8(r.leftOut);
    }
    void profilesLeftOut()
    {
        QFETCH(QByteArray, localState);
        QFETCH(QByteArray, second);
        QFETCH(QByteArray, secondSecure);
        QFETCH(QByteArray, policy);
        QFETCH(QString, leftOut);
        QTemporaryDir data, policies;
        const auto put = [&](const QString& path, const QByteArray& bytes) {
            return bytes == "-" || TestEnvironment::writeFile(data.filePath(path), bytes);
        };
        const QByteArray on =
            "{\"extensions\":{\"settings\":{\"" + NativeMessaging::chromiumExtensionId.toLatin1() + "\":{}}}}";
        QVERIFY(put(QStringLiteral("Local State"), localState) && put(QStringLiteral("Default/Preferences"), on) &&
                put(QStringLiteral("Profile 2/Preferences"), second) &&
                put(QStringLiteral("Profile 2/Secure Preferences"), secondSecure));
        if (policy != "-")
            QVERIFY(TestEnvironment::writeFile(policies.filePath(QStringLiteral("quillharbour.json")), policy));
        const QStringList ids{NativeMessaging::chromiumExtensionId, QStringLiteral("aoldolcgicjjlkopnfpmphppdifkjcem")};
        FileWatches watches;
        ChromiumProfiles::Reader reader;
        int told = 0;
        reader.watchFiles(&watches, [&] { ++told; });
        const QStringList expected = leftOut.isEmpty() ? QStringList() : QStringList{leftOut};
        QCOMPARE(reader.leftOut({data.path()}, policies.path(), ids), expected);
        // The browser replaces its files whole, telling nobody: each change is heard of without
        // asking, and so is the next one, after the reading the first brought.
        const auto replace = [&](const QString& file, const QByteArray& bytes) {
            const QString path = data.filePath(file);
            return put(file + QStringLiteral(".new"), bytes) &&
                   std::rename(QFile::encodeName(path + QStringLiteral(".new")).constData(),
                               QFile::encodeName(path).constData()) == 0;
        };
        if (policy == "-") {
            QVERIFY(replace(QStringLiteral("Local State"), localState));
            QTRY_VERIFY(told > 0);
        }
        // The extension added in the second profile is seen at once.
        int before = told;
        QVERIFY(replace(QStringLiteral("Profile 2/Preferences"), on + "\n"));
        if (!expected.isEmpty())
            QTRY_VERIFY(told > before);
        QCOMPARE(reader.leftOut({data.path()}, policies.path(), ids), QStringList());
        before = told;
        QVERIFY(replace(QStringLiteral("Profile 2/Preferences"), on + "\n\n"));
        if (!expected.isEmpty())
            QTRY_VERIFY(told > before);
        // Files that show the connected extension in no profile are not written yet: nothing is said.
        for (const char* file : {"Default/Preferences", "Profile 2/Preferences", "Profile 2/Secure Preferences"})
            QVERIFY(put(QString::fromLatin1(file), "{}"));
        QCOMPARE(reader.leftOut({data.path()}, policies.path(), ids), QStringList());
    }

    void installCopiesTheExtension()
    {
        const QString packaged =
            ExtensionInstaller::packagedFolder(QFileInfo(QStringLiteral(QH_PROGRAM)).absolutePath());
        QVERIFY(!packaged.isEmpty());
        QTemporaryDir data;
        const auto first = ExtensionInstaller::install(chromium.id, packaged, data.path());
        QVERIFY(first && !first->firefox);
        QVERIFY(QFileInfo(QDir(first->path).filePath(QStringLiteral("manifest.json"))).isFile());
        // A leftover from an older copy does not survive the next one.
        QFile stale(QDir(first->path).filePath(QStringLiteral("old.js")));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        const auto second = ExtensionInstaller::install(chromium.id, packaged, data.path());
        QVERIFY(second && !QFileInfo::exists(stale.fileName()));
        const auto firefox = ExtensionInstaller::install(QStringLiteral("firefox"), packaged, data.path());
        QVERIFY(firefox && firefox->firefox && firefox->path.endsWith(QLatin1String(".xpi")));
        QString error;
        QVERIFY(!ExtensionInstaller::install(chromium.id, QString(), data.path(), &error));
        QVERIFY(!error.isEmpty());
    }

    void blockedListFollowsTheStore()
    {
        StoreFixture f;
        StorageService& store = f.make();
        LocalBlockPageServer server(&store);
        FakeLink link;
        ExtensionBlockList list(&store, &server, &link);
        BlockRule rule;
        rule.id = QUuid::createUuid();
        rule.domain = QStringLiteral("www.Example.com");
        rule.createdAt = rule.updatedAt = f.clock.now() - 60;
        store.blocking().addRule(rule);
        QVERIFY(link.sites.isEmpty()); // no port yet: no page to send a tab to
        server.start(0, true);
        QTRY_COMPARE_WITH_TIMEOUT(link.sites.size(), 1, patience);
        QCOMPARE(link.sites.at(0).domain, QStringLiteral("example.com"));
        QVERIFY(link.sites.at(0).pageAddress.endsWith(QLatin1String("&from=")));
        QVERIFY(link.sites.at(0).pageAddress.contains(QStringLiteral("/blocked?rule=")));
        store.blocking().removeRule(rule.id);
        QVERIFY(link.sites.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestExtensionLink)
#include "tst_extension_link.moc"
