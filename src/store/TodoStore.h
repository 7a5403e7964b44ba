#pragma once

#include "model/TaskItem.h"
#include "model/TodosFileWriter.h"
#include "store/DataPreread.h"
#include "store/SeriesPass.h"
#include "store/TodoList.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class StoreCore;
struct FileWrite;

// The to-dos and the one in focus. Every change is written at once on the writing thread, so the
// window never waits for the disk; one the disk refuses there is taken back when the refusal
// comes, so what is held is, in the end, what is on disk.
class TodoStore : public QObject {
    Q_OBJECT
public:
    TodoStore(StoreCore& core, SeriesPass& series, QObject* parent = nullptr);

    const TodoList& todos() const { return m_todos; }
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
    // Whether earlierTodos() lists `t`: an unfinished one-off to-do of `pastWeek`.
    static bool isEarlier(const TaskItem& t, const LocalDays& pastWeek);
    std::vector<TaskItem> todos(Date onDay) const;
    void advanceFocus();

    // Writes the to-dos as they are now, here: nothing is left on its way.
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
        TodoList list;
        // The same list, for the file's text: shared with the writing thread, freed there.
        std::shared_ptr<const std::vector<TaskItem>> snapshot;
        // To-dos new or changed against `base`, and those holding a reminder: their reminders are
        // set again. An unchanged to-do without one has none to set.
        std::vector<TaskItem> touched;
        QSet<QUuid> gone; // in `base`, not in the list
        quint64 baseRevision = 0;

        // Safe on any thread: reads only its arguments.
        static SyncedTodos between(const std::vector<TaskItem>& base, quint64 baseRevision, std::vector<TaskItem> list);
        static SyncedTodos between(const TodoList& base, quint64 baseRevision, std::vector<TaskItem> list);
    };
    FileWrite takeTodosFromSync(SyncedTodos& synced);
    // The same for a list made here, from the list held now.
    FileWrite replaceTodosFromSync(const std::vector<TaskItem>& list);
    // Writes the file again on the writing thread when its last write there failed.
    void retryUnwrittenFile();
    size_t todosCompared() const;

    static inline const QString fileName = QStringLiteral("todos.json");

signals:
    void todosChanged();
    void focusTodoIDChanged();

private:
    // A change of the list as the writing thread's copy of it takes it: the whole list, or one
    // to-do put first, to-dos replaced in place, or to-dos removed from their places.
    struct Edit {
        std::shared_ptr<const std::vector<TaskItem>> whole;
        size_t baseSize = 0; // the length of the list it changes
        std::optional<TaskItem> inserted;
        std::vector<std::pair<size_t, TaskItem>> replaced;
        std::vector<std::pair<size_t, QUuid>> removed; // ascending
        // Onto the writer's list; false, with the list unchanged, when it is not the list changed.
        bool applyTo(TodosFileWriter& writer) const;
    };
    // The same change as it is taken back here, while its write has no outcome yet.
    struct Change {
        quint64 generation = 0;
        std::optional<QUuid> inserted;
        std::vector<std::pair<size_t, TaskItem>> replacedBefore;
        std::vector<std::pair<size_t, TaskItem>> removed; // ascending
        std::optional<SeriesPass::Marks> marks;
        bool push = false; // the sync uploads it once it is on disk
    };

    Date now() const;
    Date stamp() const;
    Calendar calendar() const;
    // The place of the to-do with `id` in the order seen, if it is held.
    std::optional<size_t> findTodo(const QUuid& id) const;
    void setTodos(std::vector<TaskItem> todos);
    // True, with the message in lastError, when the file may not be written over.
    bool refuseSave();
    // Sends the change, made in the list already, to the writing thread, and announces it.
    bool commit(Change change, Edit edit, bool sync);
    static QSet<QUuid> touchedBy(const Change& change);
    void takeBack(Change& change);
    bool writeOutcome(quint64 generation, bool newest, bool ok);
    void recordPendingTaskDeletes(const QSet<QUuid>& ids);
    void removeReminders(const QSet<QUuid>& ids);

    StoreCore& m_core;
    SeriesPass& m_series;
    TodoList m_todos;
    quint64 m_revision = 0;
    std::optional<QUuid> m_focusTodoID;
    // What the change about to be announced touches (none: not told), and the ids of the changes
    // since `m_changesFrom`, by revision.
    std::optional<QSet<QUuid>> m_touching;
    std::vector<std::pair<quint64, QUuid>> m_changes;
    quint64 m_changesFrom = 0;

    // The file's writer keeps the text and the list of what it wrote last; its encodings run on
    // the writing thread as well as here, one at a time under the lock. The writing thread
    // changes its list by the edits waiting here, in order; here it is used only once no write of
    // the file is on its way there. The edits have a lock of their own: one is queued here while
    // the writing thread encodes a long list.
    struct TodosEncoding {
        std::mutex mutex;
        TodosFileWriter writer;
        std::mutex pendingMutex;
        std::vector<Edit> pending;
    };
    std::shared_ptr<TodosEncoding> m_todosEncoding = std::make_shared<TodosEncoding>();
    // Whether the writer's list, once the edits waiting are made, is the list held here: only
    // then can a change be sent as an edit rather than as the whole list.
    bool m_writerInStep = false;
    std::vector<Change> m_unconfirmed; // sent, their write without outcome yet; oldest first
    // The newest write of a whole list here (a sync's) that is not known to be on disk, if any:
    // the ground the changes are taken back to is then not on disk either.
    quint64 m_wholeUnconfirmed = 0;
    // The text of `list` by that writer, made here.
    QByteArray todosText(const std::vector<TaskItem>& list);
    // Queues an edit and a write of the file on the writing thread, encoded there.
    FileWrite writeInBackground(Edit edit);
};
