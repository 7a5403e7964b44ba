// A typed blocked address until the block page is shown, on both routes, each beside the least
// its mechanism can do: the companion extension beside a bare extension (one fixed redirect rule,
// no program), the DevTools interception route beside a bare DevTools interception (Fetch.enable
// and a redirect with no program logic at all). Both bare routes land on the same block page of
// the same server as the route they stand beside. Each route has its own Chromium, home and site
// on one private desktop, and the four take turns navigation by navigation, in a shifting order,
// so all share whatever else the machine is doing. Then the wake-ups of the running core while
// its extension is connected and nothing happens, beside the DevTools route's core and a bare Qt
// process on the same 0.65 s timer.
//
// bench_extension [program] [extension folder] [idle seconds] [navigations per route]
// The program is the built application, which the browser starts as the extension's relay.
#include "DesktopSession.h"
#include "Figure.h"
#include "NullNotifications.h"
#include "ProcessCounts.h"
#include "SessionBus.h"
#include "SiteServer.h"
#include "blocking/BlockingCore.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "files/Defaults.h"
#include "linux/DevToolsClient.h"
#include "linux/DevToolsNavigationInterceptor.h"
#include "linux/DevToolsScriptRunner.h"
#include "linux/ExtensionBridge.h"
#include "linux/ExtensionRoute.h"
#include "linux/HostManifests.h"
#include "linux/LinuxDesktop.h"
#include "linux/NativeMessaging.h"
#include "store/StorageService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

QTextStream out(stdout);

constexpr int patienceMs = 30000;

// Runs the event loop until `done` holds or `ms` have passed. Events are handled as they come;
// the times measured are taken where they are handled, not here.
bool waitFor(const std::function<bool()>& done, int ms)
{
    if (done())
        return true;
    QElapsedTimer waited;
    waited.start();
    QEventLoop loop;
    QTimer look;
    look.setInterval(5);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done() || waited.elapsed() >= ms)
            loop.quit();
    });
    look.start();
    loop.exec();
    return done();
}

QJsonObject call(DevToolsClient& client, const QString& method, const QJsonObject& params, const QString& session = {})
{
    std::optional<QJsonObject> answer;
    client.send(
        method, params, 5000, [&](const QJsonObject& r, const QString&) { answer = r; }, session);
    waitFor([&] { return answer.has_value(); }, 6000);
    return answer.value_or(QJsonObject());
}

// The first page of a browser, attached on a session of this connection.
QString attachToPage(DevToolsClient& client)
{
    for (const QJsonValue& t :
         call(client, QStringLiteral("Target.getTargets"), {}).value(QStringLiteral("targetInfos")).toArray())
        if (t.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
            return call(client, QStringLiteral("Target.attachToTarget"),
                        {{QStringLiteral("targetId"), t.toObject().value(QStringLiteral("targetId"))},
                         {QStringLiteral("flatten"), true}})
                .value(QStringLiteral("sessionId"))
                .toString();
    return {};
}

bool tracing()
{
    return qEnvironmentVariableIsSet("QH_BENCH_TRACE");
}

// Every time one of the process's threads was woken, the same account bench_desktop keeps.
qint64 wakeups(qint64 pid)
{
    qint64 sum = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(task + QStringLiteral("/status")));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                sum += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return sum;
}

// The relays a browser started for the extension: the program, called with the extension's origin,
// a child of the browser.
QList<qint64> relays(const QString& program, qint64 browser)
{
    QList<qint64> found;
    const QString wanted = QFileInfo(program).canonicalFilePath();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile f(QStringLiteral("/proc/%1/cmdline").arg(entry));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !f.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
            continue;
        // The parent follows the command's name, which ends with the last ')'.
        const QByteArray status = stat.readAll();
        if (status.mid(status.lastIndexOf(')') + 2).split(' ').value(1).toLongLong() != browser)
            continue;
        const QByteArrayList arguments = f.readAll().split('\0');
        if (QFileInfo(QString::fromLocal8Bit(arguments.value(0))).canonicalFilePath() == wanted &&
            std::any_of(arguments.cbegin(), arguments.cend(),
                        [](const QByteArray& a) { return a.startsWith("chrome-extension://"); }))
            found.append(pid);
    }
    return found;
}

