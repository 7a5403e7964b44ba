#pragma once

// What the real-browser tests of the companion extension share: the program's pieces running in
// the test (store, block page, engine, the extensions' socket) on a manual clock, and a person's
// hands on the private desktop through xdotool.
#include "DesktopSession.h"
#include "FakeWorkspace.h"
#include "SessionBus.h"
#include "SiteServer.h"
#include "StoreFixture.h"
#include "blocking/BlockingCore.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "linux/ExtensionBridge.h"
#include "linux/ExtensionRoute.h"
#include "linux/HostManifests.h"
#include "linux/NativeMessaging.h"
#include "platform/ScreenState.h"

#include <QDir>
#include <QProcess>
#include <QtTest>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace ExtensionBrowserRig {

constexpr int patience = 30000;

// The private desktop a test program's browsers run on: a session bus, Xvfb with openbox, and
// the local site the blocked addresses lead to.
struct PrivateDesktop {
    std::unique_ptr<SessionBus> bus;
    std::unique_ptr<DesktopSession> desktop;
    std::unique_ptr<SiteServer> site;

    // Why it could not start; empty when it runs.
    QString start()
    {
        ::chmod(qgetenv("XDG_RUNTIME_DIR").constData(), 0700);
        bus = std::make_unique<SessionBus>();
        if (bus->address().isEmpty())
            return QStringLiteral("dbus-daemon could not be started");
        desktop = std::make_unique<DesktopSession>();
        if (desktop->display().isEmpty())
            return QStringLiteral("Xvfb or openbox could not be started");
        qputenv("DISPLAY", desktop->display().toLocal8Bit());
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toLocal8Bit());
        site = std::make_unique<SiteServer>();
        return {};
    }

    void stop()
    {
        desktop.reset();
        bus.reset();
    }
};

// The other route, for browsers without the extension: here there is none.
class NoRoute : public ScriptRunner {
public:
    void run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done) override
    {
        done(BrowserScriptResult::answer(command.noWindowAnswer()));
    }
};

// The engine asks for the idle time exactly when a look at the tab can count as use: each question
// is one counting check, which lets a test move the clock once per check.
class CountingIdleTime : public FakeIdleTime {
public:
    mutable int looks = 0;
    std::optional<double> secondsSinceLastInput() const override
    {
        ++looks;
        return FakeIdleTime::secondsSinceLastInput();
    }
};

// The engine asks the desktop which program is in front once at the start of every check: a test
// that moves the clock once per check while no browser counts waits on this.
class CountingWorkspace : public FakeWorkspace {
public:
    mutable int asked = 0;
    std::optional<QString> frontmostApplicationId() const override
    {
        ++asked;
        return FakeWorkspace::frontmostApplicationId();
    }
};

// The program's side, on a manual clock that the test moves.
struct Program {
    StoreFixture f;
    StorageService& store = f.make();
    LocalBlockPageServer server{&store};
    ExtensionBridge bridge;
    CountingWorkspace desktop;
    CountingIdleTime idle;
    ExtensionWorkspace workspace{desktop, bridge};
    BrowserScriptExecutor executor{
        std::make_unique<RoutingScriptRunner>(&bridge, std::make_unique<ExtensionScriptRunner>(&bridge),
                                              std::make_unique<NoRoute>()),
        3000, nullptr, BrowserScriptExecutor::Placement::callingThread};
    ScreenState screen;
    std::unique_ptr<BlockingCore> core;

    bool start()
    {
        const std::optional<QString> socket = NativeMessaging::socketPath();
        if (!socket || !bridge.listen(*socket))
            return false;
        server.start(0, true);
        core = std::make_unique<BlockingCore>(store, f.defaults,
                                              BlockingCore::Time{f.clock, [this] { return f.calendar; }, &f.bootClock},
                                              BlockingCore::Desktop{workspace, idle, screen}, server, executor,
                                              BlockingCore::Routes{nullptr, &bridge, nullptr, {}});
        core->engine.start();
        return server.port().has_value();
    }
    QUuid block(const QString& domain, std::optional<int> dailyLimit = std::nullopt)
    {
        BlockRule rule;
        rule.id = QUuid::createUuid();
        rule.domain = domain;
        rule.displayName = domain;
        rule.createdAt = rule.updatedAt = f.clock.now() - 60;
        if (dailyLimit) {
            rule.blockApplySchedule.isAllDay = false;
            rule.blockApplySchedule.isAfterMaxDailyTime = true;
            rule.dailyLimitMinutes = *dailyLimit;
        }
        return store.blocking().addRule(rule) ? rule.id : QUuid();
    }
    QString blockPage() const { return QStringLiteral("http://127.0.0.1:%1/blocked").arg(*server.port()); }
    ExtensionTabReport report(const QString& browser) const
    {
        return bridge.report(browser).value_or(ExtensionTabReport{});
    }
    // The tab's report names the block page with the whole address as `from`.
    bool reportsBlockPageFor(const QString& browser, const QString& address) const
    {
        const QString url = report(browser).url;
        return url.startsWith(blockPage()) &&
               url.endsWith(QLatin1String("&from=") + QString::fromLatin1(QUrl::toPercentEncoding(address)));
    }
};

inline QString hostManifestsFor(const QString& browserId)
{
    const HostManifests::Browser* b = HostManifests::browser(browserId);
    QString error;
    if (!b || !HostManifests::write(*b, QDir::homePath(), QStringLiteral(QH_PROGRAM), {}, &error))
        return error.isEmpty() ? QStringLiteral("no such browser") : error;
    return {};
}

// What every visible Chromium a test starts is given besides its profile and route: no sandbox (the
// tests may run as root), no first-run questions or traffic of its own, and every example address
// led to the test's local site on `sitePort`.
inline QStringList chromiumArguments(quint16 sitePort)
{
    return {QStringLiteral("--no-sandbox"),
            QStringLiteral("--disable-gpu"),
            QStringLiteral("--no-first-run"),
            QStringLiteral("--disable-background-networking"),
            QStringLiteral("--disable-component-update"),
            QStringLiteral("--disable-sync"),
            QStringLiteral("--disable-features=HttpsUpgrades"),
            QStringLiteral("--host-resolver-rules=MAP example.com 127.0.0.1:%1, MAP *.example.com 127.0.0.1:%1, "
                           "MAP *.example.net 127.0.0.1:%1, MAP *.example.org 127.0.0.1:%1")
                .arg(sitePort)};
}

inline QString xdotool(const QStringList& arguments)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), arguments);
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The browser's main window: a browser may own other, smaller windows of the same class. Both
// conditions must hold (xdotool takes any one by default, and a tray's panel has a name too).
inline QString browserWindow(qint64 pid)
{
    return xdotool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                    QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), QStringLiteral(".")})
        .section(u'\n', -1);
}

// Types an address into the address bar of the browser's window, as a person does.
inline void typeAddress(qint64 pid, const QString& address)
{
    const QString window = browserWindow(pid);
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+l")});
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), address});
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
}

// Keys typed while the browser is still moving the focus to its address bar go to the page, and a
// busy browser can drop one of a run of the same key: a person types again, and so does the test,
// until the address took. The same address typed twice ends the same way.
inline bool typeUntil(qint64 pid, const QString& address, const std::function<bool()>& arrived)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        typeAddress(pid, address);
        if (QTest::qWaitFor(arrived, patience / 3))
            return true;
        qWarning("typed again: %s", qPrintable(address));
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    }
    return false;
}

inline QString windowTitle(qint64 pid)
{
    return xdotool({QStringLiteral("getwindowname"), browserWindow(pid)});
}

inline void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

} // namespace ExtensionBrowserRig
