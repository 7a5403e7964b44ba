#include "store/RuleEvaluation.h"
#include "model/LocaleFormats.h"

#include "model/Json.h"

#include <QHash>
#include <QLocale>
#include <QTime>
#include <algorithm>

namespace {

bool weekdayIn(const QSet<int>& weekdays, int weekday)
{
    return weekdays.isEmpty() || weekdays.contains(weekday);
}

// Hours and minutes come from a file a person can edit: saturate rather than overflow.
qint64 minuteOf(qint64 hour, qint64 minute)
{
    return saturatingAdd(saturatingMul(hour, 60), minute);
}

bool breakRunsFor(const BlockRule& rule, const SharedState& state, Date moment)
{
    const auto& b = state.urgentBreak;
    return b && b->ruleId == rule.id && b->isRunning(moment);
}

// Wall times on one local day. Days without a clock change (nearly all) need no zone look-ups
// per rule, which keeps a refresh over hundreds of rules cheap.
class DayClock {
public:
    DayClock(const Calendar& calendar, const QDate& day) : m_calendar(calendar), m_day(day), m_start(calendar.date(day))
    {
        const Date next = calendar.date(day.addDays(1));
        m_uniform = calendar.offsetFromUtc(m_start) == calendar.offsetFromUtc(next) && next - m_start == 86400;
    }
    Date start() const { return m_start; }
    Date at(qint64 hour, qint64 minute) const
    {
        if (m_uniform && hour >= 0 && hour < 24 && minute >= 0 && minute < 60)
            return m_start + static_cast<Date>(hour * 3600 + minute * 60);
        return m_calendar.date(m_day, static_cast<int>(std::clamp<qint64>(hour, 0, 23)),
                               static_cast<int>(std::clamp<qint64>(minute, 0, 59)), 0);
    }

private:
    const Calendar& m_calendar;
    QDate m_day;
    Date m_start;
    bool m_uniform;
};

} // namespace

ScheduleKind scheduleKind(const BlockApplySchedule& s)
{
    if (s.isAllDay)
        return ScheduleKind::allDay;
    if (s.isAfterMaxDailyTime)
        return ScheduleKind::dailyLimit;
    if (s.startHour && s.startMinute && s.endHour && s.endMinute)
        return ScheduleKind::timeWindow;
    return ScheduleKind::none;
}

bool ruleWeekdayMatches(const QSet<int>& weekdays, Date moment, const Calendar& calendar)
{
    return weekdayIn(weekdays, calendar.weekday(moment));
}

MomentFacts MomentFacts::of(Date moment, const Calendar& calendar)
{
    const LocalDateTime c = calendar.components(moment);
    MomentFacts f;
    f.moment = moment;
    f.weekday = c.date.dayOfWeek() % 7 + 1;
    f.previousWeekday = c.date.addDays(-1).dayOfWeek() % 7 + 1;
    f.minuteOfDay = c.hour * 60 + c.minute;
    return f;
}

bool isRuleActive(const BlockRule& rule, const MomentFacts& at, const SharedState& state)
{
    if (state.blockingPausedUntil && at.moment < *state.blockingPausedUntil)
        return false;
    if (breakRunsFor(rule, state, at.moment))
        return false;
    const BlockApplySchedule& s = rule.blockApplySchedule;
    switch (scheduleKind(s)) {
    case ScheduleKind::allDay:
        return weekdayIn(rule.activeWeekdays, at.weekday);
    case ScheduleKind::dailyLimit:
        return weekdayIn(rule.activeWeekdays, at.weekday) && state.exceededRuleIds.contains(rule.id);
    case ScheduleKind::timeWindow: {
        const qint64 start = minuteOf(*s.startHour, *s.startMinute);
        const qint64 end = minuteOf(*s.endHour, *s.endMinute);
        const qint64 now = at.minuteOfDay;
        if (start < end)
            return weekdayIn(rule.activeWeekdays, at.weekday) && start <= now && now < end;
        if (now >= start)
            return weekdayIn(rule.activeWeekdays, at.weekday);
        if (now >= end)
            return false;
        // The morning part of a window that began the evening before belongs to that evening's day.
        return weekdayIn(rule.activeWeekdays, at.previousWeekday);
    }
    case ScheduleKind::none:
        break;
    }
    return false;
}

