#include "store/TodoStore.h"

#include "model/Json.h"
#include "model/TodosFileReading.h"
#include "store/CloudSync.h"
#include "store/SeriesPass.h"
#include "store/StoreCore.h"

#include <QScopeGuard>
#include <algorithm>
#include <utility>

namespace {

// Whether a to-do shows on the days of `days`: from the day it was created up to and including
// its due day (its creation day when it has none).
bool showsOn(const TaskItem& t, const LocalDays& days)
{
    return days.compare(t.createdAt) <= 0 && days.compare(t.dueDate.value_or(t.createdAt)) >= 0;
}

} // namespace

TodoStore::TodoStore(StoreCore& core, SeriesPass& series, QObject* parent)
    : QObject(parent), m_core(core), m_series(series)
{
    // First of all who hear of a change, so every one of them already sees the new revision.
    connect(this, &TodoStore::todosChanged, this, [this] {
        ++m_revision;
        // A few hundred ids are worth keeping; a change of more is read whole by whoever asks.
        if (m_touching && m_changes.size() + size_t(m_touching->size()) <= 512) {
            for (const QUuid& id : std::as_const(*m_touching))
                m_changes.emplace_back(m_revision, id);
        } else {
            m_changes.clear();
            m_changesFrom = m_revision;
        }
    });
}

std::optional<QSet<QUuid>> TodoStore::changedSince(quint64 revision) const
{
    if (revision < m_changesFrom || revision > m_revision)
        return std::nullopt;
    QSet<QUuid> ids;
    for (const auto& [changedAt, id] : m_changes)
        if (changedAt > revision)
            ids.insert(id);
    return ids;
}

Date TodoStore::now() const
{
    return m_core.now();
}

Date TodoStore::stamp() const
{
    return m_core.stamp();
}

Calendar TodoStore::calendar() const
{
    return m_core.calendar();
}

quint64 TodoStore::load(QStringList& unreadable, std::optional<PrereadTodos> early)
{
    // The writer takes the file as read, so the first save writes afresh only what changed.
    m_todos = m_core.loadList<TaskItem>(
        QStringLiteral("to-dos"), fileName, decodeTaskItem, unreadable,
        [this, &early](const QByteArray& text) {
            if (early) {
                if (early->decoded)
                    m_todosEncoding->writer = std::move(early->writer);
                return std::move(early->decoded);
            }
            std::vector<TextSpan> spans;
            std::optional<std::vector<TaskItem>> list = decodeTodosFileText(text, &spans);
            if (list)
                m_todosEncoding->writer.adopt(*list, text, spans);
            return list;
        },
        early ? &*early : nullptr);
    return m_todosEncoding->writer.uses();
}

void TodoStore::keepLoadedText(quint64 loadedUses)
{
    if (m_todosEncoding->writer.uses() == loadedUses)
        m_todosWriterNote = TodosWriterNote{loadedUses, m_revision};
}

TaskItem* TodoStore::findTodo(const QUuid& id)
{
    const auto it = std::find_if(m_todos.begin(), m_todos.end(), [&id](const TaskItem& t) { return t.id == id; });
    return it == m_todos.end() ? nullptr : &*it;
}

std::vector<const TaskItem*> TodoStore::todayOrder(size_t first) const
{
    const Calendar cal = calendar();
    const QDate today = cal.localDate(now());
    const LocalDays days(cal, today, today);
    std::vector<const TaskItem*> shown;
    shown.reserve(m_todos.size());
    for (const TaskItem& t : m_todos)
        if (showsOn(t, days))
            shown.push_back(&t);
    return TaskItem::orderForDisplay(std::move(shown), first);
}

std::vector<TaskItem> TodoStore::todayTodos(size_t first) const
{
    // Put in order where they are, then copied once: a day of thousands was copied, moved and
    // copied again.
    std::vector<TaskItem> out;
    const std::vector<const TaskItem*> order = todayOrder(first);
    out.reserve(order.size());
    for (const TaskItem* t : order)
        out.push_back(*t);
    return out;
}

