#pragma once

#include <QFileSystemWatcher>
#include <QHash>
#include <QStringList>
#include <memory>

// Whether a program is installed, as PATH and the application folders show it. An answer stands
// until one of those folders changes: installing or removing a program writes there, so while
// nothing does, asking again costs no look-up on disk. A folder that does not exist is heard of
// through the nearest one above it that does. Where a folder cannot be watched (the system's
// limit on watches reached), answers are kept only `unwatchedAnswerMs`.
class InstalledPrograms {
public:
    InstalledPrograms() = default;
    InstalledPrograms(const InstalledPrograms&) = delete;
    InstalledPrograms& operator=(const InstalledPrograms&) = delete;

    // True when any of `executables` is on PATH (a file that may be run) or has a .desktop file of
    // that name in an application folder.
    bool anyInstalled(const QStringList& executables, qint64 nowMs);
    // Look-ups on disk so far, for tests and measurements that count work.
    int lookups() const { return m_lookups; }

    static constexpr qint64 unwatchedAnswerMs = 30000;

private:
    bool find(const QStringList& executables) const;
    void watchFolders();
    void forget();

    std::unique_ptr<QFileSystemWatcher> m_watcher; // made at the first question
    QStringList m_pathFolders;
    QStringList m_applicationFolders;
    bool m_watching = false; // the folders above are read and watched
    bool m_allWatched = false;
    struct Answer {
        bool installed = false;
        qint64 atMs = 0;
    };
    QHash<QString, Answer> m_answers; // by the executables' names joined
    int m_lookups = 0;
};
