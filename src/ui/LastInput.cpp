#include "ui/LastInput.h"

#include "model/Clock.h"

#include <QCoreApplication>
#include <QEvent>
#include <cmath>

LastInput::LastInput(QCoreApplication* app, const MonotonicClock& clock) : m_clock(clock)
{
    app->installEventFilter(this);
}

std::optional<qint64> LastInput::sinceMs() const
{
    if (!m_at)
        return std::nullopt;
    return qint64(std::llround(std::max(0.0, m_clock.seconds() - *m_at) * 1000));
}

bool LastInput::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
        // A key that a shortcut takes reaches the widgets only as the question whether they want it.
        m_at = m_clock.seconds();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
