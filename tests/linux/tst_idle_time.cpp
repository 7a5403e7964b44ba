#include "FakeCompositor.h"
#include "FakeWorkspace.h"
#include "SessionBus.h"
#include "linux/DesktopIdleTime.h"
#include "linux/WaylandIdleTime.h"

#include <QDBusConnection>
#include <QThread>
#include <QtTest>

namespace {

// GNOME's idle monitor and the freedesktop screen saver as the desktops offer them, answering
// from their own thread: the reader asks synchronously.
class FakeMutter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.IdleMonitor")
public:
    std::atomic<qulonglong> ms = 0;
public slots:
    qulonglong GetIdletime() { return ms; }
};

class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::atomic<uint> ms = 0;
public slots:
    uint GetSessionIdleTime() { return ms; }
};

} // namespace

using Phase = WaylandIdleTime::Phase;

// Idle time read from the desktop's own services on a private session bus and from a Wayland
// compositor's idle notifications; with none, unknown.
class TestIdleTime : public QObject {
    Q_OBJECT

private slots:
    void sources_data()
    {
        QTest::addColumn<int>("x11");     // milliseconds; -1: no X11 reading
        QTest::addColumn<int>("wayland"); // seconds idle after the idled event; -1: no notifier; -2: no compositor
        QTest::addColumn<int>("gnome");   // -1: service absent
        QTest::addColumn<int>("kde");
        QTest::addColumn<double>("seconds"); // -1: unknown
        QTest::addColumn<int>("source");
        using S = DesktopIdleTime::Source;
        QTest::newRow("X11 first") << 4000 << 3 << 9000 << 7000 << 4.0 << int(S::x11);
        QTest::newRow("Wayland compositor before the services") << -1 << 3 << 9000 << 7000 << 8.0 << int(S::wayland);
        QTest::newRow("compositor without the notifier: GNOME asked")
            << -1 << -1 << 9000 << 7000 << 9.0 << int(S::gnome);
        QTest::newRow("Wayland GNOME") << -1 << -2 << 9000 << 7000 << 9.0 << int(S::gnome);
        QTest::newRow("Wayland KDE") << -1 << -2 << -1 << 7000 << 7.0 << int(S::freedesktop);
        QTest::newRow("compositor without the notifier, KDE") << -1 << -1 << -1 << 7000 << 7.0 << int(S::freedesktop);
        QTest::newRow("nothing answers: unknown, not zero") << -1 << -1 << -1 << -1 << -1.0 << int(S::unknown);
    }