std::vector<TaskItem> TodoStore::openTodos() const
{
    std::vector<TaskItem> out = todayTodos();
    std::erase_if(out, [](const TaskItem& t) { return t.isCompleted; });
    return out;
}

std::optional<TaskItem> TodoStore::focusTodo() const
{
    const std::vector<TaskItem> open = openTodos();
    if (open.empty())
        return std::nullopt;
    if (m_focusTodoID)
        for (const TaskItem& t : open)
            if (t.id == *m_focusTodoID)
                return t;
    return open.front();
}

std::vector<TaskItem> TodoStore::earlierTodos() const
{
    const Calendar cal = calendar();
    const QDate today = cal.localDate(now());
    const LocalDays pastWeek(cal, today.addDays(-7), today.addDays(-1));
    std::vector<const TaskItem*> out;
    for (const TaskItem& t : m_todos) {
        if (t.isCompleted || t.repeatOption != RepeatOption::none || t.recurringSeriesId)
            continue;
        if (pastWeek.compare(t.dueDate.value_or(t.createdAt)) == 0)
            out.push_back(&t);
    }
    return TaskItem::firstForDisplay(out);
}

std::vector<TaskItem> TodoStore::todos(Date onDay) const
{
    const Calendar cal = calendar();
    const QDate day = cal.localDate(onDay);
    const LocalDays days(cal, day, day);
    std::vector<const TaskItem*> out;
    for (const TaskItem& t : m_todos)
        if (showsOn(t, days))
            out.push_back(&t);
    return TaskItem::firstForDisplay(out);
}

void TodoStore::advanceFocus()
{
    const std::vector<TaskItem> open = openTodos();
    if (open.size() < 2)
        return;
    const std::optional<TaskItem> focus = focusTodo();
    if (!focus)
        return;
    const auto it = std::find_if(open.begin(), open.end(), [&focus](const TaskItem& t) { return t.id == focus->id; });
    if (it == open.end())
        return;
    const size_t next = (static_cast<size_t>(it - open.begin()) + 1) % open.size();
    setFocusTodoID(open[next].id);
}

bool TodoStore::commitTodos(std::vector<TaskItem> before, bool sync)
{
    const auto told = qScopeGuard([this] { m_touching.reset(); });
    if (saveTodos(sync)) {
        emit todosChanged();
        noteTodosAnnounced();
        return true;
    }
    // Only what is in the file is kept: a change the disk refused is undone, so a retry is not
    // refused as a duplicate, the sync never sends it, and a restart shows what was shown.
    m_todos = std::move(before);
    emit todosChanged();
    return false;
}

bool TodoStore::commitTodoAt(size_t index, TaskItem before, bool sync)
{
    m_touching = QSet<QUuid>{m_todos[index].id};
    const auto told = qScopeGuard([this] { m_touching.reset(); });
    if (writeTodos(sync, index)) {
        emit todosChanged();
        noteTodosAnnounced();
        return true;
    }
    m_todos[index] = std::move(before);
    emit todosChanged();
    return false;
}

bool TodoStore::addTodo(const TaskItem& todo)
{
    TaskItem item = todo;
    if (item.repeatOption != RepeatOption::none && !item.recurringSeriesId)
        item.recurringSeriesId = QUuid::createUuid();
    item.updatedAt = stamp();
    std::vector<TaskItem> before = m_todos;
    m_todos.insert(m_todos.begin(), item);
    m_touching = QSet<QUuid>{item.id};
    if (!commitTodos(std::move(before), true))
        return false;
    m_core.reminders().rescheduleTodoReminder(item, now(), calendar());
    return true;
}

