#pragma once

#include <QHash>
#include <QJsonValue>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <memory>
#include <optional>
#include <vector>

class Defaults;

// What the sync keeps between runs in the preferences: the ids known in the record store and
// those deleted here and not yet sent there, with what was last read of each set. The known sets
// may live in a file of their own. Main thread only; the reading and writing of large sets is
// split so that the costly middle part runs on a worker.
class SyncBookkeeping {
public:
    static inline const QString knownTasksKey = QStringLiteral("sync.knownRemoteTaskIds.v1");
    static inline const QString knownNotesKey = QStringLiteral("sync.knownRemoteNoteIds.v1");
    static inline const QString pendingTaskDeletes = QStringLiteral("sync.pendingTaskDeletes.v1");
    static inline const QString pendingNoteDeletes = QStringLiteral("sync.pendingNoteDeletes.v1");
    static inline const QString accountKeyKey = QStringLiteral("sync.accountKey.v1");
    static inline const QString lastSuccessKey = QStringLiteral("sync.lastSuccessAt.v1");

    // `knownIds`: where the known sets are kept; none: among the preferences.
    SyncBookkeeping(Defaults& preferences, Defaults* knownIds);

    // A version before the known sets had a file of their own reads them among the preferences,
    // and without them takes every item here for new: the sets are left there as well when this
    // version ends, with a mark that tells the next start whether that version changed them
    // since. (While this version runs they live only in their own file.)
    void keepCopyForEarlierVersions();

    Defaults& preferences() const { return m_preferences; }
    Defaults& known() const { return m_known; }
    bool knownApart() const { return &m_known != &m_preferences; }
    // The preferences that hold `key`.
    Defaults& storeOf(const QString& key) const;

    QSet<QUuid> idSet(const QString& key) const;
    // A preference changed: it is read again when next asked for.
    void forget(const QString& key) { m_idSets.remove(key); }
    void writeIdSet(const QString& key, const QSet<QUuid>& ids);
    void addToIdSet(const QString& key, const QSet<QUuid>& ids);
    // Drops `tasks` and `notes` from the pending deletes; both sets are always rewritten.
    void clearPendingDeletes(const QSet<QUuid>& tasks, const QSet<QUuid>& notes);
    // What this device knew of the old record store says nothing about a new one.
    void forgetKnownIds();

    // A few ids learnt present in the record store, or gone from it, noted without rewriting the
    // known sets: appended to a journal beside their file, which is folded into it when it grows
    // past a share of it (or when the file is written anyway). False when the journal could not
    // be written: the sets are then written whole.
    bool noteKnown(const QString& key, const QSet<QUuid>& added, const QSet<QUuid>& removed);
    // The journal is large enough that the next write should fold it in.
    bool journalDue() const;
    // Whether `count` more ids keep the journal below that size. More at once are better written
    // with the whole set, encoded on a worker: the fold would rewrite it at once anyway, and an
    // entry of tens of thousands of ids takes the calling thread as long as the set's encoding.
    bool journalHolds(qsizetype count) const;
    QString journalPath() const { return m_journalPath; }

    // Sets not read yet, read in three steps: texts taken here, ids parsed on a worker, and kept
    // here unless a preference was written meanwhile.
    struct Reading;
    std::shared_ptr<Reading> startReading(const QStringList& keys) const;
    static void parse(Reading& reading);
    void finishReading(Reading& reading);

    // One id set to write: `ids`, or `ids` added to the stored set.
    struct IdSetWrite {
        QString key;
        QSet<QUuid> ids;
        bool addToStored = false;
        bool always = false; // also when it reads as stored (the journal is folded in)
    };
    // Sets of tens of thousands of ids written in three steps: what is stored taken here; joined,
    // compared and encoded on a worker; and written here, each only if it changed, in one write
    // of each file made on the writing thread. Only for sets nobody but a run writes.
    struct Writing;
    std::shared_ptr<Writing> startWriting(std::vector<IdSetWrite> writes) const;
    static void encode(Writing& writing);
    void finishWriting(Writing& writing);

private:
    qint64 journalLimit() const;
    // The preference holding the mark of the copy of `key` this version left.
    static QString copyMarkKey(const QString& key) { return key + QStringLiteral(".copy"); }
    static QString markOf(const QJsonValue& value);

    // The journal's changes of one known set, since its file last wrote it.
    struct Delta {
        QSet<QUuid> added, removed;
        void apply(QSet<QUuid>& ids) const
        {
            ids -= removed;
            ids += added;
        }
    };
    void loadJournal();
    // The file's known sets were (or are being) written whole: what the journal held is in them.
    void restartJournal(const QStringList& writtenWhole);
    QSet<QUuid> knownAsStored(const QString& key, const QJsonValue& value) const;

    Defaults& m_preferences;
    Defaults& m_known;
    // Either may go before this does (the program's end in any order): no copy is left then.
    QPointer<Defaults> m_preferencesAlive, m_knownAlive;
    // The id sets as last read; a run reads the large known sets several times.
    mutable QHash<QString, QSet<QUuid>> m_idSets;
    QString m_journalPath; // none while the known sets live among the preferences
    QHash<QString, Delta> m_journal;
    qint64 m_journalBytes = 0;
};

struct SyncBookkeeping::Reading {
    struct Set {
        QString key;
        QJsonValue value;
        QSet<QUuid> ids;
        std::optional<Delta> journal;
    };
    std::vector<Set> sets;
};

struct SyncBookkeeping::Writing {
    struct Set {
        IdSetWrite write;
        bool stored = false;
        std::optional<QSet<QUuid>> before; // as last read; else read from `text` on the worker
        QJsonValue text;
        std::optional<Delta> journal;    // applied to what `text` reads
        std::optional<QJsonValue> value; // none: the set did not change
    };
    std::vector<Set> sets;
};
