#pragma once

#include "store/CloudSync.h"

#include <QPointer>
#include <QTimer>

class Defaults;
class StorageService;

// Two-way sync of to-dos and notes. So far: the bookkeeping the store relies on and the push
// debounce; a run does not talk to any record store yet.
class CloudKitSyncService : public CloudSync {
    Q_OBJECT
public:
    CloudKitSyncService(StorageService* storage, Defaults& defaults, QObject* parent = nullptr);

    void schedulePush() override;
    QSet<QUuid> idSet(const QString& key) const override;
    void noteDeleted(const QUuid& id) override;
    QString pendingTaskDeletesKey() const override { return QStringLiteral("sync.pendingTaskDeletes.v1"); }
    QString pendingNoteDeletesKey() const { return QStringLiteral("sync.pendingNoteDeletes.v1"); }
    Defaults& defaults() const override { return m_defaults; }

    bool isPushPending() const { return m_pushTimer.isActive(); }

    void syncNow();
    // Starts the triggers of the sync runs; until the record store exists there is nothing to run.
    void start() {}

signals:
    void pushScheduled();
    void syncRunStarted();

private:
    void performSync();

    QPointer<StorageService> m_storage;
    Defaults& m_defaults;
    QTimer m_pushTimer;
};
