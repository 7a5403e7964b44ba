#pragma once

#include "store/CloudSync.h"
#include "store/StorageService.h"
#include "sync/SyncBookkeeping.h"
#include "sync/SyncEnvironment.h"
#include "sync/SyncMerge.h"
#include "sync/SyncRun.h"
#include "system/MemoryReturn.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>

class Defaults;

// Two-way sync of the store's to-dos and notes with the record store, shared with the phone app.
// Owns the triggers, the state the Settings page shows, and the texts and retries of a run's
// outcome; each run is a SyncRun. Main thread only; every trigger ends in syncNow(), which never
// lets two runs overlap.
class SyncService : public CloudSync, private SyncRun::Reports {
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

    static inline const QString& knownTasksKey = SyncBookkeeping::knownTasksKey;
    static inline const QString& knownNotesKey = SyncBookkeeping::knownNotesKey;
    static inline const QString& pendingTaskDeletes = SyncBookkeeping::pendingTaskDeletes;
    static inline const QString& pendingNoteDeletes = SyncBookkeeping::pendingNoteDeletes;
    static inline const QString& accountKeyKey = SyncBookkeeping::accountKeyKey;
    static inline const QString& lastSuccessKey = SyncBookkeeping::lastSuccessKey;
    static inline const QString& manifestRecordName = SyncRun::manifestRecordName;
    static inline const QString& manifestRecordType = SyncRun::manifestRecordType;

    static constexpr int refreshIntervalSeconds = 300;
    static constexpr int pushDelayMilliseconds = 1000;

    // ---- the store's hooks
    void schedulePush() override;
    QSet<QUuid> idSet(const QString& key) const override;
    void noteDeleted(const QUuid& id) override;
    void tasksDeleted(const QSet<QUuid>& ids) override;
    void tasksKept(const QSet<QUuid>& ids) override;
    QString pendingTaskDeletesKey() const { return pendingTaskDeletes; }
    QString pendingNoteDeletesKey() const { return pendingNoteDeletes; }
    Defaults& defaults() const { return m_bookkeeping.preferences(); }
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
    QCoro::Task<> runCoalesced();
    QCoro::Task<> performSync();
    void giveBackMemory();
    void laterWriteFailed(const QString& message);
    Date now() const;

    // ---- what a run reports
    void runStarted() override;
    void accountStatusRead(int status) override;
    void runSucceeded(int tasks, int notes, int uploaded) override;
    void runFailed(const RecordError& error) override;

    void setSyncing(bool value);
    void setStatusMessage(const QString& text);
    void setLastError(const std::optional<QString>& text);
    void setSyncAvailable(bool value);

    QPointer<StorageService> m_storage;
    SyncEnvironment m_env;
    SyncBookkeeping m_bookkeeping;
    SyncRun::Memory m_runMemory;
    bool m_isSyncing = false;
    QString m_statusMessage;
    std::optional<QString> m_lastError;
    bool m_isSyncAvailable = false;
    bool m_syncRequestedWhileRunning = false;
    bool m_started = false;
    QTimer m_pushTimer;
    QTimer m_refreshTimer;
    QTimer m_retryTimer;
    QTimer m_giveBackTimer;
    bool m_giveBackDue = false;
    std::unique_ptr<MemoryReleaser> m_ownReleaser;
    MemoryReleaser* m_releaser = nullptr;
    // Turns false when this goes: a run suspended in a request then ends without touching it.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
