#include "store/SeriesPass.h"

#include "files/Defaults.h"
#include "store/StoreCore.h"

QSet<QUuid> SeriesPass::recurringSeriesIDs(const QString& key) const
{
    return m_core.env().defaults->uuidSet(key);
}

void SeriesPass::storeRecurringSeries(const QSet<QUuid>& stopped, const QSet<QUuid>& deleted)
{
    const auto store = [this](const QString& key, const QSet<QUuid>& added) {
        if (added.isEmpty())
            return;
        m_core.env().defaults->setUuidSet(key, recurringSeriesIDs(key) + added);
    };
    store(stoppedSeriesKey, stopped);
    store(deletedSeriesKey, deleted);
}

SeriesPass::Marks SeriesPass::marks() const
{
    return {recurringSeriesIDs(stoppedSeriesKey), recurringSeriesIDs(deletedSeriesKey)};
}

void SeriesPass::restoreMarks(const Marks& marks)
{
    if (recurringSeriesIDs(stoppedSeriesKey) != marks.stopped)
        m_core.env().defaults->setUuidSet(stoppedSeriesKey, marks.stopped);
    if (recurringSeriesIDs(deletedSeriesKey) != marks.deleted)
        m_core.env().defaults->setUuidSet(deletedSeriesKey, marks.deleted);
}

TaskRecurrence::SeriesChanges SeriesPass::run(TaskItemsView todos, Date now) const
{
    const QSet<QUuid> stopped = recurringSeriesIDs(stoppedSeriesKey);
    const QSet<QUuid> deleted = recurringSeriesIDs(deletedSeriesKey);
    const Calendar seriesCalendar = TaskRecurrence::maintenanceCalendar(m_core.calendar());
    return TaskRecurrence::maintain(todos, stopped, deleted, now, seriesCalendar);
}