bool TodoStore::toggleTodo(const QUuid& id)
{
    TaskItem* t = findTodo(id);
    if (!t)
        return false;
    TaskItem before = *t;
    t->isCompleted = !t->isCompleted;
    t->updatedAt = stamp();
    const TaskItem changed = *t;
    if (!commitTodoAt(size_t(t - m_todos.data()), std::move(before), true))
        return false;
    m_core.reminders().rescheduleTodoReminder(changed, now(), calendar());
    return true;
}

bool TodoStore::toggleSubtask(const QUuid& todoId, const QUuid& subtaskId)
{
    const TaskItem* found = findTodo(todoId);
    if (!found || std::none_of(found->subtasks.begin(), found->subtasks.end(),
                               [&subtaskId](const Subtask& s) { return s.id == subtaskId; }))
        return false;
    TaskItem* t = findTodo(todoId);
    TaskItem before = *t;
    const auto step = std::find_if(t->subtasks.begin(), t->subtasks.end(),
                                   [&subtaskId](const Subtask& s) { return s.id == subtaskId; });
    step->isCompleted = !step->isCompleted;
    t->updatedAt = stamp();
    return commitTodoAt(size_t(t - m_todos.data()), std::move(before), true);
}

bool TodoStore::upsertTodo(const TaskItem& todo)
{
    TaskItem* old = findTodo(todo.id);
    if (!old)
        return false;
    const Date s = stamp();
    std::vector<TaskItem> before = m_todos;
    const SeriesPass::Marks marks = m_series.marks();
    TaskItem edited = todo;
    QSet<QUuid> touching{todo.id};
    if (old->recurringSeriesId && edited.repeatOption == RepeatOption::none) {
        const QUuid series = *old->recurringSeriesId;
        m_series.storeRecurringSeries({series}, {});
        for (TaskItem& t : m_todos) {
            if (t.recurringSeriesId == series) {
                touching.insert(t.id);
                t.repeatOption = RepeatOption::none;
                t.recurringSeriesId.reset();
                t.updatedAt = s;
            }
        }
    }
    if (edited.repeatOption == RepeatOption::none)
        edited.recurringSeriesId.reset();
    edited.updatedAt = s;
    *findTodo(todo.id) = edited;
    m_touching = std::move(touching);
    if (!commitTodos(std::move(before), true)) {
        m_series.restoreMarks(marks);
        return false;
    }
    m_core.reminders().rescheduleTodoReminder(edited, now(), calendar());
    return true;
}

bool TodoStore::moveTodosToToday(const std::vector<QUuid>& ids)
{
    const QSet<QUuid> wanted(ids.begin(), ids.end());
    if (std::none_of(m_todos.begin(), m_todos.end(), [&](const TaskItem& t) { return wanted.contains(t.id); }))
        return false;
    std::vector<TaskItem> before = m_todos;
    const Calendar cal = calendar();
    const Date current = now();
    const Date today = cal.startOfDay(current);
    const Date stamped = stamp();
    std::vector<TaskItem> moved;
    for (TaskItem& t : m_todos) {
        if (!wanted.contains(t.id))
            continue;
        const Date createdDay = cal.startOfDay(t.createdAt);
        const qint64 shift = cal.daysBetween(createdDay, today);
        const qint64 span = cal.daysBetween(createdDay, cal.startOfDay(t.dueDate.value_or(createdDay)));
        t.createdAt = today;
        if (t.dueDate) {
            const QDate dueDay = cal.localDate(today).addDays(std::max<qint64>(span, 0));
            const LocalDateTime oldDue = cal.components(*t.dueDate);
            t.dueDate = cal.date(dueDay, oldDue.hour, oldDue.minute, 0);
        }
        if (t.reminderDate) {
            const Date movedReminder = cal.addDays(*t.reminderDate, shift);
            if (movedReminder > current)
                t.reminderDate = movedReminder;
            else
                t.reminderDate.reset();
        }
        t.updatedAt = stamped;
        moved.push_back(t);
    }
    m_touching.emplace();
    for (const TaskItem& t : moved)
        m_touching->insert(t.id);
    if (!commitTodos(std::move(before), true))
        return false;
    for (const TaskItem& t : moved)
        m_core.reminders().rescheduleTodoReminder(t, current, cal);
    return true;
}

