#include "ExtensionBrowserRig.h"
#include "WaylandSession.h"
#include "linux/LinuxBrowsers.h"

#include <QtTest>

using namespace ExtensionBrowserRig;

namespace {

const QString chromiumID = QStringLiteral("org.chromium.Chromium");

} // namespace

// On Wayland nothing names the window in front: only the browser's extension can tell whether
// the person is in the browser. Chromium never tells it when another window takes the focus, so
// the extension must look again itself, or a daily limit counts while the person is elsewhere.
class TestExtensionWayland : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionBus> m_bus;
    std::unique_ptr<WaylandSession> m_session;

private slots:
    void initTestCase()
    {
        m_bus = std::make_unique<SessionBus>();
        QVERIFY2(!m_bus->address().isEmpty(), "dbus-daemon could not be started");
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus->address().toLocal8Bit());
        qunsetenv("DISPLAY");
        m_session = std::make_unique<WaylandSession>();
        QVERIFY2(!m_session->display().isEmpty(),
                 qPrintable(QStringLiteral("no headless sway: ") + m_session->failure()));
    }

    void cleanupTestCase()
    {
        m_session.reset();
        m_bus.reset();
    }

    void focusLeavingTheBrowserIsReported()
    {
        Program program;
        QVERIFY(program.start());
        QCOMPARE(hostManifestsFor(chromiumID), QString());
        // The usual profile folder, where the program writes the browser's link file.
        const QString profile = LinuxBrowsers::homeFolder(QDir::homePath(), QStringLiteral(".config/chromium"));
        // The browser's relay finds the program in this process's own runtime folder; the
        // compositor is named by its socket's whole path.
        QProcessEnvironment env = m_session->clientEnvironment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"),
                   QDir(env.value(QStringLiteral("XDG_RUNTIME_DIR"))).filePath(m_session->display()));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), qEnvironmentVariable("XDG_RUNTIME_DIR"));
        QProcess chromium;
        chromium.setProcessEnvironment(env);
        chromium.setProgram(QStringLiteral("chromium"));
        chromium.setArguments(
            {QStringLiteral("--ozone-platform=wayland"), QStringLiteral("--user-data-dir=") + profile,
             QStringLiteral("--load-extension=") + QStringLiteral(QH_EXTENSION) + QStringLiteral("/chromium"),
             QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
             QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
             QStringLiteral("--disable-sync"), QStringLiteral("about:blank")});
        chromium.setStandardOutputFile(QProcess::nullDevice());
        chromium.setStandardErrorFile(QProcess::nullDevice());
        chromium.start();
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
};

QTEST_GUILESS_MAIN(TestExtensionWayland)
#include "tst_extension_wayland.moc"
