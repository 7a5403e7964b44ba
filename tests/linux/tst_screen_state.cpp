#include "SessionBus.h"
#include "linux/LinuxDesktop.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QtTest>

namespace {

const QString ownSession = QStringLiteral("/org/freedesktop/login1/session/_32");

// logind as far as the screen state asks it: which session this process is in.
class FakeLogin : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    bool knowsPid = true;

public slots:
    QDBusObjectPath GetSessionByPID(uint)
    {
        if (!knowsPid)
            sendErrorReply(QStringLiteral("org.freedesktop.login1.NoSessionForPID"), QStringLiteral("No session"));
        return QDBusObjectPath(ownSession);
    }
    QDBusObjectPath GetSession(const QString& name)
    {
        if (name != QLatin1String("auto"))
            sendErrorReply(QStringLiteral("org.freedesktop.login1.NoSuchSession"), QStringLiteral("No session"));
        return QDBusObjectPath(ownSession);
    }
};

} // namespace

// Sleep, lock and unlock heard from a private system bus with a logind of the test's own, and
// the screen savers on a private session bus.
class TestScreenState : public QObject {
    Q_OBJECT

private slots:
    void heard_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("member");
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<QString>("heard"); // what the screen state reports, or nothing
        QTest::addColumn<bool>("knowsPid");

        const QString session = QStringLiteral("org.freedesktop.login1.Session");
        const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
        QTest::newRow("lock, own session by process")
            << ownSession << session << "Lock" << QVariantList() << "locked" << true;
        QTest::newRow("unlock, own session by auto")
            << ownSession << session << "Unlock" << QVariantList() << "unlocked" << false;
        QTest::newRow("lock, another session")
            << "/org/freedesktop/login1/session/_99" << session << "Lock" << QVariantList() << "" << true;
        QTest::newRow("lock, the alias") << "/org/freedesktop/login1/session/auto" << session << "Lock"
                                         << QVariantList() << "" << true;
        QTest::newRow("going to sleep") << "/org/freedesktop/login1" << manager << "PrepareForSleep"
                                        << QVariantList{true} << "asleep" << true;
        QTest::newRow("screen saver on") << "/org/freedesktop/ScreenSaver"
                                         << "org.freedesktop.ScreenSaver"
                                         << "ActiveChanged" << QVariantList{true} << "locked" << true;
        QTest::newRow("GNOME unlocks") << "/org/gnome/ScreenSaver"
                                       << "org.gnome.ScreenSaver"
                                       << "ActiveChanged" << QVariantList{false} << "unlocked" << true;
    }

    void heard()
    {
        QFETCH(QString, path);
        QFETCH(QString, interface);
        QFETCH(QString, member);
        QFETCH(QVariantList, arguments);
        QFETCH(QString, heard);
        QFETCH(bool, knowsPid);

        SessionBus systemBus;
        SessionBus sessionBus;
        QVERIFY2(!systemBus.address().isEmpty() && !sessionBus.address().isEmpty(), "dbus-daemon could not start");
        QDBusConnection login = systemBus.connect(QStringLiteral("login"));
        FakeLogin fake;
        fake.knowsPid = knowsPid;
        QVERIFY(
            login.registerObject(QStringLiteral("/org/freedesktop/login1"), &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(login.registerService(QStringLiteral("org.freedesktop.login1")));
        QDBusConnection saver = sessionBus.connect(QStringLiteral("saver"));

        LinuxScreenState screen(systemBus.connect(QStringLiteral("screen-system")),
                                sessionBus.connect(QStringLiteral("screen-session")));
        QTRY_COMPARE_WITH_TIMEOUT(screen.sessionPath().value_or(QString()), ownSession, 10000);
        QStringList reported;
        connect(&screen, &ScreenState::screenLocked, this, [&] { reported.append(QStringLiteral("locked")); });
        connect(&screen, &ScreenState::screenUnlocked, this, [&] { reported.append(QStringLiteral("unlocked")); });
        connect(&screen, &ScreenState::screensDidSleep, this, [&] { reported.append(QStringLiteral("asleep")); });
        connect(&screen, &ScreenState::screensDidWake, this, [&] { reported.append(QStringLiteral("awake")); });

        QDBusMessage signal = QDBusMessage::createSignal(path, interface, member);
        signal.setArguments(arguments);
        const bool system = path.startsWith(QLatin1String("/org/freedesktop/login1"));
        QVERIFY((system ? login : saver).send(signal));
        // A signal from the same sender that is always heard: once it is, the one under test has
        // been delivered or ignored.
        QDBusMessage sentinel = system ? QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                                    QStringLiteral("org.freedesktop.login1.Manager"),
                                                                    QStringLiteral("PrepareForSleep"))
                                       : QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                                    QStringLiteral("org.freedesktop.ScreenSaver"),
                                                                    QStringLiteral("ActiveChanged"));
        sentinel << false;
        QVERIFY((system ? login : saver).send(sentinel));
        QStringList expected;
        if (!heard.isEmpty())
            expected.append(heard);
        expected.append(system ? QStringLiteral("awake") : QStringLiteral("unlocked"));
        QTRY_COMPARE_WITH_TIMEOUT(reported, expected, 10000);
    }
};

QTEST_GUILESS_MAIN(TestScreenState)
#include "tst_screen_state.moc"
