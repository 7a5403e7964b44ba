#include "linux/LinuxSystemEvents.h"

#include "linux/FileWatches.h"

#include <QAbstractEventDispatcher>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <ctime>
#include <limits>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {
const QString localtimePath = QStringLiteral("/etc/localtime");
}

LinuxSystemEvents::LinuxSystemEvents(const Clock& clock, std::function<Calendar()> calendar, QObject* parent,
                                     FileWatches* watches, ClockWatch clockWatch)
    : SystemEvents(parent), m_clock(clock), m_calendar(std::move(calendar)),
      m_watches(watches ? watches : &FileWatches::shared())
{
    m_lastDay = m_calendar().localDate(m_clock.now());
    m_zoneId = QTimeZone::systemTimeZoneId();
    m_midnight.setSingleShot(true);
    m_midnight.setTimerType(Qt::PreciseTimer);
    connect(&m_midnight, &QTimer::timeout, this, &LinuxSystemEvents::checkDay);
    armMidnight();

    if (clockWatch == ClockWatch::kernel)
        m_timerFd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd >= 0 && armClockWatch()) {
        m_clockWatchArmed = true;
        m_clockNotifier = new QSocketNotifier(m_timerFd, QSocketNotifier::Read, this);
        connect(m_clockNotifier, &QSocketNotifier::activated, this, &LinuxSystemEvents::onClockFd);
    } else if (m_timerFd >= 0) {
        // A kernel without the word for clock settings: the drift look alone hears them.
        close(m_timerFd);
        m_timerFd = -1;
    }

    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        system.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                       SLOT(onPrepareForSleep(bool)));
        system.connect(QStringLiteral("org.freedesktop.timedate1"), QStringLiteral("/org/freedesktop/timedate1"),
                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), this,
                       SLOT(onTimedatePropertiesChanged(QString, QVariantMap, QStringList)));
    }

    m_zoneLook.setInterval(FileWatches::unwatchedLookMs);
    connect(&m_zoneLook, &QTimer::timeout, this, [this] {
        watchZone();
        onLocalTimeChanged();
    });
    watchZone();
}

void LinuxSystemEvents::watchZone()
{
    // /etc/localtime is usually a symbolic link that is replaced, not written: its folder tells of
    // that, and its watch is made again then.
    if (!m_watches->watching(m_etcWatch)) {
        m_watches->remove(m_etcWatch);
        m_etcWatch = m_watches->add(QStringLiteral("/etc"), [this] {
            watchZone();
            onLocalTimeChanged();
        });
    }
    if (!m_watches->watching(m_localtimeWatch)) {
        m_watches->remove(m_localtimeWatch);
        m_localtimeWatch = m_watches->add(localtimePath, [this] { onLocalTimeChanged(); });
    }
    if (m_etcWatch < 0)
        m_zoneLook.start();
    else
        m_zoneLook.stop();
}

LinuxSystemEvents::~LinuxSystemEvents()
{
    m_watches->remove(m_etcWatch);
    m_watches->remove(m_localtimeWatch);
    if (m_timerFd >= 0)
        close(m_timerFd);
}

bool LinuxSystemEvents::armClockWatch()
{
    // An absolute expiry far in the future that never arrives; the kernel cancels it (and wakes
    // the notifier) when the clock is set.
    itimerspec spec{};
    spec.it_value.tv_sec = std::numeric_limits<time_t>::max() / 2;
    return timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr) == 0;
}

void LinuxSystemEvents::onClockFd()
{
    uint64_t expirations = 0;
    const ssize_t n = read(m_timerFd, &expirations, sizeof expirations);
    const bool clockWasSet = n < 0 && errno == ECANCELED;
    if (!armClockWatch()) {
        // The kernel's word is lost: the drift look, if there is one, takes its place.
        m_clockWatchArmed = false;
        m_clockNotifier->setEnabled(false);
        if (m_boot && (!m_driftTimer.isActive() || m_driftTimer.interval() > driftLookAloneMs))
            m_driftTimer.start(driftLookAloneMs);
    }
    if (clockWasSet) {
        rememberLead(); // heard here, not again from the drift
        emit clockChanged();
        checkDay();
    }
}

void LinuxSystemEvents::watchDrift(const MonotonicClock& boot, std::optional<int> intervalMs)
{
    m_boot = &boot;
    rememberLead();
    connect(&m_driftTimer, &QTimer::timeout, this, &LinuxSystemEvents::checkDrift, Qt::UniqueConnection);
    if (intervalMs || !m_clockWatchArmed) {
        // Where the kernel's word is all there is not, the look wakes the program every few seconds.
        m_driftTimer.start(intervalMs.value_or(driftLookAloneMs));
        return;
    }
    // Beside the kernel's word the look only catches a clock moved under the kernel, which can
    // wait for the program's next wake-up for something else (a sync, a deadline, the desktop): a
    // program at rest is not woken for it. Looked at no more than once a minute.
    m_driftTimer.stop();
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, &LinuxSystemEvents::lookAtDriftOnWake,
                Qt::UniqueConnection);
}

void LinuxSystemEvents::lookAtDriftOnWake()
{
    if (!m_boot)
        return;
    const double at = m_boot->seconds();
    if (m_lastDriftLook && at - *m_lastDriftLook < driftLookBesideKernelMs / 1000.0)
        return;
    m_lastDriftLook = at;
    checkDrift();
}

void LinuxSystemEvents::rememberLead()
{
    if (m_boot)
        m_lead = m_clock.now() - m_boot->seconds();
}

void LinuxSystemEvents::checkDrift()
{
    if (!m_boot)
        return;
    const std::optional<double> before = m_lead;
    rememberLead();
    if (before && std::abs(*m_lead - *before) > 1.5) {
        emit clockChanged();
        checkDay();
    }
}

void LinuxSystemEvents::onLocalTimeChanged()
{
    tzset();
    Calendar::systemTimeZoneChanged();
    // The folder watch fires for any change in /etc; only a different zone is news.
    const QByteArray zone = QTimeZone::systemTimeZoneId();
    if (zone == m_zoneId)
        return;
    m_zoneId = zone;
    emit timeZoneChanged();
    checkDay();
}

void LinuxSystemEvents::onTimedatePropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                    const QStringList& invalidated)
{
    if (interface == QLatin1String("org.freedesktop.timedate1") &&
        (changed.contains(QStringLiteral("Timezone")) || invalidated.contains(QStringLiteral("Timezone"))))
        onLocalTimeChanged();
}

void LinuxSystemEvents::onPrepareForSleep(bool sleeping)
{
    if (sleeping)
        return;
    emit didWake();
    checkDay();
}

void LinuxSystemEvents::checkDay()
{
    const QDate today = m_calendar().localDate(m_clock.now());
    if (today != m_lastDay) {
        m_lastDay = today;
        emit dayChanged();
    }
    armMidnight();
}

void LinuxSystemEvents::armMidnight()
{
    const Calendar calendar = m_calendar();
    const Date now = m_clock.now();
    const Date midnight = calendar.date(calendar.localDate(now).addDays(1));
    // Checked at least hourly: a monotonic timer drifts from the wall clock across sleep.
    const double waitMs = std::clamp((midnight - now) * 1000.0 + 50.0, 50.0, 3600.0 * 1000.0);
    m_midnight.start(static_cast<int>(std::ceil(waitMs)));
}
