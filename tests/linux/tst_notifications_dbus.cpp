#include "FakeNotificationServer.h"
#include "SessionBus.h"
#include "TestEnvironment.h"
#include "linux/FreedesktopNotifications.h"
#include "platform/SystemEvents.h"

#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

NotificationRequest reminder(const QString& id, CalendarMinute at, const QString& body = QStringLiteral("Call Ana"))
{
    return {id, QStringLiteral("Quillharbour reminder"), body, true, at};
}

} // namespace

// The notification backend against a real session bus, with our own notification service on it.
class TestNotificationsDBus : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionBus> bus;
    QTemporaryDir folder;
    ManualClock clock{TestEnvironment::at(2026, 12, 7, 8, 59, 10)};
    QString zone = QStringLiteral("America/New_York");

    QString pendingFile() const { return folder.filePath(QStringLiteral("pending-notifications.json")); }
    std::unique_ptr<FreedesktopNotificationCenter> makeCenter(SystemEvents* events = nullptr)
    {
        return std::make_unique<FreedesktopNotificationCenter>(
            bus->connect(QStringLiteral("client-%1").arg(++clients)), pendingFile(), clock,
            [this] { return TestEnvironment::calendar(zone.toUtf8().constData()); }, events);
    }
    int clients = 0;

    QString serverConnection;
    void startServer(FakeNotificationServer& server)
    {
        serverConnection = QStringLiteral("server-%1").arg(++clients);
        QDBusConnection conn = bus->connect(serverConnection);
        QVERIFY(conn.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        QVERIFY(conn.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    static bool granted(FreedesktopNotificationCenter& center)
    {
        std::optional<bool> answer;
        center.requestAuthorization([&answer](bool g) { answer = g; });
        if (!QTest::qWaitFor([&answer] { return answer.has_value(); }, 5000))
            return false;
        return *answer;
    }

private slots:
    void initTestCase()
    {
        bus = std::make_unique<SessionBus>();
        if (bus->address().isEmpty())
            QFAIL("dbus-daemon could not be started");
    }
    void cleanupTestCase() { bus.reset(); }
    void cleanup()
    {
        // Frees the service name for the next test's server.
        if (!serverConnection.isEmpty())
            QDBusConnection::disconnectFromBus(std::exchange(serverConnection, QString()));
    }
    void init()
    {
        QFile::remove(pendingFile());
        clock.set(TestEnvironment::at(2026, 12, 7, 8, 59, 10));
        zone = QStringLiteral("America/New_York");
    }

    void withoutServiceNothingIsAuthorised()
    {
        auto center = makeCenter();
        QVERIFY(!granted(*center));
        std::optional<NotificationAuthorization> status;
        center->authorizationStatus([&status](NotificationAuthorization s) { status = s; });
        QTRY_VERIFY(status.has_value());
        QCOMPARE(*status, NotificationAuthorization::denied);
    }

    void immediateNoticeIsShownAndTapIsReported()
    {
        FakeNotificationServer server;
        server.capabilities << QStringLiteral("body-markup");
        startServer(server);
        auto center = makeCenter();
        QVERIFY(granted(*center));
        QSignalSpy taps(center.get(), &NotificationCenter::activated);

        center->add({QStringLiteral("urgent-break-ended-1"), QStringLiteral("Urgent break ended"),
                     QStringLiteral("<b>News</b> & co is blocked again"), true, std::nullopt});
        QTRY_COMPARE(server.shown.size(), 1);
        const auto shown = server.shown.first();
        QCOMPARE(shown.summary, QStringLiteral("Urgent break ended"));
        // The server reads markup, so the person's own text must arrive escaped.
        QCOMPARE(shown.body, QStringLiteral("&lt;b&gt;News&lt;/b&gt; &amp; co is blocked again"));
        QVERIFY(shown.actions.contains(QStringLiteral("default")));

        emit server.ActionInvoked(shown.id, QStringLiteral("other"));
        emit server.ActionInvoked(shown.id, QStringLiteral("default"));
        QTRY_COMPARE(taps.size(), 1);
        QCOMPARE(taps.first().first().toString(), QStringLiteral("urgent-break-ended-1"));
    }

    void calendarRequestWaitsForItsMinuteThenFiresOnce()
    {
        FakeNotificationServer server;
        startServer(server);
        auto center = makeCenter();
        center->add(reminder(QStringLiteral("todo-reminder-A"), {2026, 12, 7, 9, 0}));
        center->rearm();
        QCOMPARE(server.shown.size(), 0);
        QCOMPARE(center->pendingRequests().size(), 1);

        clock.set(TestEnvironment::at(2026, 12, 7, 8, 59, 59));
        center->rearm();
        QTest::qWait(50);
        QCOMPARE(server.shown.size(), 0);

        clock.set(TestEnvironment::at(2026, 12, 7, 9, 0, 0)); // the start of its minute
        center->rearm();
        QTRY_COMPARE(server.shown.size(), 1);
        QCOMPARE(server.shown.first().body, QStringLiteral("Call Ana"));
        QVERIFY(center->pendingRequests().isEmpty());
        center->rearm();
        QTest::qWait(50);
        QCOMPARE(server.shown.size(), 1);
    }

    void addingTheSameIdentifierReplacesAndRemovalCancels()
    {
        FakeNotificationServer server;
        startServer(server);
        auto center = makeCenter();
        center->add(reminder(QStringLiteral("todo-reminder-A"), {2026, 12, 7, 9, 0}));
        center->add(reminder(QStringLiteral("todo-reminder-A"), {2026, 12, 7, 9, 30}, QStringLiteral("later")));
        center->add(reminder(QStringLiteral("todo-reminder-B"), {2026, 12, 7, 9, 0}));
        QCOMPARE(center->pendingRequests().size(), 2);
        center->removePendingRequests({QStringLiteral("todo-reminder-B"), QStringLiteral("unknown")});

        clock.set(TestEnvironment::at(2026, 12, 7, 9, 10, 0));
        center->rearm();
        QTest::qWait(50);
        QCOMPARE(server.shown.size(), 0);
        clock.set(TestEnvironment::at(2026, 12, 7, 9, 30, 0));
        center->rearm();
        QTRY_COMPARE(server.shown.size(), 1);
        QCOMPARE(server.shown.first().body, QStringLiteral("later"));
    }

    void pendingRequestsSurviveARestart()
    {
        FakeNotificationServer server;
        startServer(server);
        {
            auto center = makeCenter();
            center->add(reminder(QStringLiteral("todo-reminder-A"), {2026, 12, 7, 9, 0}));
        }
        auto again = makeCenter();
        QCOMPARE(again->pendingRequests().size(), 1);
        QCOMPARE(again->pendingRequests().first().trigger->hour, 9);
        again.reset();

        // Due while the application was not running: shown as soon as it starts again.
        clock.set(TestEnvironment::at(2026, 12, 7, 11, 0, 0));
        auto late = makeCenter();
        QTRY_COMPARE(server.shown.size(), 1);
        QVERIFY(late->pendingRequests().isEmpty());
    }

    void timeZoneChangeMovesTheInstantNotTheWallTime()
    {
        FakeNotificationServer server;
        startServer(server);
        SystemEvents events;
        auto center = makeCenter(&events);
        center->add(reminder(QStringLiteral("todo-reminder-A"), {2026, 12, 7, 9, 0}));
        // 09:00 in New York is 15:00 in Berlin; at 08:30 New York time (14:30 Berlin) a move to
        // Berlin makes 09:00 Berlin long past: the reminder is due at once.
        clock.set(TestEnvironment::at(2026, 12, 7, 8, 30, 0));
        zone = QStringLiteral("Europe/Berlin");
        emit events.timeZoneChanged();
        QTRY_COMPARE(server.shown.size(), 1);
    }

    void unreadablePendingFileIsKeptAside()
    {
        QFile file(pendingFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not json");
        file.close();
        auto center = makeCenter();
        QVERIFY(center->pendingRequests().isEmpty());
        const QStringList backups =
            QDir(folder.path()).entryList({QStringLiteral("pending-notifications.unreadable-*.json")});
        QCOMPARE(backups.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestNotificationsDBus)
#include "tst_notifications_dbus.moc"
