#pragma once

#include "model/BlockRule.h"
#include "model/Calendar.h"
#include "model/DoomScroll.h"
#include "model/FileStore.h"
#include "model/Note.h"
#include "model/SharedState.h"
#include "model/TaskItem.h"
#include "store/BlockingStore.h"
#include "store/CloudSync.h"
#include "store/NoteStore.h"
#include "store/Reminders.h"
#include "store/SeriesPass.h"
#include "store/StoreCore.h"
#include "store/TodoStore.h"

#include <QObject>
#include <limits>
#include <optional>
#include <vector>

// The one owner of all user data while the application runs, and the one face of it the rest of
// the program sees: the to-dos, the notes, the series pass and the blocking state are kept by
// parts of their own behind it. Main thread only.
class StorageService : public QObject {
    Q_OBJECT
public:
    // With no FileStore the default data folder is used (and created); the store is loaded and
    // its observers installed when the constructor returns. Check fatalError() before use.
    StorageService(std::optional<FileStore> fileStore, StorageEnvironment environment, QObject* parent = nullptr);
    ~StorageService() override;

    // Set when no data folder at all could be made: the application cannot keep data.
    const QString& fatalError() const { return m_core.fatalError(); }

    const std::vector<TaskItem>& todos() const { return m_todos.todos(); }
    const std::vector<Note>& notes() const { return m_notes.notes(); }
    const std::vector<BlockRule>& rules() const { return m_blocking.rules(); }
    const SharedState& state() const { return m_blocking.state(); }
    const DoomScrollConfig& doomScrollConfig() const { return m_blocking.doomScrollConfig(); }
    std::optional<QString> lastError() const { return m_core.lastError(); }
    // The settings screen may dismiss the message; it comes back with the next failure.
    void setLastError(const std::optional<QString>& message) { m_core.setLastError(message); }
    std::optional<QUuid> focusTodoID() const { return m_todos.focusTodoID(); }
    void setFocusTodoID(const std::optional<QUuid>& id) { m_todos.setFocusTodoID(id); }
    const FileStore& fileStore() const { return m_core.fileStore(); }

    void setCloudSync(CloudSync* sync) { m_core.setCloudSync(sync); }
    CloudSync* cloudSync() const { return m_core.cloudSync(); }

    // --- files
    bool saveTodos(bool sync) { return m_todos.saveTodos(sync); }
    bool saveNotes(bool sync) { return m_notes.saveNotes(sync); }

    // --- to-dos
    // The day's to-dos in display order; only the first `first` of them when given.
    std::vector<TaskItem> todayTodos(size_t first = std::numeric_limits<size_t>::max()) const
    {
        return m_todos.todayTodos(first);
    }
    // The same as places in todos(), which hold until the to-dos next change.
    std::vector<const TaskItem*> todayOrder(size_t first = std::numeric_limits<size_t>::max()) const
    {
        return m_todos.todayOrder(first);
    }
    std::vector<TaskItem> openTodos() const { return m_todos.openTodos(); }
    std::optional<TaskItem> focusTodo() const { return m_todos.focusTodo(); }
    std::vector<TaskItem> earlierTodos() const { return m_todos.earlierTodos(); }
    std::vector<TaskItem> todos(Date onDay) const { return m_todos.todos(onDay); } // any day the user picks
    static void sortTodos(std::vector<TaskItem>& list) { TaskItem::sortForDisplay(list); }
    void advanceFocus() { m_todos.advanceFocus(); }
    // Every change of the data is written at once, the to-dos on the writing thread. One that may
    // not be written answers false; one the disk refuses is undone in memory, at once or when the
    // refusal comes (changeTakenBack), with the message in lastError(): what the store holds is
    // what is on disk.
    bool addTodo(const TaskItem& todo) { return m_todos.addTodo(todo); }
    bool toggleTodo(const QUuid& id) { return m_todos.toggleTodo(id); }
    bool toggleSubtask(const QUuid& todoId, const QUuid& subtaskId) { return m_todos.toggleSubtask(todoId, subtaskId); }
    bool upsertTodo(const TaskItem& todo) { return m_todos.upsertTodo(todo); }
    bool moveTodoToToday(const QUuid& id) { return m_todos.moveTodosToToday({id}); }
    // The same for every to-do of `ids` that exists, as one change: one save, one push.
    bool moveTodosToToday(const std::vector<QUuid>& ids) { return m_todos.moveTodosToToday(ids); }
    bool deleteTodo(const TaskItem& todo) { return m_todos.deleteTodo(todo); }
    // The list takes effect at once and its file is written on the writing thread; a file that
    // may not be written over refuses it (with the reason) and nothing changes. A
    // failed write keeps the list, shows in lastError, emits backgroundWriteFailed, and is retried
    // by the next save or by retryUnwrittenFiles(). The sync's records hold it meanwhile.
    FileWrite replaceTodosFromSync(const std::vector<TaskItem>& list);
    // A list made elsewhere from the list the store held then (`base`), with what a take-in needs
    // worked out beside it, so that taking it in costs the main thread little.
    using SyncedTodos = TodoStore::SyncedTodos;
    // Takes such a list in as replaceTodosFromSync does, in one step. Refused when the to-dos
    // changed since `base` was taken (a local edit is never overwritten) or when the file may not
    // be written over. On success `synced.list` holds the list the store held before, for the
    // caller to free where it likes.
    FileWrite takeTodosFromSync(SyncedTodos& synced) { return m_todos.takeTodosFromSync(synced); }
    // Changes with every change of the to-dos (or of the notes): a list made from them is still
    // current while this has not moved.
    quint64 todosRevision() const { return m_todos.revision(); }
    std::optional<QSet<QUuid>> todosChangedSince(quint64 revision) const { return m_todos.changedSince(revision); }
    quint64 notesRevision() const { return m_notes.revision(); }

