#pragma once

#include "model/Json.h"
#include "platform/Defaults.h"
#include "store/CloudSync.h"

// Records what the store asks of the sync.
class FakeCloudSync : public CloudSync {
    Q_OBJECT
public:
    explicit FakeCloudSync(Defaults& defaults) : m_defaults(defaults) {}

    int pushes = 0;
    QList<QUuid> deletedNotes;

    void schedulePush() override { ++pushes; }
    QSet<QUuid> idSet(const QString& key) const override
    {
        QSet<QUuid> ids;
        for (const QString& text : m_defaults.stringArray(key).value_or(QStringList()))
            if (const auto id = parseUuid(text))
                ids.insert(*id);
        return ids;
    }
    void noteDeleted(const QUuid& id) override
    {
        deletedNotes.append(id);
        QSet<QUuid> pending = idSet(QStringLiteral("sync.pendingNoteDeletes.v1"));
        pending.insert(id);
        QStringList texts;
        for (const QUuid& p : pending)
            texts.append(uuidText(p));
        m_defaults.setStringArray(QStringLiteral("sync.pendingNoteDeletes.v1"), texts);
    }
    QString pendingTaskDeletesKey() const override { return QStringLiteral("sync.pendingTaskDeletes.v1"); }
    Defaults& defaults() const override { return m_defaults; }

private:
    Defaults& m_defaults;
};
