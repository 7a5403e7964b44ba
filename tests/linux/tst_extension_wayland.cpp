#include "ExtensionBrowserRig.h"
#include "TestEnvironment.h"
#include "WaylandSession.h"
#include "linux/LinuxBrowsers.h"

#include <QtTest>

using namespace ExtensionBrowserRig;

namespace {

const QString chromiumID = QStringLiteral("chromium");

} // namespace

// On Wayland nothing names the window in front: only the browser's extension can tell whether
// the person is in the browser. Chromium never tells it when another window takes the focus, so
// the extension must look again itself, or a daily limit counts while the person is elsewhere.
class TestExtensionWayland : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionBus> m_bus;
    std::unique_ptr<WaylandSession> m_session;
    std::unique_ptr<SiteServer> m_site;

    static QString usualProfile()
    {
        return LinuxBrowsers::homeFolder(QDir::homePath(), QStringLiteral(".config/chromium"));
    }

    // A Chromium on the compositor, from the usual profile folder where the program writes the
    // browser's link file, or (without the extension) from a folder of its own.
    void startChromium(QProcess& chromium, const QString& profile, bool withExtension, const QString& address)
    {
        // The browser's relay finds the program in this process's own runtime folder; the
        // compositor is named by its socket's whole path.
        QProcessEnvironment env = m_session->clientEnvironment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"),
                   QDir(env.value(QStringLiteral("XDG_RUNTIME_DIR"))).filePath(m_session->display()));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), qEnvironmentVariable("XDG_RUNTIME_DIR"));
        chromium.setProcessEnvironment(env);
        chromium.setProgram(QStringLiteral("chromium"));
        QStringList arguments{QStringLiteral("--ozone-platform=wayland"), QStringLiteral("--user-data-dir=") + profile};
        if (withExtension)
            arguments << QStringLiteral("--load-extension=") + QStringLiteral(QH_EXTENSION) +
                             QStringLiteral("/chromium");
        chromium.setArguments(arguments + chromiumArguments(m_site->serverPort()) + QStringList{address});
        chromium.setStandardOutputFile(QProcess::nullDevice());
        chromium.setStandardErrorFile(QProcess::nullDevice());
        chromium.start();
    }
    // True once the compositor has given the window the keyboard.
    bool focus(const QProcess& window) { return m_session->focusWindowOf(window.processId()); }

