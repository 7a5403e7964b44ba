#include "screens/block/RuleStatus.h"

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
    const auto& b = state.urgentBreak;
    return b && b->ruleId == rule.id && b->usedSeconds < 600 && now < b->fallbackExpiresAt;
}

Status status(const BlockRule& rule, const Moment& at, bool isPaused)
{
    if (isPaused)
        return {QStringLiteral("Paused"), false, std::nullopt};
    if (urgentBreakRunning(rule, at.state, at.now))
        return {QStringLiteral("On an urgent break"), false, std::nullopt};
    if (rule.blockApplySchedule.isAfterMaxDailyTime && rule.dailyLimitMinutes) {
        if (at.state.exceededRuleIds.contains(rule.id))
            return {QStringLiteral("Limit reached"), true, 1.0};
        const QString text = QString::number(usedSeconds(rule, at.state) / 60) + QStringLiteral(" of ") +
                             QString::number(*rule.dailyLimitMinutes) + QStringLiteral(" min");
        return {text, false, std::clamp(rule.limitUsageFraction(at.state), 0.0, 1.0)};
    }
    const bool active = isRuleActive(rule, at.now, at.state, at.calendar);
    const std::optional<Date> next = nextChange(rule, at, active);
    if (active) {
        if (!next || rule.blockApplySchedule.isAllDay)
            return {QStringLiteral("Blocked all day"), true, std::nullopt};
        return {QStringLiteral("Blocked until ") + timeText(*next, at.now, at.calendar), true, std::nullopt};
    }
    if (!next)
        return {QStringLiteral("Not active"), false, std::nullopt};
    const QString at_ = at.calendar.isSameDay(*next, at.now) ? QStringLiteral("at ") : QString();
    return {QStringLiteral("Starts ") + at_ + timeText(*next, at.now, at.calendar), false, std::nullopt};
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
    const QString time = locale.toString(QTime(local.hour, local.minute), QLocale::ShortFormat);
    const qint64 days = calendar.daysBetween(now, moment);
    if (days == 0)
        return time;
    if (days == 1)
        return QStringLiteral("tomorrow ") + time;
    return locale.dayName(local.date.dayOfWeek(), QLocale::ShortFormat) + u' ' + time;
}

bool canTakeUrgentBreak(const BlockRule& rule, const Moment& at)
{
    if (!rule.allowOneBreak)
        return false;
    if (rule.urgentBreakUsedCalendarDay &&
        *rule.urgentBreakUsedCalendarDay == SharedState::dayIdFor(at.now, at.calendar))
        return false;
    return isRuleActive(rule, at.now, at.state, at.calendar);
}

std::optional<QString> urgentBreakUnavailableReason(const BlockRule& rule, const Moment& at, bool isPaused)
{
    if (isPaused || !isRuleActive(rule, at.now, at.state, at.calendar))
        return std::nullopt;
    if (!rule.allowOneBreak)
        return QStringLiteral("Urgent breaks are off for this site");
    if (rule.urgentBreakUsedCalendarDay &&
        *rule.urgentBreakUsedCalendarDay == SharedState::dayIdFor(at.now, at.calendar))
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
