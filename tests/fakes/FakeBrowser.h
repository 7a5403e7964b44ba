#pragma once

#include "platform/ScriptRunner.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <functional>
#include <optional>

// A runner that plays the browsers: it carries out the read, redirect and close commands and keeps, per browser
// id, a running flag, a permission flag and windows of tabs. It runs on the executor's thread while tests set
// it up and look at it from the main thread, so every member is behind one mutex.
class FakeBrowser : public ScriptRunner {
    Q_OBJECT
public:
    using Operation = BrowserCommand::Operation;

    struct Window {
        QStringList tabs;
        int activeTab = 0;
    };

    struct Browser {
        bool running = true;
        bool permitted = true;
        std::optional<BrowserCommandError> forcedError;
        std::optional<QString> forcedMessage;
        bool hang = false; // receives scripts and never answers them
        int delayMs = 0;
        bool focused = true;   // one of its windows has the keyboard focus
        QList<Window> windows; // the first one is in front
    };

    // What the runner saw of one command.
    struct Received {
        BrowserCommand command;
        QThread* thread = nullptr;
    };

    static inline const QString permissionMessage = QStringLiteral("Not authorised to control the browser.");

    explicit FakeBrowser(QObject* parent = nullptr) : ScriptRunner(parent) {}

    void run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done) override;
    // Only once told to: then, like a route that hears of every change, it knows that a read
    // would answer what the last one did while nothing was set up or done to that browser since.
    bool readUnchanged(const QString& browserId) const override;
    void setTellsChanges(bool tells);

    // --- set-up, from any thread
    // A running browser with one window whose single tab shows `address`.
    void open(const QString& browserId, const QString& address);
    void setBrowser(const QString& browserId, const Browser& browser);
    void setRunning(const QString& browserId, bool running);
    void setPermitted(const QString& browserId, bool permitted);
    void setFocused(const QString& browserId, bool focused);
    void setForcedError(const QString& browserId, std::optional<BrowserCommandError> error,
                        std::optional<QString> message = std::nullopt);
    void setHang(const QString& browserId, bool hang);
    // Answers every script that was left hanging, late, with `result`.
    void releaseHung(const BrowserScriptResult& result);
    void setDelay(const QString& browserId, int ms);
    void closeAllWindows(const QString& browserId);
    // Points the active tab of the front window somewhere else (the person navigating).
    void navigate(const QString& browserId, const QString& address);

    // Runs on the executor's thread, with no lock held, after a script was received (and its
    // delay passed) and before it is answered: the place to change the tab under the engine.
    using BeforeAnswer = std::function<void(FakeBrowser& browser, const BrowserCommand& command)>;
    void setBeforeAnswer(BeforeAnswer hook);

    // --- inspection, from any thread
    Browser browser(const QString& browserId) const;
    std::optional<QString> activeAddress(const QString& browserId) const;
    QList<Received> received() const;
    QList<Operation> operations() const; // in order
    qsizetype count(Operation operation) const;
    int maxInFlight() const;
    void clearReceived();

private:
    BrowserScriptResult answer(const BrowserCommand& command);

    mutable QMutex m_mutex;
    QHash<QString, Browser> m_browsers;
    QList<Received> m_received;
    BeforeAnswer m_beforeAnswer;
    QList<std::function<void(const BrowserScriptResult&)>> m_hung;
    int m_inFlight = 0;
    int m_maxInFlight = 0;
    bool m_tellsChanges = false;
    quint64 m_changes = 0;           // set-ups, and scripts that moved or closed a tab
    QHash<QString, quint64> m_reads; // by browser id: m_changes at its last read
    // Of its changes, only a tab's loads are told: what the tests resting on a read need.
    void noteChange()
    {
        ++m_changes;
        if (m_tellsChanges)
            emit browserTold();
    }
};