private slots:
    void initTestCase()
    {
        m_bus = std::make_unique<SessionBus>();
        QVERIFY2(!m_bus->address().isEmpty(), "dbus-daemon could not be started");
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus->address().toLocal8Bit());
        qunsetenv("DISPLAY");
        m_session = std::make_unique<WaylandSession>(TestEnvironment::homePath());
        QVERIFY2(!m_session->display().isEmpty(),
                 qPrintable(QStringLiteral("no headless sway: ") + m_session->failure()));
        m_site = std::make_unique<SiteServer>();
    }

    void cleanupTestCase()
    {
        m_site.reset();
        m_session.reset();
        m_bus.reset();
    }

    void focusLeavingTheBrowserIsReported()
    {
        Program program;
        QVERIFY(program.start());
        QCOMPARE(hostManifestsFor(chromiumID), QString());
        QProcess chromium;
        startChromium(chromium, usualProfile(), true, QStringLiteral("about:blank"));
        const auto stopped = qScopeGuard([&chromium] { stop(chromium); });
        QVERIFY(chromium.waitForStarted(patience));
        QTRY_VERIFY_WITH_TIMEOUT(program.bridge.connectedBrowsers().contains(chromiumID), patience);

        // In front: the extension says so.
        QTRY_VERIFY_WITH_TIMEOUT((m_session->command({QStringLiteral("[app_id=\"^chromium\"] focus")}),
                                  program.report(chromiumID).windowFocused),
                                 patience);
        QCOMPARE(program.workspace.frontmostApplicationId(), std::optional(chromiumID));

        // An empty workspace takes the focus: no window of the browser has it any more, and the
        // engine hears so without any event from the browser.
        QVERIFY(m_session->command({QStringLiteral("workspace"), QStringLiteral("2")}));
        QTRY_VERIFY_WITH_TIMEOUT(!program.report(chromiumID).windowFocused, patience);
        QCOMPARE(program.workspace.frontmostApplicationId(), std::nullopt);

        // Back in the browser, counted again.
        QVERIFY(m_session->command({QStringLiteral("workspace"), QStringLiteral("1")}));
        QTRY_VERIFY_WITH_TIMEOUT(program.report(chromiumID).windowFocused, patience);
    }

    // A one-minute limit, with another program's window in front for half a minute, in two
    // spells: the limit is used up by the browser's own minute in front, neither sooner nor never.
    // After the first time, Chromium says nothing when its window gets the focus back, and no page
    // loads meanwhile.
    void limitCountsOnlyWhileTheBrowserIsInFront()
    {
        Program program;
        QVERIFY(program.start());
        const QUuid rule = program.block(QStringLiteral("example.org"), 1);
        QVERIFY(!rule.isNull());
        QCOMPARE(hostManifestsFor(chromiumID), QString());
        const QString reading = QStringLiteral("http://www.example.org/reading");
        QProcess chromium;
        startChromium(chromium, usualProfile(), true, reading);
        const auto stopped = qScopeGuard([&chromium] { stop(chromium); });
        QVERIFY(chromium.waitForStarted(patience));
        QTRY_VERIFY_WITH_TIMEOUT(program.bridge.connectedBrowsers().contains(chromiumID), patience);
        QTRY_COMPARE_WITH_TIMEOUT(program.report(chromiumID).url, reading, patience);
        // Another program's window: a browser without the extension.
        QTemporaryDir otherProfile;
        QProcess other;
        startChromium(other, otherProfile.path(), false, QStringLiteral("about:blank"));
        const auto otherStopped = qScopeGuard([&other] { stop(other); });
        QVERIFY(other.waitForStarted(patience));
        // Its window is up once it can take the focus (a new window takes it by itself).
        QTRY_VERIFY_WITH_TIMEOUT((focus(other) && !program.report(chromiumID).windowFocused), patience);

        // The clock moves by two seconds, the most one check counts, each time a check that may
        // count has looked (in front), or once two checks have begun (elsewhere).
        const auto used = [&] {
            return program.store.blocking().state().usageSecondsByRuleId.value(uuidText(rule), 0);
        };
        const auto exceeded = [&] { return program.store.blocking().state().exceededRuleIds.contains(rule); };
        const auto counted = [&] {
            const int looks = program.idle.looks;
            program.f.clock.advance(2);
            return QTest::qWaitFor([&] { return program.idle.looks > looks; }, patience);
        };
        const auto checked = [&] {
            const int asked = program.desktop.asked;
            program.f.clock.advance(2);
            return QTest::qWaitFor([&] { return program.desktop.asked > asked + 1; }, patience);
        };
        // Twenty seconds in front, fifteen elsewhere, twice; then the last twenty seconds.
        for (const int spell : {1, 2}) {
            QTRY_VERIFY_WITH_TIMEOUT((focus(chromium) && program.report(chromiumID).windowFocused), patience);
            for (int step = 0; step < 20 && used() < 20 * spell; ++step)
                QVERIFY2(counted(), qPrintable(QStringLiteral("no check counted the browser in front: spell %1, %2 s")
                                                   .arg(spell)
                                                   .arg(used())));
            QCOMPARE(used(), 20 * spell);
            QTRY_VERIFY_WITH_TIMEOUT((focus(other) && !program.report(chromiumID).windowFocused), patience);
            for (int step = 0; step < 8; ++step)
                QVERIFY(checked());
            QCOMPARE(used(), 20 * spell);
            QVERIFY(!exceeded());
        }
        QTRY_VERIFY_WITH_TIMEOUT((focus(chromium) && program.report(chromiumID).windowFocused), patience);
        int checks = 0;
        for (; checks < 40 && !exceeded(); ++checks)
            QVERIFY2(counted(), "no check counted the browser in front again");
        QCOMPARE(used(), 60);
        // Ten checks of two seconds, and maybe the one that starts measuring again.
        QVERIFY2(checks == 10 || checks == 11, qPrintable(QString::number(checks)));
        QTRY_VERIFY_WITH_TIMEOUT(program.reportsBlockPageFor(chromiumID, reading), patience);
    }
};

QTEST_GUILESS_MAIN(TestExtensionWayland)
#include "tst_extension_wayland.moc"
