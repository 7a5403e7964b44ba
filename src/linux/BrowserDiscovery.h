#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

class FileWatches;
struct LinuxBrowserIdentity;

// Which browsers run and where their profile folders are, learnt from events rather than by
// reading every process on every check: the browsers' profile folders are watched (a browser
// writes its lock and its debugging port file there as it starts, and removes the lock as it
// quits), and so are the browsers' program files (the kernel opens one to start a process on it,
// and closes it when the last such process ends), and the process table is read only when one of
// them changed or when a window of a browser not yet known comes to the front. Only where the
// program files cannot be watched (no inotify instance or watch left) is the table read by a
// timer: every five seconds, every two minutes where the desktop names the window in front, and
// then only when a process was created since (the kernel's last process id tells). A folder no
// watch can be had for is looked at once a minute. Only browsers of this home that show their
// windows on this program's desktop count.
class BrowserDiscovery : public QObject {
    Q_OBJECT
public:
    // Set in the environment to a process id, only browsers started under that process count: a
    // test's program then sees the browsers the test started and no other browser of the same
    // user, whatever that one's home or profile folder.
    static constexpr const char* startedUnderVariable = "QUILLHARBOUR_BROWSERS_STARTED_UNDER";

    // `home` holds the default profile folders; `proc` is the process table (a test's own tree);
    // `watches` none: the program's shared ones.
    explicit BrowserDiscovery(QString home = QString(), QString proc = QStringLiteral("/proc"),
                              QObject* parent = nullptr, FileWatches* watches = nullptr);
    ~BrowserDiscovery() override;

    // A running browser's main process and the profile folder it uses.
    struct Process {
        qint64 pid = 0;
        QString profile;
        bool operator==(const Process&) const = default;
    };

    // Reads the process table and from then on follows the browsers; until then none is known.
    void start();

    bool isRunning(const QString& browserId) const;
    QList<Process> processes(const QString& browserId) const;
    // The folders to look for the debugging port file in: the running copies' own, then the
    // default ones (native, Flatpak, Snap).
    QStringList profileFolders(const QString& browserId) const;
    // A window of process `pid` is in front: a browser process not yet known gets the process
    // table read (not more often than every two seconds).
    void noticeProcess(qint64 pid);
    // Whether the desktop names the window in front (and so tells of a browser's window as it
    // comes forward): the reading for browsers on folders nobody watches is then the slow one.
    void setFrontWindowsNamed(bool named);
    // The processes with a window on this program's desktop, or none where the desktop cannot
    // tell: asked about a browser whose environment no longer says where it shows.
    using WindowOwners = std::function<std::optional<QSet<qint64>>()>;
    void setWindowOwners(WindowOwners owners) { m_windowOwners = std::move(owners); }

    // Reads the process table now.
    void rescan();
    // What the half-minute timer does: looks at the processes started since the last reading,
    // if any was.
    void readNewProcesses();
    int scans() const { return m_scans; }
    // Times the profile folders were looked at to choose what to watch.
    int folderPasses() const { return m_folderPasses; }
    // Processes looked at to tell what they are (new ones, and ones that ran another program),
    // over all readings.
    int processesRead() const { return m_processesRead; }

