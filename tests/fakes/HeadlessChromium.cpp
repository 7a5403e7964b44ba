#include "HeadlessChromium.h"

#include "ProcessTag.h"
#include "linux/DevToolsClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

HeadlessChromium::HeadlessChromium(const QStringList& extraArguments)
    : m_profile(m_home.filePath(QStringLiteral(".config/chromium")))
{
    QDir().mkpath(m_profile);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Chromium writes crash folders under HOME even with its own profile folder.
    env.insert(QStringLiteral("HOME"), m_home.path());
    m_tag = ProcessTag::apply(env);
    m_process.setProcessEnvironment(env);
    m_process.setProgram(QStringLiteral("chromium"));
    m_process.setArguments(QStringList{
                               QStringLiteral("--headless=new"),
                               QStringLiteral("--no-sandbox"),
                               QStringLiteral("--disable-gpu"),
                               QStringLiteral("--disable-quic"),
                               QStringLiteral("--no-first-run"),
                               QStringLiteral("--disable-background-networking"),
                               QStringLiteral("--disable-component-update"),
                               QStringLiteral("--disable-sync"),
                               QStringLiteral("--remote-debugging-port=0"),
                               QStringLiteral("--user-data-dir=") + m_profile,
                           } +
                           extraArguments + QStringList{QStringLiteral("about:blank")});
    // Its complaints about a missing system bus and the like would drown the test's own output.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start();
}

HeadlessChromium::~HeadlessChromium()
{
    // Its helpers write into the profile after the browser has gone: all of them end before
    // the folder is removed.
    ProcessTag::stop(m_process, m_tag);
}

bool HeadlessChromium::isInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty();
}

std::optional<QUrl> HeadlessChromium::browserEndpoint()
{
    QElapsedTimer waited;
    waited.start();
    const QString file = QDir(m_profile).filePath(QStringLiteral("DevToolsActivePort"));
    while (waited.elapsed() < 15000 && m_process.state() != QProcess::NotRunning) {
        if (const auto endpoint = DevToolsClient::browserEndpoint(file))
            return endpoint;
        QThread::msleep(50);
    }
    return std::nullopt;
}
