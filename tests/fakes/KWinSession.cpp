#include "KWinSession.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {

constexpr int patience = 30000;
const QString kwinService = QStringLiteral("org.kde.KWin");

// Lists the windows and hands them back over the bus, to the caller named in the file.
const char* const probe =
    R"(var windows = workspace.clientList().sort(function (a, b) { return a.stackingOrder - b.stackingOrder; });
var all = windows.map(function (c) {
    return { title: c.caption, app: String(c.resourceClass), focused: c === workspace.activeClient,
             parent: c.transientFor ? c.transientFor.caption : "", x: c.x, y: c.y, width: c.width, height: c.height };
});
callDBus("%1", "/report", "local.WindowReport", "windows", JSON.stringify(all));
)";

} // namespace

// The panel's tray: a StatusNotifierWatcher whose host is always there.
class TrayHost : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }
    QStringList m_items;
public slots:
    void RegisterStatusNotifierItem(const QString& service) { m_items.append(service); }
    void RegisterStatusNotifierHost(const QString&) {}
};

class WindowReport : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "local.WindowReport")
public:
    QByteArray last;
    bool arrived = false;
public slots:
    void windows(const QString& json)
    {
        last = json.toUtf8();
        arrived = true;
        emit came();
    }
signals:
    void came();
};

KWinSession::KWinSession() : m_folder(QStringLiteral("/tmp/qh-kwin-XXXXXX"))
{
    if (!start())
        m_display.clear();
}

bool KWinSession::start()
{
    const QString loader = QStringLiteral("/lib64/ld-linux-x86-64.so.2");
    const QString kwin = QStringLiteral("/usr/bin/kwin_wayland");
    if (!QFile::exists(kwin) || !QFile::exists(loader)) {
        m_failure = QStringLiteral("kwin_wayland (kwin-wayland) is not installed");
        return false;
    }
    if (!m_folder.isValid() || !QDir(m_folder.path()).mkpath(QStringLiteral("runtime")) ||
        !QFile::setPermissions(m_folder.filePath(QStringLiteral("runtime")),
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        m_failure = QStringLiteral("no temporary folder");
        return false;
    }
    m_bus = std::make_unique<SessionBus>();
    if (m_bus->address().isEmpty()) {
        m_failure = QStringLiteral("no session bus");
        return false;
    }
    m_connection = m_bus->connect(QStringLiteral("kwin-session"));
    m_tray = std::make_unique<TrayHost>();
    m_report = std::make_unique<WindowReport>();
    if (!m_connection.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")) ||
        !m_connection.registerObject(QStringLiteral("/StatusNotifierWatcher"), m_tray.get(),
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
        !m_connection.registerObject(QStringLiteral("/report"), m_report.get(), QDBusConnection::ExportAllSlots)) {
        m_failure = QStringLiteral("the tray host could not join the bus");
        return false;
    }

    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), m_folder.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_folder.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_folder.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_folder.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
    // Its own platform plugin otherwise refuses a process whose path is the loader's.
    env.insert(QStringLiteral("KWIN_FORCE_OWN_QPA"), QStringLiteral("1"));
    m_kwin.setProcessEnvironment(env);
    m_kwin.setProgram(loader);
    m_kwin.setArguments({kwin, QStringLiteral("--virtual"), QStringLiteral("--width"), QStringLiteral("1280"),
                         QStringLiteral("--height"), QStringLiteral("720"), QStringLiteral("--no-lockscreen"),
                         QStringLiteral("--socket"), QStringLiteral("wayland-0")});
    m_kwin.setStandardOutputFile(QProcess::nullDevice());
    m_kwin.setStandardErrorFile(m_folder.filePath(QStringLiteral("kwin.log")));
    m_kwin.start();
    if (!m_kwin.waitForStarted(patience)) {
        m_failure = QStringLiteral("kwin_wayland could not be started: ") + m_kwin.errorString();
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    const QString socket = m_folder.filePath(QStringLiteral("runtime/wayland-0"));
    const auto ready = [&] {
        return QFile::exists(socket) && m_connection.interface()->isServiceRegistered(kwinService).value();
    };
    while (!ready() && m_kwin.state() == QProcess::Running && waited.elapsed() < patience)
        m_kwin.waitForFinished(50);
    if (!ready()) {
        QFile log(m_folder.filePath(QStringLiteral("kwin.log")));
        log.open(QIODevice::ReadOnly);
        m_failure =
            QStringLiteral("kwin_wayland offered no display: ") + QString::fromLocal8Bit(log.readAll().right(600));
        return false;
    }
    m_display = QStringLiteral("wayland-0");
    return true;
}

KWinSession::~KWinSession()
{
    if (m_kwin.state() != QProcess::NotRunning) {
        // The loader runs KWin in its own process: its id is KWin's.
        m_kwin.terminate();
        if (!m_kwin.waitForFinished(5000)) {
            m_kwin.kill();
            m_kwin.waitForFinished(5000);
        }
    }
    if (m_connection.isConnected()) {
        m_connection.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        m_connection.unregisterObject(QStringLiteral("/report"));
    }
}

QProcessEnvironment KWinSession::clientEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_display);
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
    if (m_bus)
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
    return env;
}

QList<DesktopWindow> KWinSession::windows() const
{
    QList<DesktopWindow> found;
    const QString path = m_folder.filePath(QStringLiteral("probe.js"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(QString::fromLatin1(probe).arg(m_connection.baseService()).toUtf8()) < 0)
        return found;
    file.close();
    QDBusInterface scripting(kwinService, QStringLiteral("/Scripting"), QStringLiteral("org.kde.kwin.Scripting"),
                             m_connection);
    const QString name = QStringLiteral("qh-probe");
    scripting.call(QStringLiteral("unloadScript"), name);
    const QDBusReply<int> id = scripting.call(QStringLiteral("loadScript"), path, name);
    if (!id.isValid() || id.value() < 0)
        return found;
    m_report->arrived = false;
    QEventLoop loop;
    QObject::connect(m_report.get(), &WindowReport::came, &loop, &QEventLoop::quit);
    QTimer::singleShot(patience, &loop, &QEventLoop::quit);
    m_connection.call(QDBusMessage::createMethodCall(kwinService, QLatin1Char('/') + QString::number(id.value()),
                                                     QStringLiteral("org.kde.kwin.Script"), QStringLiteral("run")));
    if (!m_report->arrived)
        loop.exec();
    scripting.call(QStringLiteral("unloadScript"), name);
    return desktopWindowsFromJson(m_report->last);
}

bool KWinSession::activateTrayItem(QPoint at) const
{
    if (!m_tray || m_tray->m_items.isEmpty())
        return false;
    const QDBusMessage reply = m_connection.call(
        QDBusMessage::createMethodCall(m_tray->m_items.constLast(), QStringLiteral("/StatusNotifierItem"),
                                       QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"))
        << at.x() << at.y());
    return reply.type() == QDBusMessage::ReplyMessage;
}

#include "KWinSession.moc"
