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
    m_core.watchWrites(
        fileName, [this](quint64 generation, bool newest, bool ok) { return writeOutcome(generation, newest, ok); });
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
    m_todos = TodoList(m_core.loadList<TaskItem>(
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
        early ? &*early : nullptr));
    return m_todosEncoding->writer.uses();
}

void TodoStore::keepLoadedText(quint64 loadedUses)
{
    // A file read record by record was never given to the writer: it holds no list, or another.
    const TodosFileWriter& writer = m_todosEncoding->writer;
    if (writer.uses() == loadedUses && writer.listSize() == m_todos.size())
        m_writerInStep = true;
}

std::optional<size_t> TodoStore::findTodo(const QUuid& id) const
{
    const auto it = std::find_if(m_todos.begin(), m_todos.end(), [&id](const TaskItem& t) { return t.id == id; });
    if (it == m_todos.end())
        return std::nullopt;
    return size_t(it - m_todos.begin());
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
    for (const TaskItem& t : m_todos)
        if (isEarlier(t, pastWeek))
            out.push_back(&t);
    return TaskItem::firstForDisplay(out);
}

bool TodoStore::isEarlier(const TaskItem& t, const LocalDays& pastWeek)
{
    if (t.isCompleted || t.repeatOption != RepeatOption::none || t.recurringSeriesId)
        return false;
    return pastWeek.compare(t.dueDate.value_or(t.createdAt)) == 0;
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

bool TodoStore::refuseSave()
{
    const std::optional<QString> why = m_core.writeRefusal(fileName);
    if (why)
        m_core.recordFailure(fileName, *why);
    return why.has_value();
}

bool TodoStore::commit(Change change, Edit edit, bool sync)
{
    // Whether it is kept or taken back, these are the to-dos it touched.
    m_touching = touchedBy(change);
    const auto told = qScopeGuard([this] { m_touching.reset(); });
    edit.baseSize = m_todos.size() + change.removed.size() - (change.inserted ? 1 : 0);
    if (!m_writerInStep) {
        edit = Edit{};
        edit.whole = std::make_shared<const std::vector<TaskItem>>(m_todos.toVector());
    }
    if (const FileWrite written = writeInBackground(std::move(edit)); !written) {
        takeBack(change);
        m_core.recordFailure(fileName, written.error);
        emit todosChanged();
        return false;
    }
    m_writerInStep = true;
    change.generation = m_core.lastAsked(fileName);
    change.push = sync;
    m_unconfirmed.push_back(std::move(change));
    emit todosChanged();
    return true;
}

QSet<QUuid> TodoStore::touchedBy(const Change& change)
{
    QSet<QUuid> ids;
    if (change.inserted)
        ids.insert(*change.inserted);
    for (const auto& [at, before] : change.replacedBefore)
        ids.insert(before.id);
    for (const auto& [at, removed] : change.removed)
        ids.insert(removed.id);
    return ids;
}

void TodoStore::takeBack(Change& change)
{
    const Calendar cal = calendar();
    const Date current = now();
    if (change.inserted) {
        m_todos.eraseIf([&](const TaskItem& t) { return t.id == *change.inserted; });
        removeReminders({*change.inserted});
    }
    for (auto& [at, before] : change.replacedBefore) {
        m_todos.at(at) = before;
        m_core.reminders().rescheduleTodoReminder(before, current, cal);
    }
    QSet<QUuid> kept;
    for (auto& [at, removed] : change.removed) {
        m_todos.insertAt(at, removed);
        m_core.reminders().rescheduleTodoReminder(removed, current, cal);
        kept.insert(removed.id);
    }
    if (!kept.isEmpty() && m_core.cloudSync())
        m_core.cloudSync()->tasksKept(kept);
    if (change.marks)
        m_series.restoreMarks(*change.marks);
}

bool TodoStore::writeOutcome(quint64 generation, bool newest, bool ok)
{
    if (ok) {
        // Everything sent up to that write is on disk.
        if (generation >= m_wholeUnconfirmed)
            m_wholeUnconfirmed = 0;
        auto confirmed = m_unconfirmed.begin();
        for (; confirmed != m_unconfirmed.end() && confirmed->generation <= generation; ++confirmed) {
            if (confirmed->push && m_core.cloudSync())
                m_core.cloudSync()->schedulePush();
        }
        m_unconfirmed.erase(m_unconfirmed.begin(), confirmed);
        return false;
    }
    // A later write, with these changes in it, decides.
    if (!newest || m_unconfirmed.empty())
        return false;
    // Newest first, so each is taken back from the list it was made in. The writer's list has
    // them in: the next change goes as the whole list.
    m_touching.emplace();
    const auto told = qScopeGuard([this] { m_touching.reset(); });
    for (auto it = m_unconfirmed.rbegin(); it != m_unconfirmed.rend(); ++it) {
        m_touching->unite(touchedBy(*it));
        takeBack(*it);
    }
    m_unconfirmed.clear();
    m_writerInStep = false;
    emit todosChanged();
    // The list they are taken back to is the sync's, still owed to the disk: it is written again.
    return m_wholeUnconfirmed == 0;
}

bool TodoStore::addTodo(const TaskItem& todo)
{
    TaskItem item = todo;
    if (item.repeatOption != RepeatOption::none && !item.recurringSeriesId)
        item.recurringSeriesId = QUuid::createUuid();
    item.updatedAt = stamp();
    if (refuseSave())
        return false;
    m_todos.pushFront(item);
    Change change;
    change.inserted = item.id;
    Edit edit;
    edit.inserted = item;
    if (!commit(std::move(change), std::move(edit), true))
        return false;
    m_core.reminders().rescheduleTodoReminder(item, now(), calendar());
    return true;
}

bool TodoStore::toggleTodo(const QUuid& id)
{
    const std::optional<size_t> found = findTodo(id);
    if (!found)
        return false;
    if (refuseSave())
        return false;
    const size_t at = *found;
    TaskItem* t = &m_todos.at(at);
    Change change;
    change.replacedBefore = {{at, *t}};
    t->isCompleted = !t->isCompleted;
    t->updatedAt = stamp();
    const TaskItem changed = *t;
    Edit edit;
    edit.replaced = {{at, changed}};
    if (!commit(std::move(change), std::move(edit), true))
        return false;
    m_core.reminders().rescheduleTodoReminder(changed, now(), calendar());
    return true;
}

bool TodoStore::toggleSubtask(const QUuid& todoId, const QUuid& subtaskId)
{
    const std::optional<size_t> found = findTodo(todoId);
    if (!found || std::none_of(m_todos[*found].subtasks.begin(), m_todos[*found].subtasks.end(),
                               [&subtaskId](const Subtask& s) { return s.id == subtaskId; }))
        return false;
    if (refuseSave())
        return false;
    const size_t at = *found;
    TaskItem* t = &m_todos.at(at);
    Change change;
    change.replacedBefore = {{at, *t}};
    const auto step = std::find_if(t->subtasks.begin(), t->subtasks.end(),
                                   [&subtaskId](const Subtask& s) { return s.id == subtaskId; });
    step->isCompleted = !step->isCompleted;
    t->updatedAt = stamp();
    Edit edit;
    edit.replaced = {{at, *t}};
    return commit(std::move(change), std::move(edit), true);
}

bool TodoStore::upsertTodo(const TaskItem& todo)
{
    const std::optional<size_t> found = findTodo(todo.id);
    if (!found)
        return false;
    if (refuseSave())
        return false;
    const Date s = stamp();
    Change change;
    change.marks = m_series.marks();
    TaskItem edited = todo;
    const size_t editedAt = *found;
    if (const std::optional<QUuid> oldSeries = m_todos[editedAt].recurringSeriesId;
        oldSeries && edited.repeatOption == RepeatOption::none) {
        const QUuid series = *oldSeries;
        m_series.storeRecurringSeries({series}, {});
        for (size_t i = 0; i < m_todos.size(); ++i) {
            TaskItem& t = m_todos.at(i);
            if (t.recurringSeriesId == series && i != editedAt) {
                change.replacedBefore.emplace_back(i, t);
                t.repeatOption = RepeatOption::none;
                t.recurringSeriesId.reset();
                t.updatedAt = s;
            }
        }
    }
    if (edited.repeatOption == RepeatOption::none)
        edited.recurringSeriesId.reset();
    edited.updatedAt = s;
    change.replacedBefore.emplace_back(editedAt, m_todos[editedAt]);
    m_todos.at(editedAt) = edited;
    Edit edit;
    for (const auto& [at, before] : change.replacedBefore)
        edit.replaced.emplace_back(at, m_todos[at]);
    if (!commit(std::move(change), std::move(edit), true))
        return false;
    m_core.reminders().rescheduleTodoReminder(edited, now(), calendar());
    return true;
}

bool TodoStore::moveTodosToToday(const std::vector<QUuid>& ids)
{
    const QSet<QUuid> wanted(ids.begin(), ids.end());
    if (std::none_of(m_todos.begin(), m_todos.end(), [&](const TaskItem& t) { return wanted.contains(t.id); }))
        return false;
    if (refuseSave())
        return false;
    const Calendar cal = calendar();
    const Date current = now();
    const Date today = cal.startOfDay(current);
    const Date stamped = stamp();
    std::vector<TaskItem> moved;
    Change change;
    Edit edit;
    for (size_t i = 0; i < m_todos.size(); ++i) {
        TaskItem& t = m_todos.at(i);
        if (!wanted.contains(t.id))
            continue;
        change.replacedBefore.emplace_back(i, t);
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
        edit.replaced.emplace_back(i, t);
    }
    if (!commit(std::move(change), std::move(edit), true))
        return false;
    for (const TaskItem& t : moved)
        m_core.reminders().rescheduleTodoReminder(t, current, cal);
    return true;
}

bool TodoStore::deleteTodo(const TaskItem& todo)
{
    if (refuseSave())
        return false;
    QSet<QUuid> removed;
    Change change;
    change.marks = m_series.marks();
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
    Edit edit;
    for (size_t i = 0; i < m_todos.size(); ++i) {
        if (removed.contains(m_todos[i].id)) {
            change.removed.emplace_back(i, m_todos[i]);
            edit.removed.emplace_back(i, m_todos[i].id);
        }
    }
    m_todos.eraseIf([&removed](const TaskItem& t) { return removed.contains(t.id); });
    // The sync uploads once the file is written; it hears of the deletes at once, as a run that
    // starts meanwhile reads them before it looks at the to-dos.
    if (!commit(std::move(change), std::move(edit), m_core.cloudSync() != nullptr))
        return false;
    removeReminders(removed);
    recordPendingTaskDeletes(removed);
    return true;
}

namespace {

template <typename Base>
TodoStore::SyncedTodos syncedBetween(const Base& base, quint64 baseRevision, std::vector<TaskItem> list)
{
    TodoStore::SyncedTodos synced;
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
    // Turned round here, with room for the to-dos a person adds next, rather than by the first of them.
    synced.list = TodoList(std::move(list));
    return synced;
}

} // namespace

TodoStore::SyncedTodos TodoStore::SyncedTodos::between(const std::vector<TaskItem>& base, quint64 baseRevision,
                                                       std::vector<TaskItem> list)
{
    return syncedBetween(base, baseRevision, std::move(list));
}

TodoStore::SyncedTodos TodoStore::SyncedTodos::between(const TodoList& base, quint64 baseRevision,
                                                       std::vector<TaskItem> list)
{
    return syncedBetween(base, baseRevision, std::move(list));
}

FileWrite TodoStore::replaceTodosFromSync(const std::vector<TaskItem>& list)
{
    SyncedTodos synced = SyncedTodos::between(m_todos, m_revision, list);
    return takeTodosFromSync(synced);
}

FileWrite TodoStore::takeTodosFromSync(SyncedTodos& synced)
{
    if (synced.baseRevision != m_revision)
        return FileWrite::refused(
            QStringLiteral("The to-dos changed while sync was merging them; it will merge them again."));
    Edit edit;
    edit.whole = synced.snapshot ? std::move(synced.snapshot)
                                 : std::make_shared<const std::vector<TaskItem>>(synced.list.toVector());
    if (FileWrite written = writeInBackground(std::move(edit)); !written)
        return written;
    // The sync's list is the ground the changes after it are taken back to: with no outcome of
    // its own write yet, it is no change of a person's to take back.
    m_unconfirmed.clear();
    m_wholeUnconfirmed = m_core.lastAsked(fileName);
    m_writerInStep = true;
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
    const FileWrite written = m_core.writeFile(fileName, todosText(m_todos.toVector()));
    m_writerInStep = written.written;
    if (!written) {
        m_core.recordFailure(fileName, written.error);
        return false;
    }
    const bool owed = std::any_of(m_unconfirmed.begin(), m_unconfirmed.end(), [](const Change& c) { return c.push; });
    m_unconfirmed.clear();
    m_wholeUnconfirmed = 0;
    m_core.clearFailure(fileName);
    if ((sync || owed) && m_core.cloudSync())
        m_core.cloudSync()->schedulePush();
    return true;
}

void TodoStore::setTodos(std::vector<TaskItem> todos)
{
    m_todos = TodoList(std::move(todos));
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
    if (!m_core.isUnwritten(fileName))
        return;
    Edit edit;
    edit.whole = std::make_shared<const std::vector<TaskItem>>(m_todos.toVector());
    if (writeInBackground(std::move(edit))) {
        m_writerInStep = true;
        m_wholeUnconfirmed = m_core.lastAsked(fileName);
    }
}

QByteArray TodoStore::todosText(const std::vector<TaskItem>& list)
{
    m_core.waitForFile(fileName);
    std::lock_guard lock(m_todosEncoding->mutex);
    return m_todosEncoding->writer.text(list);
}

size_t TodoStore::todosCompared() const
{
    m_core.waitForFile(fileName);
    std::lock_guard lock(m_todosEncoding->mutex);
    return m_todosEncoding->writer.lastCompared();
}

bool TodoStore::Edit::applyTo(TodosFileWriter& writer) const
{
    if (whole) {
        writer.text(*whole);
        return true;
    }
    return writer.edit(baseSize, inserted, replaced, removed);
}

FileWrite TodoStore::writeInBackground(Edit edit)
{
    if (const std::optional<QString> why = m_core.writeRefusal(fileName))
        return FileWrite::refused(*why);
    {
        std::lock_guard lock(m_todosEncoding->pendingMutex);
        m_todosEncoding->pending.push_back(std::move(edit));
    }
    // Writes of the file run one at a time in the order asked, and each makes every edit waiting
    // by then: one dropped for a newer write leaves its edits to that one.
    return m_core.writeInBackground(fileName, [encoding = m_todosEncoding] {
        std::lock_guard lock(encoding->mutex);
        std::vector<Edit> edits;
        {
            std::lock_guard taking(encoding->pendingMutex);
            edits = std::exchange(encoding->pending, {});
        }
        TodosFileWriter& writer = encoding->writer;
        QByteArray text;
        for (auto edit = edits.begin(); edit != edits.end(); ++edit) {
            // One to-do changed in place (a toggle): only its text is made afresh.
            if (!edit->whole && !edit->inserted && edit->removed.empty() && edit->replaced.size() == 1)
                if (std::optional<QByteArray> changed =
                        writer.textReplacing(edit->baseSize, edit->replaced[0].first, edit->replaced[0].second)) {
                    text = std::move(*changed);
                    continue;
                }
            // The writer's own list changed in place: a copy of a hundred thousand to-dos, made
            // and freed on every save, left that many blocks for the heap to sort.
            for (; edit != edits.end(); ++edit)
                if (!edit->applyTo(writer))
                    return QByteArray(); // never a file of some other list
            return writer.heldText();
        }
        // Nothing new since the last text (an earlier write took these edits): written again.
        return text.isNull() ? writer.heldText() : text;
    });
}

bool TodoStore::rollOverRecurringTodos(Date now)
{
    TaskRecurrence::SeriesChanges pass = m_series.run(m_todos.view(), now);
    if (!pass.changed)
        return false;

    // The new occurrences count only once they are in the file: otherwise the sync would send
    // to-dos that a restart does not have. The next roll-over tries again.
    if (const FileWrite written = m_core.writeFile(fileName, todosText(pass.list)); !written) {
        m_writerInStep = false;
        m_core.recordFailure(fileName, written.error);
        return false;
    }
    m_writerInStep = true;
    m_unconfirmed.clear();
    m_wholeUnconfirmed = 0;
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
