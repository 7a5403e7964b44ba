#pragma once

#include "model/Calendar.h"
#include "platform/SystemEvents.h"

#include <QDate>
#include <QTimer>
#include <functional>

class FileWatches;
class QSocketNotifier;

// The system events on Linux. Each source is optional and starts only where it can:
// - day change: our own timer for the next local midnight;
// - clock set: a timerfd armed with TFD_TIMER_CANCEL_ON_SET, which the kernel cancels whenever
//   the realtime clock is set;
// - time zone: org.freedesktop.timedate1 on the system bus and a watch on /etc/localtime (looked
//   at once a minute where no watch can be had);
// - wake: logind's PrepareForSleep(false) on the system bus.
class LinuxSystemEvents : public SystemEvents {
    Q_OBJECT
public:
    // `watches` none: the program's shared ones.
    LinuxSystemEvents(const Clock& clock, std::function<Calendar()> calendar, QObject* parent = nullptr,
                      FileWatches* watches = nullptr);
    ~LinuxSystemEvents() override;

    bool watchesClock() const { return m_timerFd >= 0; }
    // The zone is looked at by the minute: no watch of /etc could be had.
    bool looksAtZoneByTheMinute() const { return m_zoneLook.isActive(); }

    // Emits dayChanged when the local date differs from the one last seen, then re-arms.
    void checkDay();

private slots:
    void onPrepareForSleep(bool sleeping);
    void onTimedatePropertiesChanged(const QString& interface, const QVariantMap& changed,
                                     const QStringList& invalidated);

private:
    void armClockWatch();
    void onClockFd();
    void onLocalTimeChanged();
    void watchZone();
    void armMidnight();

    const Clock& m_clock;
    std::function<Calendar()> m_calendar;
    QDate m_lastDay;
    QByteArray m_zoneId;
    QTimer m_midnight;
    int m_timerFd = -1;
    QSocketNotifier* m_clockNotifier = nullptr;
    FileWatches* m_watches = nullptr;
    int m_etcWatch = -1;
    int m_localtimeWatch = -1;
    QTimer m_zoneLook;
};
