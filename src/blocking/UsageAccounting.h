#pragma once

#include "model/BlockRule.h"
#include "model/Calendar.h"

#include <QPointer>
#include <QUuid>
#include <functional>
#include <optional>

class StorageService;

// Active use of the sites that count time, measured look by look and handed to the store in whole
// seconds. Two counters run apart: one for the rule that covers the site (a running urgent
// break's first, else a daily limit's) and one for the doom-scroll usage window. A counter's first
// look only starts it; every later one adds the time since the last, at most stepCap, so that a
// gap (sleep, a slow browser) never counts in full.
class UsageAccounting {
public:
    static constexpr double stepCap = 2.0;

    UsageAccounting(StorageService* storage, std::function<Calendar()> calendar);

    // Whether a look at the host at `now` could count for anything.
    bool hasUsageToMeasure(const QString& host, Date now) const;
    void account(const QString& host, Date now);
    // Both counters stop: the next look starts them afresh.
    void reset();
    std::optional<BlockRule> activeUrgentBreakRule(const QString& host, Date now) const;

private:
    void accountDoomScroll(const QString& host, Date now);
    std::optional<BlockRule> limitRule(const QString& host, Date now) const;
    bool doomScrollCounts(const QString& host, Date now) const;

    QPointer<StorageService> m_storage;
    std::function<Calendar()> m_calendar;
    std::optional<QUuid> m_ruleID;
    std::optional<Date> m_lastInspection;
    double m_remainder = 0;
    std::optional<Date> m_lastDoomInspection;
    double m_doomRemainder = 0;
};