// The extension route's core has no second route: a browser without its extension is left alone.
class NoRoute : public ScriptRunner {
public:
    void run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done) override
    {
        done(BrowserScriptResult::answer(command.noWindowAnswer()));
    }
};

// The running core as the application builds it, without its windows, on one route only so that
// the other cannot take the navigation first.
int runCore(QCoreApplication& app, bool extensionRoute, const QString& program)
{
    const Clock& clock = SystemClock::instance();
    const auto calendar = [] { return Calendar::current(); };
    Defaults defaults(Defaults::defaultPath());
    NullNotifications notifications;
    StorageEnvironment environment;
    environment.clock = &clock;
    environment.calendar = calendar;
    environment.defaults = &defaults;
    environment.notifications = &notifications;
    StorageService storage(std::nullopt, environment);
    LocalBlockPageServer server(&storage);
    X11Display display;
    LinuxWorkspace desktop(display);
    X11IdleTime idle(display);
    LinuxScreenState screen;

    std::unique_ptr<ExtensionBridge> bridge;
    std::unique_ptr<ExtensionWorkspace> workspace;
    std::unique_ptr<ScriptRunner> runner;
    std::unique_ptr<DevToolsNavigationInterceptor> interceptor;
    if (extensionRoute) {
        for (const QString& failure : HostManifests::writeAll(QDir::homePath(), program))
            out << "host manifest not written: " << failure << Qt::endl;
        bridge = std::make_unique<ExtensionBridge>();
        const std::optional<QString> socket = NativeMessaging::socketPath();
        if (!socket || !bridge->listen(*socket)) {
            out << "the extensions' socket cannot be opened: " << bridge->lastError() << Qt::endl;
            return 1;
        }
        workspace = std::make_unique<ExtensionWorkspace>(desktop, *bridge);
        runner = std::make_unique<RoutingScriptRunner>(
            bridge.get(), std::make_unique<ExtensionScriptRunner>(bridge.get()), std::make_unique<NoRoute>());
    } else {
        runner = std::make_unique<DevToolsScriptRunner>([&desktop](const QString& id) { return desktop.isRunning(id); },
                                                        QDir::homePath());
        interceptor = std::make_unique<DevToolsNavigationInterceptor>(QDir::homePath());
    }
    BrowserScriptExecutor executor(std::move(runner), 3000, nullptr, BrowserScriptExecutor::Placement::callingThread);
    BlockingCore core(storage, defaults, {clock, calendar, nullptr},
                      {workspace ? static_cast<Workspace&>(*workspace) : desktop, idle, screen}, server, executor,
                      {interceptor.get(), bridge.get(), nullptr, {}});
    core.engine.start();
    out << "core running; block page on http://127.0.0.1:" << server.port().value_or(0) << Qt::endl;
    return app.exec();
}