    // The profile folder a browser's command line names, or the default one when it names none.
    // A command line the process rewrote into one text comes as a single argument.
    static QString profileFromCommandLine(const QStringList& arguments, const QString& workingFolder,
                                          const QString& defaultFolder);
    // The displays a process shows its windows on, from its environment ("NAME=value" texts, each
    // ended by a NUL): the X11 server as ":number" (or "host:number"), the Wayland socket's path.
    struct Displays {
        QString x11;
        QString wayland;
        bool isEmpty() const { return x11.isEmpty() && wayland.isEmpty(); }
        // Either names the same server.
        bool meets(const Displays& other) const
        {
            return (!x11.isEmpty() && x11 == other.x11) || (!wayland.isEmpty() && wayland == other.wayland);
        }
    };
    static Displays displaysOf(const QByteArray& environment);
    // Where the desktop names no front window (Wayland), a browser started on a profile folder
    // nobody watches is found by this reading alone: a person waits this long at most.
    static constexpr int slowRescanMs = 5000;
    // Once the desktop names the windows that come to the front (noticeProcess), a browser is
    // looked up as soon as one of its windows comes forward: the reading for those started
    // behind others on a folder nobody watches comes this often instead.
    static constexpr int slowRescanWithFrontMs = 120000;
    int slowRescanInterval() const { return m_slow.interval(); }
    // The timer reads the table: the program files of the installed browsers could not all be
    // watched.
    bool readsByTimer() const { return m_slow.isActive(); }
    // The program files watched for browsers that start and end.
    QStringList watchedPrograms() const;
    // The least time between two readings that program runs bring. Each reading that finds no
    // browser of ours started or gone doubles it, up to the longest: on a machine where others
    // start the same browsers all day, their runs would otherwise wake the program every few
    // seconds. A reading that finds a change brings it back down. A run after a quiet spell longer
    // than the gap is read at once, whatever the gap.
    static constexpr int programReadingGapMs = 5000;
    static constexpr int longestProgramReadingGapMs = 60000;
    int programReadingGap() const { return m_programGapMs; }
    // What of a watched folder tells which browsers run: a change that leaves it as it was is no
    // reason to read the process table.
    static QByteArray folderMark(const QString& folder);
    // The folders looked at by the minute, for want of a watch.
    const QStringList& unwatchedFolders() const { return m_unwatched; }
    // What the minute's timer does: those folders looked at again, and watched if that can be had now.
    void lookAtUnwatchedFolders();

signals:
    // Something about the browsers' processes or port files changed.
    void changed();

private:
    // What a process was found to be when its files were read: the browser of ours it is (its id
    // and profile folder), or nothing.
    struct Examined {
        QString exe;
        QString browserId;
        QString profile;
        bool windowless = false; // not counted for want of a window here: looked at again
    };
    Examined examine(const QString& pid, const QString& exe);
    enum class Reading { everyProcess, newProcesses };
    // Whether the browsers found differ from those known before.
    bool readTable(Reading reading);
    void watchFolders();
    void watchPrograms();
    bool isScript(const QString& file);
    void forgetPathLookupsIfChanged();
    QString onPath(const QString& name);
    void programRan();
    void folderChanged(const QString& folder);
    std::optional<qint64> lastProcessId() const;
    bool alive(qint64 pid) const;
    std::optional<bool> sameHome(const QByteArray& environment) const;
    bool onOtherDesktop(const QString& exe, const QByteArray& environment) const;
    bool windowlessHere(qint64 pid);
    bool startedUnder(const QString& pid) const;
    bool isOtherHomesDefault(const QString& profile) const;

    QString m_home;
    QString m_proc;
    qint64 m_startedUnder = 0; // 0: any process
    Displays m_displays;       // this program's own, from its environment
    WindowOwners m_windowOwners;
    std::optional<std::optional<QSet<qint64>>> m_owners; // asked once per reading
    QHash<QString, QList<Process>> m_running;            // by browser id
    FileWatches* m_watches = nullptr;
    QHash<QString, int> m_watched; // watch ids by folder
    QStringList m_unwatched;
    struct ProgramWatch {
        int id = -1;
        quint64 inode = 0; // an upgrade puts another file in its place
    };
    QHash<QString, ProgramWatch> m_programs; // by program file
    struct FileHead {
        quint64 inode = 0;
        qint64 modified = 0; // ns
        qint64 size = -1;
        bool script = false;
    };
    QHash<QString, FileHead> m_fileHeads; // by candidate program file, as last read
    QByteArray m_path;                    // PATH as last looked at
    QList<qint64> m_pathMarks;            // its folders' times of change then (ns, -1: none)
    QHash<QString, QString> m_onPath;     // what each name found on it
    QTimer m_unwatchedLook;
    QTimer m_debounce;
    QTimer m_programReading;
    qint64 m_lastProgramReading = 0; // monotonic ms
    int m_programGapMs = programReadingGapMs;
    QTimer m_slow;
    std::optional<qint64> m_lastPid;
    bool m_started = false;
    qint64 m_lastNoticeScan = 0; // monotonic ms
    qint64 m_lastNoticed = 0;    // the process last asked about: asked once while it stays in front
    int m_scans = 0;
    int m_folderPasses = 0;
    int m_processesRead = 0;
    QHash<qint64, Examined> m_examined; // by process id, as of the last reading
    QHash<QString, QByteArray> m_marks; // by watched folder: what told of a browser there when last read
};
