#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <optional>

// Debian's chromium, headless, on a private profile and HOME, with remote debugging on a port
// the browser chooses. Stopped on destruction, with every process it started.
class HeadlessChromium {
public:
    explicit HeadlessChromium(const QStringList& extraArguments = {});
    ~HeadlessChromium();

    static bool isInstalled();
    // The browser WebSocket endpoint, once the browser has written it (waits up to 15 s).
    std::optional<QUrl> browserEndpoint();
    QString profilePath() const { return m_profile; }
    qint64 pid() const { return m_process.processId(); }

private:
    QTemporaryDir m_home;
    // The usual profile folder of its own HOME: the engines of tests running beside this one
    // take it for another home's browser and leave it alone.
    QString m_profile;
    QByteArray m_tag;
    QProcess m_process;
};