bool TodoStore::deleteTodo(const TaskItem& todo)
{
    QSet<QUuid> removed;
    std::vector<TaskItem> before = m_todos;
    const SeriesPass::Marks marks = m_series.marks();
    if (todo.recurringSeriesId) {
        const QUuid series = *todo.recurringSeriesId;
        m_series.storeRecurringSeries({}, {series});
        for (const TaskItem& t : m_todos)
            if (t.recurringSeriesId == series)
                removed.insert(t.id);
    } else {
        for (const TaskItem& t : m_todos)
            if (t.id == todo.id)
                removed.insert(t.id);
    }
    std::erase_if(m_todos, [&removed](const TaskItem& t) { return removed.contains(t.id); });
    m_touching = removed;
    if (!commitTodos(std::move(before), false)) {
        m_series.restoreMarks(marks);
        return false;
    }
    removeReminders(removed);
    if (m_core.cloudSync()) {
        recordPendingTaskDeletes(removed);
        m_core.cloudSync()->schedulePush();
    }
    return true;
}

TodoStore::SyncedTodos TodoStore::SyncedTodos::between(const std::vector<TaskItem>& base, quint64 baseRevision,
                                                       std::vector<TaskItem> list)
{
    SyncedTodos synced;
    synced.baseRevision = baseRevision;
    const auto touches = [](const TaskItem& t, const TaskItem* before) {
        return !before || !(*before == t) || (t.reminderDate && !t.isCompleted);
    };
    // Mostly the same to-dos in the same order, one or two of them changed: no index is needed.
    const bool sameOrder =
        base.size() == list.size() && std::equal(base.begin(), base.end(), list.begin(),
                                                 [](const TaskItem& a, const TaskItem& b) { return a.id == b.id; });
    if (sameOrder) {
        for (size_t i = 0; i < list.size(); ++i)
            if (touches(list[i], &base[i]))
                synced.touched.push_back(list[i]);
    } else {
        QHash<QUuid, const TaskItem*> before;
        before.reserve(qsizetype(base.size()));
        for (const TaskItem& t : base)
            before.insert(t.id, &t);
        QSet<QUuid> kept;
        kept.reserve(qsizetype(list.size()));
        for (const TaskItem& t : list) {
            kept.insert(t.id);
            if (touches(t, before.value(t.id)))
                synced.touched.push_back(t);
        }
        for (const TaskItem& t : base)
            if (!kept.contains(t.id))
                synced.gone.insert(t.id);
    }
    synced.snapshot = std::make_shared<const std::vector<TaskItem>>(list);
    synced.list = std::move(list);
    return synced;
}

FileWrite TodoStore::takeTodosFromSync(SyncedTodos& synced)
{
    if (synced.baseRevision != m_revision)
        return FileWrite::refused(
            QStringLiteral("The to-dos changed while sync was merging them; it will merge them again."));
    std::shared_ptr<const std::vector<TaskItem>> snapshot =
        synced.snapshot ? std::move(synced.snapshot) : std::make_shared<const std::vector<TaskItem>>(synced.list);
    if (FileWrite written = writeTodosInBackground(std::move(snapshot)); !written)
        return written;
    m_todos.swap(synced.list);
    emit todosChanged();
    removeReminders(synced.gone);
    const Calendar cal = calendar();
    const Date current = now();
    for (const TaskItem& t : synced.touched)
        m_core.reminders().rescheduleTodoReminder(t, current, cal);
    synced.touched.clear();
    return FileWrite::done();
}

void TodoStore::recordPendingTaskDeletes(const QSet<QUuid>& ids)
{
    if (m_core.cloudSync() && !ids.isEmpty())
        m_core.cloudSync()->tasksDeleted(ids);
}

