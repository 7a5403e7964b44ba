#pragma once

#include "model/BlockRule.h"
#include "model/Calendar.h"
#include "model/SharedState.h"

#include <QSet>
#include <QTimeZone>
#include <optional>
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

// nextRuleBoundary, remembered. Working it out scans ten days of every time window, most of a
// refresh's cost, yet its answer stands for every later moment before it while the rules, the
// waits it looks at (pause, urgent break, doom-scroll break), the zone and the local day stay as
// they were: then it is given again without a scan. `rulesGeneration` must change whenever the
// rules do.
class RuleBoundaryMemo {
public:
    Date next(const std::vector<BlockRule>& rules, quint64 rulesGeneration, Date now, const SharedState& state,
              const Calendar& calendar);
    // How often the boundary was worked out rather than given again.
    int computations() const { return m_computations; }

private:
    struct Inputs {
        quint64 rulesGeneration = 0;
        std::optional<Date> pausedUntil;
        std::optional<Date> breakFallback;
        std::optional<Date> doomBreakEnd;
        QTimeZone zone;
        QDate day;
        bool operator==(const Inputs&) const = default;
    };
    struct Kept {
        Inputs inputs;
        Date from = 0;
        Date boundary = 0;
    };
    std::optional<Kept> m_kept;
    int m_computations = 0;
};
