#pragma once

#include "linux/DevToolsClient.h"
#include "platform/ScriptRunner.h"

class DevToolsConnections;

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <functional>
#include <memory>

// Carries out the browser commands on Chromium-family browsers through their remote debugging
// protocol. The browser is reached over its one shared connection (see DevToolsConnections).
// Lives on the thread that runs the commands; it never blocks it.
//
// - read: the address of the active tab of the focused window, however many windows and tabs
//   there are (the focused page; with none focused, the most recently activated visible one);
//   the empty text with no window;
// - redirect and close: act only when the page still shows the address that was read, checked
//   inside the page in one step; an error page (which has no address of its own) is checked
//   against the address the browser was asked to load instead. A redirect is an ordinary
//   navigation, so the blocked address stays in the tab's history.
// - read with focus: as read, and whether that tab's window has the keyboard focus (the question
//   asked of every browser when the desktop cannot say which application is in front).
// A browser that runs without a debugging port answers notPermitted; one whose connection waits
// for the person to allow it answers awaitingConsent.
//
// Each command is a job that moves through a fixed series of steps; every step finds the job's
// connection afresh and ends the job when the browser has gone meanwhile.
class DevToolsScriptRunner : public ScriptRunner {
    Q_OBJECT
public:
    // `isRunning` answers for a browser id; `home` is where the profile folders are.
    DevToolsScriptRunner(std::function<bool(const QString&)> isRunning, QString home, QObject* parent = nullptr);
    // Over connections shared with others on the same thread.
    DevToolsScriptRunner(std::function<bool(const QString&)> isRunning, DevToolsConnections* connections,
                         QObject* parent = nullptr);
    ~DevToolsScriptRunner() override;

    void run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done) override;
    // True while a read answered from the browser's reports alone (no page asked) would find
    // them as they were.
    bool readUnchanged(const QString& browserId) const override;

    static constexpr int stepTimeoutMs = 900;
    // How long a page may take to answer before the tab's address is checked from outside.
    static constexpr int pageAnswerTimeoutMs = 250;
    // How long a page may take to say whether it has the focus; one that cannot is not in front.
    static constexpr int focusAnswerTimeoutMs = 300;

private:
    struct Job;
    using JobPtr = std::shared_ptr<Job>;
    void advance(const JobPtr& job);
    void connectStep(const JobPtr& job);
    void listStep(const JobPtr& job);
    bool askLastFocused(const JobPtr& job);
    // Every tab has told of its focus and visibility since it was last asked.
    bool everyPageTold(const JobPtr& job);
    void focusStep(const JobPtr& job);
    void checkInPageStep(const JobPtr& job);
    void recheckStep(const JobPtr& job);
    void navigateStep(const JobPtr& job);
    void closeStep(const JobPtr& job);

    // The browser's tabs; `afresh` asks the browser even when its reports already tell.
    void listPages(const JobPtr& job, std::function<void(const QJsonArray&)> next, bool afresh = false);
    void withSession(const JobPtr& job, const QString& targetId, std::function<void(const QString& session)> next,
                     std::function<void(const DevToolsClient::Error&)> fail);
    DevToolsClient* clientOf(const JobPtr& job);
    // Has the page tell of its focus and visibility from now on, from a world of its own.
    void watch(const JobPtr& job, const QString& targetId, const QString& session);
    void onEvent(const QString& browserId, const QString& method, const QJsonObject& params, const QString& session);

    std::function<bool(const QString&)> m_isRunning;
    QPointer<DevToolsConnections> m_shared;
    struct Connection {
        QPointer<DevToolsClient> client;  // what the sessions below belong to
        QHash<QString, QString> sessions; // target id -> session this runner attached
        QString lastFocused;              // target id of the tab last found with the focus
        struct Watch {
            QString session;
            int state = -1; // as a page answers when asked; -1 until it has told
        };
        QHash<QString, Watch> watches; // target id -> what the page last told
    };
    Connection& connectionOf(const JobPtr& job);
    QHash<QString, Connection> m_connections; // by browser id
    // What a read rests on beyond the shared connections: the pages' focus reports, the tab last
    // found focused, the sessions attached. Counted at every change.
    quint64 m_changes = 0;
    void noteChange()
    {
        ++m_changes;
        emit browserTold();
    }
    struct Told {
        quint64 connections = 0;
        quint64 runner = 0;
        bool operator==(const Told&) const = default;
    };
    Told told() const;
    QHash<QString, Told> m_readsAt; // by browser id: of its last read, when answered from reports
};
