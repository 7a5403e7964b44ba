#include "WaylandSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QThread>
#include <functional>
#include <optional>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int patience = 30000;

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool waitFor(const std::function<bool()>& condition)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < patience) {
        if (condition())
            return true;
        QThread::msleep(50);
    }
    return condition();
}

} // namespace

// Every folder above `path` lets others pass through.
static bool othersReach(const QString& path)
{
    for (QDir folder(QFileInfo(path).absolutePath());; folder.cdUp()) {
        struct stat mode {};
        if (stat(QFile::encodeName(folder.path()).constData(), &mode) != 0 || !(mode.st_mode & S_IXOTH))
            return false;
        if (folder.isRoot())
            return true;
    }
}

// As root the compositor runs as "nobody", who must pass through the folders above its own; where
// a folder of root's forbids that, the runtime folder sits in the shared temporary one.
static QString runtimeTemplate(const QString& within)
{
    const QString parent = within.isEmpty() ? QDir::tempPath() : within;
    const bool reachable = geteuid() != 0 || (!within.isEmpty() && othersReach(within));
    return (reachable ? parent : QStringLiteral("/tmp")) + QStringLiteral("/qh-wayland-XXXXXX");
}

WaylandSession::WaylandSession(const QString& within) : m_runtime(runtimeTemplate(within))
{
    if (!start(within))
        m_display.clear();
}

bool WaylandSession::start(const QString& within)
{
    if (QStandardPaths::findExecutable(QStringLiteral("sway")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("wtype")).isEmpty()) {
        m_failure = QStringLiteral("sway or wtype is not installed");
        return false;
    }
    if (!m_runtime.isValid()) {
        m_failure = QStringLiteral("no temporary folder");
        return false;
    }
    QFile config(m_runtime.filePath(QStringLiteral("config")));
    if (!config.open(QIODevice::WriteOnly) || config.write("default_border none\n") < 0) {
        m_failure = QStringLiteral("cannot write the compositor's configuration");
        return false;
    }
    config.close();

    const QStringList environment{QStringLiteral("XDG_RUNTIME_DIR=") + m_runtime.path(),
                                  QStringLiteral("PATH=/usr/local/bin:/usr/bin:/bin"),
                                  QStringLiteral("WLR_BACKENDS=headless"), QStringLiteral("WLR_RENDERER=pixman"),
                                  QStringLiteral("WLR_LIBINPUT_NO_DEVICES=1")};
    const QStringList sway{QStringLiteral("sway"), QStringLiteral("-c"), config.fileName()};
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty()) {
            m_failure = QStringLiteral("running as root and no user \"nobody\" (or no runuser) to run sway as");
            return false;
        }
        // The compositor's user owns the folder; root's clients reach it all the same.
        const QByteArray parent = QFile::encodeName(within);
        struct stat parentMode {};
        const bool inside = !within.isEmpty() && m_runtime.path().startsWith(within + u'/');
        if ((inside && (stat(parent.constData(), &parentMode) != 0 ||
                        chmod(parent.constData(), (parentMode.st_mode & 07777) | S_IXOTH) != 0)) ||
            chown(QFile::encodeName(m_runtime.path()).constData(), nobody->pw_uid, nobody->pw_gid) != 0 ||
            chmod(QFile::encodeName(m_runtime.path()).constData(), 0700) != 0) {
            m_failure = QStringLiteral("cannot hand the runtime folder to \"nobody\"");
            return false;
        }
        m_compositor.setProgram(QStringLiteral("runuser"));
        m_compositor.setArguments(QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                                              QStringLiteral("env"), QStringLiteral("-i")} +
                                  environment + sway);
    } else {
        m_compositor.setProgram(QStringLiteral("env"));
        m_compositor.setArguments(QStringList{QStringLiteral("-i")} + environment + sway);
    }
    m_compositor.setStandardOutputFile(QProcess::nullDevice());
    m_compositor.setStandardErrorFile(QProcess::nullDevice());
    m_compositor.start();
    if (!m_compositor.waitForStarted(patience)) {
        m_failure = QStringLiteral("sway could not be started");
        return false;
    }

    // sway names its display socket and its control socket ("sway-ipc.<uid>.<pid>.sock") there.
    const QDir runtime(m_runtime.path());
    if (!waitFor([&] {
            const QStringList displays = runtime.entryList({QStringLiteral("wayland-*")}, QDir::System);
            const QStringList sockets = runtime.entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
            for (const QString& d : displays)
                if (!d.endsWith(QLatin1String(".lock")))
                    m_display = d;
            if (!sockets.isEmpty()) {
                m_socket = runtime.filePath(sockets.first());
                m_swayPid = sockets.first().section(u'.', 2, 2).toLongLong();
            }
            return !m_display.isEmpty() && m_swayPid > 0;
        }) ||
        m_compositor.state() != QProcess::Running) {
        m_failure = QStringLiteral("sway started but offered no display");
        return false;
    }

    // Without an input device the seat has no keyboard and no window ever gets keyboard focus; a
    // virtual keyboard lives as long as this process waits before its one key.
    m_keyboard.setProcessEnvironment(clientEnvironment());
    m_keyboard.setProgram(QStringLiteral("wtype"));
    m_keyboard.setArguments(
        {QStringLiteral("-s"), QStringLiteral("600000"), QStringLiteral("-k"), QStringLiteral("Shift_L")});
    m_keyboard.setStandardOutputFile(QProcess::nullDevice());
    m_keyboard.setStandardErrorFile(QProcess::nullDevice());
    m_keyboard.start();
    if (!m_keyboard.waitForStarted(patience) || !waitFor([this] {
            QProcess seats;
            seats.setProcessEnvironment(clientEnvironment());
            seats.start(QStringLiteral("swaymsg"), {QStringLiteral("-s"), m_socket, QStringLiteral("-t"),
                                                    QStringLiteral("get_seats"), QStringLiteral("-r")});
            seats.waitForFinished(patience);
            return seats.readAllStandardOutput().contains("\"keyboard\"");
        })) {
        m_failure = QStringLiteral("the virtual keyboard did not join the seat");
        return false;
    }
    return true;
}

