#include "screens/block/RuleStatus.h"
#include "model/LocaleFormats.h"

#include "store/RuleEvaluation.h"

#include <QLocale>
#include <QTime>
#include <algorithm>

namespace {

const QString middleDot = QStringLiteral(" · ");

qint64 usedSeconds(const BlockRule& rule, const SharedState& state)
{
    return state.usageSecondsByRuleId.value(uuidText(rule.id), 0);
}

bool hasWindow(const BlockApplySchedule& s)
{
    return s.startHour && s.startMinute && s.endHour && s.endMinute;
}

QString windowText(const BlockApplySchedule& s)
{
    return timeOfDayText(*s.startHour, *s.startMinute) + QChar(0x2013) + timeOfDayText(*s.endHour, *s.endMinute);
}

std::optional<Date> nextChange(const BlockRule& rule, const RuleStatus::Moment& at, bool active)
{
    const Date horizon = at.now + 691200;
    const std::vector<BlockRule> only{rule};
    Date t = at.now;
    for (int step = 0; step < 64; ++step) {
        const Date c = nextRuleBoundary(only, t, at.state, at.calendar);
        if (!(c > t) || !(c < horizon))
            return std::nullopt;
        if (isRuleActive(rule, c, at.state, at.calendar) != active)
            return c;
        t = c;
    }
    return std::nullopt;
}

} // namespace

QString weekdayShortName(int weekday)
{
    static const QString names[] = {QStringLiteral("Sun"), QStringLiteral("Mon"), QStringLiteral("Tue"),
                                    QStringLiteral("Wed"), QStringLiteral("Thu"), QStringLiteral("Fri"),
                                    QStringLiteral("Sat")};
    return weekday >= 1 && weekday <= 7 ? names[weekday - 1] : QString();
}

QString weekdayLetter(int weekday)
{
    static const QString letters[] = {QStringLiteral("S"), QStringLiteral("M"), QStringLiteral("T"),
                                      QStringLiteral("W"), QStringLiteral("T"), QStringLiteral("F"),
                                      QStringLiteral("S")};
    return weekday >= 1 && weekday <= 7 ? letters[weekday - 1] : QString();
}

QString weekdaySummary(const QSet<int>& given)
{
    const QSet<int> days = given.isEmpty() ? QSet<int>{1, 2, 3, 4, 5, 6, 7} : given;
    if (days == QSet<int>{1, 2, 3, 4, 5, 6, 7})
        return QStringLiteral("Every day");
    if (days == QSet<int>{2, 3, 4, 5, 6})
        return QStringLiteral("Weekdays only");
    if (days == QSet<int>{1, 7})
        return QStringLiteral("Weekends only");
    QList<int> list;
    for (int day = 1; day <= 7; ++day)
        if (days.contains(day))
            list.append(day);
    if (list.size() >= 4 && list.last() - list.first() + 1 == list.size())
        return weekdayShortName(list.first()) + QStringLiteral(" – ") + weekdayShortName(list.last());
    QStringList names;
    for (int day : std::as_const(list))
        names.append(weekdayShortName(day));
    return names.join(QStringLiteral(", "));
}

