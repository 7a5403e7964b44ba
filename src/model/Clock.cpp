#include "model/Clock.h"

#include <QDateTime>
#include <QFile>
#include <ctime>

Date SystemClock::now() const
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

const SystemClock& SystemClock::instance()
{
    static const SystemClock clock;
    return clock;
}

Date ManualClock::now() const
{
    const Date t = m_now;
    m_now += m_step;
    return t;
}

double SystemMonotonicClock::seconds() const
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

QString SystemMonotonicClock::bootId() const
{
    static const QString id = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromLatin1(file.read(64)).trimmed();
    }();
    return id;
}

const SystemMonotonicClock& SystemMonotonicClock::instance()
{
    static const SystemMonotonicClock clock;
    return clock;
}
