#include "store/StorageService.h"

#include "model/Json.h"
#include "platform/SystemEvents.h"

StorageService::StorageService(std::optional<FileStore> fileStore, StorageEnvironment environment, QObject* parent)
    : QObject(parent), m_core(std::move(environment))
{
    connect(&m_blocking, &BlockingStore::clockEventDue, this, &StorageService::handleClockEvent);
    if (!m_core.chooseDataDirectory(std::move(fileStore)))
        return;
    load();
    installObservers();
}

StorageService::~StorageService()
{
    // No word of the reading may come to a store that is gone.
    if (!m_todosLoaded && m_core.env().preread)
        m_core.env().preread->whenTodosRead({});
}

void StorageService::load()
{
    m_core.setLoading(true);
    m_core.prepareFolder({TodoStore::fileName, NoteStore::fileName, BlockingStore::rulesFile,
                          BlockingStore::doomScrollFile, BlockingStore::stateFile, pendingNotificationsFile});
    // What another thread already read and decoded is taken as it is, unless the file changed since.
    const StorageEnvironment& env = m_core.env();
    const bool todosLater = env.preread && env.todosLater;
    quint64 loadedUses = 0;
    if (!todosLater)
        loadedUses = m_todos.load(m_unreadable,
                                  env.preread ? env.preread->takeTodos(m_core.fileStore().filePath(TodoStore::fileName))
                                              : std::nullopt);
    std::optional<PrereadFile<Note>> earlyNotes =
        env.preread ? env.preread->takeNotes(m_core.fileStore().filePath(NoteStore::fileName)) : std::nullopt;
    m_notes.load(m_unreadable, std::move(earlyNotes));
    m_blocking.loadRules(m_unreadable);

    m_core.fileStore().removeLegacyGoalsFile();
    m_blocking.loadState();
    m_blocking.loadDoomScrollConfig(m_unreadable);

    if (!todosLater) {
        m_todos.rollOverRecurringTodos(m_core.now());
        // The writer holds the text just read, of the to-dos as loaded, unless the roll-over used it.
        m_todos.keepLoadedText(loadedUses);
        m_todosLoaded = true;
    }

    m_blocking.normalizeSharedState();
    m_blocking.refreshBlockingState();

    if (todosLater) {
        m_core.holdUntilLoaded(TodoStore::fileName);
        env.preread->whenTodosRead(
            [this] { QMetaObject::invokeMethod(this, &StorageService::todosRead, Qt::QueuedConnection); });
    } else {
        reportUnreadable();
    }
    m_core.setLoading(false);
}

void StorageService::loadTodos()
{
    if (m_todosLoaded)
        return;
    DataPreread* preread = m_core.env().preread;
    preread->whenTodosRead({});
    // A change refused meanwhile says so no longer: the next one is kept.
    m_core.clearFailure(TodoStore::fileName);
    m_core.setLoading(true);
    // Named first among the files that could not be read, as when everything is read at once.
    QStringList unreadable;
    const quint64 loadedUses =
        m_todos.load(unreadable, preread->takeTodos(m_core.fileStore().filePath(TodoStore::fileName)));
    m_unreadable = unreadable + m_unreadable;
    m_core.markLoaded(TodoStore::fileName);
    m_todosLoaded = true;
    m_todos.rollOverRecurringTodos(m_core.now());
    m_todos.keepLoadedText(loadedUses);
    reportUnreadable();
    m_core.setLoading(false);
    emit todosCameIn();
}

void StorageService::reportUnreadable()
{
    if (m_unreadable.isEmpty())
        return;
    QString message = QStringLiteral("Some saved %1 couldn't be read. A backup copy was kept next to your data.")
                          .arg(m_unreadable.join(QStringLiteral(", ")));
    QStringList unbacked;
    for (const QString& name :
         {TodoStore::fileName, NoteStore::fileName, BlockingStore::rulesFile, BlockingStore::doomScrollFile})
        if (m_core.isUnbacked(name))
            unbacked.append(name);
    if (!unbacked.isEmpty())
        message = QStringLiteral("Some saved %1 couldn't be read, and no backup copy could be made of %2. "
                                 "Those files are left untouched.")
                      .arg(m_unreadable.join(QStringLiteral(", ")), unbacked.join(QStringLiteral(", ")));
    m_core.recordFailure(StoreCore::loadNoticeSource, message);
    m_unreadable.clear();
}

void StorageService::installObservers()
{
    if (!m_core.env().events)
        return;
    // Queued: the work runs as its own main-thread task, never inside the sender's callback.
    for (auto signal : {&SystemEvents::dayChanged, &SystemEvents::clockChanged, &SystemEvents::timeZoneChanged,
                        &SystemEvents::didWake})
        connect(m_core.env().events, signal, this, &StorageService::handleClockEvent, Qt::QueuedConnection);
}

void StorageService::handleClockEvent()
{
    // To-dos still being read roll over as they are taken in.
    if (m_todosLoaded && m_todos.rollOverRecurringTodos(m_core.now()) && m_core.cloudSync())
        m_core.cloudSync()->schedulePush();
    m_blocking.refreshBlockingState();
}

std::optional<QString> StorageService::unwrittenLists() const
{
    if (std::optional<QString> todos = m_core.unwrittenReason(TodoStore::fileName))
        return todos;
    return m_core.unwrittenReason(NoteStore::fileName);
}

void StorageService::retryUnwrittenFiles()
{
    m_todos.retryUnwrittenFile();
    m_notes.retryUnwrittenFile();
}
