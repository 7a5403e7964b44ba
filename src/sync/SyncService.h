#pragma once

#include "store/CloudSync.h"
#include "sync/SyncMerge.h"

#include <QHash>
#include <QSet>
#include <QUuid>
#include <vector>

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "model/Calendar.h"
#include "platform/MemoryReturn.h"
#include "store/StorageService.h"
#include "sync/ManifestPages.h"
#include "sync/RecordStore.h"

class Defaults;
class SystemEvents;

// The record database as the sync sees it: a store (none: this build cannot sync), the clock and
// calendar, the system events whose wake starts a run, and the name of the environment.
struct SyncEnvironment {
    RecordStore* recordStore = nullptr;
    const Clock* clock = nullptr;
    std::function<Calendar()> calendar;
    SystemEvents* events = nullptr;
    QString environment = QStringLiteral("unknown");
    // Where a run's data is freed and its pages given back; none: the service's own.
    MemoryReleaser* releaser = nullptr;
    // Where the sets of ids known in the record store are kept: tens of thousands of ids, in a
    // file of their own so that no other preference's write carries them. None: the preferences.
    Defaults* knownIds = nullptr;
    // The bytes of ids one manifest record may hold before the ids are spread over more.
    qsizetype manifestPageBudget = ManifestPages::defaultPageBudget;
};

// The manifest as read, every page of it: whether it exists, the listed item ids (each once), and
// the series every device stopped or deleted.
struct SyncManifest {
    bool exists = false;
    std::vector<QUuid> taskIds;
    std::vector<QUuid> noteIds;
    QSet<QUuid> stoppedSeriesIds;
    QSet<QUuid> deletedSeriesIds;
};

// Two-way sync of the store's to-dos and notes with the record store, shared with the phone app.
// Main thread only; every trigger ends in syncNow(), which never lets two runs overlap.
class SyncService : public CloudSync {
    Q_OBJECT
    Q_PROPERTY(bool isSyncing READ isSyncing NOTIFY isSyncingChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    // Empty when there is none.
    Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)
    Q_PROPERTY(bool isSyncAvailable READ isSyncAvailable NOTIFY isSyncAvailableChanged)
public:
    SyncService(StorageService* storage, Defaults& defaults, SyncEnvironment environment = {},
                QObject* parent = nullptr);
    ~SyncService() override;

    static inline const QString knownTasksKey = QStringLiteral("sync.knownRemoteTaskIds.v1");
    static inline const QString knownNotesKey = QStringLiteral("sync.knownRemoteNoteIds.v1");
    static inline const QString pendingTaskDeletes = QStringLiteral("sync.pendingTaskDeletes.v1");
    static inline const QString pendingNoteDeletes = QStringLiteral("sync.pendingNoteDeletes.v1");
    static inline const QString accountKeyKey = QStringLiteral("sync.accountKey.v1");
    static inline const QString lastSuccessKey = QStringLiteral("sync.lastSuccessAt.v1");
    static inline const QString manifestRecordName = QStringLiteral("qh-sync-manifest");
    static inline const QString manifestRecordType = QStringLiteral("QHSyncManifest");

    static constexpr int refreshIntervalSeconds = 300;
    static constexpr int pushDelayMilliseconds = 1000;
    static constexpr int deleteChunk = 200;
    static constexpr int fetchChunk = 100;
    static constexpr int saveChunk = 200;
    // To-dos copied for a run in one turn of the event loop.
    static constexpr size_t copySlice = 4000;

    // ---- the store's hooks
    void schedulePush() override;
    QSet<QUuid> idSet(const QString& key) const override;
    void noteDeleted(const QUuid& id) override;
    void tasksDeleted(const QSet<QUuid>& ids) override;
    QString pendingTaskDeletesKey() const { return pendingTaskDeletes; }
    QString pendingNoteDeletesKey() const { return pendingNoteDeletes; }
    Defaults& defaults() const { return m_defaults; }
    bool isPushPending() const { return m_pushTimer.isActive(); }

