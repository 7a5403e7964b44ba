#pragma once

#include "model/BlockRule.h"
#include "model/Calendar.h"
#include "model/SharedState.h"

#include <QSet>
#include <vector>

// When a rule blocks and when that can next change. Pure: every input is an argument, so the
// store and the Block screens share one reading of a schedule.

enum class ScheduleKind { allDay, dailyLimit, timeWindow, none };
ScheduleKind scheduleKind(const BlockApplySchedule& schedule);

bool ruleWeekdayMatches(const QSet<int>& weekdays, Date moment, const Calendar& calendar);
bool isRuleActive(const BlockRule& rule, Date moment, const SharedState& state, const Calendar& calendar);

// The local facts of one moment that every rule is evaluated against; computed once per refresh.
struct MomentFacts {
    Date moment = 0;
    int weekday = 1;         // 1 = Sunday
    int previousWeekday = 1; // of the moment one calendar day earlier
    int minuteOfDay = 0;

    static MomentFacts of(Date moment, const Calendar& calendar);
};
bool isRuleActive(const BlockRule& rule, const MomentFacts& at, const SharedState& state);

// A time of day in the user's locale, e.g. "9:30 PM".
QString timeOfDayText(qint64 hour, qint64 minute);

// The earliest moment after now at which any rule, the pause, the urgent break or the
// doom-scroll break can change state.
Date nextRuleBoundary(const std::vector<BlockRule>& rules, Date now, const SharedState& state,
                      const Calendar& calendar);
