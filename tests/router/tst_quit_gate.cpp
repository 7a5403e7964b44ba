#include "app/SeededStore.h"
#include "platform/SelfInstall.h"
#include "router/MainWindowOpener.h"
#include "router/MenuBlockingStatus.h"
#include "router/QuitGate.h"

#include <QtTest>

Q_DECLARE_METATYPE(MenuBlockingStatus)

namespace {

// A copy that is quitting to start its installed self.
struct Relocating : SelfInstall {
    bool shouldOfferMove() const override { return false; }
    bool isRelocating() const override { return true; }
    bool moveAndRelaunch(const std::function<void()>&, QString*) override { return false; }
    bool relaunchInstalledForEveryone(const QString&, const std::function<void()>&, QString*) override { return false; }
    QString packagedExtension() const override { return {}; }
};

} // namespace

// Who may quit without the quit window, the one way to ask for the main window, and the tray
// popover's verdict on blocking.
class TestQuitGate : public QObject {
    Q_OBJECT

private slots:
    void letsThrough_data()
    {
        QTest::addColumn<bool>("hasStore");
        QTest::addColumn<bool>("approved");
        QTest::addColumn<bool>("relocating");
        QTest::addColumn<bool>("isProtected");
        QTest::addColumn<bool>("systemQuit");
        QTest::addColumn<bool>("through");
        QTest::newRow("protected, asked by the user") << true << false << false << true << false << false;
        QTest::newRow("no store") << false << false << false << true << false << true;
        QTest::newRow("approved") << true << true << false << true << false << true;
        QTest::newRow("relaunching after the move") << true << false << true << true << false << true;
        QTest::newRow("nothing protected") << true << false << false << false << false << true;
        QTest::newRow("the system ends the session") << true << false << false << true << true << true;
    }
    void letsThrough()
    {
        QFETCH(bool, hasStore);
        QFETCH(bool, approved);
        QFETCH(bool, relocating);
        QFETCH(bool, isProtected);
        QFETCH(bool, systemQuit);
        QFETCH(bool, through);
        QCOMPARE(QuitGate::letsThrough({hasStore, approved, relocating, isProtected, systemQuit}), through);
    }

    // A protected store asks through the quit window; only its last step approves, and then the
    // next request goes through.
    void protectionFollowsRulesAndDoomScroll_data()
    {
        QTest::addColumn<bool>("withRule");
        QTest::addColumn<bool>("doomOn");
        QTest::addColumn<bool>("isProtected");
        QTest::addColumn<bool>("relocating");
        QTest::newRow("nothing") << false << false << false << false;
        QTest::newRow("a rule") << true << false << true << false;
        QTest::newRow("doom-scroll breaks only") << false << true << true << false;
        QTest::newRow("a rule, the installed copy starting") << true << false << true << true;
    }
    void protectionFollowsRulesAndDoomScroll()
    {
        QFETCH(bool, withRule);
        QFETCH(bool, doomOn);
        QFETCH(bool, isProtected);
        QFETCH(bool, relocating);
        SeededStore f;
        StorageService& store =
            f.seed(withRule ? std::vector{SeededStore::rule(QStringLiteral("news.example"))} : std::vector<BlockRule>{},
                   doomOn);
        int terminated = 0;
        int presented = 0;
        std::function<void()> onQuit;
        Relocating installedCopy;
        QuitGate gate(
            &store,
            [&](std::function<void()> c) {
                ++presented;
                onQuit = std::move(c);
            },
            [&] { ++terminated; }, relocating ? &installedCopy : nullptr);
        const bool windowFirst = isProtected && !relocating;
        QCOMPARE(gate.request(), !windowFirst);
        QCOMPARE(gate.request(), !windowFirst);
        QCOMPARE(terminated, windowFirst ? 0 : 2);
        QCOMPARE(presented, windowFirst ? 2 : 0);
        if (!windowFirst)
            return;
        onQuit();
        QCOMPARE(terminated, 1);
        QVERIFY(gate.isApproved());
        QVERIFY(gate.request(QuitGate::Origin::user));
    }

    void openerServesAPendingRequestOnce()
    {
        MainWindowOpener opener;
        opener.request();
        opener.request();
        QVERIFY(opener.isPending());
        int first = 0;
        int second = 0;
        opener.registerHandler([&] { ++first; });
        QCOMPARE(first, 1);
        QVERIFY(!opener.isPending());
        opener.registerHandler([&] { ++second; });
        QCOMPARE(second, 0);
        opener.request();
        QCOMPARE(first, 1);
        QCOMPARE(second, 1);
    }

    void blockingStatus_data()
    {
        QTest::addColumn<bool>("withRule");
        QTest::addColumn<bool>("doomOn");
        QTest::addColumn<bool>("needsBrowser");
        QTest::addColumn<double>("pauseFromNow"); // NaN: no pause
        QTest::addColumn<MenuBlockingStatus>("expected");
        const double none = qQNaN();
        QTest::newRow("nothing to enforce wins over all")
            << false << false << true << 600.0 << MenuBlockingStatus::noRules;
        QTest::newRow("doom-scroll breaks alone are enforced")
            << false << true << false << none << MenuBlockingStatus::active;
        QTest::newRow("browser before pause") << true << false << true << 600.0 << MenuBlockingStatus::needsBrowser;
        QTest::newRow("pause running") << true << false << false << 1.0 << MenuBlockingStatus::paused;
        QTest::newRow("pause ends now") << true << false << false << 0.0 << MenuBlockingStatus::active;
        QTest::newRow("no pause") << true << false << false << none << MenuBlockingStatus::active;
    }
    void blockingStatus()
    {
        QFETCH(bool, withRule);
        QFETCH(bool, doomOn);
        QFETCH(bool, needsBrowser);
        QFETCH(double, pauseFromNow);
        QFETCH(MenuBlockingStatus, expected);
        SeededStore f;
        // The pause is written one hour ahead so that the store keeps it; `now` moves instead.
        const std::optional<Date> pause =
            qIsNaN(pauseFromNow) ? std::nullopt : std::optional<Date>(f.clock.now() + 3600);
        StorageService& store =
            f.seed(withRule ? std::vector{SeededStore::rule(QStringLiteral("news.example"))} : std::vector<BlockRule>{},
                   doomOn, pause);
        const Date now = pause ? *pause - pauseFromNow : f.clock.now();
        QCOMPARE(resolveMenuBlockingStatus(store, needsBrowser, now), expected);
    }
};

QTEST_GUILESS_MAIN(TestQuitGate)
#include "tst_quit_gate.moc"
