#pragma once

#include <QObject>
#include <optional>

class MonotonicClock;
class QCoreApplication;

// When the person last pressed a key or a mouse button, or turned the wheel, in any of the
// program's windows, on the monotonic clock. Work that holds the window's thread up for a while
// waits for a pause in what the person does.
class LastInput : public QObject {
public:
    LastInput(QCoreApplication* app, const MonotonicClock& clock);

    // Milliseconds since then; none before the first.
    std::optional<qint64> sinceMs() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const MonotonicClock& m_clock;
    std::optional<double> m_at;
};
