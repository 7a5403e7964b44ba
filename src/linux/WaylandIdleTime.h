#pragma once

#include "platform/IdleTime.h"

#include <QObject>
#include <QString>
#include <memory>

class MonotonicClock;
class QSocketNotifier;

// Seconds since the last input, from a Wayland compositor that offers ext-idle-notify-v1 (KDE
// Plasma, wlroots compositors from 0.16, …). The protocol tells only when the seat has been left
// alone for a chosen time and when input came back, not a number: one notification at
// `notifyAfter` is kept, and the reading is built from it:
//   idled at t     → notifyAfter + (now − t)
//   resumed, or no idled within notifyAfter of creating it → input within notifyAfter: 0
//   otherwise (just connected, no such global, compositor gone) → unknown.
// The compositor's events are read when its socket has something, never on a timer.
class WaylandIdleTime : public QObject, public IdleTime {
    Q_OBJECT
public:
    // `display` names the compositor as WAYLAND_DISPLAY does; empty means there is none and
    // nothing is connected (libwayland would otherwise try "wayland-0").
    WaylandIdleTime(const QString& display, const MonotonicClock& monotonic, QObject* parent = nullptr);
    ~WaylandIdleTime() override;

    // The compositor of this session, if the environment names one.
    static QString sessionDisplay();

    std::optional<double> secondsSinceLastInput() const override;

    enum class Phase {
        none,        // no compositor, or it went away
        listing,     // waiting for the compositor's list of globals
        unsupported, // no idle notifier or no seat
        watching,    // notification made, no event yet
        idle,
        active,
    };
    Phase phase() const { return m_phase; }

    // Short enough that the reading is exact beyond a few seconds, long enough that a person
    // reading a page does not wake us at every pause.
    static constexpr double notifyAfter = 5.0;
    // An idled event may still be on its way this long after the notification's own deadline.
    static constexpr double eventLatency = 1.0;

signals:
    void phaseChanged();

private:
    struct Wayland;
    void readEvents();
    void disconnectCompositor();
    void setPhase(Phase phase);
    void bindGlobal(uint32_t name, const char* interface, uint32_t version);
    void removeGlobal(uint32_t name);
    void listingDone();
    void watch();

    const MonotonicClock& m_monotonic;
    std::unique_ptr<Wayland> d;
    QSocketNotifier* m_notifier = nullptr;
    Phase m_phase = Phase::none;
    double m_since = 0; // when the notification was made, went idle or came back
};
