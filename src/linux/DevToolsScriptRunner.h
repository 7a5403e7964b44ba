#pragma once

#include "platform/ScriptRunner.h"

#include <QHash>
#include <QJsonArray>
#include <QPointer>
#include <functional>

class DevToolsClient;
class QNetworkAccessManager;

// Carries out the browser scripts on Chromium-family browsers through their remote debugging
// protocol. The script text says which operation, browser and addresses are meant; the browser is
// found through its profile folder ("DevToolsActivePort"). Lives on the script thread.
//
// - read: the address of the current tab (the focused page, else the most recently activated
//   one); the empty text with no window;
// - redirect and close: act only when the page still shows the address that was read, checked
//   inside the page in one step; an error page (which has no address of its own) is checked
//   against the address the browser was asked to load instead.
// A browser that runs without a debugging port answers -1743, as a refused permission would.
class DevToolsScriptRunner : public ScriptRunner {
    Q_OBJECT
public:
    // `isRunning` answers for a bundle identifier; `home` is where the profile folders are.
    DevToolsScriptRunner(std::function<bool(const QString&)> isRunning, QString home, QObject* parent = nullptr);
    ~DevToolsScriptRunner() override;

    void run(const QString& script, std::function<void(const BrowserScriptResult&)> done) override;

    static constexpr int stepTimeoutMs = 900;
    // How long a page may take to answer before the tab's address is checked from outside.
    static constexpr int pageAnswerTimeoutMs = 250;

private:
    struct Job;
    void withClient(const std::shared_ptr<Job>& job, std::function<void(DevToolsClient*)> next);
    void listPages(const std::shared_ptr<Job>& job, std::function<void(const QJsonArray&)> next);
    void pickCurrentPage(const std::shared_ptr<Job>& job, const QJsonArray& pages, int index,
                         std::function<void(const QJsonObject&)> next);
    void session(const std::shared_ptr<Job>& job, const QString& targetId, std::function<void(const QString&)> next,
                 std::function<void(bool timedOut)> fail);
    void act(const std::shared_ptr<Job>& job, const QJsonObject& page);
    void closeTarget(const std::shared_ptr<Job>& job, const QString& targetId, const QString& done);

    std::function<bool(const QString&)> m_isRunning;
    QString m_home;
    QNetworkAccessManager* m_network = nullptr;
    struct Connection {
        QPointer<DevToolsClient> client;
        QString endpoint;
        QHash<QString, QString> sessions; // target id -> attached session
    };
    QHash<QString, Connection> m_connections; // by profile folder
};
