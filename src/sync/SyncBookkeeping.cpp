#include "sync/SyncBookkeeping.h"

#include "files/Defaults.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Names the state of the known sets' file a journal goes on from: a journal written after
// another state of the file (it was written whole since, and the journal not yet emptied) is
// already in it.
const QString journalStateKey = QStringLiteral("sync.knownIdsJournal.v1");
// A journal larger than this is not read: it is set aside, and the file's sets are used alone.
constexpr qint64 maxJournalBytes = 64 * 1024 * 1024;

QByteArray checkOf(const QByteArray& entry)
{
    return QCryptographicHash::hash(entry, QCryptographicHash::Sha256).toHex().left(16);
}

QJsonArray idArray(const QSet<QUuid>& ids)
{
    QJsonArray array;
    for (const QUuid& id : ids)
        array.append(id.toString(QUuid::WithoutBraces).toUpper());
    return array;
}

} // namespace

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
    m_journalPath = m_known.path() + QStringLiteral(".journal");
    const bool journalLeft = QFile::exists(m_journalPath);
    bool migrated = false;
    for (const QString& key : {knownTasksKey, knownNotesKey}) {
        const std::optional<QString> mark = m_preferences.string(copyMarkKey(key));
        if (!m_preferences.contains(key)) {
            if (mark) {
                migrated = m_known.remove(key) || migrated;
                m_preferences.remove(copyMarkKey(key));
            }
            continue;
        }
        const QJsonValue copy = m_preferences.value(key);
        // Mostly the copy is the file's set as this version left it at its end. Comparing the two
        // takes a fraction of what the mark's hash does (under 1 ms against 8 at twenty thousand ids,
        // on the window's thread while it starts), and where they are equal, moving the copy over
        // changes nothing: unless a journal goes on from the file, which a changed copy drops.
        const bool sameAsFile = !journalLeft && m_known.contains(key) && m_known.value(key) == copy;
        if (!sameAsFile && (!m_known.contains(key) || mark != markOf(copy))) {
            m_known.set(key, copy);
            migrated = true;
        }
        m_preferences.remove(key);
        m_preferences.remove(copyMarkKey(key));
    }
    // Sets an earlier version changed (or forgot) since are not what the journal goes on from.
    if (migrated)
        QFile::remove(m_journalPath);
    loadJournal();
}

void SyncBookkeeping::loadJournal()
{
    QFile file(m_journalPath);
    if (!file.exists())
        return;
    const std::optional<QString> state = m_known.string(journalStateKey);
    if (file.size() > maxJournalBytes) {
        file.rename(m_journalPath + QStringLiteral(".unreadable-%1").arg(QDateTime::currentSecsSinceEpoch()));
        return;
    }
    if (!state || !file.open(QIODevice::ReadOnly)) {
        file.remove();
        return;
    }
    const QByteArray text = file.readAll();
    file.close();
    // Entries are read up to the first that is torn or damaged (a write cut off by the program's
    // end): each one is whole or not there, and what follows a bad one was never written.
    qsizetype good = 0;
    bool stale = false;
    while (good < text.size()) {
        const qsizetype end = text.indexOf('\n', good);
        if (end < 0)
            break;
        const QByteArray line = text.mid(good, end - good);
        const qsizetype space = line.indexOf(' ');
        const QByteArray entry = space < 0 ? QByteArray() : line.mid(space + 1);
        if (space < 0 || checkOf(entry) != line.left(space))
            break;
        const QJsonObject object = QJsonDocument::fromJson(entry).object();
        if (object.value(QStringLiteral("state")).toString() != *state) {
            stale = true;
            break;
        }
        const QString key = object.value(QStringLiteral("key")).toString();
        if (key != knownTasksKey && key != knownNotesKey)
            break;
        const QSet<QUuid> added = Defaults::uuidSetOf(object.value(QStringLiteral("added")));
        const QSet<QUuid> removed = Defaults::uuidSetOf(object.value(QStringLiteral("removed")));
        Delta& delta = m_journal[key];
        delta.added = (delta.added - removed) + added;
        delta.removed = (delta.removed - added) + removed;
        good = end + 1;
    }
    if (stale) {
        m_journal.clear();
        QFile::remove(m_journalPath);
        return;
    }
    m_journalBytes = good;
    if (good < text.size()) {
        // Entries appended after a torn one would never be read.
        QSaveFile kept(m_journalPath);
        if (!kept.open(QIODevice::WriteOnly) || kept.write(text.left(good)) != good || !kept.commit()) {
            m_journal.clear();
            m_journalBytes = 0;
            QFile::remove(m_journalPath);
        }
    }
}

