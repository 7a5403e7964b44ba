#pragma once

#include <functional>

class QObject;

// Runs an action once on the next turn of the event loop, however often it was requested before
// then. Pages refresh this way: one store call emits several signals, and a rebuild at once could
// delete the row whose click handler is still running. Lives as a member of `owner`.
class QueuedCall {
public:
    QueuedCall(QObject* owner, std::function<void()> action);

    void request();
    // The work was done directly: a call still queued does nothing.
    void cancel() { m_pending = false; }

private:
    QObject* m_owner;
    std::function<void()> m_action;
    bool m_pending = false;
};
