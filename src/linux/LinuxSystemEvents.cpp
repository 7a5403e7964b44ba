#include "linux/LinuxSystemEvents.h"

#include <QDBusConnection>
#include <QFileSystemWatcher>
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

LinuxSystemEvents::LinuxSystemEvents(const Clock& clock, std::function<Calendar()> calendar, QObject* parent)
    : SystemEvents(parent), m_clock(clock), m_calendar(std::move(calendar))
{
    m_lastDay = m_calendar().localDate(m_clock.now());
    m_zoneId = QTimeZone::systemTimeZoneId();
    m_midnight.setSingleShot(true);
    m_midnight.setTimerType(Qt::PreciseTimer);
    connect(&m_midnight, &QTimer::timeout, this, &LinuxSystemEvents::checkDay);
    armMidnight();

    m_timerFd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd >= 0) {
        m_clockNotifier = new QSocketNotifier(m_timerFd, QSocketNotifier::Read, this);
        connect(m_clockNotifier, &QSocketNotifier::activated, this, &LinuxSystemEvents::onClockFd);
        armClockWatch();
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

    // /etc/localtime is usually a symbolic link that is replaced, not written: watch the folder too.
    m_zoneWatcher = new QFileSystemWatcher(this);
    m_zoneWatcher->addPath(QStringLiteral("/etc"));
    m_zoneWatcher->addPath(localtimePath);
    connect(m_zoneWatcher, &QFileSystemWatcher::fileChanged, this, &LinuxSystemEvents::onLocalTimeChanged);
    connect(m_zoneWatcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!m_zoneWatcher->files().contains(localtimePath))
            m_zoneWatcher->addPath(localtimePath);
        onLocalTimeChanged();
    });
}

LinuxSystemEvents::~LinuxSystemEvents()
{
    if (m_timerFd >= 0)
        close(m_timerFd);
}

void LinuxSystemEvents::armClockWatch()
{
    // An absolute expiry far in the future that never arrives; the kernel cancels it (and wakes
    // the notifier) when the clock is set.
    itimerspec spec{};
    spec.it_value.tv_sec = std::numeric_limits<time_t>::max() / 2;
    timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr);
}

void LinuxSystemEvents::onClockFd()
{
    uint64_t expirations = 0;
    const ssize_t n = read(m_timerFd, &expirations, sizeof expirations);
    const bool clockWasSet = n < 0 && errno == ECANCELED;
    armClockWatch();
    if (clockWasSet) {
        rememberLead(); // heard here, not again from the drift
        emit clockChanged();
        checkDay();
    }
}

void LinuxSystemEvents::watchDrift(const MonotonicClock& boot, int intervalMs)
{
    m_boot = &boot;
    rememberLead();
    connect(&m_driftTimer, &QTimer::timeout, this, &LinuxSystemEvents::checkDrift, Qt::UniqueConnection);
    m_driftTimer.start(intervalMs);
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