    // ---- observable state
    bool isSyncing() const { return m_isSyncing; }
    const QString& statusMessage() const { return m_statusMessage; }
    const std::optional<QString>& lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastError.value_or(QString()); }
    bool isSyncAvailable() const { return m_isSyncAvailable; }
    bool isCloudSyncAvailable() const { return m_env.recordStore != nullptr; }

    // ---- triggers
    // The first run, the refresh timer and the run after wake; once, and only when a store exists.
    void start();
    // Runs now, or once more after the run in progress; never two at a time.
    void syncNow();

    // The timers, for the tests that check what is pending without waiting for it.
    const QTimer& pushTimer() const { return m_pushTimer; }
    const QTimer& refreshTimer() const { return m_refreshTimer; }
    const QTimer& retryTimer() const { return m_retryTimer; }

    // ---- texts and retries
    static QString syncDescription(int accountStatus);
    static QString userMessage(const RecordError& error);
    // What a run that finished says of the records it could not read and so left alone.
    static QString unreadableItemsText(int count);
    // Seconds until an automatic retry after this failure, or none.
    static std::optional<int> retryDelaySeconds(const RecordError& error);
    void scheduleRetry(const RecordError& error);
    QString lastSyncedText(Date date) const;

signals:
    void isSyncingChanged();
    void statusMessageChanged();
    void lastErrorChanged();
    void isSyncAvailableChanged();
    void pushScheduled();
    void syncRunStarted();
    // A run (and the runs coalesced after it) ended; tests wait for this.
    void syncFinished();

