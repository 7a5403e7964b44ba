#pragma once

#include <QHash>
#include <QStringList>

// Whether a program is installed, as PATH and the application folders show it. No folder is
// watched: PATH holds large, busy folders (a watch on each would cost an inotify watch apiece, and
// once the user's watches are used up a look at every one every second). An answer stands for
// `answerMs` instead, so asking often looks on disk at most once a minute per program.
class InstalledPrograms {
public:
    InstalledPrograms() = default;
    InstalledPrograms(const InstalledPrograms&) = delete;
    InstalledPrograms& operator=(const InstalledPrograms&) = delete;

    // True when any of `executables` is on PATH (a file that may be run) or has a .desktop file of
    // that name in an application folder. `nowMs` is a monotonic time.
    bool anyInstalled(const QStringList& executables, qint64 nowMs);
    // Look-ups on disk so far, for tests and measurements that count work.
    int lookups() const { return m_lookups; }

    static constexpr qint64 answerMs = 60000;

private:
    bool find(const QStringList& executables) const;

    struct Answer {
        bool installed = false;
        qint64 atMs = 0;
    };
    QHash<QString, Answer> m_answers; // by the executables' names joined
    int m_lookups = 0;
};
