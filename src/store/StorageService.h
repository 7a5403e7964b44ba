#pragma once

#include "model/FileStore.h"
#include "store/BlockingStore.h"
#include "store/CloudSync.h"
#include "store/NoteStore.h"
#include "store/Reminders.h"
#include "store/SeriesPass.h"
#include "store/StoreCore.h"
#include "store/TodoStore.h"

#include <QObject>
#include <optional>

// The one owner of all user data while the application runs. It opens the data folder and
// loads every part from it; callers then hold the part whose data they need: the to-dos and the
// focus, the notes, the series pass, the blocking state, and the core that all of them write
// through (the folder, the last error, the reminders). What spans parts stays here. Main thread
// only.
class StorageService : public QObject {
    Q_OBJECT
public:
    // With no FileStore the default data folder is used (and created); the store is loaded and
    // its observers installed when the constructor returns, but for the to-dos when the
    // environment has them come later. Check core().fatalError() before use.
    StorageService(std::optional<FileStore> fileStore, StorageEnvironment environment, QObject* parent = nullptr);
    ~StorageService() override;

    StoreCore& core() { return m_core; }
    const StoreCore& core() const { return m_core; }
    TodoStore& todos() { return m_todos; }
    const TodoStore& todos() const { return m_todos; }
    NoteStore& notes() { return m_notes; }
    const NoteStore& notes() const { return m_notes; }
    SeriesPass& series() { return m_series; }
    const SeriesPass& series() const { return m_series; }
    BlockingStore& blocking() { return m_blocking; }
    const BlockingStore& blocking() const { return m_blocking; }

    // Whether the to-dos are taken in. Until then the list is empty and is not written.
    bool todosLoaded() const { return m_todosLoaded; }
    // Takes in the to-dos, waiting for their reading if need be; once.
    void loadTodos();

    // Writes again on the writing thread the to-dos and notes whose last write there failed.
    void retryUnwrittenFiles();
    // Finishes once every write of the to-dos and notes asked of the writing thread has its
    // outcome; then unwrittenLists() names one that failed, with the reason, or none.
    QFuture<void> whenListsWritten() { return m_core.whenWritten({TodoStore::fileName, NoteStore::fileName}); }
    std::optional<QString> unwrittenLists() const;

    // The roll-over of repeating to-dos, then the blocking state: what a new day, a changed
    // clock or zone, a wake or the boundary timer calls for.
    void handleClockEvent();

    static inline const QString pendingNotificationsFile = QStringLiteral("pending-notifications.json");

signals:
    // The to-dos are read: loadTodos() would not wait.
    void todosRead();
    void todosCameIn();

private:
    void load();
    void reportUnreadable();
    void installObservers();

    // First, so that it outlives every part that leans on it.
    StoreCore m_core;
    SeriesPass m_series{m_core};
    TodoStore m_todos{m_core, m_series};
    NoteStore m_notes{m_core};
    BlockingStore m_blocking{m_core};
    bool m_todosLoaded = false;
    QStringList m_unreadable;
};
