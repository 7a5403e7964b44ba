#pragma once

#include "files/BackgroundWriter.h"
#include "files/FileSafety.h"
#include "model/Calendar.h"
#include "model/FileStore.h"
#include "store/CloudSync.h"
#include "store/DataPreread.h"
#include "store/Reminders.h"

#include <QFuture>
#include <QHash>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QSet>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class DataPreread;
class Defaults;
class NotificationCenter;
class SystemEvents;

// What the store stands on: time, the user's calendar as it is at each call, preferences,
// notifications and system events. Only main() picks the real ones.
struct StorageEnvironment {
    const Clock* clock = nullptr;
    std::function<Calendar()> calendar;
    Defaults* defaults = nullptr;
    NotificationCenter* notifications = nullptr;
    SystemEvents* events = nullptr; // optional
    // Optional: the boot clock that tells a change of the wall clock from time passing.
    const MonotonicClock* monotonic = nullptr;
    // Optional: how data files are opened for writing (tests make them fail).
    FileSafety::SaveFileFactory saveFiles;
    // Optional: the to-dos and notes already being read on another thread.
    DataPreread* preread = nullptr;
    // With `preread`: the to-dos are taken in by StorageService::loadTodos() rather than by the
    // constructor, so that a window can show while they are read.
    bool todosLater = false;
};

// A write of a data file: done, or refused with the reason a person reads.
struct FileWrite {
    bool written = false;
    QString error;

    explicit operator bool() const { return written; }
    static FileWrite done() { return {true, {}}; }
    static FileWrite refused(QString why) { return {false, std::move(why)}; }
};

// What every part of the store shares: its environment, the data folder and the writes into it,
// the failures that show as the store's last error, the reminders, and the sync to tell.
class StoreCore : public QObject {
    Q_OBJECT
public:
    explicit StoreCore(StorageEnvironment environment, QObject* parent = nullptr);
    ~StoreCore() override;

    const StorageEnvironment& env() const { return m_env; }
    Date now() const { return m_env.clock->now(); }
    Date stamp() const { return wholeSeconds(now()); }
    Calendar calendar() const { return m_env.calendar(); }
    Reminders& reminders() { return m_reminders; }
    CloudSync* cloudSync() const { return m_cloudSync.data(); }
    void setCloudSync(CloudSync* sync) { m_cloudSync = sync; }

    // --- the data folder
    // With none given the default folder is used (and created), or a private one under the
    // temporary folder; false, with fatalError(), when there is none at all.
    bool chooseDataDirectory(std::optional<FileStore> given);
    const FileStore& fileStore() const { return m_fileStore; }
    const QString& fatalError() const { return m_fatalError; }
    // Makes the data files private, removes stale temporaries, and notes a folder that cannot be
    // looked into: nothing is written there then.
    void prepareFolder(const QStringList& files);
    // Keeps a copy of a data file that could not be read; without one the file is never written
    // over (until forgiven). `read`: the file's bytes, when they were read whole already.
    bool backupUnreadableFile(const QString& name, const QByteArray* read = nullptr);
    bool isUnbacked(const QString& name) const { return m_unbackedFiles.contains(name); }
    void forgiveUnbacked(const QString& name) { m_unbackedFiles.remove(name); }
    // A file whose reading is still under way is not written: a write would put what is held so
    // far, a part or nothing, in place of the whole.
    void holdUntilLoaded(const QString& name) { m_unloadedFiles.insert(name); }
    void markLoaded(const QString& name) { m_unloadedFiles.remove(name); }
    bool isLoaded(const QString& name) const { return !m_unloadedFiles.contains(name); }
    // Reads a list file, strictly where it can and record by record where it cannot; an
    // unreadable file is kept aside and its `part` added to `unreadable`.
    template <typename T>
    std::vector<T> loadList(const QString& part, const QString& name,
                            std::optional<T> (*decode)(const QJsonValue&, QString*), QStringList& unreadable,
                            std::function<std::optional<std::vector<T>>(const QByteArray&)> decodeText = {},
                            const PrereadFile<T>* early = nullptr);

