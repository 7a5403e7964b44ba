#pragma once

#include "files/Defaults.h"
#include "store/CloudSync.h"

// Records what the store asks of the sync.
class FakeCloudSync : public CloudSync {
    Q_OBJECT
public:
    explicit FakeCloudSync(Defaults& defaults) : m_defaults(defaults) {}

    int pushes = 0;
    QList<QUuid> deletedNotes;

    void schedulePush() override { ++pushes; }
    QSet<QUuid> idSet(const QString& key) const override { return m_defaults.uuidSet(key); }
    void noteDeleted(const QUuid& id) override
    {
        deletedNotes.append(id);
        const QString key = QStringLiteral("sync.pendingNoteDeletes.v1");
        m_defaults.setUuidSet(key, idSet(key) + QSet<QUuid>{id});
    }
    void tasksDeleted(const QSet<QUuid>& ids) override
    {
        const QString key = QStringLiteral("sync.pendingTaskDeletes.v1");
        m_defaults.setUuidSet(key, idSet(key) + ids);
    }
    void tasksKept(const QSet<QUuid>& ids) override
    {
        const QString key = QStringLiteral("sync.pendingTaskDeletes.v1");
        m_defaults.setUuidSet(key, idSet(key) - ids);
    }

private:
    Defaults& m_defaults;
};
