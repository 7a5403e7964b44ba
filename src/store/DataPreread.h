#pragma once

#include "model/Note.h"
#include "model/TaskItem.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <thread>
#include <vector>

// A data file as read from disk, and what the quick reading made of its text.
template <typename T> struct PrereadFile {
    bool exists = false;
    bool readOK = false;
    QByteArray bytes;
    std::optional<std::vector<T>> decoded; // none when the quick reading was not sure of the text
};

struct PrereadTodos : PrereadFile<TaskItem> {
    TodosFileWriter writer; // holds the text as read, when it was decoded
};

// Reads and decodes the to-dos and the notes of a data folder, and the preferences file, on
// threads of their own, begun at the very start of the program so the work overlaps the toolkit's
// own start. Their owners take the results when they load; a file replaced or created since it
// was read is not handed over, and its owner then reads it itself. Only the reading moves: the
// store and the preferences stay on the main thread.
class DataPreread {
public:
    explicit DataPreread(QString folder, QString defaultsPath = QString());
    ~DataPreread();
    DataPreread(const DataPreread&) = delete;
    DataPreread& operator=(const DataPreread&) = delete;

    // Until the reading has ended.
    void wait();
    // Each waits for the reading, and answers once: the file at `path` as read, or nothing when
    // it is not a file this preread read or the file on disk is no longer the one read.
    std::optional<PrereadTodos> takeTodos(const QString& path);
    std::optional<PrereadFile<Note>> takeNotes(const QString& path);
    // The preferences' object, when the file was there, read and parsed whole.
    std::optional<QJsonObject> takeDefaults(const QString& path);

    // What a file on disk is: a replacement (files are written by renaming a new one into place)
    // or any write changes it.
    struct Identity {
        bool exists = false;
        quint64 device = 0, inode = 0;
        qint64 size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
        bool operator==(const Identity&) const = default;
    };
    static Identity identityOf(const QString& path);

private:
    void run();
    template <typename Read>
    static std::optional<Read> take(std::optional<Read>& slot, const Identity& identity, const QString& ownPath,
                                    const QString& path);

    QString m_todosPath;
    QString m_notesPath;
    std::optional<PrereadTodos> m_todos;
    std::optional<PrereadFile<Note>> m_notes;
    Identity m_todosIdentity;
    Identity m_notesIdentity;
    QString m_defaultsPath;
    std::optional<PrereadFile<QJsonObject>> m_defaults;
    Identity m_defaultsIdentity;
    std::thread m_thread;
    std::thread m_defaultsThread; // a file of its own, as its owner wants it first
};