    // --- writes
    // Writes one data file atomically; refuses to replace a file that could not be backed up.
    FileWrite writeFile(const QString& name, const QByteArray& text);
    // Why writeFile would refuse the file before writing anything, or none.
    std::optional<QString> writeRefusal(const QString& name) const;
    // The same on the writing thread: refuses only what writeFile refuses before writing.
    FileWrite writeInBackground(const QString& name, BackgroundWriter::Encoder encode);
    // The number of the newest write of the file asked of the writing thread.
    quint64 lastAsked(const QString& name) const { return m_backgroundAsked.value(name); }
    // Hears first of every outcome of a write of the file there (`newest`: no later write of it
    // was asked since). Answering true to a failure says its change was taken back here: the
    // failure shows in lastError, but nothing is left unwritten.
    using WriteOutcome = std::function<bool(quint64 generation, bool newest, bool ok)>;
    void watchWrites(const QString& name, WriteOutcome outcome) { m_outcomeWatchers.insert(name, std::move(outcome)); }
    // Returns once no write of the file is on its way on the writing thread.
    void waitForFile(const QString& name);
    // Returns once no data file is being written there, with the outcomes taken in.
    void waitForWrites();
    // Whether the last write of the file on the writing thread failed.
    bool isUnwritten(const QString& name) const { return m_unwrittenFiles.contains(name); }
    // Why, when it did: the message a person reads.
    std::optional<QString> unwrittenReason(const QString& name) const
    {
        const auto it = m_unwrittenFiles.constFind(name);
        return it == m_unwrittenFiles.cend() ? std::nullopt : std::optional<QString>(*it);
    }
    // Finishes once no write of the files asked of the writing thread is without its outcome here;
    // the main thread goes on meanwhile. Cancelled when the store goes first.
    QFuture<void> whenWritten(const QStringList& names);

    // --- lastError: the latest outstanding failure shows; a success clears only its own file.
    std::optional<QString> lastError() const;
    void setLastError(const std::optional<QString>& message);
    void recordFailure(const QString& source, const QString& message);
    void clearFailure(const QString& source);
    void reportProblem(const QString& path, const QString& message);
    // While loading, a success leaves the start-up notices in place.
    void setLoading(bool loading) { m_loading = loading; }
    static inline const QString loadNoticeSource = QStringLiteral("load");

signals:
    void lastErrorChanged();
    void problemReported(const QString& path, const QString& message);
    void backgroundWriteFailed(const QString& message);
    // A change written on the writing thread was refused there and taken back; lastError says why.
    void writeTakenBack(const QString& name);

private:
    void emitIfLastErrorChanged(const std::optional<QString>& before);
    void backgroundWritten(const QString& path, quint64 generation, bool ok, const QString& error);
    QString unbackedMessage(const QString& name) const;

    StorageEnvironment m_env;
    Reminders m_reminders;
    QPointer<CloudSync> m_cloudSync;
    FileStore m_fileStore;
    QString m_fatalError;

    struct Failure {
        QString source;
        QString message;
    };
    std::vector<Failure> m_failures;           // oldest first
    QSet<QString> m_unbackedFiles;             // unreadable files that must not be written over
    QSet<QString> m_unloadedFiles;             // files still being read
    std::optional<QString> m_unreadableFolder; // why the data folder could not be looked into
    bool m_loading = false;

    // Per file: the newest write asked of the writing thread, and the newest one a write made
    // here since has overtaken (its outcome no longer counts).
    QHash<QString, quint64> m_backgroundAsked, m_backgroundOvertaken;
    QHash<QString, quint64> m_backgroundAnswered; // the newest write whose outcome came here
    QHash<QString, QString> m_unwrittenFiles;     // whose last write there failed, with the reason
    QHash<QString, WriteOutcome> m_outcomeWatchers;
    struct WriteWaiter {
        QStringList names;
        QPromise<void> promise;
    };
    std::vector<WriteWaiter> m_writeWaiters;
    bool isWriting(const QString& name) const;
    void settleWriteWaiters();
    // Last, so that its writes are finished before anything else of the store goes.
    std::unique_ptr<BackgroundWriter> m_writer;
};