// The least an interception can do: every top-level document of the blocked domain answered at
// once with a redirect to `prefix` and the address, no store, no engine, no decision.
int runBareInterceptor(QCoreApplication& app, const QUrl& endpoint, const QString& prefix)
{
    DevToolsClient client;
    QString error = QStringLiteral("pending");
    client.open(endpoint, 10000, [&](const QString& e) { error = e; });
    waitFor([&] { return error != QLatin1String("pending"); }, 11000);
    const QString session = error.isEmpty() ? attachToPage(client) : QString();
    if (session.isEmpty()) {
        out << "the bare interceptor could not attach: " << error << Qt::endl;
        return 1;
    }
    QObject::connect(&client, &DevToolsClient::protocolEvent, &client,
                     [&](const QString& method, const QJsonObject& params, const QString& sessionId) {
                         if (method != QLatin1String("Fetch.requestPaused"))
                             return;
                         const QString url =
                             params.value(QStringLiteral("request")).toObject().value(QStringLiteral("url")).toString();
                         const QJsonArray headers{QJsonObject{
                             {QStringLiteral("name"), QStringLiteral("Location")},
                             {QStringLiteral("value"), prefix + QString::fromLatin1(QUrl::toPercentEncoding(url))}}};
                         client.send(
                             QStringLiteral("Fetch.fulfillRequest"),
                             {{QStringLiteral("requestId"), params.value(QStringLiteral("requestId"))},
                              {QStringLiteral("responseCode"), 302},
                              {QStringLiteral("responseHeaders"), headers}},
                             2000, [](const QJsonObject&, const QString&) {}, sessionId);
                     });
    QJsonArray patterns;
    for (const char* pattern : {"*://example.com/*", "*://*.example.com/*"})
        patterns.append(QJsonObject{{QStringLiteral("urlPattern"), QString::fromLatin1(pattern)},
                                    {QStringLiteral("resourceType"), QStringLiteral("Document")},
                                    {QStringLiteral("requestStage"), QStringLiteral("Request")}});
    call(client, QStringLiteral("Fetch.enable"), {{QStringLiteral("patterns"), patterns}}, session);
    out << "intercepting" << Qt::endl;
    return app.exec();
}

// One route: its home, site, browser, the program's side and the test's own DevTools session.
struct Route {
    QString name;
    QString home;
    QProcessEnvironment env;
    SiteServer site;
    QProcess browser, helper;
    DevToolsClient driver;
    QString session;
    QString blockPage; // every blocked navigation must end on an address starting with this

    // The navigation under way.
    QString committed;
    bool loaded = false;
    QElapsedTimer clock;
    bool timing = false;
    std::optional<double> took;
    std::optional<double> commit;

    std::vector<double> times;
    std::vector<double> commits; // until the block page committed, of the same navigations
    int navigationsUnderWay = 0; // top-level navigations started since the timed one began
    int startedOver = 0;         // timed navigations that another navigation replaced on the way
    int failures = 0;

    ~Route()
    {
        driver.close();
        stop(helper);
        stop(browser);
    }
};

QProcessEnvironment privateHome(const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    // TMPDIR too: a stopped chromium leaves its singleton's folder in the temporary folder.
    for (const char* x : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const QString dir = QDir(home).filePath(QString::fromLatin1(x));
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(QString::fromLatin1(x), dir);
    }
    env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), QDir(home).filePath(QStringLiteral("data")));
    return env;
}

