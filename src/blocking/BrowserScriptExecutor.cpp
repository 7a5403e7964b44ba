#include "blocking/BrowserScriptExecutor.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <deque>

namespace {

// Lives on the script thread: keeps the queue and makes sure each script ends exactly once.
class ScriptWorker : public QObject {
public:
    ScriptWorker(std::unique_ptr<ScriptRunner> runner, int timeoutMs,
                 std::function<void(quint64, const BrowserScriptResult&)> report)
        : m_runner(runner.release()), m_timeoutMs(timeoutMs), m_report(std::move(report))
    {
        // A child, so that it moves to the script thread with the worker: a timer can only run
        // on the thread it belongs to.
        m_watchdog.setParent(this);
        m_runner->setParent(this); // moves to the script thread with the worker
        m_watchdog.setSingleShot(true);
        QObject::connect(&m_watchdog, &QTimer::timeout, this,
                         [this] { complete(m_current, BrowserScriptExecutor::timedOut()); });
    }

    bool idle() const { return !m_busy && m_queue.empty(); }
    const ScriptRunner& runner() const { return *m_runner; }
    ScriptRunner& runner() { return *m_runner; }

    void enqueue(quint64 id, const BrowserCommand& command)
    {
        m_queue.push_back({id, command});
        next();
    }

private:
    void next()
    {
        if (m_busy || m_queue.empty())
            return;
        const auto [id, command] = m_queue.front();
        m_queue.pop_front();
        m_busy = true;
        m_current = id;
        if (!command.isWellFormed()) {
            complete(id, BrowserScriptExecutor::unprepared());
            return;
        }
        m_watchdog.start(m_timeoutMs);
        QPointer<ScriptWorker> self(this);
        m_runner->run(command, [self, id](const BrowserScriptResult& result) {
            if (self)
                self->complete(id, result);
        });
    }

    void complete(quint64 id, const BrowserScriptResult& result)
    {
        // A late answer after the time-out, or a second answer, is not news any more.
        if (!m_busy || id != m_current)
            return;
        m_watchdog.stop();
        m_busy = false;
        m_report(id, result);
        // Let the runner finish its own bookkeeping before the next script starts; with none
        // waiting, the next one starts when it comes.
        if (!m_queue.empty())
            QMetaObject::invokeMethod(
                this, [this] { next(); }, Qt::QueuedConnection);
    }

    ScriptRunner* m_runner;
    int m_timeoutMs;
    std::function<void(quint64, const BrowserScriptResult&)> m_report;
    std::deque<std::pair<quint64, BrowserCommand>> m_queue;
    QTimer m_watchdog;
    bool m_busy = false;
    quint64 m_current = 0;
};

} // namespace

BrowserScriptExecutor::BrowserScriptExecutor(std::unique_ptr<ScriptRunner> runner, int timeoutMs, QObject* parent,
                                             Placement placement)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("com.morrowfield.quillharbour.browser-scripts"));
    QPointer<BrowserScriptExecutor> self(this);
    auto* worker =
        new ScriptWorker(std::move(runner), timeoutMs, [self](quint64 id, const BrowserScriptResult& result) {
            // Back to the main thread; queued events keep the submission order.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, id, result] {
                    if (self)
                        self->finished(id, result);
                },
                Qt::QueuedConnection);
        });
    m_worker = worker;
    if (placement == Placement::callingThread) {
        worker->setParent(this);
        m_sameThread = true;
        connect(&worker->runner(), &ScriptRunner::browserTold, this, &BrowserScriptExecutor::browserTold);
        return;
    }
    worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_thread.start();
}

BrowserScriptExecutor::~BrowserScriptExecutor()
{
    if (!m_thread.isRunning())
        return;
    m_thread.quit();
    m_thread.wait();
}

BrowserScriptResult BrowserScriptExecutor::timedOut()
{
    return BrowserScriptResult::failure(BrowserCommandError::timedOut,
                                        QStringLiteral("The browser did not respond in time."));
}

BrowserScriptResult BrowserScriptExecutor::unprepared()
{
    return BrowserScriptResult::failure(BrowserCommandError::unprepared,
                                        QStringLiteral("The browser command could not be prepared."));
}

void BrowserScriptExecutor::run(const BrowserCommand& command,
                                std::function<void(const BrowserScriptResult&)> completion)
{
    const quint64 id = m_nextId++;
    m_completions.insert(id, std::move(completion));
    auto* worker = static_cast<ScriptWorker*>(m_worker);
    // On this thread the command is handed over at once: only its completion waits for the loop.
    if (m_sameThread) {
        worker->enqueue(id, command);
        return;
    }
    QMetaObject::invokeMethod(
        worker, [worker, id, command] { worker->enqueue(id, command); }, Qt::QueuedConnection);
}

bool BrowserScriptExecutor::readUnchanged(const QString& browserId) const
{
    if (!m_sameThread)
        return false;
    const auto* worker = static_cast<const ScriptWorker*>(m_worker);
    // A completion still on its way back counts as a script under way: its runner has moved on.
    return worker->idle() && m_completions.isEmpty() && worker->runner().readUnchanged(browserId);
}

void BrowserScriptExecutor::finished(quint64 id, const BrowserScriptResult& result)
{
    auto completion = m_completions.take(id);
    if (completion)
        completion(result);
}
