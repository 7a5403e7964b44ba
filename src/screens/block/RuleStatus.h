#pragma once

#include "model/BlockRule.h"
#include "model/Calendar.h"
#include "model/SharedState.h"

#include <QSet>
#include <QString>
#include <optional>

// Weekday labels by calendar weekday number, 1 = Sunday ... 7 = Saturday.
QString weekdayShortName(int weekday);
QString weekdayLetter(int weekday);
// "Every day", "Weekdays only", "Weekends only", "Mon – Thu" or "Mon, Wed, Fri".
QString weekdaySummary(const QSet<int>& weekdays);

// What the Block screens say about one rule at one moment. Pure: the rule, the store's state,
// the moment and the calendar are all arguments, so rows compute it once per store change.
namespace RuleStatus {

struct Status {
    QString text;
    bool isBlocking = false;
    std::optional<double> fraction; // share of the daily limit, 0 ... 1; daily-limit statuses only

    bool operator==(const Status&) const = default;
};

struct Moment {
    Date now = 0;
    const SharedState& state;
    const Calendar& calendar;
};

// The status at the right of a site row.
Status status(const BlockRule& rule, const Moment& at, bool isPaused);
// "Every day · All day", "Daily limit · 30 min · Weekdays only", "Weekdays only · 9:00 AM–5:00 PM".
QString summaryText(const BlockRule& rule);
// A moment as the rows say it: "5:00 PM", "tomorrow 9:00 AM" or "Mon 9:00 AM".
QString timeText(Date moment, Date now, const Calendar& calendar);

// The break of this rule has time left: under ten minutes of use and before its fallback end.
bool urgentBreakRunning(const BlockRule& rule, const SharedState& state, Date now);
bool canTakeUrgentBreak(const BlockRule& rule, const Moment& at);
std::optional<QString> urgentBreakUnavailableReason(const BlockRule& rule, const Moment& at, bool isPaused);

// The manage-rule sheet's lines.
bool isBlockingNow(const BlockRule& rule, const Moment& at);
QString manageStatusText(const BlockRule& rule, const Moment& at);
QString scheduleText(const BlockRule& rule);
QString scheduleDetail(const BlockRule& rule);

} // namespace RuleStatus