WaylandSession::~WaylandSession()
{
    stop(m_keyboard);
    // runuser waits for sway; sway itself is ended by its own process id.
    if (m_swayPid > 0 && m_compositor.state() != QProcess::NotRunning)
        kill(static_cast<pid_t>(m_swayPid), SIGTERM);
    if (!m_compositor.waitForFinished(5000) && m_swayPid > 0) {
        kill(static_cast<pid_t>(m_swayPid), SIGKILL);
        m_compositor.waitForFinished(5000);
    }
    stop(m_compositor);
}

QProcessEnvironment WaylandSession::clientEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_display);
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    return env;
}

bool WaylandSession::command(const QStringList& arguments) const
{
    QProcess swaymsg;
    swaymsg.setProcessEnvironment(clientEnvironment());
    swaymsg.start(QStringLiteral("swaymsg"), QStringList{QStringLiteral("-s"), m_socket} + arguments);
    swaymsg.waitForFinished(patience);
    return swaymsg.exitStatus() == QProcess::NormalExit && swaymsg.exitCode() == 0 &&
           !swaymsg.readAllStandardOutput().contains("\"success\": false");
}

QJsonObject WaylandSession::tree() const
{
    QProcess swaymsg;
    swaymsg.setProcessEnvironment(clientEnvironment());
    swaymsg.start(QStringLiteral("swaymsg"), {QStringLiteral("-s"), m_socket, QStringLiteral("-t"),
                                              QStringLiteral("get_tree"), QStringLiteral("-r")});
    swaymsg.waitForFinished(patience);
    return QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object();
}

bool WaylandSession::focusWindowOf(qint64 pid) const
{
    std::optional<QJsonObject> window;
    const std::function<void(const QJsonObject&)> visit = [&](const QJsonObject& node) {
        for (const char* children : {"nodes", "floating_nodes"})
            for (const QJsonValue child : node.value(QLatin1String(children)).toArray())
                visit(child.toObject());
        if (node.value(QLatin1String("pid")).toInteger() == pid)
            window = node;
    };
    visit(tree());
    if (!window)
        return false;
    if (window->value(QLatin1String("focused")).toBool())
        return true;
    command({QStringLiteral("[con_id=%1] focus").arg(window->value(QLatin1String("id")).toInteger())});
    return false;
}

QList<DesktopWindow> WaylandSession::windows() const
{
    QList<DesktopWindow> found;
    // Each container's tiled children, then its floating ones, which sway draws above them.
    const std::function<void(const QJsonObject&)> visit = [&](const QJsonObject& node) {
        for (const char* children : {"nodes", "floating_nodes"})
            for (const QJsonValue child : node.value(QLatin1String(children)).toArray())
                visit(child.toObject());
        if (!node.contains(QLatin1String("pid")) || !node.value(QLatin1String("nodes")).toArray().isEmpty())
            return;
        DesktopWindow window;
        window.title = node.value(QLatin1String("name")).toString();
        window.appId = node.value(QLatin1String("app_id")).toString();
        window.focused = node.value(QLatin1String("focused")).toBool();
        const QJsonObject r = node.value(QLatin1String("rect")).toObject();
        window.frame = QRect(r.value(QLatin1String("x")).toInt(), r.value(QLatin1String("y")).toInt(),
                             r.value(QLatin1String("width")).toInt(), r.value(QLatin1String("height")).toInt());
        found.append(window);
    };
    visit(tree());
    return found;
}
