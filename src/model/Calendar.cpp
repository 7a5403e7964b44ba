#include "model/Calendar.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

qint64 toMSecs(Date t)
{
    const double ms = std::floor(t * 1000.0);
    constexpr double limit = 9.0e15; // far beyond any calendar date, far inside qint64
    return static_cast<qint64>(std::clamp(ms, -limit, limit));
}

// Seconds of a wall time as if it were UTC; the zone's offset turns it into an instant.
qint64 naiveSeconds(const QDate& day, int hour, int minute, int second)
{
    return QDateTime(day, QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch() + hour * 3600LL + minute * 60LL + second;
}

} // namespace

Calendar::Calendar(QTimeZone zone, int firstWeekday, QLocale locale)
    : m_zone(zone.isValid() ? std::move(zone) : QTimeZone::utc()), m_firstWeekday(firstWeekday),
      m_locale(std::move(locale))
{
}

namespace {

// Asking the system for its zone reads files each time, and the store asks on every query.
struct CurrentZone {
    QMutex lock;
    QByteArray tz;
    std::optional<QTimeZone> zone;
};

CurrentZone& currentZone()
{
    static CurrentZone zone;
    return zone;
}

} // namespace

Calendar Calendar::current()
{
    CurrentZone& c = currentZone();
    const QByteArray tz = qgetenv("TZ");
    QMutexLocker locker(&c.lock);
    if (!c.zone || tz != c.tz) {
        c.tz = tz;
        c.zone = QTimeZone::systemTimeZone();
    }
    return Calendar(*c.zone, 1, QLocale());
}

void Calendar::systemTimeZoneChanged()
{
    CurrentZone& c = currentZone();
    QMutexLocker locker(&c.lock);
    c.zone.reset();
}

// Keyed by the instant in milliseconds; wall times are kept without the fraction of a second.
struct Calendar::Memo {
    QHash<qint64, int> offsets;
    QHash<qint64, LocalDateTime> wallTimes;
};

Calendar Calendar::remembering() const
{
    Calendar copy = *this;
    copy.m_memo = std::make_shared<Memo>();
    return copy;
}

int Calendar::offsetFromUtc(Date t) const
{
    const qint64 ms = toMSecs(t);
    if (m_memo) {
        if (auto it = m_memo->offsets.constFind(ms); it != m_memo->offsets.cend())
            return *it;
    }
    const int offset = m_zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()));
    if (m_memo)
        m_memo->offsets.insert(ms, offset);
    return offset;
}

LocalDateTime Calendar::components(Date t) const
{
    const qint64 ms = toMSecs(t);
    LocalDateTime c;
    if (auto it = m_memo ? m_memo->wallTimes.constFind(ms) : QHash<qint64, LocalDateTime>::const_iterator();
        m_memo && it != m_memo->wallTimes.cend()) {
        c = *it;
    } else {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, m_zone);
        c.date = local.date();
        const QTime time = local.time();
        c.hour = time.hour();
        c.minute = time.minute();
        c.second = time.second();
        if (m_memo)
            m_memo->wallTimes.insert(ms, c);
    }
    c.fraction = t - std::floor(t);
    return c;
}

Date Calendar::date(const QDate& day, int hour, int minute, int second) const
{
    const qint64 naive = naiveSeconds(day, hour, minute, second);
    int offsets[3] = {
        offsetFromUtc(static_cast<Date>(naive - 86400)),
        offsetFromUtc(static_cast<Date>(naive)),
        offsetFromUtc(static_cast<Date>(naive + 86400)),
    };
    std::optional<qint64> best;
    qint64 earliestCandidate = naive - offsets[0];
    for (int offset : offsets) {
        const qint64 candidate = naive - offset;
        earliestCandidate = std::min(earliestCandidate, candidate);
        if (offsetFromUtc(static_cast<Date>(candidate)) == offset && (!best || candidate < *best))
            best = candidate; // several valid: the repeated hour, take its first occurrence
    }
    if (best)
        return static_cast<Date>(*best);

    // No offset makes this wall time real: it lies in a gap. The next valid instant is the
    // transition that opened the gap.
    const QTimeZone::OffsetData next =
        m_zone.nextTransition(QDateTime::fromSecsSinceEpoch(earliestCandidate - 1, QTimeZone::utc()));
    if (next.atUtc.isValid())
        return static_cast<Date>(next.atUtc.toSecsSinceEpoch());
    return static_cast<Date>(naive - offsets[1]);
}