// The same all-day rule on example.com for each core, and Chromium chosen by the DevTools route's.
QUuid writeRule(const QString& home)
{
    const QUuid id = QUuid::createUuid();
    QDir().mkpath(QDir(home).filePath(QStringLiteral("data")));
    QFile rules(QDir(home).filePath(QStringLiteral("data/rules.json")));
    rules.open(QIODevice::WriteOnly);
    rules.write(QStringLiteral("[{\"activeWeekdays\":[],\"allowOneBreak\":false,\"blockApplySchedule\":{},"
                               "\"createdAt\":\"2026-01-01T00:00:00Z\",\"displayName\":\"example.com\","
                               "\"domain\":\"example.com\",\"id\":\"%1\",\"updatedAt\":\"2026-01-01T00:00:00Z\"}]")
                    .arg(id.toString(QUuid::WithoutBraces).toUpper())
                    .toUtf8());
    QDir().mkpath(QDir(home).filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour")));
    QFile defaults(QDir(home).filePath(QStringLiteral("XDG_CONFIG_HOME/quillharbour/defaults.json")));
    defaults.open(QIODevice::WriteOnly);
    defaults.write("{\"attemptedBrowserAutomationIDs\":[\"chromium\"]}");
    return id;
}

// The least an extension can do: one fixed redirect rule of the browser's own, for every
// top-level document of the blocked domain, straight to `page`; no relay, no program.
QString writeBareExtension(const QString& folder, const QString& page)
{
    QDir().mkpath(folder);
    QFile manifest(QDir(folder).filePath(QStringLiteral("manifest.json")));
    QFile rules(QDir(folder).filePath(QStringLiteral("rules.json")));
    if (!manifest.open(QIODevice::WriteOnly) || !rules.open(QIODevice::WriteOnly))
        return {};
    manifest.write(R"({"manifest_version": 3, "name": "bare redirect", "version": "1",
  "permissions": ["declarativeNetRequest"], "host_permissions": ["<all_urls>"],
  "declarative_net_request": {"rule_resources": [{"id": "r", "enabled": true, "path": "rules.json"}]}})");
    const QJsonObject rule{{QStringLiteral("id"), 1},
                           {QStringLiteral("priority"), 1},
                           {QStringLiteral("action"),
                            QJsonObject{{QStringLiteral("type"), QStringLiteral("redirect")},
                                        {QStringLiteral("redirect"), QJsonObject{{QStringLiteral("url"), page}}}}},
                           {QStringLiteral("condition"),
                            QJsonObject{{QStringLiteral("requestDomains"), QJsonArray{QStringLiteral("example.com")}},
                                        {QStringLiteral("resourceTypes"), QJsonArray{QStringLiteral("main_frame")}}}}};
    rules.write(QJsonDocument(QJsonArray{rule}).toJson(QJsonDocument::Compact));
    return folder;
}

bool startCore(Route& r, bool extensionRoute, const QString& program)
{
    r.helper.setProcessEnvironment(r.env);
    r.helper.setProgram(QCoreApplication::applicationFilePath());
    r.helper.setArguments(
        {QStringLiteral("--core"), extensionRoute ? QStringLiteral("extension") : QStringLiteral("devtools"), program});
    r.helper.setStandardErrorFile(QDir(r.home).filePath(QStringLiteral("core.log")));
    r.helper.start();
    const QString started = readLine(r.helper, patienceMs);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)")).match(started);
    if (!m.hasMatch() || m.captured(1) == QLatin1String("0")) {
        out << r.name << ": the core did not start: " << started << "\n";
        return false;
    }
    r.blockPage = QStringLiteral("http://127.0.0.1:%1/blocked?").arg(m.captured(1));
    return true;
}

