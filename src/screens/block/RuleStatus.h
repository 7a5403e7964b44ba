#pragma once

#include "model/BlockRule.h"
#include "model/Calendar.h"
#include "model/SharedState.h"

#include <QHash>
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

// Schedule statuses kept across rebuilds, each for the span in which it cannot change.
class StatusCache {
public:
    std::optional<Status> find(const QString& key, Date now) const;
    void insert(const QString& key, Date from, Date until, const Status& status);

private:
    struct Entry {
        Date from = 0;
        Date until = 0;
        Status status;
    };
    QHash<QString, Entry> m_entries;
};

// The statuses of many rules at one moment: rules with the same schedule and weekdays share one
// next-change search, and with a cache a rebuild reuses what an earlier one found, so a page of
// hundreds of rules stays quick to rebuild.
class StatusBatch {
public:
    explicit StatusBatch(const Moment& at, StatusCache* cache = nullptr);
    const Moment& moment() const { return m_at; }
    Status status(const BlockRule& rule, bool isPaused);

private:
    Moment m_at;
    StatusCache* m_cache;
    QString m_stateKey;
    QHash<QString, Status> m_memo;
};

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
