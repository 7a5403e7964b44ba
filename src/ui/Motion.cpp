#include "ui/Motion.h"

#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QWidget>

namespace {

double monotonicSeconds()
{
    static QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(started.nsecsElapsed()) / 1e9;
}

std::function<double()>& timeSource()
{
    static std::function<double()> source = monotonicSeconds;
    return source;
}

bool reducedMotion = false;

} // namespace

namespace Motion {

double now()
{
    return timeSource()();
}

void setTimeSource(std::function<double()> source)
{
    timeSource() = source ? std::move(source) : std::function<double()>(monotonicSeconds);
}

bool reduced()
{
    return reducedMotion;
}

void setReduced(bool reduced)
{
    reducedMotion = reduced;
}

void fadeIn(QWidget* widget, double seconds)
{
    if (reduced() || seconds <= 0)
        return;
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(0);
    widget->setGraphicsEffect(effect);
    auto* fade = new Tween(seconds, QEasingCurve::InOutQuad, effect);
    fade->setObjectName(QStringLiteral("fadeIn"));
    QObject::connect(fade, &Tween::valueChanged, effect, &QGraphicsOpacityEffect::setOpacity);
    // Drawn through an offscreen buffer only while it fades: the effect goes when it is done.
    QObject::connect(fade, &Tween::finished, widget, [widget] { widget->setGraphicsEffect(nullptr); });
    fade->moveFromTo(0, 1);
}

} // namespace Motion

Tween::Tween(double seconds, QEasingCurve::Type curve, QObject* parent)
    : QObject(parent), m_seconds(seconds), m_curve(curve)
{
    m_timer.setInterval(16);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Tween::tick);
}

void Tween::moveTo(double to)
{
    moveFromTo(m_value, to);
}

void Tween::moveFromTo(double from, double to)
{
    if (Motion::reduced() || m_seconds <= 0 || from == to) {
        jumpTo(to);
        return;
    }
    m_from = from;
    m_to = to;
    m_start = Motion::now();
    m_value = from;
    m_timer.start();
    emit valueChanged(m_value);
}

void Tween::jumpTo(double value)
{
    const bool wasRunning = m_timer.isActive();
    m_timer.stop();
    m_from = m_to = value;
    const bool changed = m_value != value;
    m_value = value;
    if (changed)
        emit valueChanged(m_value);
    if (wasRunning || changed)
        emit finished();
}

void Tween::tick()
{
    if (!m_timer.isActive())
        return;
    const double progress = (Motion::now() - m_start) / m_seconds;
    if (progress >= 1) {
        jumpTo(m_to);
        return;
    }
    m_value = m_from + (m_to - m_from) * m_curve.valueForProgress(std::max(0.0, progress));
    emit valueChanged(m_value);
}