namespace RuleStatus {

bool urgentBreakRunning(const BlockRule& rule, const SharedState& state, Date now)
{
    return state.urgentBreak && state.urgentBreak->ruleId == rule.id && state.urgentBreak->isRunning(now);
}

namespace {

// The status that follows the schedule alone (no pause, break or daily-limit count decides), and
// the next change it found (absent when it looked no further or found none).
Status scheduleStatus(const BlockRule& rule, const Moment& at, std::optional<Date>* nextOut = nullptr)
{
    const bool active = isRuleActive(rule, at.now, at.state, at.calendar);
    // An all-day rule that blocks reads "Blocked all day" whatever its next change is.
    if (active && rule.blockApplySchedule.isAllDay)
        return {QStringLiteral("Blocked all day"), true, std::nullopt};
    const std::optional<Date> next = nextChange(rule, at, active);
    if (nextOut)
        *nextOut = next;
    if (active) {
        if (!next)
            return {QStringLiteral("Blocked all day"), true, std::nullopt};
        return {QStringLiteral("Blocked until ") + timeText(*next, at.now, at.calendar), true, std::nullopt};
    }
    if (!next)
        return {QStringLiteral("Not active"), false, std::nullopt};
    const QString at_ = at.calendar.isSameDay(*next, at.now) ? QStringLiteral("at ") : QString();
    return {QStringLiteral("Starts ") + at_ + timeText(*next, at.now, at.calendar), false, std::nullopt};
}

std::optional<Status> stateStatus(const BlockRule& rule, const Moment& at, bool isPaused)
{
    if (isPaused)
        return Status{QStringLiteral("Paused"), false, std::nullopt};
    if (urgentBreakRunning(rule, at.state, at.now))
        return Status{QStringLiteral("On an urgent break"), false, std::nullopt};
    if (rule.blockApplySchedule.isAfterMaxDailyTime && rule.dailyLimitMinutes) {
        if (at.state.exceededRuleIds.contains(rule.id))
            return Status{QStringLiteral("Limit reached"), true, 1.0};
        const QString text = QString::number(usedSeconds(rule, at.state) / 60) + QStringLiteral(" of ") +
                             QString::number(*rule.dailyLimitMinutes) + QStringLiteral(" min");
        return Status{text, false, std::clamp(rule.limitUsageFraction(at.state), 0.0, 1.0)};
    }
    return std::nullopt;
}

} // namespace

Status status(const BlockRule& rule, const Moment& at, bool isPaused)
{
    if (auto s = stateStatus(rule, at, isPaused))
        return *s;
    return scheduleStatus(rule, at);
}

StatusBatch::StatusBatch(const Moment& at, StatusCache* cache) : m_at(at), m_cache(cache)
{
    // Everything of the state and the calendar that can move a boundary of any rule.
    const SharedState& st = at.state;
    QString key = at.calendar.timeZone().id() + u'|';
    key += st.blockingPausedUntil ? QString::number(*st.blockingPausedUntil, 'g', 17) : QStringLiteral("-");
    if (st.urgentBreak)
        key += u'|' + uuidText(st.urgentBreak->ruleId) + QString::number(int(st.urgentBreak->isUsedUp())) +
               QString::number(st.urgentBreak->fallbackExpiresAt, 'g', 17);
    if (st.doomScroll && st.doomScroll->breakEndsAt)
        key += u'|' + QString::number(*st.doomScroll->breakEndsAt, 'g', 17);
    m_stateKey = key + u'#';
}

Status StatusBatch::status(const BlockRule& rule, bool isPaused)
{
    if (auto s = stateStatus(rule, m_at, isPaused))
        return *s;
    // The schedule status also reads whether this rule's limit counts as reached.
    const BlockApplySchedule& sc = rule.blockApplySchedule;
    QList<int> days = rule.activeWeekdays.values();
    std::sort(days.begin(), days.end());
    QString key = m_stateKey;
    if (m_at.state.exceededRuleIds.contains(rule.id) ||
        (m_at.state.urgentBreak && m_at.state.urgentBreak->ruleId == rule.id))
        key += uuidText(rule.id);
    for (const auto& part : {sc.startHour, sc.startMinute, sc.endHour, sc.endMinute})
        key += part ? QString::number(*part) + u',' : QStringLiteral("-,");
    key += QString::number(int(sc.isAllDay)) + QString::number(int(sc.isAfterMaxDailyTime)) + u'|';
    for (int day : std::as_const(days))
        key += QString::number(day) + u',';

    const auto it = m_memo.constFind(key);
    if (it != m_memo.constEnd())
        return *it;
    if (m_cache)
        if (const auto cached = m_cache->find(key, m_at.now)) {
            m_memo.insert(key, *cached);
            return *cached;
        }
    std::optional<Date> next;
    const Status s = scheduleStatus(rule, m_at, &next);
    m_memo.insert(key, s);
    if (m_cache) {
        // Until the next change, the next midnight (the text names days relative to today) and
        // at most an hour, whichever comes first.
        const Date midnight = m_at.calendar.addDays(m_at.calendar.startOfDay(m_at.now), 1);
        m_cache->insert(key, m_at.now, std::min({next.value_or(midnight), midnight, m_at.now + 3600}), s);
    }
    return s;
}

std::optional<Status> StatusCache::find(const QString& key, Date now) const
{
    const auto it = m_entries.constFind(key);
    if (it == m_entries.constEnd() || now < it->from || !(now < it->until))
        return std::nullopt;
    return it->status;
}

void StatusCache::insert(const QString& key, Date from, Date until, const Status& status)
{
    if (m_entries.size() > 20000)
        m_entries.clear();
    m_entries.insert(key, {from, until, status});
}

QString summaryText(const BlockRule& rule)
{
    const QString w = weekdaySummary(rule.activeWeekdays);
    const BlockApplySchedule& s = rule.blockApplySchedule;
    if (s.isAllDay)
        return w + middleDot + QStringLiteral("All day");
    if (s.isAfterMaxDailyTime) {
        QString text = QStringLiteral("Daily limit · ") + QString::number(rule.dailyLimitMinutes.value_or(0)) +
                       QStringLiteral(" min");
        if (w != QStringLiteral("Every day"))
            text += middleDot + w;
        return text;
    }
    if (!hasWindow(s))
        return w;
    return w + middleDot + windowText(s);
}

QString timeText(Date moment, Date now, const Calendar& calendar)
{
    const LocalDateTime local = calendar.components(moment);
    const QLocale locale;
    const QString time = LocaleFormats::shortTime(locale, QTime(local.hour, local.minute));
    const qint64 days = calendar.daysBetween(now, moment);
    if (days == 0)
        return time;
    if (days == 1)
        return QStringLiteral("tomorrow ") + time;
    return locale.dayName(local.date.dayOfWeek(), QLocale::ShortFormat) + u' ' + time;
}

// Compared with the store's usage day, not the wall clock's: after the clock is set forward the
// store still counts the same day, and would refuse a second break the page offered.
static bool urgentBreakUsedToday(const BlockRule& rule, const Moment& at)
{
    return rule.urgentBreakUsedCalendarDay && *rule.urgentBreakUsedCalendarDay == at.state.dayId;
}

bool canTakeUrgentBreak(const BlockRule& rule, const Moment& at)
{
    if (!rule.allowOneBreak)
        return false;
    if (urgentBreakUsedToday(rule, at))
        return false;
    return isRuleActive(rule, at.now, at.state, at.calendar);
}

std::optional<QString> urgentBreakUnavailableReason(const BlockRule& rule, const Moment& at, bool isPaused)
{
    if (isPaused || !isRuleActive(rule, at.now, at.state, at.calendar))
        return std::nullopt;
    if (!rule.allowOneBreak)
        return QStringLiteral("Urgent breaks are off for this site");
    if (urgentBreakUsedToday(rule, at))
        return QStringLiteral("Today's urgent break is used");
    return std::nullopt;
}

bool isBlockingNow(const BlockRule& rule, const Moment& at)
{
    return isRuleActive(rule, at.now, at.state, at.calendar);
}

QString manageStatusText(const BlockRule& rule, const Moment& at)
{
    if (rule.blockApplySchedule.isAfterMaxDailyTime && rule.dailyLimitMinutes) {
        if (at.state.exceededRuleIds.contains(rule.id))
            return QStringLiteral("Limit reached");
        return QString::number(usedSeconds(rule, at.state) / 60) + QStringLiteral(" of ") +
               QString::number(*rule.dailyLimitMinutes) + QStringLiteral(" min used today");
    }
    return isBlockingNow(rule, at) ? QStringLiteral("Blocked right now") : QStringLiteral("Not blocking right now");
}

QString scheduleText(const BlockRule& rule)
{
    const BlockApplySchedule& s = rule.blockApplySchedule;
    if (s.isAllDay)
        return QStringLiteral("Blocked all day");
    if (s.isAfterMaxDailyTime)
        return QStringLiteral("Daily limit · ") + QString::number(rule.dailyLimitMinutes.value_or(0)) +
               QStringLiteral(" min");
    if (hasWindow(s))
        return QStringLiteral("Blocked ") + windowText(s);
    return QStringLiteral("Blocked at set hours");
}

QString scheduleDetail(const BlockRule& rule)
{
    QString text = weekdaySummary(rule.activeWeekdays);
    if (rule.allowOneBreak)
        text += QStringLiteral(" · urgent break allowed");
    return text;
}

} // namespace RuleStatus
