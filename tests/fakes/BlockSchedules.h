#pragma once

#include "model/BlockRule.h"

// The kinds of block schedule, as tests write them.
namespace BlockSchedules {

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

} // namespace BlockSchedules