    // --- notes
    bool upsertNote(const Note& note) { return m_notes.upsertNote(note); }
    bool deleteNote(const QUuid& id) { return m_notes.deleteNote(id); }
    FileWrite replaceNotesFromSync(const std::vector<Note>& list) { return m_notes.replaceNotesFromSync(list); }
    static void sortNotes(std::vector<Note>& list) { NoteStore::sortNotes(list); }

    // How many to-dos the last text of the to-dos compared with the ones its writer kept (tests
    // count the work of a save with it).
    size_t todosCompared() const { return m_todos.todosCompared(); }

    // --- writes on the writing thread
    // Returns once no data file is being written there, with the outcomes taken in.
    void waitForWrites() { m_core.waitForWrites(); }
    // Writes again there the files whose last write there failed.
    void retryUnwrittenFiles();
    // Finishes once every write of the to-dos and notes asked of the writing thread has its
    // outcome; then unwrittenLists() names one that failed, with the reason, or none.
    QFuture<void> whenListsWritten() { return m_core.whenWritten({todosFile, notesFile}); }
    std::optional<QString> unwrittenLists() const
    {
        if (std::optional<QString> todos = m_core.unwrittenReason(todosFile))
            return todos;
        return m_core.unwrittenReason(notesFile);
    }

    // --- repeating series
    QSet<QUuid> recurringSeriesIDs(const QString& key) const { return m_series.recurringSeriesIDs(key); }
    void storeRecurringSeries(const QSet<QUuid>& stopped, const QSet<QUuid>& deleted)
    {
        m_series.storeRecurringSeries(stopped, deleted);
    }
    bool rollOverRecurringTodos(Date now) { return m_todos.rollOverRecurringTodos(now); }
    static inline const QString& stoppedSeriesKey = SeriesPass::stoppedSeriesKey;
    static inline const QString& deletedSeriesKey = SeriesPass::deletedSeriesKey;

    // --- blocking state
    void handleClockEvent();
    void normalizeSharedState() { m_blocking.normalizeSharedState(); }
    void refreshBlockingState() { m_blocking.refreshBlockingState(); }
    bool saveState() { return m_blocking.saveState(); }
    // The boundary the pending timer waits for (tests look at it instead of waiting).
    std::optional<Date> scheduledBoundary() const { return m_blocking.scheduledBoundary(); }
    int boundaryTimerInterval() const { return m_blocking.boundaryTimerInterval(); }
    // How often a refresh worked out the next boundary rather than reusing the one it had.
    int boundaryComputations() const { return m_blocking.boundaryComputations(); }

    // --- usage and breaks
    void recordUsage(const BlockRule& rule, qint64 seconds) { m_blocking.recordUsage(rule, seconds); }
    void recordDoomScrollUsage(qint64 seconds) { m_blocking.recordDoomScrollUsage(seconds); }
    bool startUrgentBreak(const QUuid& ruleId, double fallbackSeconds = UrgentBreakState::defaultFallbackSeconds)
    {
        return m_blocking.startUrgentBreak(ruleId, fallbackSeconds);
    }
    void resumeBlocking() { m_blocking.resumeBlocking(); }

    // --- rule and doom-scroll settings
    bool isDomainFree(const QString& domain, const std::optional<QUuid>& excluding) const
    {
        return m_blocking.isDomainFree(domain, excluding);
    }
    // "rules.json" held rules that could not be read at start: they were left out, and the file
    // as it was is kept aside beside the data.
    bool rulesSetAside() const { return m_blocking.rulesSetAside(); }
    // Each is true only when the change was accepted and "rules.json" written; a refusal or a
    // failed write answers false (the message is in lastError()) and leaves the rules as they
    // were, so a screen never says "Saved" for a change that is not on disk.
    bool addRule(const BlockRule& rule) { return m_blocking.addRule(rule); }
    bool updateRule(const BlockRule& rule) { return m_blocking.updateRule(rule); }
    bool removeRule(const QUuid& id) { return m_blocking.removeRule(id); }
    bool updateDoomScrollConfig(const DoomScrollConfig& config) { return m_blocking.updateDoomScrollConfig(config); }

    Reminders& reminders() { return m_core.reminders(); }

    static inline const QString& todosFile = TodoStore::fileName;
    static inline const QString& notesFile = NoteStore::fileName;
    static inline const QString& rulesFile = BlockingStore::rulesFile;
    static inline const QString& doomScrollFile = BlockingStore::doomScrollFile;
    static inline const QString& stateFile = BlockingStore::stateFile;
    static inline const QString pendingNotificationsFile = QStringLiteral("pending-notifications.json");

signals:
    void todosChanged();
    void notesChanged();
    void rulesChanged();
    void stateChanged();
    void doomScrollConfigChanged();
    void lastErrorChanged();
    void focusTodoIDChanged();
    // Each new problem with the data files, once, with the file it concerns (an unreadable file
    // kept aside, a file that cannot be written, a data folder that cannot be used). Delivered in
    // a later turn of the event loop, so the problems of the start-up reach whoever connects
    // right after construction.
    void problemReported(const QString& path, const QString& message);
    // A data file written on the writing thread was not written; its data is still here.
    void backgroundWriteFailed(const QString& message);
    // A change of a person's, already shown, was refused by the disk and taken back; lastError()
    // says why.
    void changeTakenBack(const QString& file);

private:
    void load();
    void installObservers();

    // First, so that it outlives every part that leans on it.
    StoreCore m_core;
    SeriesPass m_series{m_core};
    TodoStore m_todos{m_core, m_series};
    NoteStore m_notes{m_core};
    BlockingStore m_blocking{m_core};
};
