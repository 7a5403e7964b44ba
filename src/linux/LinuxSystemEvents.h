#pragma once

#include "model/Calendar.h"
#include "platform/SystemEvents.h"

#include <QDate>
#include <QTimer>
#include <functional>
#include <optional>

class QSocketNotifier;
class QFileSystemWatcher;

// The system events on Linux. Each source is optional and starts only where it can:
// - day change: our own timer for the next local midnight;
// - clock set: a timerfd armed with TFD_TIMER_CANCEL_ON_SET, which the kernel cancels whenever
//   the realtime clock is set; and, for a clock that moves without that word (a virtual machine
//   resumed, a clock stepped under the kernel), the wall clock's lead over the boot clock, looked
//   at every few seconds;
// - time zone: org.freedesktop.timedate1 on the system bus and a watch on /etc/localtime;
// - wake: logind's PrepareForSleep(false) on the system bus.
class LinuxSystemEvents : public SystemEvents {
    Q_OBJECT
public:
    LinuxSystemEvents(const Clock& clock, std::function<Calendar()> calendar, QObject* parent = nullptr);
    ~LinuxSystemEvents() override;

    bool watchesClock() const { return m_timerFd >= 0; }

    // Emits dayChanged when the local date differs from the one last seen, then re-arms.
    void checkDay();

    // Compares the wall clock with `boot` every `intervalMs` from now on.
    void watchDrift(const MonotonicClock& boot, int intervalMs = 5000);
    // Emits clockChanged (and checks the day) when the wall clock moved against the boot clock by
    // more than a second and a half since the last look.
    void checkDrift();

private slots:
    void onPrepareForSleep(bool sleeping);
    void onTimedatePropertiesChanged(const QString& interface, const QVariantMap& changed,
                                     const QStringList& invalidated);

private:
    void armClockWatch();
    void onClockFd();
    void onLocalTimeChanged();
    void armMidnight();

    void rememberLead();

    const Clock& m_clock;
    const MonotonicClock* m_boot = nullptr;
    std::optional<double> m_lead; // wall seconds minus boot seconds, at the last look
    QTimer m_driftTimer;
    std::function<Calendar()> m_calendar;
    QDate m_lastDay;
    QByteArray m_zoneId;
    QTimer m_midnight;
    int m_timerFd = -1;
    QSocketNotifier* m_clockNotifier = nullptr;
    QFileSystemWatcher* m_zoneWatcher = nullptr;
};
