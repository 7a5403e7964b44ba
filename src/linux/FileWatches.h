#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class QSocketNotifier;

// Watches on files and folders, all through one inotify instance. A user has few instances (128
// on Debian), and each QFileSystemWatcher takes one of its own and, once none is left, looks at
// its paths every second for as long as it lives. Here a path that cannot be watched (no
// instance, or the user's watches used up) is refused, and the one who asked looks again itself,
// at most once a minute (`unwatchedLookMs`).
class FileWatches : public QObject {
    Q_OBJECT
public:
    // The program's one instance (made at first use, on the main thread).
    static FileWatches& shared();
    // An instance of its own, for tests; `usable` false: as when the user has no instance left.
    explicit FileWatches(bool usable = true, QObject* parent = nullptr);
    ~FileWatches() override;
    FileWatches(const FileWatches&) = delete;
    FileWatches& operator=(const FileWatches&) = delete;

    static constexpr int unwatchedLookMs = 60000;

    using Changed = std::function<void()>;
    // Watches `path`: a folder for entries made, removed, renamed or changed in their attributes; a
    // file for writes, renames and removal too. `changed` runs in the event loop after a burst of
    // events. When the path is removed or renamed its watch ends (after one last call). Returns an
    // id for remove(), or -1 when no watch can be had.
    int add(const QString& path, Changed changed);
    // Watches the program file at `path` for its runs: `changed` runs when a process starts on it
    // (the kernel opens the file to run it), when the last process holding it ends, and when the
    // file is replaced or removed (an upgrade), after which the watch stands on nothing.
    int addProgram(const QString& path, Changed changed);
    void remove(int id);
    // The watch of `id` still stands (its path was not removed since).
    bool watching(int id) const;
    // Watches in place, for tests.
    int count() const { return int(m_watches.size()); }

private:
    void readEvents();
    int addWatch(const QString& path, uint32_t events, Changed changed);

    struct Watch {
        int descriptor = -1;
        Changed changed;
    };
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    int m_nextId = 1;
    QHash<int, Watch> m_watches;              // by id
    QHash<int, QList<int>> m_idsByDescriptor; // several ids may watch one path
};
