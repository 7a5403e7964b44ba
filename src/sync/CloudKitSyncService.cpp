#include "sync/CloudKitSyncService.h"

#include "model/Json.h"
#include "platform/Defaults.h"
#include "store/StorageService.h"

CloudKitSyncService::CloudKitSyncService(StorageService* storage, Defaults& defaults, QObject* parent)
    : CloudSync(parent), m_storage(storage), m_defaults(defaults)
{
    m_pushTimer.setSingleShot(true);
    m_pushTimer.setInterval(1000);
    connect(&m_pushTimer, &QTimer::timeout, this, &CloudKitSyncService::syncNow);
}

void CloudKitSyncService::schedulePush()
{
    // Restarting the timer is the debounce: a burst of saves makes one run a second after the last.
    m_pushTimer.start();
    emit pushScheduled();
}

QSet<QUuid> CloudKitSyncService::idSet(const QString& key) const
{
    return m_defaults.uuidSet(key);
}

void CloudKitSyncService::noteDeleted(const QUuid& id)
{
    m_defaults.setUuidSet(pendingNoteDeletesKey(), idSet(pendingNoteDeletesKey()) + QSet<QUuid>{id});
}

void CloudKitSyncService::tasksDeleted(const QSet<QUuid>& ids)
{
    m_defaults.setUuidSet(pendingTaskDeletesKey(), idSet(pendingTaskDeletesKey()) + ids);
}

void CloudKitSyncService::syncNow()
{
    performSync();
}

void CloudKitSyncService::performSync()
{
    emit syncRunStarted();
}
