#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <optional>

// Debian's chromium, headless, on a private profile and HOME, with remote debugging on a port
// the browser chooses. Stopped by its process on destruction.
class HeadlessChromium {
public:
    explicit HeadlessChromium(const QStringList& extraArguments = {});
    ~HeadlessChromium();

    static bool isInstalled();
    // The browser WebSocket endpoint, once the browser has written it (waits up to 15 s).
    std::optional<QUrl> browserEndpoint();
    QString profilePath() const { return m_profile.path(); }
    qint64 pid() const { return m_process.processId(); }

private:
    QTemporaryDir m_profile;
    QTemporaryDir m_home;
    QProcess m_process;
};
