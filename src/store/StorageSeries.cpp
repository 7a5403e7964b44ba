#include "model/Json.h"
#include "model/TaskRecurrence.h"
#include "platform/Defaults.h"
#include "store/StorageService.h"

#include <algorithm>

QSet<QUuid> StorageService::recurringSeriesIDs(const QString& key) const
{
    return m_core.env().defaults->uuidSet(key);
}

void StorageService::storeRecurringSeries(const QSet<QUuid>& stopped, const QSet<QUuid>& deleted)
{
    const auto store = [this](const QString& key, const QSet<QUuid>& added) {
        if (added.isEmpty())
            return;
        m_core.env().defaults->setUuidSet(key, recurringSeriesIDs(key) + added);
    };
    store(stoppedSeriesKey, stopped);
    store(deletedSeriesKey, deleted);
}

StorageService::SeriesMarks StorageService::seriesMarks() const
{
    return {recurringSeriesIDs(stoppedSeriesKey), recurringSeriesIDs(deletedSeriesKey)};
}

void StorageService::restoreSeriesMarks(const SeriesMarks& marks)
{
    if (recurringSeriesIDs(stoppedSeriesKey) != marks.stopped)
        m_core.env().defaults->setUuidSet(stoppedSeriesKey, marks.stopped);
    if (recurringSeriesIDs(deletedSeriesKey) != marks.deleted)
        m_core.env().defaults->setUuidSet(deletedSeriesKey, marks.deleted);
}

bool StorageService::rollOverRecurringTodos(Date now)
{
    const QSet<QUuid> stopped = recurringSeriesIDs(stoppedSeriesKey);
    const QSet<QUuid> deleted = recurringSeriesIDs(deletedSeriesKey);
    const Calendar seriesCalendar = TaskRecurrence::maintenanceCalendar(calendar());
    TaskRecurrence::SeriesChanges pass = TaskRecurrence::maintain(m_todos, stopped, deleted, now, seriesCalendar);
    if (!pass.changed)
        return false;

    // The new occurrences count only once they are in the file: otherwise the sync would send
    // to-dos that a restart does not have. The next roll-over tries again.
    if (const FileWrite written = m_core.writeFile(todosFile, todosText(pass.list)); !written) {
        m_core.recordFailure(todosFile, written.error);
        return false;
    }
    m_core.clearFailure(todosFile);
    QSet<QUuid> before;
    for (const TaskItem& t : m_todos)
        before.insert(t.id);
    setTodos(std::move(pass.list));
    removeReminders(pass.dropped);
    recordPendingTaskDeletes(pass.dropped);
    const Calendar cal = calendar();
    for (const TaskItem& t : m_todos)
        if (!before.contains(t.id))
            m_core.reminders().rescheduleTodoReminder(t, now, cal);
    return true;
}
