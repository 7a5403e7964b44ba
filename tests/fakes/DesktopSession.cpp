#include "DesktopSession.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QThread>

namespace {

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

DesktopSession::DesktopSession(QSize screen)
{
    // Xvfb picks a free display number itself and writes it to standard output.
    m_xvfb.setProgram(QStringLiteral("Xvfb"));
    m_xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                         QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                         QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    m_xvfb.setStandardErrorFile(QProcess::nullDevice());
    m_xvfb.start();
    if (!m_xvfb.waitForStarted(5000))
        return;
    QByteArray out;
    QElapsedTimer waited;
    waited.start();
    while (!out.contains('\n') && waited.elapsed() < 10000 && m_xvfb.state() == QProcess::Running) {
        m_xvfb.waitForReadyRead(100);
        out += m_xvfb.readAllStandardOutput();
    }
    const QString number = QString::fromLatin1(out).trimmed();
    if (number.isEmpty())
        return;
    const QString display = QLatin1Char(':') + number;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    m_windowManager.setProcessEnvironment(env);
    m_windowManager.setProgram(QStringLiteral("openbox"));
    m_windowManager.setArguments({QStringLiteral("--sm-disable")});
    m_windowManager.setStandardOutputFile(QProcess::nullDevice());
    m_windowManager.setStandardErrorFile(QProcess::nullDevice());
    m_windowManager.start();
    if (!m_windowManager.waitForStarted(5000))
        return;
    QThread::msleep(300); // openbox takes over the root window in about a tenth of a second
    m_display = display;
}

DesktopSession::~DesktopSession()
{
    stop(m_windowManager);
    stop(m_xvfb);
}
