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

// Counts the service checks and the file writes the real centre makes.
class CountingCenter : public FreedesktopNotificationCenter {
public:
    using FreedesktopNotificationCenter::FreedesktopNotificationCenter;
    mutable int serviceChecks = 0;
    int fileWrites = 0;
    bool serviceAvailable() const override
    {
        ++serviceChecks;
        return FreedesktopNotificationCenter::serviceAvailable();
    }
    void writePendingFile(const QString& path, const QByteArray& bytes) override
    {
        ++fileWrites;
        FreedesktopNotificationCenter::writePendingFile(path, bytes);
    }
};

QStringList identifiers(const QList<NotificationRequest>& requests)
{
    QStringList ids;
    for (const NotificationRequest& r : requests)
        ids << r.identifier;
    return ids;
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
    std::unique_ptr<CountingCenter> makeCenter(SystemEvents* events = nullptr)
    {
        return std::make_unique<CountingCenter>(
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
        const QDir dir(folder.path());
        for (const QString& name : dir.entryList(QDir::Files))
            QFile::remove(dir.filePath(name));
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

    // An unreadable file is copied aside under a free name before anything is written; when no
    // copy can be made it is never written over, and requests stay in memory.
    void unreadableFileIsNeverLost_data()
    {
        QTest::addColumn<int>("takenNames");
        QTest::addColumn<QString>("backup"); // empty: no copy could be made
        QTest::newRow("first name free") << 0 << "pending-notifications.unreadable-%1.json";
        QTest::newRow("first name taken") << 1 << "pending-notifications.unreadable-%1-1.json";
        QTest::newRow("every name taken") << 100 << "";
    }

    void unreadableFileIsNeverLost()
    {
        QFETCH(int, takenNames);
        QFETCH(QString, backup);
        const qint64 seconds = qint64(clock.now());
        const QDir dir(folder.path());
        for (int i = 0; i < takenNames; ++i) {
            QFile taken(dir.filePath(QStringLiteral("pending-notifications.unreadable-%1%2.json")
                                         .arg(seconds)
                                         .arg(i == 0 ? QString() : QStringLiteral("-%1").arg(i))));
            QVERIFY(taken.open(QIODevice::WriteOnly));
            taken.write("older");
        }
        QFile file(pendingFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not json");
        file.close();

        auto center = makeCenter();
        center->add(reminder(QStringLiteral("todo-reminder-A"), {2026, 12, 7, 9, 0}));
        QCOMPARE(center->pendingRequests().size(), 1);
        QCoreApplication::sendPostedEvents(); // the turn ends
        QFile after(pendingFile());
        QVERIFY(after.open(QIODevice::ReadOnly));
        if (backup.isEmpty()) {
            QCOMPARE(after.readAll(), QByteArray("not json"));
        } else {
            QVERIFY(after.readAll().contains("todo-reminder-A"));
            QFile copy(dir.filePath(backup.arg(seconds)));
            QVERIFY(copy.open(QIODevice::ReadOnly));
            QCOMPARE(copy.readAll(), QByteArray("not json"));
        }
        if (takenNames > 0) {
            QFile first(dir.filePath(QStringLiteral("pending-notifications.unreadable-%1.json").arg(seconds)));
            QVERIFY(first.open(QIODevice::ReadOnly));
            QCOMPARE(first.readAll(), QByteArray("older"));
        }
    }

    // The file is named once the store knows its data folder: what was asked before waits in
    // memory and joins what the file holds.
    void pendingFileNamedLater()
    {
        FakeNotificationServer server;
        startServer(server);
        {
            auto earlier = makeCenter();
            earlier->add(reminder(QStringLiteral("todo-reminder-A"), {2026, 12, 7, 9, 30}, QStringLiteral("file")));
            earlier->add(reminder(QStringLiteral("todo-reminder-B"), {2026, 12, 7, 9, 30}));
        }
        auto center = std::make_unique<FreedesktopNotificationCenter>(
            bus->connect(QStringLiteral("client-%1").arg(++clients)), QString(), clock,
            [this] { return TestEnvironment::calendar(zone.toUtf8().constData()); });
        center->add(reminder(QStringLiteral("todo-reminder-A"), {2026, 12, 7, 9, 45}, QStringLiteral("memory")));
        center->add(reminder(QStringLiteral("todo-reminder-C"), {2026, 12, 7, 9, 45}));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 1); // nothing written without a file

        center->setPendingFile(pendingFile());
        center.reset();
        auto again = makeCenter();
        QMap<QString, QString> bodies;
        for (const NotificationRequest& r : again->pendingRequests())
            bodies.insert(r.identifier, r.body);
        QCOMPARE(bodies.keys(), (QStringList{QStringLiteral("todo-reminder-A"), QStringLiteral("todo-reminder-B"),
                                             QStringLiteral("todo-reminder-C")}));
        QCOMPARE(bodies.value(QStringLiteral("todo-reminder-A")), QStringLiteral("memory"));
    }

    // A turn's adds and removes reach the file together, in one write, once the turn is over or
    // the centre has gone. "A" adds A, "-A" removes it.
    void oneTurnsChangesAreOneWrite_data()
    {
        QTest::addColumn<QStringList>("inFile"); // from an earlier run
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QStringList>("pending");
        QTest::addColumn<int>("writes"); // -1: the centre goes before the turn ends
        QStringList sixty;
        for (int i = 10; i < 70; ++i)
            sixty << QString::number(i);
        QTest::newRow("the day's series") << QStringList() << sixty << sixty << 1;
        QTest::newRow("removed in its turn") << QStringList() << QStringList{"A", "B", "-A"} << QStringList{"B"} << 1;
        QTest::newRow("nothing changed") << QStringList{"A"} << QStringList{"-B"} << QStringList{"A"} << 0;
        QTest::newRow("gone before the turn ended")
            << QStringList{"A", "B"} << QStringList{"-A", "C"} << QStringList{"B", "C"} << -1;
    }

    void oneTurnsChangesAreOneWrite()
    {
        QFETCH(QStringList, inFile);
        QFETCH(QStringList, changes);
        QFETCH(QStringList, pending);
        QFETCH(int, writes);
        for (auto earlier = makeCenter(); const QString& id : inFile)
            earlier->add(reminder(id, {2026, 12, 7, 9, 30}));
        auto center = makeCenter();
        for (const QString& change : changes) {
            if (change.startsWith(u'-'))
                center->removePendingRequests({change.mid(1)});
            else
                center->add(reminder(change, {2026, 12, 7, 10, 0}));
        }
        QCOMPARE(identifiers(center->pendingRequests()), pending);
        QCOMPARE(center->fileWrites, 0);
        if (writes >= 0) {
            QCoreApplication::sendPostedEvents(); // the turn ends
            QCOMPARE(center->fileWrites, writes);
        }
        center.reset();
        QCOMPARE(identifiers(makeCenter()->pendingRequests()), pending);
    }

    // Asked many times in one turn, the bus is asked once and every answer still comes later; the
    // service may come or go, so the next turn asks again.
    void oneServiceCheckPerTurn_data()
    {
        QTest::addColumn<bool>("serviceRuns");
        QTest::addColumn<bool>("thenVanishes");
        QTest::newRow("no service") << false << false;
        QTest::newRow("service running") << true << false;
        QTest::newRow("service gone after the first turn") << true << true;
    }

    void oneServiceCheckPerTurn()
    {
        QFETCH(bool, serviceRuns);
        QFETCH(bool, thenVanishes);
        FakeNotificationServer server;
        if (serviceRuns)
            startServer(server);
        auto center = makeCenter();
        QList<bool> answers;
        for (int i = 0; i < 60; ++i)
            center->requestAuthorization([&](bool g) { answers << g; });
        center->authorizationStatus([&](auto s) { answers << (s == NotificationAuthorization::authorized); });
        QVERIFY(answers.isEmpty());
        QTRY_COMPARE(answers, QList<bool>(61, serviceRuns));
        QCOMPARE(center->serviceChecks, 1);

        if (thenVanishes) {
            QDBusConnection::disconnectFromBus(std::exchange(serverConnection, QString()));
            const QDBusConnection probe = bus->connect(QStringLiteral("probe"));
            QTRY_VERIFY(!probe.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")));
        }
        QCOMPARE(granted(*center), serviceRuns && !thenVanishes);
        QCOMPARE(center->serviceChecks, 2);
    }
};

QTEST_GUILESS_MAIN(TestNotificationsDBus)
#include "tst_notifications_dbus.moc"