    void sources()
    {
        QFETCH(int, x11);
        QFETCH(int, wayland);
        QFETCH(int, gnome);
        QFETCH(int, kde);
        QFETCH(double, seconds);
        QFETCH(int, source);
        SessionBus bus;
        if (bus.address().isEmpty())
            QSKIP("dbus-daemon is missing");
        QThread serviceThread;
        serviceThread.start();
        QDBusConnection services = bus.connect(QStringLiteral("services"));
        FakeMutter mutter;
        FakeScreenSaver saver;
        mutter.moveToThread(&serviceThread);
        saver.moveToThread(&serviceThread);
        if (gnome >= 0) {
            mutter.ms = qulonglong(gnome);
            QVERIFY(services.registerService(QStringLiteral("org.gnome.Mutter.IdleMonitor")));
            QVERIFY(services.registerObject(QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"), &mutter,
                                            QDBusConnection::ExportAllSlots));
        }
        if (kde >= 0) {
            saver.ms = uint(kde);
            QVERIFY(services.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
            QVERIFY(services.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                            QDBusConnection::ExportAllSlots));
        }
        ManualMonotonic monotonic;
        std::optional<FakeCompositor> compositor;
        if (wayland >= -1)
            compositor.emplace(wayland >= 0);
        const WaylandIdleTime notified(compositor ? compositor->socketName() : QString(), monotonic);
        const DesktopIdleTime idle(
            [x11]() -> std::optional<double> { return x11 < 0 ? std::nullopt : std::optional(x11 / 1000.0); },
            &notified, bus.connect(QStringLiteral("reader")));
        if (wayland == -1)
            QTRY_COMPARE_WITH_TIMEOUT(notified.phase(), Phase::unsupported, 30000);
        if (wayland >= 0) {
            QTRY_COMPARE_WITH_TIMEOUT(compositor->notifications(), 1, 30000);
            // Until the compositor has said anything, a service stands in.
            if (x11 < 0)
                QCOMPARE(idle.secondsSinceLastInput(), std::optional(9.0));
            compositor->sendIdled();
            QTRY_COMPARE_WITH_TIMEOUT(notified.phase(), Phase::idle, 30000);
            monotonic.value += wayland;
        }
        const std::optional<double> read = idle.secondsSinceLastInput();
        QCOMPARE(read.value_or(-1), seconds);
        QCOMPARE(int(idle.source()), source);

        // The source that answered keeps being asked, and follows the person's input.
        if (source == int(DesktopIdleTime::Source::gnome)) {
            mutter.ms = 250;
            QCOMPARE(idle.secondsSinceLastInput(), std::optional(0.25));
        }
        // The compositor goes: the services answer again.
        if (source == int(DesktopIdleTime::Source::wayland)) {
            compositor->stop();
            QTRY_COMPARE_WITH_TIMEOUT(notified.phase(), Phase::none, 30000);
            QCOMPARE(idle.secondsSinceLastInput(), std::optional(9.0));
            QCOMPARE(int(idle.source()), int(DesktopIdleTime::Source::gnome));
        }
        services.unregisterObject(QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"));
        services.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
        serviceThread.quit();
        serviceThread.wait();
    }

    // The compositor's idled and resumed events turn into seconds on the monotonic clock.
    void compositorEvents_data()
    {
        QTest::addColumn<QStringList>("steps"); // idled, resumed, gone, or +seconds on the clock
        QTest::addColumn<double>("seconds");    // -1: unknown
        QTest::newRow("just connected: unknown") << QStringList{} << -1.0;
        QTest::newRow("still within the first notification: unknown") << QStringList{"+4"} << -1.0;
        QTest::newRow("no idled by its deadline: input came") << QStringList{"+7"} << 0.0;
        QTest::newRow("idled: seconds grow with the clock") << QStringList{"idled", "+30"} << 35.0;
        QTest::newRow("idled for ten minutes") << QStringList{"+2", "idled", "+600"} << 605.0;
        QTest::newRow("resumed: small again") << QStringList{"idled", "+30", "resumed", "+2"} << 0.0;
        QTest::newRow("idled again") << QStringList{"idled", "resumed", "+10", "idled", "+4"} << 9.0;
        QTest::newRow("compositor gone: unknown") << QStringList{"idled", "+30", "gone"} << -1.0;
        QTest::newRow("gone while active") << QStringList{"+7", "gone", "+7"} << -1.0;
    }

    void compositorEvents()
    {
        QFETCH(QStringList, steps);
        QFETCH(double, seconds);
        FakeCompositor compositor(true);
        QVERIFY(!compositor.socketName().isEmpty());
        ManualMonotonic monotonic;
        WaylandIdleTime idle(compositor.socketName(), monotonic);
        QTRY_COMPARE_WITH_TIMEOUT(idle.phase(), Phase::watching, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(compositor.notifications(), 1, 30000);
        for (const QString& step : steps) {
            if (step == QLatin1String("idled")) {
                compositor.sendIdled();
                QTRY_COMPARE_WITH_TIMEOUT(idle.phase(), Phase::idle, 30000);
            } else if (step == QLatin1String("resumed")) {
                compositor.sendResumed();
                QTRY_COMPARE_WITH_TIMEOUT(idle.phase(), Phase::active, 30000);
            } else if (step == QLatin1String("gone")) {
                compositor.stop();
                QTRY_COMPARE_WITH_TIMEOUT(idle.phase(), Phase::none, 30000);
            } else {
                monotonic.value += step.toDouble();
            }
        }
        QCOMPARE(idle.secondsSinceLastInput().value_or(-1), seconds);
    }

    // Where there is no compositor to ask, or it has no idle notifier, nothing is guessed.
    void withoutNotifications_data()
    {
        QTest::addColumn<QString>("display"); // "fake": a compositor with a seat only
        QTest::addColumn<int>("phase");
        QTest::newRow("not a Wayland session") << QString() << int(Phase::none);
        QTest::newRow("no compositor at that name") << "wayland-absent" << int(Phase::none);
        QTest::newRow("no idle notifier") << "fake" << int(Phase::unsupported);
    }

    void withoutNotifications()
    {
        QFETCH(QString, display);
        QFETCH(int, phase);
        FakeCompositor compositor(false);
        ManualMonotonic monotonic;
        WaylandIdleTime idle(display == QLatin1String("fake") ? compositor.socketName() : display, monotonic);
        QTRY_COMPARE_WITH_TIMEOUT(int(idle.phase()), phase, 30000);
        monotonic.value += 60;
        QCOMPARE(idle.secondsSinceLastInput(), std::nullopt);
        QCOMPARE(compositor.notifications(), 0);
    }
};

QTEST_GUILESS_MAIN(TestIdleTime)
#include "tst_idle_time.moc"
