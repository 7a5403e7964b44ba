#include "SessionBus.h"
#include "TestEnvironment.h"

#include "linux/ReducedMotion.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QtTest>
#include <future>

namespace {

// The desktop portal's settings: "enable-animations" as the portal version at hand wraps it.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    QVariant answer;

public slots:
    QDBusVariant Read(const QString& group, const QString& key)
    {
        if (group == QLatin1String("org.gnome.desktop.interface") && key == QLatin1String("enable-animations"))
            return QDBusVariant(answer);
        return QDBusVariant(QVariant());
    }
};

} // namespace

class TestReducedMotion : public QObject {
    Q_OBJECT

private slots:
    void followsThePortal_data();
    void followsThePortal();
};

void TestReducedMotion::followsThePortal_data()
{
    // The portal's answer, what the program then applies (-1: nothing), and after a change to
    // "animations on" is announced.
    QTest::addColumn<QVariant>("answer");
    QTest::addColumn<bool>("portal");
    QTest::addColumn<int>("applied");
    // The program's own session bus connection, made on another thread as its start makes it,
    // rather than a connection of the test's: what it hears still reaches this thread. Once per
    // run: the process keeps its session bus.
    QTest::addColumn<bool>("sessionBus");
    QTest::newRow("animations off") << QVariant(false) << true << 1 << false;
    QTest::newRow("animations on") << QVariant(true) << true << 0 << false;
    QTest::newRow("wrapped twice") << QVariant::fromValue(QDBusVariant(false)) << true << 1 << false;
    QTest::newRow("not a boolean") << QVariant(QStringLiteral("no")) << true << -1 << false;
    QTest::newRow("no portal") << QVariant() << false << -1 << false;
    QTest::newRow("animations off, on the session bus made on another thread") << QVariant(false) << true << 1 << true;
}

void TestReducedMotion::followsThePortal()
{
    QFETCH(QVariant, answer);
    QFETCH(bool, portal);
    QFETCH(int, applied);
    QFETCH(bool, sessionBus);
    SessionBus bus;
    if (bus.address().isEmpty())
        QSKIP("no dbus-daemon");
    if (sessionBus) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
        QVERIFY(std::async(std::launch::async, [] { return QDBusConnection::sessionBus().isConnected(); }).get());
    }
    FakePortal fake;
    fake.answer = answer;
    QDBusConnection server = bus.connect(QStringLiteral("portal"));
    if (portal) {
        QVERIFY(server.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &fake,
                                      QDBusConnection::ExportAllSlots));
        QVERIFY(server.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }
    QObject owner;
    QList<bool> seen;
    ReducedMotion::watch(sessionBus ? QDBusConnection::sessionBus() : bus.connect(QStringLiteral("program")), &owner,
                         [&seen](bool reduced) { seen << reduced; });
    if (applied >= 0) {
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 1, 30000);
        QCOMPARE(seen.front(), applied == 1);
    } else {
        // The call has been answered once a later call on the same bus is.
        QDBusMessage ping = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId"));
        QCOMPARE(bus.connect(QStringLiteral("program")).call(ping, QDBus::Block, 30000).type(),
                 QDBusMessage::ReplyMessage);
        QCoreApplication::processEvents();
        QVERIFY(seen.isEmpty());
    }

    // A change announced by the portal applies at once; other settings change nothing.
    if (!portal)
        return;
    const auto announce = [&server](const QString& key, bool value) {
        QDBusMessage changed = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                          QStringLiteral("org.freedesktop.portal.Settings"),
                                                          QStringLiteral("SettingChanged"));
        changed << QStringLiteral("org.gnome.desktop.interface") << key
                << QVariant::fromValue(QDBusVariant(QVariant(value)));
        QVERIFY(server.send(changed));
    };
    const qsizetype before = seen.size();
    announce(QStringLiteral("cursor-size"), false);
    announce(QStringLiteral("enable-animations"), false);
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), before + 1, 30000);
    QCOMPARE(seen.back(), true);
}

QTEST_GUILESS_MAIN(TestReducedMotion)
#include "tst_reduced_motion.moc"
