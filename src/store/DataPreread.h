#pragma once

#include "model/Note.h"
#include "model/TaskItem.h"
#include "model/TodosFileWriter.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class TodosTextReading;

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

// Reads and decodes the preferences file, and the to-dos and the notes of a data folder, on a
// thread of its own, begun at the very start of the program so the work overlaps the toolkit's
// own start. Their owners take the results when they load; a file replaced or created since it
// was read is not handed over, and its owner then reads it itself. Only the reading moves: the
// store and the preferences stay on the main thread.
class DataPreread {
public:
    // `afterTodosText`, when given, runs on the reading thread once the to-dos' text is read and
    // before any of it is decoded there: a test holds the reader at that point.
    // `preferencesPaths`: preference files, the first read before anything else, the others
    // (large, as the sync's known ids) on a thread of their own, beside the to-dos.
    // Made before any other thread starts, a preread of a long to-dos file gives the threads that
    // decode it heaps of their own; made later, they share one.
    explicit DataPreread(QString folder, QStringList preferencesPaths = {}, std::function<void()> afterTodosText = {});
    ~DataPreread();
    DataPreread(const DataPreread&) = delete;
    DataPreread& operator=(const DataPreread&) = delete;

    // Until the reading has ended.
    void wait();
    // The to-dos file's size when the reading began, -1 when there was none: what the store will
    // load can be guessed from it without waiting.
    qint64 todosFileSize() const { return m_todosFileSize; }
    // Each answers once: the file at `path` as read, or nothing when it is not a file this
    // preread read or the file on disk is no longer the one read. The caller reads the to-dos'
    // parts and the notes the reader has not come to yet. Whoever comes to the end of the parts
    // first puts the to-dos together; a caller coming while the reader does waits for that.
    std::optional<PrereadTodos> takeTodos(const QString& path);
    std::optional<PrereadFile<Note>> takeNotes(const QString& path);
    // Runs `tell` once the to-dos are put together, on the thread that put them together, or
    // here at once when they are already. A later call replaces it; an empty one, once it has
    // returned, leaves no call on its way. `tell` must be brief: it holds up that thread.
    void whenTodosRead(std::function<void()> tell);
    // A preference file's object, when the file was there, read and parsed whole.
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
    // From this size on, the reading makes room for what it decodes at once.
    static constexpr qsizetype largeText = 256 * 1024;
    // The to-dos are read in parts of about this size, the unit the main thread takes over in.
    static constexpr qsizetype partBytes = 256 * 1024;
    static constexpr int mostParts = 64;
    static constexpr int mostHelpers = 3; // threads that read parts beside the reader
    static constexpr int readerNiceness = 5;
    // The threads that decode a to-dos text of `bytes`, the reader among them.
    static int readersFor(qint64 bytes);
    void run();
    // Reads the parts left and puts the to-dos together, once, on whichever thread comes first.
    void finishTodos();
    void readNotes();
    template <typename Read>
    static std::optional<Read> take(std::optional<Read>& slot, const Identity& identity, const QString& ownPath,
                                    const QString& path);

    QString m_todosPath;
    QString m_notesPath;
    std::function<void()> m_afterTodosText;
    // The to-dos' file and its text in reading, shared with the main thread once the text is read.
    PrereadTodos m_todosFile;
    std::promise<void> m_todosTextDone;
    std::shared_future<void> m_todosTextRead;
    std::unique_ptr<TodosTextReading> m_todosReading;
    std::atomic<bool> m_todosFinishTaken{false};
    std::promise<void> m_todosFinishDone;
    std::shared_future<void> m_todosFinished;
    std::optional<PrereadTodos> m_todos;
    std::mutex m_tellMutex;
    bool m_todosTold = false;
    std::function<void()> m_tellTodosRead;
    // Whoever comes to the notes first reads them; the other waits for that only if it needs them.
    std::atomic<bool> m_notesReadTaken{false};
    std::promise<void> m_notesDone;
    std::shared_future<void> m_notesRead;
    std::optional<PrereadFile<Note>> m_notes;
    Identity m_todosIdentity;
    Identity m_notesIdentity;
    struct Preferences {
        QString path;
        std::optional<PrereadFile<QJsonObject>> file;
        Identity identity;
    };
    void readPreferences(Preferences& preferences);
    std::vector<Preferences> m_preferences;
    std::promise<void> m_defaultsDone;
    std::shared_future<void> m_defaultsRead;
    int m_readers = 1;
    qint64 m_todosFileSize = -1;
    std::promise<void> m_laterDefaultsDone;
    std::shared_future<void> m_laterDefaultsRead;
    std::thread m_laterThread;
    std::thread m_thread; // started once the rest is in place
};