std::optional<QUrl> startBrowser(Route& r, const QStringList& extra)
{
    // Where the program looks for Chromium's profile, its link files and its debugging port.
    const QString profile = QDir(r.env.value(QStringLiteral("XDG_CONFIG_HOME"))).filePath(QStringLiteral("chromium"));
    r.browser.setProcessEnvironment(r.env);
    r.browser.setProgram(QStringLiteral("chromium"));
    r.browser.setArguments(
        QStringList{QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
                    QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
                    QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                    QStringLiteral("--disable-features=HttpsUpgrades"),
                    // Three windows share one screen: none may be slowed for being behind another.
                    QStringLiteral("--disable-backgrounding-occluded-windows"),
                    QStringLiteral("--disable-renderer-backgrounding"), QStringLiteral("--user-data-dir=") + profile,
                    QStringLiteral("--remote-debugging-port=0"),
                    QStringLiteral("--host-resolver-rules=MAP example.com 127.0.0.1:%1, MAP *.example.com "
                                   "127.0.0.1:%1, MAP example.org 127.0.0.1:%1")
                        .arg(r.site.serverPort())} +
        extra + QStringList{QStringLiteral("about:blank")});
    r.browser.setStandardOutputFile(QProcess::nullDevice());
    r.browser.setStandardErrorFile(QDir(r.home).filePath(QStringLiteral("chromium.log")));
    r.browser.start();
    std::optional<QUrl> endpoint;
    waitFor(
        [&] {
            return (endpoint =
                        DevToolsClient::browserEndpoint(QDir(profile).filePath(QStringLiteral("DevToolsActivePort"))))
                .has_value();
        },
        patienceMs);
    if (!endpoint) {
        out << r.name << ": chromium did not start\n";
        return std::nullopt;
    }
    QString error = QStringLiteral("pending");
    r.driver.open(*endpoint, 10000, [&error](const QString& e) { error = e; });
    waitFor([&] { return error != QLatin1String("pending"); }, 11000);
    r.session = error.isEmpty() ? attachToPage(r.driver) : QString();
    if (r.session.isEmpty()) {
        out << r.name << ": cannot attach to chromium's page: " << error << "\n";
        return std::nullopt;
    }
    Route* route = &r;
    QObject::connect(
        &r.driver, &DevToolsClient::protocolEvent, &r.driver,
        [route](const QString& method, const QJsonObject& params, const QString& sessionId) {
            if (sessionId != route->session)
                return;
            // QH_BENCH_TRACE=1: each timed navigation's steps, to see where its time goes.
            if (tracing() && route->timing)
                out << route->name << " " << route->clock.nsecsElapsed() / 1000 << "us " << method << " "
                    << params.value(QStringLiteral("url")).toString()
                    << params.value(QStringLiteral("frame")).toObject().value(QStringLiteral("url")).toString()
                    << params.value(QStringLiteral("request")).toObject().value(QStringLiteral("url")).toString()
                    << params.value(QStringLiteral("response")).toObject().value(QStringLiteral("url")).toString()
                    << " " << params.value(QStringLiteral("navigationType")).toString()
                    << (params.value(QStringLiteral("response"))
                                .toObject()
                                .value(QStringLiteral("fromDiskCache"))
                                .toBool()
                            ? " from the disk cache"
                            : "")
                    << Qt::endl;
            if (method == QLatin1String("Page.frameStartedNavigating") && route->timing &&
                !params.value(QStringLiteral("frameId")).toString().isEmpty())
                ++route->navigationsUnderWay;
            if (method == QLatin1String("Page.frameNavigated")) {
                const QJsonObject frame = params.value(QStringLiteral("frame")).toObject();
                if (!frame.contains(QStringLiteral("parentId"))) {
                    route->committed = frame.value(QStringLiteral("url")).toString();
                    route->loaded = false;
                    if (route->timing && route->committed.startsWith(route->blockPage))
                        route->commit = static_cast<double>(route->clock.nsecsElapsed()) / 1e6;
                }
            } else if (method == QLatin1String("Page.loadEventFired")) {
                route->loaded = true;
                if (route->timing && route->committed.startsWith(route->blockPage)) {
                    route->took = static_cast<double>(route->clock.nsecsElapsed()) / 1e6;
                    route->timing = false;
                }
            }
        });
    call(r.driver, QStringLiteral("Page.enable"), {}, r.session);
    if (tracing())
        call(r.driver, QStringLiteral("Network.enable"), {}, r.session);
    return endpoint;
}

bool navigate(Route& r, const QString& url)
{
    call(r.driver, QStringLiteral("Page.navigate"),
         {{QStringLiteral("url"), url}, {QStringLiteral("transitionType"), QStringLiteral("typed")}}, r.session);
    return waitFor([&] { return r.loaded && r.committed == url; }, patienceMs);
}

// A typed blocked address, timed from the command until the block page's load event.
std::optional<double> blockedNavigation(Route& r, const QString& url)
{
    r.took.reset();
    r.commit.reset();
    r.navigationsUnderWay = 0;
    r.timing = true;
    r.clock.start();
    r.driver.send(
        QStringLiteral("Page.navigate"),
        {{QStringLiteral("url"), url}, {QStringLiteral("transitionType"), QStringLiteral("typed")}}, 5000,
        [](const QJsonObject&, const QString&) {}, r.session);
    waitFor([&] { return r.took.has_value(); }, patienceMs);
    r.timing = false;
    if (r.took && r.navigationsUnderWay > 1)
        ++r.startedOver;
    return r.took;
}