bool SyncBookkeeping::noteKnown(const QString& key, const QSet<QUuid>& added, const QSet<QUuid>& removed)
{
    if (!knownApart() || (added.isEmpty() && removed.isEmpty()))
        return knownApart();
    if (!m_known.contains(journalStateKey)) {
        // Once: the file is written whole with the state the journal goes on from.
        const Defaults::Batch oneWrite(m_known);
        const QSet<QUuid> ids = idSet(key) - removed + added;
        m_known.set(key, Defaults::uuidSetValue(ids));
        m_idSets.insert(key, ids);
        restartJournal({key});
        return m_known.lastError().isEmpty();
    }
    QJsonObject object;
    object.insert(QStringLiteral("state"), m_known.string(journalStateKey).value_or(QString()));
    object.insert(QStringLiteral("key"), key);
    object.insert(QStringLiteral("added"), idArray(added));
    object.insert(QStringLiteral("removed"), idArray(removed));
    const QByteArray entry = QJsonDocument(object).toJson(QJsonDocument::Compact);
    const QByteArray line = checkOf(entry) + ' ' + entry + '\n';
    // One write of the whole entry. Not forced to the disk: an entry lost with the machine's power
    // only leaves the sets as they were before it, which claim no record that is not there.
    const int fd =
        ::open(QFile::encodeName(m_journalPath).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, line.constData(), size_t(line.size())) == line.size();
    ::close(fd);
    if (!written) {
        // A partial entry fails its check; the sets are written whole next.
        return false;
    }
    m_journalBytes += line.size();
    Delta& delta = m_journal[key];
    delta.added = (delta.added - removed) + added;
    delta.removed = (delta.removed - added) + removed;
    if (const auto it = m_idSets.find(key); it != m_idSets.end()) {
        *it -= removed;
        *it += added;
    }
    return true;
}

qint64 SyncBookkeeping::journalLimit() const
{
    // Small enough to read at start-up without notice, large enough to fold rarely.
    return std::max<qint64>(32 * 1024, QFileInfo(m_known.path()).size() / 32);
}

bool SyncBookkeeping::journalDue() const
{
    return m_journalBytes > journalLimit();
}

bool SyncBookkeeping::journalHolds(qsizetype count) const
{
    // An id in an entry: 36 characters, its quotes and a comma.
    constexpr qint64 bytesPerId = 39;
    return m_journalBytes + bytesPerId * count <= journalLimit();
}

void SyncBookkeeping::restartJournal(const QStringList& writtenWhole)
{
    if (!knownApart())
        return;
    // Sets the journal changed that are not written now are written with the rest (in the
    // caller's batch), so that emptying the journal loses none of it.
    for (const QString& key : m_journal.keys()) {
        if (writtenWhole.contains(key))
            continue;
        const QSet<QUuid> ids = idSet(key);
        m_known.set(key, Defaults::uuidSetValue(ids));
        m_idSets.insert(key, ids);
    }
    m_journal.clear();
    m_journalBytes = 0;
    m_known.set(journalStateKey, QUuid::createUuid().toString(QUuid::WithoutBraces));
    QFile::remove(m_journalPath);
}

