#pragma once

// The interface's motion: eased changes of a number over a fixed time, read from one monotonic
// time source (tests set their own and move it), and none at all when the desktop asks for
// reduced motion. Motion only shows a change: the change itself (a save, a step, a click's
// action) has happened before the first frame.

#include <QEasingCurve>
#include <QObject>
#include <QTimer>
#include <functional>

class QWidget;

namespace Motion {

// Seconds on a monotonic clock.
double now();
// Tests move time themselves; an empty source goes back to the monotonic clock.
void setTimeSource(std::function<double()> source);

// With reduced motion every change shows its final state at once.
bool reduced();
void setReduced(bool reduced);

// Fades a widget that has just appeared in from transparent over `seconds`, easing in and out.
void fadeIn(QWidget* widget, double seconds);

} // namespace Motion

// A number that moves from one value to another in `seconds` along `curve`.
class Tween : public QObject {
    Q_OBJECT
public:
    Tween(double seconds, QEasingCurve::Type curve, QObject* parent = nullptr);

    // Moves from where it is now to `to`; with no time to move (reduced motion), it is there.
    void moveTo(double to);
    void moveFromTo(double from, double to);
    void jumpTo(double value);

    double value() const { return m_value; }
    double target() const { return m_to; }
    bool isRunning() const { return m_timer.isActive(); }

    // Reads the time source and moves on; the tween's own timer calls it about 60 times a second.
    void tick();

signals:
    void valueChanged(double value);
    void finished();

private:
    double m_seconds;
    QEasingCurve m_curve;
    double m_from = 0;
    double m_to = 0;
    double m_value = 0;
    double m_start = 0;
    QTimer m_timer;
};
