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

constexpr qint64 msPerDay = 86'400'000;
constexpr qint64 epochJulianDay = 2'440'588; // 1970-01-01

// Seconds of a wall time as if it were UTC; the zone's offset turns it into an instant. Counted
// from the day's number: a pass over thousands of to-dos asks it several times for each.
qint64 naiveSeconds(const QDate& day, int hour, int minute, int second)
{
    const qint64 days = day.isValid() ? day.toJulianDay() - epochJulianDay : 0;
    return days * 86'400 + hour * 3600LL + minute * 60LL + second;
}

// The zone's offsets in [from, to) (ms), read at once: from which instant each holds, the first
// from the beginning of time. Empty when the zone cannot list its changes.
using OffsetTable = std::vector<std::pair<qint64, int>>;

OffsetTable readOffsets(const QTimeZone& zone, qint64 from, qint64 to)
{
    OffsetTable table;
    if (!zone.hasTransitions() && zone != QTimeZone::utc())
        return table;
    const auto at = [](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()); };
    table.emplace_back(std::numeric_limits<qint64>::min(), zone.offsetFromUtc(at(from)));
    if (zone.hasTransitions())
        for (const QTimeZone::OffsetData& change : zone.transitions(at(from), at(to)))
            table.emplace_back(change.atUtc.toMSecsSinceEpoch(), change.offsetFromUtc);
    return table;
}

int offsetIn(const OffsetTable& table, qint64 ms)
{
    return std::prev(
               std::upper_bound(table.begin(), table.end(), ms,
                                [](qint64 value, const std::pair<qint64, int>& from) { return value < from.first; }))
        ->second;
}

// The local day (days since 1970-01-01) and the milliseconds into it of instant `ms` at `offset`.
std::pair<qint64, qint64> localDay(qint64 ms, int offset)
{
    const qint64 local = ms + offset * 1000LL;
    const qint64 day = local / msPerDay - (local % msPerDay < 0 ? 1 : 0);
    return {day, local - day * msPerDay};
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

struct Calendar::Memo {
    // The zone's offsets over the years around the first instant asked about, read once: the
    // records of one pass fall within them, each at a different instant.
    static constexpr qint64 reach = 10 * 366 * msPerDay;
    bool tableRead = false;
    qint64 tableFrom = 0;
    qint64 tableTo = 0;
    OffsetTable table;
    // Elsewhere, what the zone answered, keyed by the instant in milliseconds; wall times are
    // kept without the fraction of a second.
    QHash<qint64, int> offsets;
    QHash<qint64, LocalDateTime> wallTimes;

    std::optional<int> tableOffset(const QTimeZone& zone, qint64 ms)
    {
        if (!tableRead) {
            tableRead = true;
            tableFrom = ms - reach;
            tableTo = ms + reach;
            table = readOffsets(zone, tableFrom, tableTo);
        }
        if (table.empty() || ms < tableFrom || ms >= tableTo)
            return std::nullopt;
        return offsetIn(table, ms);
    }
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
        if (const std::optional<int> offset = m_memo->tableOffset(m_zone, ms))
            return *offset;
        if (auto it = m_memo->offsets.constFind(ms); it != m_memo->offsets.cend())
            return *it;
    }
    const int offset = m_zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
    if (m_memo)
        m_memo->offsets.insert(ms, offset);
    return offset;
}

LocalDateTime Calendar::components(Date t) const
{
    const qint64 ms = toMSecs(t);
    LocalDateTime c;
    if (const std::optional<int> offset = m_memo ? m_memo->tableOffset(m_zone, ms) : std::nullopt) {
        const auto [day, msOfDay] = localDay(ms, *offset);
        c.date = QDate::fromJulianDay(epochJulianDay + day);
        c.hour = int(msOfDay / 3'600'000);
        c.minute = int(msOfDay / 60'000 % 60);
        c.second = int(msOfDay / 1000 % 60);
    } else if (auto it = m_memo ? m_memo->wallTimes.constFind(ms) : QHash<qint64, LocalDateTime>::const_iterator();
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
    m_offsets = readOffsets(calendar.timeZone(), toMSecs(m_surelyBefore), toMSecs(m_surelyAfter));
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
    const qint64 julianDay = epochJulianDay + localDay(ms, offsetIn(m_offsets, ms)).first;
    return julianDay < m_first.toJulianDay() ? -1 : julianDay > m_last.toJulianDay() ? 1 : 0;
}

int Calendar::weekday(Date t) const
{
    return localDate(t).dayOfWeek() % 7 + 1;
}
