#include "ExtensionBrowserRig.h"

#include <QTemporaryDir>

using namespace ExtensionBrowserRig;

namespace {

const QString firefoxID = QStringLiteral("firefox");

// Debian's firefox-esr on a fresh profile with the extension placed in it, as an administrator or
// a person would. Besides the signature check, only the prompt for add-ons placed this way is
// turned off; every other preference keeps its default (HTTPS-First stays on).
struct Firefox {
    QTemporaryDir profile;
    QProcess process;

    bool start(const QString& firstPage)
    {
        const QString executable = QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
        QDir(profile.path()).mkpath(QStringLiteral("extensions"));
        if (!QFile::copy(QStringLiteral(QH_EXTENSION) + QStringLiteral("/quillharbour-firefox.xpi"),
                         profile.filePath(QStringLiteral("extensions/")) + NativeMessaging::firefoxExtensionId +
                             QStringLiteral(".xpi")))
            return false;
        QFile prefs(profile.filePath(QStringLiteral("user.js")));
        if (!prefs.open(QIODevice::WriteOnly) || prefs.write("user_pref(\"xpinstall.signatures.required\", false);\n"
                                                             "user_pref(\"extensions.autoDisableScopes\", 0);\n") < 0)
            return false;
        prefs.close();
        process.setProgram(executable);
        process.setArguments({QStringLiteral("--no-remote"), QStringLiteral("--profile"), profile.path(), firstPage});
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start();
        return process.waitForStarted(patience);
    }
    ~Firefox() { stop(process); }

    bool titled(const QString& part, int ms = patience) const
    {
        return QTest::qWaitFor([&] { return windowTitle(process.processId()).contains(part); }, ms);
    }
};

} // namespace

// Firefox ESR with its defaults, through the companion extension: each case ends on the block
// page really shown (its title), not on an error page. The program's pieces run in this test.
class TestExtensionFirefox : public QObject {
    Q_OBJECT

    PrivateDesktop session;
    SiteServer* site = nullptr;

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("firefox-esr")).isEmpty())
            QSKIP("Debian's firefox-esr is not installed");
        const QString failed = session.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        site = session.site.get();
        QCOMPARE(hostManifestsFor(firefoxID), QString());
    }

    void cleanupTestCase() { session.stop(); }

    // A typed blocked address, http:// or https://, is redirected before it loads.
    void typedAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("typed http://") << "http://example.com/a?x=1&y=2";
        QTest::newRow("typed https://") << "https://www.example.com/b";
    }
    void typedAddress()
    {
        QFETCH(QString, address);
        Program program;
        QVERIFY(program.start());
        program.block(QStringLiteral("example.com"));
        // A first page of the local site: once it shows and the extension has reported it, the
        // window is up and the extension is listening; once the extension says the window has
        // the focus, keys reach it.
        const QString first = QStringLiteral("http://127.0.0.1:%1/first").arg(site->serverPort());
        Firefox firefox;
        QVERIFY(firefox.start(first));
        QVERIFY(firefox.titled(QStringLiteral("site")));
        QTRY_COMPARE_WITH_TIMEOUT(program.report(firefoxID).url, first, patience);
        xdotool(
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), browserWindow(firefox.process.processId())});
        QTRY_VERIFY_WITH_TIMEOUT(program.report(firefoxID).windowFocused, patience);

        // The block page really shown, for the whole typed address.
        QVERIFY(typeUntil(firefox.process.processId(), address, [&] {
            return program.reportsBlockPageFor(firefoxID, address) &&
                   windowTitle(firefox.process.processId()).contains(QLatin1String("Quillharbour"));
        }));
    }

    // A tab already on a site when its block starts is moved to the block page. Firefox takes any
    // name under "localhost" for this computer, so the local site needs no changed preference.
    void openTab()
    {
        auto owned = std::make_unique<Program>();
        Program& program = *owned;
        QVERIFY(program.start());
        const QString open = QStringLiteral("http://www.example.localhost:%1/open?x=1&y=%20").arg(site->serverPort());
        Firefox firefox;
        QVERIFY(firefox.start(open));
        QVERIFY(firefox.titled(QStringLiteral("site")));
        QTRY_COMPARE_WITH_TIMEOUT(program.report(firefoxID).url, open, patience);
        // The desktop names Firefox's window as the one in front, as X11 does for its own
        // windows: its focus reports are not what this case is about.
        program.desktop.bringUp(firefoxID);

        QVERIFY(!program.block(QStringLiteral("example.localhost")).isNull());
        QVERIFY(firefox.titled(QStringLiteral("Quillharbour")));
        QTRY_VERIFY_WITH_TIMEOUT(program.reportsBlockPageFor(firefoxID, open), patience);

        // The program quits: the extension sends the tab back to the site it came from.
        const qsizetype before = site->requests.size();
        owned.reset();
        QVERIFY(firefox.titled(QStringLiteral("site")));
        QTRY_VERIFY_WITH_TIMEOUT(site->requests.size() > before && site->requests.last().endsWith("/open?x=1&y=%20"),
                                 patience);
    }
};

QTEST_MAIN(TestExtensionFirefox)
#include "tst_extension_browsers_firefox.moc"