bool isRuleActive(const BlockRule& rule, Date moment, const SharedState& state, const Calendar& calendar)
{
    return isRuleActive(rule, MomentFacts::of(moment, calendar), state);
}

QString timeOfDayText(qint64 hour, qint64 minute)
{
    QTime time(static_cast<int>(std::clamp<qint64>(hour, -1, 24)),
               static_cast<int>(std::clamp<qint64>(minute, -1, 60)));
    if (!time.isValid())
        return LocaleFormats::shortTime(QLocale(), QTime::currentTime());
    // Every refresh names the times of hundreds of rules, and the locale's formatter is slow:
    // remember its answers, per locale.
    thread_local QLocale cachedLocale;
    thread_local QHash<int, QString> cache;
    const QLocale locale;
    if (!(locale == cachedLocale)) {
        cachedLocale = locale;
        cache.clear();
    }
    const int key = time.hour() * 60 + time.minute();
    if (const auto it = cache.constFind(key); it != cache.cend())
        return *it;
    const QString text = LocaleFormats::shortTime(locale, time);
    cache.insert(key, text);
    return text;
}

namespace {

// Nothing when no moment qualifies; the caller then picks a time to look again.
std::optional<Date> earliestBoundary(const std::vector<BlockRule>& rules, Date now, const SharedState& state,
                                     const Calendar& calendar, const QDate& today)
{
    std::optional<Date> best;
    const auto consider = [&best, now](Date candidate) {
        if (candidate > now && (!best || candidate < *best))
            best = candidate;
    };
    if (state.blockingPausedUntil)
        consider(*state.blockingPausedUntil);
    if (state.urgentBreak && !state.urgentBreak->isUsedUp())
        consider(state.urgentBreak->fallbackExpiresAt);
    if (state.doomScroll && state.doomScroll->breakEndsAt)
        consider(*state.doomScroll->breakEndsAt);

    std::vector<const BlockRule*> windows;
    for (const BlockRule& rule : rules)
        if (scheduleKind(rule.blockApplySchedule) == ScheduleKind::timeWindow)
            windows.push_back(&rule);

    for (int d = -1; d <= 8; ++d) {
        const QDate day = today.addDays(d);
        const DayClock clock(calendar, day);
        const DayClock nextClock(calendar, day.addDays(1));
        consider(nextClock.start());
        const int weekday = day.dayOfWeek() % 7 + 1;
        for (const BlockRule* rule : windows) {
            if (!weekdayIn(rule->activeWeekdays, weekday))
                continue;
            const BlockApplySchedule& s = rule->blockApplySchedule;
            consider(clock.at(*s.startHour, *s.startMinute));
            const bool overnight = minuteOf(*s.endHour, *s.endMinute) <= minuteOf(*s.startHour, *s.startMinute);
            consider((overnight ? nextClock : clock).at(*s.endHour, *s.endMinute));
        }
    }
    return best;
}

} // namespace

Date nextRuleBoundary(const std::vector<BlockRule>& rules, Date now, const SharedState& state, const Calendar& calendar)
{
    return earliestBoundary(rules, now, state, calendar, calendar.localDate(now)).value_or(now + 60);
}

Date RuleBoundaryMemo::next(const std::vector<BlockRule>& rules, quint64 rulesGeneration, Date now,
                            const SharedState& state, const Calendar& calendar)
{
    // Exactly what earliestBoundary reads besides the moment itself.
    Inputs inputs;
    inputs.rulesGeneration = rulesGeneration;
    inputs.pausedUntil = state.blockingPausedUntil;
    if (state.urgentBreak && !state.urgentBreak->isUsedUp())
        inputs.breakFallback = state.urgentBreak->fallbackExpiresAt;
    if (state.doomScroll)
        inputs.doomBreakEnd = state.doomScroll->breakEndsAt;
    inputs.zone = calendar.timeZone();
    inputs.day = calendar.localDate(now);
    // The earliest candidate after `from` is also the earliest after any later moment before it:
    // no candidate lies between.
    if (m_kept && m_kept->inputs == inputs && m_kept->from <= now && now < m_kept->boundary)
        return m_kept->boundary;
    ++m_computations;
    const std::optional<Date> best = earliestBoundary(rules, now, state, calendar, inputs.day);
    if (!best) {
        m_kept.reset();
        return now + 60;
    }
    m_kept = Kept{std::move(inputs), now, *best};
    return *best;
}
