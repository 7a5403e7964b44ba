#pragma once

#include <QObject>
#include <QSet>
#include <QUuid>

// What the store needs of the cloud sync. The sync service implements it; the store holds it
// weakly and skips every hook while none is attached.
class CloudSync : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts (or restarts) the short debounce after which one sync run uploads local changes.
    virtual void schedulePush() = 0;
    // The set of UUIDs stored under a preference key; anything malformed reads as empty or is skipped.
    virtual QSet<QUuid> idSet(const QString& key) const = 0;
    virtual void noteDeleted(const QUuid& id) = 0;
    // To-dos removed here, kept as pending deletes until a sync run has removed them remotely.
    virtual void tasksDeleted(const QSet<QUuid>& ids) = 0;
    // To-dos whose removal the disk refused after all: they are no longer to be deleted remotely.
    virtual void tasksKept(const QSet<QUuid>& ids) = 0;
};
