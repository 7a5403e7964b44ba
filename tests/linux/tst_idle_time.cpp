#include "SessionBus.h"
#include "linux/DesktopIdleTime.h"

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

// Idle time read from the desktop's own services on a private session bus; with none, unknown.
class TestIdleTime : public QObject {
    Q_OBJECT

private slots:
    void sources_data()
    {
        QTest::addColumn<int>("x11");   // milliseconds; -1: no X11 reading
        QTest::addColumn<int>("gnome"); // -1: service absent
        QTest::addColumn<int>("kde");
        QTest::addColumn<double>("seconds"); // -1: unknown
        QTest::addColumn<int>("source");
        using S = DesktopIdleTime::Source;
        QTest::newRow("X11 first") << 4000 << 9000 << 7000 << 4.0 << int(S::x11);
        QTest::newRow("Wayland GNOME") << -1 << 9000 << 7000 << 9.0 << int(S::gnome);
        QTest::newRow("Wayland KDE") << -1 << -1 << 7000 << 7.0 << int(S::freedesktop);
        QTest::newRow("nothing answers: unknown, not zero") << -1 << -1 << -1 << -1.0 << int(S::unknown);
    }

    void sources()
    {
        QFETCH(int, x11);
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
        const DesktopIdleTime idle(
            [x11]() -> std::optional<double> { return x11 < 0 ? std::nullopt : std::optional(x11 / 1000.0); },
            bus.connect(QStringLiteral("reader")));
        const std::optional<double> read = idle.secondsSinceLastInput();
        QCOMPARE(read.value_or(-1), seconds);
        QCOMPARE(int(idle.source()), source);

        // The source that answered keeps being asked, and follows the person's input.
        if (source == int(DesktopIdleTime::Source::gnome)) {
            mutter.ms = 250;
            QCOMPARE(idle.secondsSinceLastInput(), std::optional(0.25));
        }
        services.unregisterObject(QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"));
        services.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
        serviceThread.quit();
        serviceThread.wait();
    }
};

QTEST_GUILESS_MAIN(TestIdleTime)
#include "tst_idle_time.moc"
