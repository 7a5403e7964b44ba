#pragma once

#include "model/Calendar.h"
#include "platform/SystemEvents.h"

#include <QDate>
#include <QTimer>
#include <functional>
#include <optional>

class FileWatches;
class QSocketNotifier;

// The system events on Linux. Each source is optional and starts only where it can:
// - day change: our own timer for the next local midnight;
// - clock set: a timerfd armed with TFD_TIMER_CANCEL_ON_SET, which the kernel cancels whenever
//   the realtime clock is set; and, for a clock that moves without that word (a virtual machine
//   resumed, a clock stepped under the kernel), the wall clock's lead over the boot clock, looked
//   at when the program wakes for something else beside that timer and every few seconds where
//   it could not be armed;
// - time zone: org.freedesktop.timedate1 on the system bus and a watch on /etc/localtime (looked
//   at once a minute where no watch can be had);
// - wake: logind's PrepareForSleep(false) on the system bus.
class LinuxSystemEvents : public SystemEvents {
    Q_OBJECT
public:
    // How clock changes are heard: from the kernel where it can tell, or only from the drift look
    // (as where the timer cannot be had).
    enum class ClockWatch { kernel, driftOnly };

    // `watches` none: the program's shared ones.
    LinuxSystemEvents(const Clock& clock, std::function<Calendar()> calendar, QObject* parent = nullptr,
                      FileWatches* watches = nullptr, ClockWatch clockWatch = ClockWatch::kernel);
    ~LinuxSystemEvents() override;

    // The kernel tells of every setting of the clock: the timer is armed.
    bool watchesClock() const { return m_clockWatchArmed; }
    // The zone is looked at by the minute: no watch of /etc could be had.
    bool looksAtZoneByTheMinute() const { return m_zoneLook.isActive(); }

    // Emits dayChanged when the local date differs from the one last seen, then re-arms.
    void checkDay();

    // Compares the wall clock with `boot` from now on: every `intervalMs`, or when none is given,
    // at the program's wake-ups for other things (once a minute at most) where the kernel tells of
    // clock settings and every five seconds where not.
    void watchDrift(const MonotonicClock& boot, std::optional<int> intervalMs = std::nullopt);
    // How often the drift look's own timer wakes the program: 0, it has none.
    int driftLookMs() const { return m_driftTimer.isActive() ? m_driftTimer.interval() : 0; }
    static constexpr int driftLookBesideKernelMs = 60 * 1000;
    static constexpr int driftLookAloneMs = 5000;
    // Emits clockChanged (and checks the day) when the wall clock moved against the boot clock by
    // more than a second and a half since the last look.
    void checkDrift();

private slots:
    void onPrepareForSleep(bool sleeping);
    void onTimedatePropertiesChanged(const QString& interface, const QVariantMap& changed,
                                     const QStringList& invalidated);

private:
    bool armClockWatch();
    void onClockFd();
    void lookAtDriftOnWake();
    void onLocalTimeChanged();
    void watchZone();
    void armMidnight();

    void rememberLead();

    const Clock& m_clock;
    const MonotonicClock* m_boot = nullptr;
    std::optional<double> m_lead; // wall seconds minus boot seconds, at the last look
    QTimer m_driftTimer;
    std::optional<double> m_lastDriftLook; // boot seconds
    std::function<Calendar()> m_calendar;
    QDate m_lastDay;
    QByteArray m_zoneId;
    QTimer m_midnight;
    int m_timerFd = -1;
    bool m_clockWatchArmed = false;
    QSocketNotifier* m_clockNotifier = nullptr;
    FileWatches* m_watches = nullptr;
    int m_etcWatch = -1;
    int m_localtimeWatch = -1;
    QTimer m_zoneLook;
};
