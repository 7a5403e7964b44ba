#include "model/Json.h"
#include "model/TaskRecurrence.h"
#include "platform/Defaults.h"
#include "store/StorageService.h"

#include <algorithm>

bool StorageService::rollOverRecurringTodos(Date now)
{
    TaskRecurrence::SeriesChanges pass = m_series.run(m_todos, now);
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