QSet<QUuid> SyncBookkeeping::knownAsStored(const QString& key, const QJsonValue& value) const
{
    QSet<QUuid> ids = Defaults::uuidSetOf(value);
    if (const auto it = m_journal.constFind(key); it != m_journal.cend())
        it->apply(ids);
    return ids;
}

void SyncBookkeeping::keepCopyForEarlierVersions()
{
    if (!knownApart() || !m_preferencesAlive || !m_knownAlive)
        return;
    const Defaults::Batch oneWrite(m_preferences);
    if (!m_journal.isEmpty()) {
        // Folded in first: an earlier version reads the file's sets alone.
        const Defaults::Batch knownWrite(m_known);
        restartJournal({});
    }
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
    const QSet<QUuid> ids = knownAsStored(key, storeOf(key).value(key));
    m_idSets.insert(key, ids);
    return ids;
}

void SyncBookkeeping::writeIdSet(const QString& key, const QSet<QUuid>& ids)
{
    // Every write goes to disk at once; most runs change nothing here.
    if (storeOf(key).contains(key) && idSet(key) == ids)
        return;
    const Defaults::Batch oneWrite(storeOf(key));
    storeOf(key).setUuidSet(key, ids);
    if (&storeOf(key) == &m_known && knownApart())
        restartJournal({key});
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
    const Defaults::Batch oneWrite(m_known);
    m_journal.clear();
    m_idSets.remove(knownTasksKey);
    m_idSets.remove(knownNotesKey);
    m_known.remove(knownTasksKey);
    m_known.remove(knownNotesKey);
    restartJournal({});
}

std::shared_ptr<SyncBookkeeping::Reading> SyncBookkeeping::startReading(const QStringList& keys) const
{
    auto reading = std::make_shared<Reading>();
    for (const QString& key : keys)
        if (!m_idSets.contains(key))
            reading->sets.push_back({key,
                                     storeOf(key).value(key),
                                     {},
                                     m_journal.contains(key) ? std::optional(m_journal.value(key)) : std::nullopt});
    return reading;
}

void SyncBookkeeping::parse(Reading& reading)
{
    for (Reading::Set& set : reading.sets) {
        set.ids = Defaults::uuidSetOf(set.value);
        if (set.journal)
            set.journal->apply(set.ids);
    }
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
        Writing::Set set{std::move(w), stored, std::nullopt, {}, {}, {}};
        if (const auto it = m_idSets.constFind(set.write.key); it != m_idSets.cend()) {
            set.before = *it;
        } else {
            set.text = storeOf(set.write.key).value(set.write.key);
            if (m_journal.contains(set.write.key))
                set.journal = m_journal.value(set.write.key);
        }
        writing->sets.push_back(std::move(set));
    }
    return writing;
}

void SyncBookkeeping::encode(Writing& writing)
{
    for (Writing::Set& w : writing.sets) {
        QSet<QUuid> before = w.before ? *w.before : Defaults::uuidSetOf(w.text);
        if (!w.before && w.journal)
            w.journal->apply(before);
        if (w.write.addToStored)
            w.write.ids.unite(before);
        if (!w.stored || w.write.always || before != w.write.ids)
            w.value = Defaults::uuidSetValue(w.write.ids);
    }
}

void SyncBookkeeping::finishWriting(Writing& writing)
{
    const Defaults::Batch knownWrite(m_known, Defaults::Writing::inBackground);
    const Defaults::Batch oneWrite(m_preferences, Defaults::Writing::inBackground);
    QStringList knownWhole;
    for (Writing::Set& w : writing.sets) {
        if (!w.value)
            continue;
        // The set read before goes with the rest, on the worker.
        w.before = m_idSets.take(w.write.key);
        if (storeOf(w.write.key).set(w.write.key, *w.value))
            m_idSets.insert(w.write.key, w.write.ids);
        if (&storeOf(w.write.key) == &m_known)
            knownWhole.append(w.write.key);
    }
    if (!knownWhole.isEmpty())
        restartJournal(knownWhole);
}