std::optional<Date> Calendar::dateIfValid(const QDate& day, int hour, int minute, int second) const
{
    if (!day.isValid() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    return date(day, hour, minute, second);
}

Date Calendar::startOfDay(Date t) const
{
    return date(localDate(t));
}

Date Calendar::addDays(Date t, qint64 days) const
{
    const LocalDateTime c = components(t);
    return date(c.date.addDays(days), c.hour, c.minute, c.second) + c.fraction;
}

Date Calendar::addMonths(Date t, qint64 months) const
{
    const LocalDateTime c = components(t);
    const qint64 clamped = std::clamp<qint64>(months, -1'000'000, 1'000'000);
    return date(c.date.addMonths(static_cast<int>(clamped)), c.hour, c.minute, c.second) + c.fraction;
}

qint64 Calendar::daysBetween(Date a, Date b) const
{
    return localDate(a).daysTo(localDate(b));
}

qint64 Calendar::monthsBetween(Date a, Date b) const
{
    const LocalDateTime ca = components(a);
    const LocalDateTime cb = components(b);
    qint64 months = (cb.date.year() - ca.date.year()) * 12LL + (cb.date.month() - ca.date.month());
    auto wallKey = [](const LocalDateTime& c) {
        return std::make_tuple(c.date.day(), c.hour, c.minute, c.second, c.fraction);
    };
    if (months > 0 && wallKey(cb) < wallKey(ca))
        --months;
    else if (months < 0 && wallKey(cb) > wallKey(ca))
        ++months;
    return months;
}

LocalDays::LocalDays(const Calendar& calendar, const QDate& first, const QDate& last)
    : m_calendar(&calendar), m_first(first), m_last(last)
{
    constexpr double margin = 2 * 86400.0;
    m_surelyBefore = static_cast<Date>(naiveSeconds(first, 0, 0, 0)) - margin;
    m_surelyAfter = static_cast<Date>(naiveSeconds(last.addDays(1), 0, 0, 0)) + margin;
    // A list of thousands made today asks about thousands of instants near the run: the few
    // changes of the zone around it answer them all.
    const QTimeZone& zone = calendar.timeZone();
    if (zone.hasTransitions() || zone == QTimeZone::utc()) {
        m_offsets.emplace_back(std::numeric_limits<qint64>::min(), calendar.offsetFromUtc(m_surelyBefore));
        if (zone.hasTransitions()) {
            const auto at = [](Date t) { return QDateTime::fromMSecsSinceEpoch(toMSecs(t), QTimeZone::utc()); };
            for (const QTimeZone::OffsetData& change : zone.transitions(at(m_surelyBefore), at(m_surelyAfter)))
                m_offsets.emplace_back(change.atUtc.toMSecsSinceEpoch(), change.offsetFromUtc);
        }
    }
}

int LocalDays::compare(Date t) const
{
    if (t < m_surelyBefore)
        return -1;
    if (t >= m_surelyAfter)
        return 1;
    if (m_offsets.empty()) {
        const QDate day = m_calendar->localDate(t);
        return day < m_first ? -1 : day > m_last ? 1 : 0;
    }
    const qint64 ms = toMSecs(t);
    const auto holding = std::prev(
        std::upper_bound(m_offsets.begin(), m_offsets.end(), ms,
                         [](qint64 value, const std::pair<qint64, int>& from) { return value < from.first; }));
    constexpr qint64 msPerDay = 86'400'000;
    const qint64 local = ms + holding->second * 1000LL;
    const qint64 dayNumber = local / msPerDay - (local % msPerDay < 0 ? 1 : 0);
    const qint64 julianDay = QDate(1970, 1, 1).toJulianDay() + dayNumber;
    return julianDay < m_first.toJulianDay() ? -1 : julianDay > m_last.toJulianDay() ? 1 : 0;
}

int Calendar::weekday(Date t) const
{
    return localDate(t).dayOfWeek() % 7 + 1;
}