private:
    struct DeletedIds {
        QSet<QUuid> tasks;
        QSet<QUuid> notes;
    };

    QCoro::Task<> runCoalesced();
    QCoro::Task<> performSync();
    QCoro::Task<> checkAccountKey();
    QCoro::Task<SyncManifest> fetchManifest();
    // The manifest's records, page 0 first, a page not stored as none; none at all: no manifest.
    QCoro::Task<std::vector<std::optional<CloudRecord>>> fetchManifestPages();
    // Reads the id sets of `keys` not read yet on a worker: tens of thousands of texts each.
    QCoro::Task<> readIdSets(QStringList keys);
    QCoro::Task<> saveManifest(QSet<QUuid> taskIds, QSet<QUuid> noteIds, QSet<QUuid> removedTaskIds,
                               QSet<QUuid> removedNoteIds, QSet<QUuid> stoppedSeriesIds, QSet<QUuid> deletedSeriesIds);
    QCoro::Task<DeletedIds> pushPendingDeletes();
    QCoro::Task<std::vector<CloudRecord>> fetchRecords(std::vector<QUuid> ids);
    QCoro::Task<> saveRecords(std::vector<CloudRecord> records);
    template <typename T> QCoro::Task<T> answer(QFuture<StoreAnswer<T>> future);
    // Thrown when the service or its store went away while a request was out: the run just ends.
    struct RunAbandoned {};

    void failRun(const RecordError& error);
    void laterWriteFailed(const QString& message);
    void clearPendingDeletes(const QSet<QUuid>& tasks, const QSet<QUuid>& notes);
    void writeIdSet(const QString& key, const QSet<QUuid>& ids);
    // One id set to write: `ids`, or `ids` added to the stored set.
    struct IdSetWrite {
        QString key;
        QSet<QUuid> ids;
        bool addToStored = false;
    };
    // Writes sets of tens of thousands of ids, each only if it changed, in one write of the
    // preferences made on the writing thread: joining, comparing, sorting and encoding them is
    // done on a worker. Only for sets nobody but a run writes.
    QCoro::Task<> writeIdSets(std::vector<IdSetWrite> writes);
    void addToIdSet(const QString& key, const QSet<QUuid>& ids);
    static QSet<QUuid> recordIdSet(const std::vector<CloudRecord>& records);
    Date now() const;

    void setSyncing(bool value);
    void setStatusMessage(const QString& text);
    void setLastError(const std::optional<QString>& text);
    void setSyncAvailable(bool value);

    QPointer<StorageService> m_storage;
    Defaults& m_defaults;
    Defaults& m_known; // the known sets' own file, or m_defaults
    // The preferences that hold `key`.
    Defaults& storeOf(const QString& key) const;
    SyncEnvironment m_env;
    bool m_isSyncing = false;
    QString m_statusMessage;
    std::optional<QString> m_lastError;
    bool m_isSyncAvailable = false;
    bool m_syncRequestedWhileRunning = false;
    void giveBackMemory();
    std::unique_ptr<MemoryReleaser> m_ownReleaser;
    MemoryReleaser* m_releaser = nullptr;
    struct MergeWork;
    struct UploadWork;
    bool m_started = false;
    QTimer m_pushTimer;
    QTimer m_refreshTimer;
    QTimer m_retryTimer;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Where a run left both sides in step: the record store's change stamp read before its reads,
    // and the count of local changes when it took the lists it uploaded from. While neither moved,
    // a run has nothing to fetch, merge or send. Kept in memory only: a start reads everything.
    struct Settled {
        QString accountKey;
        QString stamp;
        quint64 localChanges = 0;
    };
    std::optional<Settled> m_settled;
    quint64 m_localChanges = 0; // every change of the store's to-dos or notes
    QString m_accountKey;       // as the last account check found it
    struct SeriesCheck;
    struct ManifestMerge;
    // Runs `work` on a worker thread; the run resumes on its own thread once it is done.
    static QFuture<void> onWorker(std::function<void()> work);
    // Finishes in the next turn of this thread's event loop: what follows runs in a slice of its own.
    static QFuture<void> nextTurn();
    // Drops what `data` holds on the releaser's worker: freeing a run's records takes the main
    // thread too long, and the pages are given back only once it is done. Handed over a turn
    // later: until a run's scope ends its frame may still hold copies (of the arguments of what it
    // awaited), and the last reference must not be the one dropped here.
    template <typename T> void releaseOnWorker(std::shared_ptr<T> data)
    {
        QMetaObject::invokeMethod(
            this, [this, data = std::move(data)]() mutable { m_releaser->release(std::move(data)); },
            Qt::QueuedConnection);
    }
    QCoro::Task<bool> stillSettled(QString stamp);
    // The store's lists as one moment saw them, with their revisions and the count of local
    // changes then.
    struct LocalLists {
        std::vector<TaskItem> todos;
        std::vector<Note> notes;
        quint64 todosRevision = 0, notesRevision = 0, localChanges = 0;
    };
    // Copies them a slice of to-dos per turn of the event loop, so that no turn holds the main
    // thread for all of them; a copy the store changed under starts over (the third time, it is
    // made in one turn).
    QCoro::Task<LocalLists> copyLocalLists();
    void finishRun(int tasks, int notes, int uploaded);
    // Records the last full run fetched and could not read: still there while the run is settled.
    int m_unreadableItems = 0;
    // The id sets as last read; a run reads the large known sets several times.
    mutable QHash<QString, QSet<QUuid>> m_idSets;
};

// Awaits one answer of the record store: its value, or its error thrown to the run.
template <typename T> QCoro::Task<T> SyncService::answer(QFuture<StoreAnswer<T>> future)
{
    const std::shared_ptr<bool> alive = m_alive;
    // Waited for without copying the answer: it is taken out of the future, which would otherwise
    // free its own copy on this thread later.
    const QFuture<void> done(future);
    co_await done;
    if (!*alive || !m_storage)
        throw RunAbandoned{};
    StoreAnswer<T> reply = future.takeResult();
    if (reply.error)
        throw *reply.error;
    co_return std::move(reply.value);
}
