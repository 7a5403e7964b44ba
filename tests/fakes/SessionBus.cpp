#include "SessionBus.h"

#include <QElapsedTimer>
#include <QFile>

namespace {

// A session bus with no service files: nothing installed on the machine (a notification
// daemon, say) is started behind the test's back.
const char* const config = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

SessionBus::SessionBus()
{
    if (!m_folder.isValid())
        return;
    const QString configPath = m_folder.filePath(QStringLiteral("session.conf"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(config) < 0)
        return;
    file.close();
    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                           QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    m_daemon.start();
    if (!m_daemon.waitForStarted(5000))
        return;
    QElapsedTimer waited;
    waited.start();
    QByteArray out;
    while (!out.contains('\n') && waited.elapsed() < 5000) {
        m_daemon.waitForReadyRead(100);
        out += m_daemon.readAllStandardOutput();
    }
    m_address = QString::fromUtf8(out).trimmed();
}

SessionBus::~SessionBus()
{
    for (const QString& name : std::as_const(m_connections))
        QDBusConnection::disconnectFromBus(name);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(2000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(2000);
        }
    }
}

QDBusConnection SessionBus::connect(const QString& name) const
{
    const_cast<SessionBus*>(this)->m_connections.append(name);
    return QDBusConnection::connectToBus(m_address, name);
}
