#pragma once

#include "TestEnvironment.h"
#include "model/BlockRule.h"

#include <QLocale>
#include <QTime>

// Shared by the Block screen tests. 2026-12-07 is a Monday; wall times are America/New_York.
namespace BlockTest {

// A monotonic clock that moves only when told to.
class ManualMonotonic final : public MonotonicClock {
public:
    double seconds() const override { return value; }
    double value = 5000;
};

inline Date at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return TestEnvironment::at(y, mo, d, h, mi, s);
}

// A time of day as the screens write it in this locale.
inline QString clock(int h, int m)
{
    return QLocale().toString(QTime(h, m), QLocale::ShortFormat);
}

inline BlockApplySchedule allDay()
{
    return {};
}

inline BlockApplySchedule dailyLimit()
{
    BlockApplySchedule s;
    s.isAllDay = false;
    s.isAfterMaxDailyTime = true;
    return s;
}

inline BlockApplySchedule window(int sh, int sm, int eh, int em)
{
    BlockApplySchedule s;
    s.isAllDay = false;
    s.startHour = sh;
    s.startMinute = sm;
    s.endHour = eh;
    s.endMinute = em;
    return s;
}

inline BlockRule rule(const QString& domain, BlockApplySchedule schedule = allDay(), QSet<int> weekdays = {},
                      std::optional<qint64> limit = std::nullopt, bool allowBreak = false)
{
    BlockRule r;
    r.id = QUuid::createUuid();
    r.domain = domain;
    r.displayName = BlockRule::suggestedDisplayName(domain);
    r.blockApplySchedule = schedule;
    r.dailyLimitMinutes = limit;
    r.activeWeekdays = std::move(weekdays);
    r.allowOneBreak = allowBreak;
    r.createdAt = r.updatedAt = at(2026, 12, 1, 8);
    return r;
}

} // namespace BlockTest
