#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUuid>
#include <memory>
#include <optional>

#include "files/FileSafety.h"

class BackgroundWriter;

// The typed preference store: one JSON object in a file a person can read and edit. Values keep
// their JSON type, so a one-element array of texts reads back as an array. A value of another
// type than the one asked for reads as absent.
class Defaults : public QObject {
    Q_OBJECT
public:
    // Reads the file at `path` (missing is fine; an unreadable one is kept aside as
    // "<name>.unreadable-<seconds>.json" before the first write replaces it).
    explicit Defaults(QString path, QObject* parent = nullptr);
    // The same with the file's object already read and parsed elsewhere, as it is on disk now;
    // none reads the file here.
    Defaults(QString path, std::optional<QJsonObject> read, QObject* parent = nullptr);
    // Finishes a write still under way on the writing thread.
    ~Defaults() override;

    // $XDG_CONFIG_HOME/quillharbour/defaults.json
    static QString defaultPath();

    QJsonValue value(const QString& key) const;
    bool contains(const QString& key) const { return m_values.contains(key); }

    std::optional<QString> string(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<double> number(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    std::optional<QStringList> stringArray(const QString& key) const;
    // An array of UUID texts as a set. A value that is not an array of texts reads as empty;
    // texts that are not UUIDs are skipped, so one damaged entry does not hide the others.
    QSet<QUuid> uuidSet(const QString& key) const;
    // The same read of a value taken from value(): touches no preferences, so a worker may do it.
    static QSet<QUuid> uuidSetOf(const QJsonValue& value);

    // Each change is written through at once; false (with lastError) when the file could not be
    // written, and the change is then not made.
    bool set(const QString& key, const QJsonValue& value);
    bool setStringArray(const QString& key, const QStringList& value);
    // Upper-case UUID texts, sorted so that the file does not churn between equal sets.
    bool setUuidSet(const QString& key, const QSet<QUuid>& ids);
    // The value setUuidSet stores: touches no preferences, so a worker may make it.
    static QJsonValue uuidSetValue(const QSet<QUuid>& ids);
    bool remove(const QString& key);

    // How the outermost batch writes the file when it ends. `now` as every single change does:
    // a failed write undoes the batch. `inBackground` for bookkeeping nobody waits for: the file
    // is encoded and written on another thread from a copy of the values; a failure keeps the
    // changes in memory, sets lastError and emits writeFailed, and the next write retries.
    enum class Writing { now, inBackground };

    // While one lives, changes are kept in memory (and announced) and written once when the
    // outermost one ends: a burst of changes costs one rewrite of the file. When that write
    // fails, the batch's changes are undone (and announced) with lastError set.
    class Batch {
    public:
        explicit Batch(Defaults& defaults, Writing writing = Writing::now) : m_defaults(defaults)
        {
            if (m_defaults.m_batchDepth++ == 0) {
                m_defaults.m_beforeBatch = m_defaults.m_values;
                m_defaults.m_batchWriting = writing;
            }
        }
        ~Batch() { m_defaults.endBatch(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        Defaults& m_defaults;
    };

    const QString& path() const { return m_path; }
    const QString& lastError() const { return m_lastError; }
    // Returns once no write of the file is under way on the writing thread.
    void waitForWrites();
    // How the file's bytes reach the disk (tests hand in devices that fail).
    void setSaveFiles(FileSafety::SaveFileFactory saveFiles) { m_saveFiles = std::move(saveFiles); }

signals:
    void valueChanged(const QString& key);
    // A write on the writing thread failed; the values are still here and the next write retries.
    void writeFailed(const QString& message);

private:
    bool save();
    void saveInBackground();
    bool backUpBeforeFirstWrite();
    void backgroundWritten(quint64 generation, bool ok, const QString& error);
    void endBatch();
    bool commit(const QString& key, const QJsonObject& before);

    QString m_path;
    QJsonObject m_values;
    QString m_lastError;
    bool m_needsBackup = false;
    int m_batchDepth = 0;
    bool m_unsaved = false;
    QJsonObject m_beforeBatch;
    Writing m_batchWriting = Writing::now;
    FileSafety::SaveFileFactory m_saveFiles;
    // What a failed background write left only in memory.
    bool m_unwritten = false;
    // The newest background write that a later write made here on this thread has overtaken.
    quint64 m_overtakenGeneration = 0;
    // Last, so that it finishes its writes before anything else of this goes.
    std::unique_ptr<BackgroundWriter> m_writer;
};
