#include "sync/SyncBookkeeping.h"

#include "platform/Defaults.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>

SyncBookkeeping::SyncBookkeeping(Defaults& preferences, Defaults* knownIds)
    : m_preferences(preferences), m_known(knownIds ? *knownIds : preferences), m_preferencesAlive(&preferences),
      m_knownAlive(&m_known)
{
    if (!knownApart())
        return;
    // Known sets among the preferences move to their own file. Unmarked, or changed since this
    // version marked them, they are an earlier version's and newer than the file; a mark without
    // its set is an earlier version that forgot the set (another account), as the file must too.
    const Defaults::Batch knownWrite(m_known, Defaults::Writing::inBackground);
    const Defaults::Batch preferencesWrite(m_preferences, Defaults::Writing::inBackground);
    for (const QString& key : {knownTasksKey, knownNotesKey}) {
        const std::optional<QString> mark = m_preferences.string(copyMarkKey(key));
        if (!m_preferences.contains(key)) {
            if (mark) {
                m_known.remove(key);
                m_preferences.remove(copyMarkKey(key));
            }
            continue;
        }
        const QJsonValue copy = m_preferences.value(key);
        if (!m_known.contains(key) || mark != markOf(copy))
            m_known.set(key, copy);
        m_preferences.remove(key);
        m_preferences.remove(copyMarkKey(key));
    }
}

void SyncBookkeeping::keepCopyForEarlierVersions()
{
    if (!knownApart() || !m_preferencesAlive || !m_knownAlive)
        return;
    const Defaults::Batch oneWrite(m_preferences);
    for (const QString& key : {knownTasksKey, knownNotesKey}) {
        if (!m_known.contains(key))
            continue;
        const QJsonValue value = m_known.value(key);
        m_preferences.set(key, value);
        m_preferences.set(copyMarkKey(key), markOf(value));
    }
}

QString SyncBookkeeping::markOf(const QJsonValue& value)
{
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
}

Defaults& SyncBookkeeping::storeOf(const QString& key) const
{
    return key == knownTasksKey || key == knownNotesKey ? m_known : m_preferences;
}

QSet<QUuid> SyncBookkeeping::idSet(const QString& key) const
{
    if (const auto it = m_idSets.constFind(key); it != m_idSets.cend())
        return *it;
    const QSet<QUuid> ids = storeOf(key).uuidSet(key);
    m_idSets.insert(key, ids);
    return ids;
}

void SyncBookkeeping::writeIdSet(const QString& key, const QSet<QUuid>& ids)
{
    // Every write goes to disk at once; most runs change nothing here.
    if (storeOf(key).contains(key) && idSet(key) == ids)
        return;
    storeOf(key).setUuidSet(key, ids);
}

void SyncBookkeeping::addToIdSet(const QString& key, const QSet<QUuid>& ids)
{
    writeIdSet(key, idSet(key) + ids);
}

void SyncBookkeeping::clearPendingDeletes(const QSet<QUuid>& tasks, const QSet<QUuid>& notes)
{
    writeIdSet(pendingTaskDeletes, idSet(pendingTaskDeletes) - tasks);
    writeIdSet(pendingNoteDeletes, idSet(pendingNoteDeletes) - notes);
}

void SyncBookkeeping::forgetKnownIds()
{
    m_known.remove(knownTasksKey);
    m_known.remove(knownNotesKey);
}

std::shared_ptr<SyncBookkeeping::Reading> SyncBookkeeping::startReading(const QStringList& keys) const
{
    auto reading = std::make_shared<Reading>();
    for (const QString& key : keys)
        if (!m_idSets.contains(key))
            reading->sets.push_back({key, storeOf(key).value(key), {}});
    return reading;
}

void SyncBookkeeping::parse(Reading& reading)
{
    for (Reading::Set& set : reading.sets)
        set.ids = Defaults::uuidSetOf(set.value);
}

void SyncBookkeeping::finishReading(Reading& reading)
{
    // A preference written meanwhile is read again when asked for.
    for (Reading::Set& set : reading.sets)
        if (!m_idSets.contains(set.key) && storeOf(set.key).value(set.key) == set.value)
            m_idSets.insert(set.key, std::move(set.ids));
}

std::shared_ptr<SyncBookkeeping::Writing> SyncBookkeeping::startWriting(std::vector<IdSetWrite> writes) const
{
    auto writing = std::make_shared<Writing>();
    for (IdSetWrite& w : writes) {
        const bool stored = storeOf(w.key).contains(w.key);
        Writing::Set set{std::move(w), stored, std::nullopt, {}, {}};
        if (const auto it = m_idSets.constFind(set.write.key); it != m_idSets.cend())
            set.before = *it;
        else
            set.text = storeOf(set.write.key).value(set.write.key);
        writing->sets.push_back(std::move(set));
    }
    return writing;
}

void SyncBookkeeping::encode(Writing& writing)
{
    for (Writing::Set& w : writing.sets) {
        const QSet<QUuid> before = w.before ? *w.before : Defaults::uuidSetOf(w.text);
        if (w.write.addToStored)
            w.write.ids.unite(before);
        if (!w.stored || before != w.write.ids)
            w.value = Defaults::uuidSetValue(w.write.ids);
    }
}

void SyncBookkeeping::finishWriting(Writing& writing)
{
    const Defaults::Batch knownWrite(m_known, Defaults::Writing::inBackground);
    const Defaults::Batch oneWrite(m_preferences, Defaults::Writing::inBackground);
    for (Writing::Set& w : writing.sets) {
        if (!w.value)
            continue;
        // The set read before goes with the rest, on the worker.
        w.before = m_idSets.take(w.write.key);
        if (storeOf(w.write.key).set(w.write.key, *w.value))
            m_idSets.insert(w.write.key, w.write.ids);
    }
}
