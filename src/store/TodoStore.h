#pragma once

#include "model/TaskItem.h"
#include "model/TodosFileWriter.h"
#include "store/DataPreread.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class SeriesPass;
class StoreCore;
struct FileWrite;

// The to-dos and the one in focus. Every change is written to their file at once; one the disk
// refuses is undone, so what is held is what is on disk.
class TodoStore : public QObject {
    Q_OBJECT
public:
    TodoStore(StoreCore& core, SeriesPass& series, QObject* parent = nullptr);

    const std::vector<TaskItem>& todos() const { return m_todos; }
    // Changes with every change of the to-dos.
    quint64 revision() const { return m_revision; }
    // The ids of the to-dos added, changed or deleted since `revision`, for the sync to send just
    // those; none when that is not known (a change of many at once, or too long ago).
    std::optional<QSet<QUuid>> changedSince(quint64 revision) const;
    std::optional<QUuid> focusTodoID() const { return m_focusTodoID; }
    void setFocusTodoID(const std::optional<QUuid>& id);
    // Reads the file; answers the writer's use count after taking in its text.
    quint64 load(QStringList& unreadable, std::optional<PrereadTodos> early);
    // After the rest of the start-up: the writer still holds the text read, unless used since.
    void keepLoadedText(quint64 loadedUses);

    std::vector<const TaskItem*> todayOrder(size_t first = std::numeric_limits<size_t>::max()) const;
    std::vector<TaskItem> todayTodos(size_t first = std::numeric_limits<size_t>::max()) const;
    std::vector<TaskItem> openTodos() const;
    std::optional<TaskItem> focusTodo() const;
    std::vector<TaskItem> earlierTodos() const;
    std::vector<TaskItem> todos(Date onDay) const;
    void advanceFocus();

    bool saveTodos(bool sync);
    bool addTodo(const TaskItem& todo);
    bool toggleTodo(const QUuid& id);
    bool toggleSubtask(const QUuid& todoId, const QUuid& subtaskId);
    bool upsertTodo(const TaskItem& todo);
    bool moveTodosToToday(const std::vector<QUuid>& ids);
    bool deleteTodo(const TaskItem& todo);
    bool rollOverRecurringTodos(Date now);

    // A list made elsewhere from the list held then, with what taking it in needs.
    struct SyncedTodos {
        std::vector<TaskItem> list;
        // The same list, for the file's text: shared with the writing thread, freed there.
        std::shared_ptr<const std::vector<TaskItem>> snapshot;
        // To-dos new or changed against `base`, and those holding a reminder: their reminders are
        // set again. An unchanged to-do without one has none to set.
        std::vector<TaskItem> touched;
        QSet<QUuid> gone; // in `base`, not in the list
        quint64 baseRevision = 0;

        // Safe on any thread: reads only its arguments.
        static SyncedTodos between(const std::vector<TaskItem>& base, quint64 baseRevision, std::vector<TaskItem> list);
    };
    FileWrite takeTodosFromSync(SyncedTodos& synced);
    // Writes the file again on the writing thread when its last write there failed.
    void retryUnwrittenFile();
    size_t todosCompared() const;

    static inline const QString fileName = QStringLiteral("todos.json");

signals:
    void todosChanged();
    void focusTodoIDChanged();

private:
    Date now() const;
    Date stamp() const;
    Calendar calendar() const;
    TaskItem* findTodo(const QUuid& id);
    void setTodos(std::vector<TaskItem> todos);
    // Writes the to-dos as they now are, or puts back `before` when that fails.
    bool commitTodos(std::vector<TaskItem> before, bool sync);
    // The same after a change of the one to-do at `index` (a toggle): only it is put back.
    bool commitTodoAt(size_t index, TaskItem before, bool sync);
    bool writeTodos(bool sync, std::optional<size_t> changedAt);
    void recordPendingTaskDeletes(const QSet<QUuid>& ids);
    void removeReminders(const QSet<QUuid>& ids);

    StoreCore& m_core;
    SeriesPass& m_series;
    std::vector<TaskItem> m_todos;
    quint64 m_revision = 0;
    std::optional<QUuid> m_focusTodoID;
    // What the change about to be announced touches (none: not told), and the ids of the changes
    // since `m_changesFrom`, by revision.
    std::optional<QSet<QUuid>> m_touching;
    std::vector<std::pair<quint64, QUuid>> m_changes;
    quint64 m_changesFrom = 0;

    // The file's writer keeps the text of what it wrote last, and its encodings run on the
    // writing thread as well as here, one at a time under the lock. Here it is used only once no
    // write of the file is on its way there, so what it keeps is always the newest list's text.
    struct TodosEncoding {
        std::mutex mutex;
        TodosFileWriter writer;
    };
    std::shared_ptr<TodosEncoding> m_todosEncoding = std::make_shared<TodosEncoding>();
    // The text of `list` by that writer, made here.
    QByteArray todosText(const std::vector<TaskItem>& list);
    // The text of m_todos, changed since the writer's last text of them at `changedAt` alone when
    // that is known; `uses` takes the writer's count of uses after it.
    QByteArray currentTodosText(std::optional<size_t> changedAt, quint64* uses);
    // The writer's use count and the to-dos' revision at a moment when the writer's last text
    // was of the to-dos as they were: after the load, or after a save the file took and its one
    // announcement. Any other use of the writer or change announced since makes it stale.
    struct TodosWriterNote {
        quint64 uses = 0;
        quint64 revision = 0;
    };
    std::optional<TodosWriterNote> m_todosWriterNote;
    std::optional<TodosWriterNote> m_todosSaved; // written, not yet announced
    // After the announcement of a save: notes the writer as current when nothing came between.
    void noteTodosAnnounced();
    // A write of `list` on the writing thread, encoded there.
    FileWrite writeTodosInBackground(std::shared_ptr<const std::vector<TaskItem>> list);
};
