#pragma once

#include "platform/ScriptRunner.h"

#include <QHash>
#include <QObject>
#include <QThread>
#include <functional>
#include <memory>

// Runs browser commands one at a time, in submission order, on a thread of their own
// ("com.morrowfield.quillharbour.browser-scripts"), and hands each result back on the main thread.
// Every run completes: a runner that has not answered within the time-out yields timedOut(), and
// a command no route can carry out yields unprepared() without reaching the runner.
//
// A runner that never blocks (it only sends and waits for answers) may instead run on the
// calling thread, with the same order, time-out and asynchronous completions: that spares a
// thread hop, and its wake-ups, on every script.
class BrowserScriptExecutor : public QObject {
    Q_OBJECT
public:
    enum class Placement { ownThread, callingThread };
    explicit BrowserScriptExecutor(std::unique_ptr<ScriptRunner> runner, int timeoutMs = 3000,
                                   QObject* parent = nullptr, Placement placement = Placement::ownThread);
    ~BrowserScriptExecutor() override;

    void run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> completion);
    // Whether a read of the browser's current tab would answer what the last one did, so that it
    // need not be sent (see ScriptRunner::readUnchanged). Only a runner beside the caller can be
    // asked, and only while no script waits or runs; otherwise false.
    bool readUnchanged(const QString& browserId) const;

    static BrowserScriptResult timedOut();
    static BrowserScriptResult unprepared();

signals:
    // What readUnchanged() said true to may no longer hold (see ScriptRunner::browserTold).
    void browserTold();

private:
    void finished(quint64 id, const BrowserScriptResult& result);

    QThread m_thread;
    QObject* m_worker = nullptr;
    bool m_sameThread = false;
    quint64 m_nextId = 1;
    QHash<quint64, std::function<void(const BrowserScriptResult&)>> m_completions;
};
