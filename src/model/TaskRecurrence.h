#pragma once

#include "model/TaskItem.h"
#include "model/TaskItemsView.h"

#include <QHash>
#include <QSet>
#include <map>

// Repeating to-dos: one ordinary to-do per occurrence, all sharing a series id. These functions
// read a list and return new records; they never change the list they are given.
namespace TaskRecurrence {

// Fixed forever: every stored occurrence id derives from these bytes.
const QUuid& namespaceUUID();

QString dayKey(Date date, const Calendar& calendar);
QUuid occurrenceId(const QUuid& seriesId, const QString& dayKey);

// Series id -> that series' to-dos in list order. Keyed by the id's canonical text so iteration is stable.
std::map<QString, std::vector<TaskItem>> groupBySeries(const std::vector<TaskItem>& list);

std::optional<Date> seriesAnchorDay(const std::vector<TaskItem>& series, const Calendar& calendar);
qint64 daysBetween(Date a, Date b, const Calendar& calendar);

// The latest scheduled day of the series on or before the given day.
std::optional<Date> scheduledDay(Date onOrBefore, Date anchor, RepeatOption option, const Calendar& calendar);

TaskItem makeOccurrence(const TaskItem& templateItem, const QUuid& seriesId, Date day, const Calendar& calendar);

// New occurrences only (at most one per series: the latest due), sorted by id text.
std::vector<TaskItem> rollForward(TaskItemsView list, const QSet<QUuid>& excludingSeries, Date now,
                                  const Calendar& calendar);

struct SeriesChanges {
    std::vector<TaskItem> list;
    QSet<QUuid> dropped;
    bool changed = false;
};
SeriesChanges applySeriesChanges(TaskItemsView list, const QSet<QUuid>& stopped, const QSet<QUuid>& deleted, Date now);

struct DuplicateRemoval {
    std::vector<TaskItem> list;
    QSet<QUuid> dropped;
};
DuplicateRemoval removeDuplicateOccurrences(const std::vector<TaskItem>& list, const Calendar& calendar);

// The pass the store and the sync both run: series changes, duplicate removal, roll-forward.
// The resulting list is filled only when `changed`; otherwise the given list stands as it is.
SeriesChanges maintain(TaskItemsView list, const QSet<QUuid>& stopped, const QSet<QUuid>& deleted, Date now,
                       const Calendar& calendar);

// The calendar these functions are run with: the user's zone and first weekday, a fixed locale.
Calendar maintenanceCalendar(const Calendar& current);

} // namespace TaskRecurrence
