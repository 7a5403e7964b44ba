#include "GnomeShellSession.h"

#include "ProcessTag.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

namespace {

constexpr int patience = 60000;
const QString extensionId = QStringLiteral("eval@quillharbour.test");
const QString socketName = QStringLiteral("gnome-0");

// Switches Eval on, and leaves the overview the shell starts in once the start is over.
const char* const extension = R"(const Main = imports.ui.main;
function init() {}
function enable() {
    global.context.unsafe_mode = true;
    if (Main.layoutManager._startingUp)
        Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
    else
        Main.overview.hide();
}
function disable() {}
)";

// The windows from the bottom of the stack up, as JSON.
const char* const windowsScript = R"(global.display.sort_windows_by_stacking(
    global.get_window_actors().map(a => a.meta_window)).map(w => {
        const r = w.get_frame_rect();
        const p = w.get_transient_for();
        return {title: w.get_title() || '', app: w.get_wm_class() || '', focused: w.has_focus(),
                parent: p ? p.get_title() || '' : '', x: r.x, y: r.y, width: r.width, height: r.height};
    }))";

bool writeText(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// A socket's path must stay within 107 bytes: a long temporary folder gives way to /tmp.
QString folderTemplate()
{
    const QString usual = QDir::tempPath() + QStringLiteral("/qh-gnome-XXXXXX");
    return usual.size() + 20 < 100 ? usual : QStringLiteral("/tmp/qh-gnome-XXXXXX");
}

} // namespace

GnomeShellSession::GnomeShellSession() : m_folder(folderTemplate())
{
    if (!start())
        m_display.clear();
}

bool GnomeShellSession::start()
{
    if (QStandardPaths::findExecutable(QStringLiteral("gnome-shell")).isEmpty()) {
        m_failure = QStringLiteral("gnome-shell is not installed");
        return false;
    }
    const QString home = m_folder.filePath(QStringLiteral("home"));
    const QString runtime = m_folder.filePath(QStringLiteral("run"));
    if (!m_folder.isValid() || !QDir().mkpath(runtime) ||
        !QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        m_failure = QStringLiteral("no private folders");
        return false;
    }
    const QString extensionFolder = home + QStringLiteral("/.local/share/gnome-shell/extensions/") + extensionId;
    const QByteArray metadata = "{\"uuid\": \"" + extensionId.toUtf8() +
                                "\", \"name\": \"Eval\", \"description\": \"Tests ask the shell\", "
                                "\"shell-version\": [\"43\", \"44\"]}\n";
    // Its settings in a file of the home: the extension on, no animations to wait for.
    const QByteArray settings = "[org/gnome/shell]\nenabled-extensions=['" + extensionId.toUtf8() +
                                "']\nwelcome-dialog-last-shown-version='999'\n\n"
                                "[org/gnome/desktop/interface]\nenable-animations=false\n";
    if (!writeText(extensionFolder + QStringLiteral("/metadata.json"), metadata) ||
        !writeText(extensionFolder + QStringLiteral("/extension.js"), extension) ||
        !writeText(home + QStringLiteral("/.config/glib-2.0/settings/keyfile"), settings)) {
        m_failure = QStringLiteral("cannot write the shell's home");
        return false;
    }
    m_bus = std::make_unique<SessionBus>();
    m_systemBus = std::make_unique<SessionBus>();
    if (m_bus->address().isEmpty() || m_systemBus->address().isEmpty()) {
        m_failure = QStringLiteral("dbus-daemon could not be started");
        return false;
    }
    m_connection = QStringLiteral("gnome-shell-%1").arg(quintptr(this));
    m_bus->connect(m_connection);

    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_systemBus->address());
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    m_tag = ProcessTag::apply(env);
    const QStringList shell{QStringLiteral("gnome-shell"),       QStringLiteral("--headless"),
                            QStringLiteral("--wayland"),         QStringLiteral("--no-x11"),
                            QStringLiteral("--virtual-monitor"), QStringLiteral("1280x720"),
                            QStringLiteral("--wayland-display"), socketName};
    m_shell.setProcessEnvironment(env);
    m_shell.setProcessChannelMode(QProcess::MergedChannels);
    if (QFileInfo::exists(QStringLiteral("/run/systemd/seats"))) {
        if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()) {
            m_failure = QStringLiteral("logind's seats are there and unshare is not installed to hide them");
            return false;
        }
        // unshare and the shell that mounts end in an exec: the process started is the shell.
        QStringList arguments;
        if (geteuid() != 0)
            arguments << QStringLiteral("--user") << QStringLiteral("--map-root-user");
        arguments << QStringLiteral("--mount") << QStringLiteral("--propagation") << QStringLiteral("private")
                  << QStringLiteral("sh") << QStringLiteral("-c")
                  << QStringLiteral("mount -t tmpfs tmpfs /run/systemd && exec \"$@\"") << QStringLiteral("sh")
                  << shell;
        m_shell.start(QStringLiteral("unshare"), arguments);
    } else {
        m_shell.start(shell.first(), shell.mid(1));
    }
    if (!m_shell.waitForStarted(patience)) {
        m_failure = QStringLiteral("gnome-shell could not be started");
        return false;
    }
    // Ready once Eval answers and the overview has closed.
    const QDeadlineTimer deadline(patience);
    while (!deadline.hasExpired() && m_shell.state() == QProcess::Running &&
           evaluate(QStringLiteral("Main.overview.visible || Main.layoutManager._startingUp")) != "false")
        QThread::msleep(100);
    if (evaluate(QStringLiteral("Main.overview.visible")) != "false") {
        const QByteArray said = m_shell.readAll().right(800);
        m_failure = QStringLiteral("gnome-shell did not come up (%1): %2")
                        .arg(m_shell.state() == QProcess::Running ? QStringLiteral("running")
                                                                  : QStringLiteral("exit %1").arg(m_shell.exitCode()),
                             QString::fromLocal8Bit(said));
        return false;
    }
    m_display = QDir(runtime).filePath(socketName);
    return true;
}

GnomeShellSession::~GnomeShellSession()
{
    if (!m_tag.isEmpty())
        ProcessTag::stop(m_shell, m_tag);
    m_systemBus.reset();
    m_bus.reset();
}

QProcessEnvironment GnomeShellSession::clientEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_display);
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    if (m_bus)
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
    return env;
}

std::optional<QByteArray> GnomeShellSession::evaluate(const QString& script) const
{
    if (!m_bus)
        return std::nullopt;
    QDBusConnection bus(m_connection);
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
                                       QStringLiteral("org.gnome.Shell"), QStringLiteral("Eval"));
    call << script;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
    const QList<QVariant> answer = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || answer.size() != 2 || !answer.at(0).toBool())
        return std::nullopt;
    return answer.at(1).toString().toUtf8();
}

QList<DesktopWindow> GnomeShellSession::windows() const
{
    return desktopWindowsFromJson(evaluate(QString::fromLatin1(windowsScript)).value_or("[]"));
}