// What else the machine was doing: the load averages over 1, 5 and 15 minutes.
QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(u' ', 0, 2) +
                                             QStringLiteral(" on %1 processors").arg(QThread::idealThreadCount())
                                       : QStringLiteral("unknown");
}

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<size_t>(std::ceil(q * static_cast<double>(v.size())));
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.value(0) == QLatin1String("--core"))
        return runCore(app, args.value(1) == QLatin1String("extension"), args.value(2));
    if (args.value(0) == QLatin1String("--bare-interceptor"))
        return runBareInterceptor(app, QUrl(args.value(1)), args.value(2));
    if (args.value(0) == QLatin1String("--bare-timer")) {
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [] {});
        timer.start(650);
        return app.exec();
    }
    const QString program = QFileInfo(args.value(0, QStringLiteral(QH_PROGRAM))).absoluteFilePath();
    const QString extension = QFileInfo(args.value(1, QStringLiteral(QH_EXTENSION))).absoluteFilePath();
    const int idleSeconds = args.value(2, QStringLiteral("60")).toInt();
    // A p95 read from fewer than a hundred-odd samples moves with one slow navigation.
    const int runs = std::max(40, args.value(3, QStringLiteral("120")).toInt());

    QTemporaryDir root;
    SessionBus bus;
    DesktopSession desktop;
    if (bus.address().isEmpty() || desktop.display().isEmpty()) {
        out << "no private desktop: dbus-daemon, Xvfb or openbox did not start\n";
        return 1;
    }
    Route extensionRoute, devToolsRoute, bareRoute, bareExtensionRoute;
    extensionRoute.name = QStringLiteral("extension route");
    devToolsRoute.name = QStringLiteral("DevTools interception route");
    bareRoute.name = QStringLiteral("bare DevTools interception");
    bareExtensionRoute.name = QStringLiteral("bare extension interception");
    for (Route* r : {&extensionRoute, &devToolsRoute, &bareRoute, &bareExtensionRoute}) {
        r->home = root.filePath(r == &extensionRoute  ? QStringLiteral("e")
                                : r == &devToolsRoute ? QStringLiteral("d")
                                : r == &bareRoute     ? QStringLiteral("b")
                                                      : QStringLiteral("x"));
        r->env = privateHome(r->home);
        r->env.insert(QStringLiteral("DISPLAY"), desktop.display());
        r->env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        r->env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    }

    // The extension's core listens and has written the host manifest before its browser starts.
    const QUuid extensionRule = writeRule(extensionRoute.home);
    if (!startCore(extensionRoute, true, program) ||
        !startBrowser(extensionRoute,
                      {QStringLiteral("--load-extension=") + QDir(extension).filePath(QStringLiteral("chromium"))}))
        return 1;
    const QUuid devToolsRule = writeRule(devToolsRoute.home);
    if (!startBrowser(devToolsRoute, {}) || !startCore(devToolsRoute, false, program))
        return 1;
    // The bare interception sends its navigations to the DevTools core's block page, the same page.
    const std::optional<QUrl> bareEndpoint = startBrowser(bareRoute, {});
    if (!bareEndpoint)
        return 1;
    bareRoute.blockPage = devToolsRoute.blockPage;
    bareRoute.helper.setProgram(QCoreApplication::applicationFilePath());
    bareRoute.helper.setArguments(
        {QStringLiteral("--bare-interceptor"), bareEndpoint->toString(),
         devToolsRoute.blockPage + QStringLiteral("rule=%1&domain=example.com&from=")
                                       .arg(devToolsRule.toString(QUuid::WithoutBraces).toUpper())});
    bareRoute.helper.start();
    if (readLine(bareRoute.helper, patienceMs) != QLatin1String("intercepting")) {
        out << "the bare interceptor did not start\n";
        return 1;
    }

    // The bare extension sends its navigations to the extension core's block page, the same page.
    bareExtensionRoute.blockPage = extensionRoute.blockPage;
    const QString bareExtension =
        writeBareExtension(QDir(bareExtensionRoute.home).filePath(QStringLiteral("extension")),
                           extensionRoute.blockPage + QStringLiteral("rule=%1&domain=example.com&from=")
                                                          .arg(extensionRule.toString(QUuid::WithoutBraces).toUpper()));
    if (bareExtension.isEmpty() ||
        !startBrowser(bareExtensionRoute, {QStringLiteral("--load-extension=") + bareExtension}))
        return 1;

    // Each route blocks before anything is measured: the extension's rules arrive once its relay
    // has introduced it, the interceptors once they are attached.
    const std::vector<Route*> routes{&extensionRoute, &bareExtensionRoute, &devToolsRoute, &bareRoute};
    for (Route* r : routes) {
        QElapsedTimer ready;
        ready.start();
        int attempt = 0;
        while (!blockedNavigation(*r, QStringLiteral("http://www.example.com/warm-up?%1").arg(++attempt))) {
            if (ready.elapsed() > 2 * patienceMs) {
                out << r->name << " never showed the block page; chromium's log is in " << r->home << "\n";
                return 1;
            }
            navigate(*r, QStringLiteral("http://example.org/"));
        }
        r->site.requests.clear();
    }

    out << "typed blocked address until the block page's load event, " << runs
        << " navigations per route, taking turns; load average before: " << loadAverage() << "\n";
    for (int i = 0; i < runs; ++i) {
        for (size_t k = 0; k < routes.size(); ++k) {
            Route& r = *routes[(static_cast<size_t>(i) + k) % routes.size()];
            if (!navigate(r, QStringLiteral("http://example.org/%1").arg(i))) {
                ++r.failures;
                continue;
            }
            waitFor([] { return false; }, 50 + QRandomGenerator::global()->bounded(200));
            if (const std::optional<double> ms =
                    blockedNavigation(r, QStringLiteral("http://www.example.com/feed?n=%1&b=%20#top").arg(i))) {
                r.times.push_back(*ms);
                r.commits.push_back(r.commit.value_or(*ms));
            } else
                ++r.failures;
        }
    }
    out << "load average after: " << loadAverage() << "\n";
    for (Route* r : routes) {
        qsizetype reached = 0;
        for (const QByteArray& request : r->site.requests)
            reached += request.contains("example.com") ? 1 : 0;
        out << "  " << qSetFieldWidth(30) << Qt::left << r->name << qSetFieldWidth(0) << " p50 "
            << QString::number(percentile(r->times, 0.5), 'f', 1) << " ms, p95 "
            << QString::number(percentile(r->times, 0.95), 'f', 1) << " ms, max "
            << QString::number(percentile(r->times, 1.0), 'f', 1) << " ms (committed p50 "
            << QString::number(percentile(r->commits, 0.5), 'f', 1) << ", p95 "
            << QString::number(percentile(r->commits, 0.95), 'f', 1) << " ms); " << r->startedOver
            << " started over on the way; " << r->failures << " failed; requests that reached the site: " << reached
            << (reached == 0 ? " (met)" : " (MISSED)") << "\n";
    }
    out.flush();
    const double e50 = percentile(extensionRoute.times, 0.5), e95 = percentile(extensionRoute.times, 0.95);
    benchFigure("typed block, extension route p50", e50, "ms", "bare extension interception p50",
                percentile(bareExtensionRoute.times, 0.5), 1.1);
    benchFigure("typed block, extension route p95", e95, "ms", "bare extension interception p95",
                percentile(bareExtensionRoute.times, 0.95), 1.1);
    const double d50 = percentile(devToolsRoute.times, 0.5), d95 = percentile(devToolsRoute.times, 0.95);
    benchFigure("typed block, DevTools route p50", d50, "ms", "bare DevTools interception p50",
                percentile(bareRoute.times, 0.5), 1.1);
    benchFigure("typed block, DevTools route p95", d95, "ms", "bare DevTools interception p95",
                percentile(bareRoute.times, 0.95), 1.1);
    // A navigation sent to the block page a second time, on its way there by a rule already,
    // starts over and costs a whole navigation more.
    benchAtMost("typed block started over, extension route", extensionRoute.startedOver, "navs", 0);
    benchAtMost("typed block started over, DevTools route", devToolsRoute.startedOver, "navs", 0);
    // Until the block page committed: what the interception decides, without the page's own
    // load (its icon comes from the browser's disk cache, which a busy disk makes slow).
    benchFigure("typed block committed, extension route p50", percentile(extensionRoute.commits, 0.5), "ms",
                "bare extension interception p50", percentile(bareExtensionRoute.commits, 0.5), 1.1);
    benchFigure("typed block committed, extension route p95", percentile(extensionRoute.commits, 0.95), "ms",
                "bare extension interception p95", percentile(bareExtensionRoute.commits, 0.95), 1.1);
    benchFigure("typed block committed, DevTools route p50", percentile(devToolsRoute.commits, 0.5), "ms",
                "bare DevTools interception p50", percentile(bareRoute.commits, 0.5), 1.1);
    benchFigure("typed block committed, DevTools route p95", percentile(devToolsRoute.commits, 0.95), "ms",
                "bare DevTools interception p95", percentile(bareRoute.commits, 0.95), 1.1);
    benchFigure("typed block, extension route p50", e50, "ms", "DevTools interception route p50",
                percentile(devToolsRoute.times, 0.5), 1.0);
    benchFigure("typed block, extension route p95", e95, "ms", "DevTools interception route p95",
                percentile(devToolsRoute.times, 0.95), 1.0);

    // Nothing happening: every tab on an ordinary page, the extension connected.
    if (idleSeconds > 0) {
        QProcess bare;
        bare.setProgram(QCoreApplication::applicationFilePath());
        bare.setArguments({QStringLiteral("--bare-timer")});
        bare.start();
        bare.waitForStarted(5000);
        for (Route* r : routes)
            navigate(*r, QStringLiteral("http://example.org/idle"));
        waitFor([] { return false; }, 2000);
        const QList<qint64> relayPids = relays(program, extensionRoute.browser.processId());
        const auto programWakeups = [&] {
            qint64 n = wakeups(extensionRoute.helper.processId());
            for (qint64 pid : relayPids)
                n += wakeups(pid);
            return n;
        };
        const qint64 e0 = programWakeups(), d0 = wakeups(devToolsRoute.helper.processId()),
                     b0 = wakeups(bare.processId());
        QElapsedTimer window;
        window.start();
        waitFor([] { return false; }, idleSeconds * 1000);
        const double seconds = static_cast<double>(window.elapsed()) / 1000.0;
        const double e = static_cast<double>(programWakeups() - e0) / seconds;
        const double d = static_cast<double>(wakeups(devToolsRoute.helper.processId()) - d0) / seconds;
        const double b = static_cast<double>(wakeups(bare.processId()) - b0) / seconds;
        out << "idle for " << idleSeconds << " s with the browsers connected (" << relayPids.size()
            << " relay counted with the extension route's core)\n";
        benchFigure("idle wake-ups/s, extension connected", e, "/s", "bare Qt 0.65 s timer", b, 0);
        benchFigure("idle wake-ups/s, extension connected", e, "/s", "DevTools route connected", d, 1.0);
        stop(bare);
    }
    return 0;
}
