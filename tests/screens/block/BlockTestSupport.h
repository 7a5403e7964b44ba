#pragma once

#include "TestEnvironment.h"
#include "fakes/BlockSchedules.h"
#include "fakes/FakeWorkspace.h"
#include "model/BlockRule.h"

#include <QLocale>
#include <QTime>

// Shared by the Block screen tests. 2026-12-07 is a Monday; wall times are America/New_York.
namespace BlockTest {

using BlockSchedules::allDay;
using BlockSchedules::dailyLimit;
using BlockSchedules::window;
using TestEnvironment::at;

// A time of day as the screens write it in this locale.
inline QString clock(int h, int m)
{
    return QLocale().toString(QTime(h, m), QLocale::ShortFormat);
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
