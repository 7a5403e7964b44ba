#pragma once

#include "model/Calendar.h"
#include "platform/SystemEvents.h"

#include <QDate>
#include <QTimer>
#include <functional>

class QSocketNotifier;
class QFileSystemWatcher;

// The system events on Linux. Each source is optional and starts only where it can:
// - day change: our own timer for the next local midnight;
// - clock set: a timerfd armed with TFD_TIMER_CANCEL_ON_SET, which the kernel cancels whenever
//   the realtime clock is set;
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

private slots:
    void onPrepareForSleep(bool sleeping);
    void onTimedatePropertiesChanged(const QString& interface, const QVariantMap& changed,
                                     const QStringList& invalidated);

private:
    void armClockWatch();
    void onClockFd();
    void onLocalTimeChanged();
    void armMidnight();

    const Clock& m_clock;
    std::function<Calendar()> m_calendar;
    QDate m_lastDay;
    QByteArray m_zoneId;
    QTimer m_midnight;
    int m_timerFd = -1;
    QSocketNotifier* m_clockNotifier = nullptr;
    QFileSystemWatcher* m_zoneWatcher = nullptr;
};
