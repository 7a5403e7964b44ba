#include "SessionBus.h"
#include "linux/DesktopIdleTime.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// GNOME's own compositor, headless on a private session bus: the idle time the program reads
// there is Mutter's, not a stand-in's.
class TestGnomeSession : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionBus> m_bus;
    QTemporaryDir m_runtime;
    QProcess m_mutter;

private slots:
    void initTestCase()
    {
        // Installed by the project's dependencies: missing is a failure, not a skip.
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("mutter")).isEmpty(), "mutter is not installed");
        m_bus = std::make_unique<SessionBus>();
        QVERIFY2(!m_bus->address().isEmpty(), "dbus-daemon did not start");
        QVERIFY(m_runtime.isValid());
        QVERIFY(chmod(QFile::encodeName(m_runtime.path()).constData(), 0700) == 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_mutter.setProcessEnvironment(env);
        m_mutter.setProcessChannelMode(QProcess::MergedChannels);
        m_mutter.start(QStringLiteral("mutter"),
                       {QStringLiteral("--headless"), QStringLiteral("--wayland"), QStringLiteral("--no-x11"),
                        QStringLiteral("--virtual-monitor"), QStringLiteral("1280x720"),
                        QStringLiteral("--wayland-display"), QStringLiteral("qh-mutter")});
        QVERIFY2(m_mutter.waitForStarted(10000), "mutter did not start");
        QDBusConnection bus = m_bus->connect(QStringLiteral("watch"));
        const auto owned = [&] {
            return bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Mutter.IdleMonitor")).value();
        };
        // Waits for the service, or for mutter to give up (in a container without what it needs).
        QTRY_VERIFY_WITH_TIMEOUT(owned() || m_mutter.state() == QProcess::NotRunning, 60000);
        if (!owned()) {
            const QByteArray said = m_mutter.readAll().right(600);
            QSKIP(qPrintable(QStringLiteral("mutter could not start here (exit %1): %2")
                                 .arg(m_mutter.exitCode())
                                 .arg(QString::fromLocal8Bit(said))));
        }
    }

    void cleanupTestCase()
    {
        if (m_mutter.state() == QProcess::NotRunning)
            return;
        m_mutter.terminate();
        if (!m_mutter.waitForFinished(10000)) {
            m_mutter.kill();
            m_mutter.waitForFinished(5000);
        }
    }

    // Without X11 or a compositor of its own to ask, the reading comes from Mutter's idle monitor,
    // and it grows while nobody touches anything.
    void idleTimeIsMutters()
    {
        DesktopIdleTime idle([] { return std::optional<double>(); }, nullptr, m_bus->connect(QStringLiteral("reader")));
        const std::optional<double> first = idle.secondsSinceLastInput();
        QVERIFY(first);
        QCOMPARE(idle.source(), DesktopIdleTime::Source::gnome);
        QVERIFY(*first >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(idle.secondsSinceLastInput().value_or(-1) > *first, 10000);
    }
};

QTEST_GUILESS_MAIN(TestGnomeSession)
#include "tst_gnome_session.moc"
