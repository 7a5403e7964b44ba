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
    QSet<QUuid> ids;
    for (const QString& text : m_defaults.stringArray(key).value_or(QStringList()))
        if (const auto id = parseUuid(text))
            ids.insert(*id);
    return ids;
}

void CloudKitSyncService::noteDeleted(const QUuid& id)
{
    QSet<QUuid> pending = idSet(pendingNoteDeletesKey());
    pending.insert(id);
    QStringList texts;
    for (const QUuid& pendingId : pending)
        texts.append(uuidText(pendingId));
    m_defaults.setStringArray(pendingNoteDeletesKey(), texts);
}

void CloudKitSyncService::syncNow()
{
    performSync();
}

void CloudKitSyncService::performSync()
{
    emit syncRunStarted();
}
