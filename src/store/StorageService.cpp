#include "store/StorageService.h"

#include "model/Json.h"
#include "model/LenientJson.h"
#include "model/TodosFileReading.h"
#include "platform/Defaults.h"
#include "platform/FileSafety.h"
#include "platform/SystemEvents.h"
#include "store/CloudSync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

StorageService::StorageService(std::optional<FileStore> fileStore, StorageEnvironment environment, QObject* parent)
    : QObject(parent), m_core(std::move(environment))
{
    connect(&m_core, &StoreCore::lastErrorChanged, this, &StorageService::lastErrorChanged);
    connect(&m_core, &StoreCore::problemReported, this, &StorageService::problemReported);
    connect(&m_core, &StoreCore::backgroundWriteFailed, this, &StorageService::backgroundWriteFailed);
    connect(&m_todos, &TodoStore::todosChanged, this, &StorageService::todosChanged);
    connect(&m_todos, &TodoStore::focusTodoIDChanged, this, &StorageService::focusTodoIDChanged);
    connect(&m_notes, &NoteStore::notesChanged, this, &StorageService::notesChanged);
    m_state = SharedState::fresh(now(), calendar());
    m_boundaryTimer.setSingleShot(true);
    m_boundaryTimer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire early
    connect(&m_boundaryTimer, &QTimer::timeout, this, &StorageService::onBoundaryTimer);
    if (!m_core.chooseDataDirectory(std::move(fileStore)))
        return;
    m_statePath = m_core.fileStore().filePath(stateFile);
    load();
    installObservers();
}

StorageService::~StorageService() = default;

std::optional<StorageService::FileIdentity> StorageService::fileIdentity(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileIdentity{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino),
                        static_cast<qint64>(info.st_size), static_cast<qint64>(info.st_mtim.tv_sec),
                        static_cast<qint64>(info.st_mtim.tv_nsec)};
}

void StorageService::load()
{
    m_core.setLoading(true);
    m_core.prepareFolder({todosFile, notesFile, rulesFile, doomScrollFile, stateFile, pendingNotificationsFile});
    QStringList unreadable;
    // What another thread already read and decoded is taken as it is, unless the file changed since.
    std::optional<PrereadTodos> earlyTodos =
        m_core.env().preread ? m_core.env().preread->takeTodos(m_core.fileStore().filePath(todosFile)) : std::nullopt;
    std::optional<PrereadFile<Note>> earlyNotes =
        m_core.env().preread ? m_core.env().preread->takeNotes(m_core.fileStore().filePath(notesFile)) : std::nullopt;
    const quint64 loadedUses = m_todos.load(unreadable, std::move(earlyTodos));
    m_notes.load(unreadable, std::move(earlyNotes));
    m_rules = m_core.loadList<BlockRule>(QStringLiteral("block rules"), rulesFile, decodeBlockRule, unreadable);
    m_rulesSetAside = unreadable.contains(QStringLiteral("block rules"));
    ++m_rulesGeneration;

    m_core.fileStore().removeLegacyGoalsFile();
    std::optional<WallClockCheck> check;
    QByteArray stateText;
    if (auto loaded = m_core.fileStore().loadSharedState(now(), calendar(), nullptr, &check, &stateText)) {
        m_state = *loaded;
        // Only a file in exactly the form this store writes counts as already written.
        if (!stateText.isEmpty() && stateFileText(m_state, check) == stateText)
            m_stateOnDisk = StateOnDisk{m_state, check, fileIdentity(m_statePath)};
        // Only readings of this same boot can tell how much time really passed since the last run.
        const QString boot = m_core.env().monotonic->bootId();
        if (check && !boot.isEmpty() && check->bootId == boot) {
            m_lastClockReading = ClockReading{check->wallTime, check->bootSeconds};
            m_dayOffset = check->dayOffset;
        }
    } else {
        m_core.backupUnreadableFile(stateFile);
        // The state is rebuilt every day anyway; losing today's counters is better than not starting.
        m_core.forgiveUnbacked(stateFile);
        m_state = SharedState::fresh(now(), calendar());
    }

    const QString doomPath = m_core.fileStore().filePath(doomScrollFile);
    m_doomScrollConfig = DoomScrollConfig::defaults();
    if (QFileInfo::exists(doomPath)) {
        QFile file(doomPath);
        std::optional<DoomScrollConfig> config;
        if (file.open(QIODevice::ReadOnly)) {
            QJsonParseError parseError{};
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
            if (parseError.error == QJsonParseError::NoError && doc.isObject())
                config = decodeDoomScrollConfig(doc.object());
        }
        if (config) {
            m_doomScrollConfig = *config;
        } else {
            m_core.backupUnreadableFile(doomScrollFile);
            unreadable.append(QStringLiteral("Doom Scroll settings"));
        }
    }

    m_todos.rollOverRecurringTodos(now());
    // The writer holds the text just read, of the to-dos as loaded, unless the roll-over used it.
    m_todos.keepLoadedText(loadedUses);

    normalizeSharedState();
    refreshBlockingState();

    if (!unreadable.isEmpty()) {
        QString message = QStringLiteral("Some saved %1 couldn't be read. A backup copy was kept next to your data.")
                              .arg(unreadable.join(QStringLiteral(", ")));
        QStringList unbacked;
        for (const QString& name : {todosFile, notesFile, rulesFile, doomScrollFile})
            if (m_core.isUnbacked(name))
                unbacked.append(name);
        if (!unbacked.isEmpty())
            message = QStringLiteral("Some saved %1 couldn't be read, and no backup copy could be made of %2. "
                                     "Those files are left untouched.")
                          .arg(unreadable.join(QStringLiteral(", ")), unbacked.join(QStringLiteral(", ")));
        m_core.recordFailure(StoreCore::loadNoticeSource, message);
    }
    m_core.setLoading(false);
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

void StorageService::setState(const SharedState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void StorageService::handleClockEvent()
{
    if (m_todos.rollOverRecurringTodos(now()) && m_core.cloudSync())
        m_core.cloudSync()->schedulePush();
    refreshBlockingState();
}

// The sync hears why a list was not taken in; its callers predate the parts' results.
namespace {
bool answer(const FileWrite& written, QString* error)
{
    if (!written && error)
        *error = written.error;
    return bool(written);
}
} // namespace

bool StorageService::replaceTodosFromSync(const std::vector<TaskItem>& list, QString* error)
{
    SyncedTodos synced = SyncedTodos::between(m_todos.todos(), m_todos.revision(), list);
    return takeTodosFromSync(synced, error);
}

bool StorageService::takeTodosFromSync(SyncedTodos& synced, QString* error)
{
    return answer(m_todos.takeTodosFromSync(synced), error);
}

bool StorageService::replaceNotesFromSync(const std::vector<Note>& list, QString* error)
{
    return answer(m_notes.replaceNotesFromSync(list), error);
}

void StorageService::retryUnwrittenFiles()
{
    m_todos.retryUnwrittenFile();
    m_notes.retryUnwrittenFile();
}
