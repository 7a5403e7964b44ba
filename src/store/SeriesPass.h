#pragma once

#include "model/TaskItem.h"
#include "model/TaskRecurrence.h"

#include <QSet>
#include <QString>
#include <QUuid>
#include <vector>

class StoreCore;

// The repeating series a person stopped or deleted, kept in the preferences across restarts, and
// the pass that brings the to-dos' series in line with them and with the day.
class SeriesPass {
public:
    explicit SeriesPass(StoreCore& core) : m_core(core) {}

    QSet<QUuid> recurringSeriesIDs(const QString& key) const;
    void storeRecurringSeries(const QSet<QUuid>& stopped, const QSet<QUuid>& deleted);
    // Both sets as they are, to be put back when the change that marked a series is not kept.
    struct Marks {
        QSet<QUuid> stopped, deleted;
    };
    Marks marks() const;
    void restoreMarks(const Marks& marks);
    // The to-dos as the pass leaves them at `now`, and what it dropped.
    TaskRecurrence::SeriesChanges run(TaskItemsView todos, Date now) const;

    static inline const QString stoppedSeriesKey = QStringLiteral("tasks.recurringStoppedSeries.v1");
    static inline const QString deletedSeriesKey = QStringLiteral("tasks.recurringDeletedSeries.v1");

private:
    StoreCore& m_core;
};
