#include "ui/QueuedCall.h"

#include <QTimer>

QueuedCall::QueuedCall(QObject* owner, std::function<void()> action) : m_owner(owner), m_action(std::move(action)) {}

void QueuedCall::request()
{
    if (m_pending)
        return;
    m_pending = true;
    // Tied to the owner, so nothing runs once it is gone.
    QTimer::singleShot(0, m_owner, [this] {
        if (!m_pending)
            return;
        m_pending = false;
        m_action();
    });
}