void TodoStore::removeReminders(const QSet<QUuid>& ids)
{
    QStringList identifiers;
    for (const QUuid& id : ids)
        identifiers.append(Reminders::requestIdentifier(id));
    m_core.reminders().removeTodoReminders(identifiers);
}

bool TodoStore::saveTodos(bool sync)
{
    return writeTodos(sync, std::nullopt);
}

bool TodoStore::writeTodos(bool sync, std::optional<size_t> changedAt)
{
    m_todosSaved.reset();
    quint64 uses = 0;
    const QByteArray text = currentTodosText(changedAt, &uses);
    if (const FileWrite written = m_core.writeFile(fileName, text); !written) {
        m_core.recordFailure(fileName, written.error);
        return false;
    }
    m_todosSaved = TodosWriterNote{uses, m_revision};
    m_core.clearFailure(fileName);
    if (sync && m_core.cloudSync())
        m_core.cloudSync()->schedulePush();
    return true;
}

void TodoStore::setTodos(std::vector<TaskItem> todos)
{
    m_todos = std::move(todos);
    emit todosChanged();
}

void TodoStore::setFocusTodoID(const std::optional<QUuid>& id)
{
    if (id == m_focusTodoID)
        return;
    m_focusTodoID = id;
    emit focusTodoIDChanged();
}

void TodoStore::retryUnwrittenFile()
{
    if (m_core.isUnwritten(fileName))
        writeTodosInBackground(std::make_shared<const std::vector<TaskItem>>(m_todos));
}

QByteArray TodoStore::todosText(const std::vector<TaskItem>& list)
{
    m_core.waitForFile(fileName);
    std::lock_guard lock(m_todosEncoding->mutex);
    return m_todosEncoding->writer.text(list);
}

QByteArray TodoStore::currentTodosText(std::optional<size_t> changedAt, quint64* uses)
{
    m_core.waitForFile(fileName);
    std::lock_guard lock(m_todosEncoding->mutex);
    TodosFileWriter& writer = m_todosEncoding->writer;
    const std::optional<TodosWriterNote> note = std::exchange(m_todosWriterNote, std::nullopt);
    const bool current = changedAt && note && note->uses == writer.uses() && note->revision == m_revision;
    QByteArray text = current ? writer.textChangedAt(m_todos, *changedAt) : writer.text(m_todos);
    *uses = writer.uses();
    return text;
}

size_t TodoStore::todosCompared() const
{
    std::lock_guard lock(m_todosEncoding->mutex);
    return m_todosEncoding->writer.lastCompared();
}

void TodoStore::noteTodosAnnounced()
{
    // Announced once, by the save alone: nothing else changed the to-dos in between.
    if (m_todosSaved && m_revision == m_todosSaved->revision + 1)
        m_todosWriterNote = TodosWriterNote{m_todosSaved->uses, m_revision};
    m_todosSaved.reset();
}

FileWrite TodoStore::writeTodosInBackground(std::shared_ptr<const std::vector<TaskItem>> list)
{
    // Writes of the file run one at a time in the order asked, so the writer meets the lists in
    // that order; a write dropped for a newer one never encodes, and leaves the writer as it was.
    return m_core.writeInBackground(fileName, [encoding = m_todosEncoding, list = std::move(list)] {
        std::lock_guard lock(encoding->mutex);
        return encoding->writer.text(*list);
    });
}

bool TodoStore::rollOverRecurringTodos(Date now)
{
    TaskRecurrence::SeriesChanges pass = m_series.run(m_todos, now);
    if (!pass.changed)
        return false;

    // The new occurrences count only once they are in the file: otherwise the sync would send
    // to-dos that a restart does not have. The next roll-over tries again.
    if (const FileWrite written = m_core.writeFile(fileName, todosText(pass.list)); !written) {
        m_core.recordFailure(fileName, written.error);
        return false;
    }
    m_core.clearFailure(fileName);
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
