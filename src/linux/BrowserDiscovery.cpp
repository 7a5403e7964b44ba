#include "linux/BrowserDiscovery.h"

#include "linux/FileWatches.h"
#include "linux/LinuxBrowsers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files under /proc report a size of 0: read them as a stream, to a bound.
QByteArray readSmall(const QString& path, qint64 limit = 64 * 1024)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray out;
    char buffer[4096];
    while (out.size() < limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buffer, n);
    }
    ::close(fd);
    return out.left(limit);
}

// The process ids in the table, by their folders' names: the names alone, where QDir would
// also look each entry up.
QList<qint64> processIds(const QString& proc)
{
    QList<qint64> ids;
    DIR* dir = ::opendir(QFile::encodeName(proc).constData());
    if (!dir)
        return ids;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long long id = std::strtoll(entry->d_name, &end, 10);
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9' && end && *end == '\0' && id > 0)
            ids.append(id);
    }
    ::closedir(dir);
    // Oldest first, whatever order the folder gives.
    std::sort(ids.begin(), ids.end());
    return ids;
}

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

// Where a symbolic link points, as written: one call, where QFileInfo would look the file up too.
QString linkTarget(const QString& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return n > 0 && size_t(n) < sizeof buffer ? QFile::decodeName(QByteArray(buffer, n)) : QString();
}

// Which browser a process running `exe` is: by its program, or by the sandbox it runs in.
const LinuxBrowserIdentity* identify(const QString& proc, const QString& pid, const QString& exe)
{
    const QString name = QFileInfo(exe).fileName();
    for (const LinuxBrowserIdentity& row : LinuxBrowsers::table()) {
        if (!exe.isEmpty() && (row.executables.contains(name) || row.programPaths.contains(exe)))
            return &row;
    }
    // Flatpak and Snap programs run from paths of their own (what their processes see as /app
    // and /snap); their control group names them. Any other program is not a browser: its
    // control group is not read, nor that of a kernel thread, which runs no program at all.
    if (!exe.startsWith(QLatin1String("/app/")) && !exe.startsWith(QLatin1String("/snap/")))
        return nullptr;
    const QByteArray cgroup = readSmall(proc + u'/' + pid + QStringLiteral("/cgroup"), 4096);
    if (cgroup.isEmpty())
        return nullptr;
    for (const LinuxBrowserIdentity& row : LinuxBrowsers::table())
        for (const QString& folder : row.sandboxedProfileFolders) {
            const QStringList parts = folder.split(u'/');
            const QByteArray mark = parts.value(0) == QLatin1String(".var")
                                        ? "app-flatpak-" + parts.value(2).toUtf8() + '-'
                                        : "snap." + parts.value(1).toUtf8() + '.';
            if (cgroup.contains(mark))
                return &row;
        }
    return nullptr;
}

// The default profile folder of a sandboxed process: the one of its sandbox.
QString defaultFolderFor(const LinuxBrowserIdentity& identity, const QString& home, const QByteArray& cgroup)
{
    for (const QString& folder : identity.sandboxedProfileFolders) {
        const QStringList parts = folder.split(u'/');
        const QByteArray mark = parts.value(0) == QLatin1String(".var") ? "app-flatpak-" + parts.value(2).toUtf8() + '-'
                                                                        : "snap." + parts.value(1).toUtf8() + '.';
        if (cgroup.contains(mark))
            return QDir(home).filePath(folder);
    }
    return LinuxBrowsers::profilePath(identity, home);
}

} // namespace

BrowserDiscovery::BrowserDiscovery(QString home, QString proc, QObject* parent, FileWatches* watches)
    : QObject(parent), m_home(home.isEmpty() ? QDir::homePath() : std::move(home)), m_proc(std::move(proc)),
      m_startedUnder(qEnvironmentVariableIntValue(startedUnderVariable)),
      m_displays(displaysOf("DISPLAY=" + qgetenv("DISPLAY") + '\0' + "WAYLAND_DISPLAY=" + qgetenv("WAYLAND_DISPLAY") +
                            '\0' + "XDG_RUNTIME_DIR=" + qgetenv("XDG_RUNTIME_DIR") + '\0')),
      m_watches(watches ? watches : &FileWatches::shared())
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(150);
    connect(&m_debounce, &QTimer::timeout, this, &BrowserDiscovery::rescan);
    m_programReading.setSingleShot(true);
    // Only the processes started since the last reading are looked at: a program's run is a new
    // process, or the end of one that the reading misses.
    connect(&m_programReading, &QTimer::timeout, this, [this] {
        m_lastProgramReading = monotonicMs();
        // Watched again before the reading: a run between the two is in the reading or brings
        // the next one.
        watchPrograms();
        if (!readTable(Reading::newProcesses))
            m_programGapMs = std::min(2 * m_programGapMs, longestProgramReadingGapMs);
    });
    m_slow.setInterval(slowRescanMs);
    connect(&m_slow, &QTimer::timeout, this, &BrowserDiscovery::readNewProcesses);
    m_unwatchedLook.setInterval(FileWatches::unwatchedLookMs);
    connect(&m_unwatchedLook, &QTimer::timeout, this, &BrowserDiscovery::lookAtUnwatchedFolders);
}

BrowserDiscovery::~BrowserDiscovery()
{
    for (const int id : std::as_const(m_watched))
        m_watches->remove(id);
    for (const ProgramWatch& w : std::as_const(m_programs))
        m_watches->remove(w.id);
}

void BrowserDiscovery::start()
{
    if (m_started)
        return;
    m_started = true;
    rescan();
}

QStringList BrowserDiscovery::watchedPrograms() const
{
    QStringList files;
    for (auto it = m_programs.cbegin(); it != m_programs.cend(); ++it)
        if (m_watches->watching(it->id))
            files.append(it.key());
    return files;
}

void BrowserDiscovery::programRan()
{
    // Only a reading tells whether a run was a browser of ours starting or quitting. Every helper
    // a running browser starts opens its program file too, and so do the browsers of others (the
    // same person's other sessions): the readings these bring come seconds apart at most.
    if (m_programReading.isActive())
        return;
    // Until that reading the program files go unwatched: a browser starting its helpers by the
    // dozen would otherwise wake the program for each.
    for (ProgramWatch& w : m_programs) {
        m_watches->remove(w.id);
        w.id = -1;
    }
    const qint64 since = monotonicMs() - m_lastProgramReading;
    m_programReading.start(int(std::clamp<qint64>(m_programGapMs - since, 150, m_programGapMs)));
}

void BrowserDiscovery::watchPrograms()
{
    forgetPathLookupsIfChanged();
    QStringList files;
    for (const LinuxBrowserIdentity& row : LinuxBrowsers::table()) {
        QStringList candidates = row.programPaths;
        for (const QString& name : row.executables)
            candidates.append(onPath(name));
        // The program itself, not a launcher script: a script's run is over before its process
        // becomes the browser, and the browser's own program is opened then.
        for (const QString& c : std::as_const(candidates))
            if (const QString file = c.isEmpty() ? c : QFileInfo(c).canonicalFilePath();
                !file.isEmpty() && !isScript(file))
                files.append(file);
    }
    files.removeAll(QString());
    files.removeDuplicates();
    bool everyOne = true;
    for (auto it = m_programs.begin(); it != m_programs.end();) {
        if (!files.contains(it.key())) {
            m_watches->remove(it->id);
            it = m_programs.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString& f : std::as_const(files)) {
        const quint64 inode = m_fileHeads.value(f).inode;
        ProgramWatch& w = m_programs[f];
        if (w.id >= 0 && w.inode == inode && m_watches->watching(w.id))
            continue;
        m_watches->remove(w.id);
        w.id = m_watches->addProgram(f, [this] { programRan(); });
        w.inode = inode;
        everyOne = everyOne && w.id >= 0;
    }
    // Without the programs' word a browser started on a folder nobody watches is found only by
    // reading the table from time to time.
    if (!everyOne && !m_slow.isActive())
        m_slow.start();
    else if (everyOne && m_slow.isActive())
        m_slow.stop();
}

void BrowserDiscovery::forgetPathLookupsIfChanged()
{
    // A lookup is a look at every folder of PATH for every name, at every reading: done again only
    // once a folder's entries (or PATH itself) changed, as installing or removing a program does.
    const QByteArray path = qgetenv("PATH");
    QList<qint64> marks;
    for (const QByteArray& folder : path.split(':')) {
        struct stat st {};
        marks.append(folder.isEmpty() || ::stat(folder.constData(), &st) != 0
                         ? -1
                         : qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
    }
    if (path != m_path || marks != m_pathMarks) {
        m_path = path;
        m_pathMarks = marks;
        m_onPath.clear();
    }
}

QString BrowserDiscovery::onPath(const QString& name)
{
    const auto found = m_onPath.constFind(name);
    return found != m_onPath.cend() ? *found : *m_onPath.insert(name, QStandardPaths::findExecutable(name));
}

bool BrowserDiscovery::isScript(const QString& file)
{
    // Read once per version of the file: an open is what the program watches hear, so reading it
    // at every reading would wake every other copy watching it (another session's, a test's),
    // and their readings would wake this one in turn.
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return true;
    FileHead& head = m_fileHeads[file];
    const qint64 modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (head.inode != quint64(st.st_ino) || head.modified != modified || head.size != qint64(st.st_size)) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            m_fileHeads.remove(file);
            return true;
        }
        head = {quint64(st.st_ino), modified, qint64(st.st_size), f.read(2) == "#!"};
    }
    return head.script;
}

std::optional<qint64> BrowserDiscovery::lastProcessId() const
{
    // "0.00 0.01 0.05 1/234 5678": the last field is the most recently created process.
    const QList<QByteArray> fields = readSmall(m_proc + QStringLiteral("/loadavg"), 256).trimmed().split(' ');
    bool ok = false;
    const qint64 pid = fields.value(4).toLongLong(&ok);
    return ok ? std::optional(pid) : std::nullopt;
}

bool BrowserDiscovery::alive(qint64 pid) const
{
    if (m_proc == QLatin1String("/proc"))
        return kill(static_cast<pid_t>(pid), 0) == 0;
    return QFileInfo::exists(m_proc + u'/' + QString::number(pid));
}

namespace {

QString resolveProfile(QString named, const QString& workingFolder)
{
    if (named.startsWith(QLatin1String("~/")))
        named = QDir::homePath() + named.mid(1);
    return QDir::cleanPath(QDir(workingFolder).absoluteFilePath(named));
}

// Chromium's processes may replace their command line with one text, the arguments joined by
// spaces (the browser process itself does so once it runs on a display). A folder named there
// cannot be told apart from the words after it when it holds spaces: the longest reading that
// names an existing folder is taken, else the first word.
QString profileFromTitle(QString title, const QString& workingFolder, const QString& defaultFolder)
{
    if (const qsizetype end = title.indexOf(QLatin1String(" -- ")); end >= 0)
        title.truncate(end);
    static const QString option = QStringLiteral(" --user-data-dir");
    qsizetype at = title.size();
    while ((at = title.lastIndexOf(option, at - 1)) >= 0) {
        const qsizetype valueAt = at + option.size();
        if (valueAt < title.size() && (title.at(valueAt) == u'=' || title.at(valueAt) == u' '))
            break;
        if (at == 0)
            return defaultFolder;
    }
    if (at < 0)
        return defaultFolder;
    QString value = title.mid(at + option.size() + 1);
    if (const qsizetype next = value.indexOf(QLatin1String(" --")); next >= 0)
        value.truncate(next);
    if (value.isEmpty() || value.startsWith(u' '))
        return defaultFolder;
    for (QString reading = value; !reading.isEmpty();) {
        const QString path = resolveProfile(reading, workingFolder);
        if (QFileInfo(path).isDir())
            return path;
        const qsizetype space = reading.lastIndexOf(u' ');
        reading.truncate(space < 0 ? 0 : space);
    }
    return resolveProfile(value.section(u' ', 0, 0), workingFolder);
}

} // namespace

QString BrowserDiscovery::profileFromCommandLine(const QStringList& arguments, const QString& workingFolder,
                                                 const QString& defaultFolder)
{
    if (arguments.size() == 1 && arguments.first().contains(QLatin1String(" --")))
        return profileFromTitle(arguments.first(), workingFolder, defaultFolder);
    static const QString option = QStringLiteral("--user-data-dir");
    QString named;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("--"))
            break;
        if (a.startsWith(option + u'='))
            named = a.mid(option.size() + 1);
        else if (a == option && i + 1 < arguments.size())
            named = arguments.at(++i);
    }
    if (named.isEmpty())
        return defaultFolder;
    return resolveProfile(named, workingFolder);
}

void BrowserDiscovery::readNewProcesses()
{
    // A browser started on a folder nobody watches is found here, but only when a process was
    // started at all since the last reading.
    if (const std::optional<qint64> last = lastProcessId(); !last || last != m_lastPid)
        readTable(Reading::newProcesses);
}

void BrowserDiscovery::rescan()
{
    readTable(Reading::everyProcess);
}

bool BrowserDiscovery::readTable(Reading reading)
{
    ++m_scans;
    m_lastPid = lastProcessId();
    QHash<QString, QList<Process>> running;
    // A process keeps what it is until it runs another program, so one looked at before whose
    // program is the same is not read again: a reading costs a link per process, and the files
    // of the new ones. A process id used again by a new process before this table is read once
    // more would take the process ids round the whole range within one reading's interval.
    QHash<qint64, Examined> examined;
    for (const qint64 id : processIds(m_proc)) {
        const QString pid = QString::number(id);
        const auto before = m_examined.constFind(id);
        // The half-minute reading looks only at processes started since the last one: a browser
        // that a known process turned into (a launcher that ran it in its place) is seen by the
        // readings its profile folder or its window bring.
        if (reading == Reading::newProcesses && before != m_examined.cend()) {
            examined.insert(id, *before);
            if (!before->browserId.isEmpty())
                running[before->browserId].append({id, before->profile});
            continue;
        }
        const QString exe = linkTarget(m_proc + u'/' + pid + QStringLiteral("/exe"));
        const Examined seen =
            before != m_examined.cend() && before->exe == exe && !before->windowless ? *before : examine(pid, exe);
        examined.insert(id, seen);
        if (!seen.browserId.isEmpty())
            running[seen.browserId].append({id, seen.profile});
    }
    m_examined = std::move(examined);
    m_owners.reset();
    const bool differs = running != m_running;
    m_running = running;
    // The folders to watch follow the browsers found, and a folder made or removed is heard of
    // in its watch with a full reading: a half-minute reading that found the same browsers has
    // none to add.
    if (differs || reading == Reading::everyProcess) {
        watchFolders();
        watchPrograms();
    }
    if (differs) {
        m_programGapMs = programReadingGapMs;
        emit changed();
    }
    return differs;
}

BrowserDiscovery::Examined BrowserDiscovery::examine(const QString& pid, const QString& exe)
{
    ++m_processesRead;
    Examined seen{exe, {}, {}};
    const LinuxBrowserIdentity* identity = identify(m_proc, pid, exe);
    if (!identity)
        return seen;
    // Another person's browser is not ours to steer.
    if (QFileInfo(m_proc + u'/' + pid).ownerId() != geteuid())
        return seen;
    // Only the browser process itself: its renderers and helpers carry a type (and rewrite
    // their command line into one text, so it is looked for anywhere in it). Told first: most
    // new processes of a running browser are helpers, and their environment need not be read.
    const QByteArray cmdline = readSmall(m_proc + u'/' + pid + QStringLiteral("/cmdline"));
    if (cmdline.contains(" --type=") || cmdline.contains(QByteArray("\0--type=", 8)) ||
        cmdline.contains("-contentproc"))
        return seen;
    const QByteArray environment = readSmall(m_proc + u'/' + pid + QStringLiteral("/environ"), 256 * 1024);
    const std::optional<bool> ourHome = sameHome(environment);
    if (ourHome == false || !startedUnder(pid))
        return seen;
    // A browser of this home on another desktop (the same person's other session, a test's
    // display) is not one this person has in front of them here: counted, it would keep the
    // checks running for a browser they can never look at.
    if (ourHome.has_value() && onOtherDesktop(exe, environment))
        return seen;
    // Every program runs with its name at least: a process whose files read empty ended while it
    // was being read, and would otherwise pass for a browser on its default folder. Its id is
    // looked at afresh should it come again.
    if (cmdline.isEmpty())
        return {};
    QStringList arguments;
    for (const QByteArray& part : (cmdline.endsWith('\0') ? cmdline.chopped(1) : cmdline).split('\0'))
        arguments.append(QString::fromLocal8Bit(part));
    const QString cwd = QFileInfo(m_proc + u'/' + pid + QStringLiteral("/cwd")).symLinkTarget();
    const QString fallback =
        defaultFolderFor(*identity, m_home, readSmall(m_proc + u'/' + pid + QStringLiteral("/cgroup"), 4096));
    const QString profile = profileFromCommandLine(arguments, cwd.isEmpty() ? m_home : cwd, fallback);
    if (!ourHome && isOtherHomesDefault(profile))
        return seen;
    // Chromium overwrites its environment some seconds after it starts: one found later shows
    // where it runs by its windows alone, where the desktop names them.
    if (!ourHome && windowlessHere(pid.toLongLong())) {
        seen.windowless = true;
        return seen;
    }
    seen.browserId = identity->browserId;
    seen.profile = profile;
    return seen;
}

bool BrowserDiscovery::startedUnder(const QString& pid) const
{
    if (m_startedUnder <= 0)
        return true;
    // Up the parents, bounded: a table being rewritten as it is read cannot loop.
    QString at = pid;
    for (int depth = 0; depth < 64; ++depth) {
        const QByteArray status = readSmall(m_proc + u'/' + at + QStringLiteral("/status"), 16 * 1024);
        const qsizetype line = status.indexOf("\nPPid:");
        if (line < 0)
            return false;
        const qsizetype end = status.indexOf('\n', line + 1);
        const qint64 parent = status.mid(line + 6, end < 0 ? -1 : end - line - 6).trimmed().toLongLong();
        if (parent == m_startedUnder)
            return true;
        if (parent <= 1)
            return false;
        at = QString::number(parent);
    }
    return false;
}

std::optional<bool> BrowserDiscovery::sameHome(const QByteArray& environment) const
{
    // A browser started for another home (a test's) is not ours to steer. A Snap's HOME lies
    // inside ours. Chromium overwrites its environment when it rewrites its command line: then
    // the home is unknown.
    for (const QByteArray& entry : environment.split('\0'))
        if (entry.startsWith("HOME=")) {
            const QString home = QDir::cleanPath(QFile::decodeName(entry.mid(5)));
            return home == QDir::cleanPath(m_home) ||
                   home.startsWith(QDir::cleanPath(m_home) + QStringLiteral("/snap/"));
        }
    return std::nullopt;
}

BrowserDiscovery::Displays BrowserDiscovery::displaysOf(const QByteArray& environment)
{
    QByteArray display, wayland, runtime;
    for (const QByteArray& entry : environment.split('\0')) {
        if (entry.startsWith("DISPLAY="))
            display = entry.mid(8);
        else if (entry.startsWith("WAYLAND_DISPLAY="))
            wayland = entry.mid(16);
        else if (entry.startsWith("XDG_RUNTIME_DIR="))
            runtime = entry.mid(16);
    }
    Displays displays;
    // "[host]:number[.screen]": the screen is no other server, and "unix" is the local one.
    if (const qsizetype colon = display.lastIndexOf(':'); colon >= 0 && colon + 1 < display.size()) {
        const QByteArray host = display.left(colon);
        const QByteArray number = display.mid(colon + 1).split('.').first();
        if (!number.isEmpty())
            displays.x11 = QString::fromLocal8Bit((host == "unix" ? QByteArray() : host) + ':' + number);
    }
    // A name is relative to the runtime folder.
    if (!wayland.isEmpty())
        displays.wayland = QDir::cleanPath(wayland.startsWith('/') || runtime.isEmpty()
                                               ? QFile::decodeName(wayland)
                                               : QFile::decodeName(runtime) + u'/' + QFile::decodeName(wayland));
    return displays;
}

bool BrowserDiscovery::onOtherDesktop(const QString& exe, const QByteArray& environment) const
{
    // Without a desktop of its own (a service, a test's offscreen program) the program has none
    // to compare with; a test counts the browsers it started, wherever they show; and Flatpak
    // gives its programs a display of their own name.
    if (m_displays.isEmpty() || m_startedUnder > 0 || exe.startsWith(QLatin1String("/app/")))
        return false;
    return !displaysOf(environment).meets(m_displays);
}

bool BrowserDiscovery::windowlessHere(qint64 pid)
{
    if (m_displays.isEmpty() || m_startedUnder > 0 || !m_windowOwners)
        return false;
    if (!m_owners)
        m_owners = m_windowOwners();
    return *m_owners && !(*m_owners)->contains(pid);
}

bool BrowserDiscovery::isOtherHomesDefault(const QString& profile) const
{
    // Of a browser whose home is unknown, a profile folder elsewhere than in our home but where
    // a browser keeps its usual one inside a home belongs to that other home.
    const QString home = QDir::cleanPath(m_home) + u'/';
    if (profile.startsWith(home))
        return false;
    for (const LinuxBrowserIdentity& row : LinuxBrowsers::table()) {
        // Relative to a home, as another home keeps it whatever our $XDG_CONFIG_HOME says.
        QStringList usual = row.sandboxedProfileFolders;
        if (!row.profileFolder.isEmpty())
            usual.append(row.profileFolder);
        for (const QString& folder : std::as_const(usual))
            if (profile.endsWith(u'/' + QDir::cleanPath(folder)))
                return true;
    }
    return false;
}

QByteArray BrowserDiscovery::folderMark(const QString& folder)
{
    // A browser running or not shows in its lock and its port file; a first start, in the folders
    // of the folder above. Everything else a browser writes there (its settings, rewritten through
    // temporary files every few seconds) says nothing about which browsers run.
    const QDir dir(folder);
    QByteArray mark = QFileInfo(dir.filePath(QStringLiteral("SingletonLock"))).symLinkTarget().toUtf8();
    const QFileInfo port(dir.filePath(QStringLiteral("DevToolsActivePort")));
    if (port.exists())
        mark +=
            '\n' + QByteArray::number(port.lastModified().toMSecsSinceEpoch()) + ' ' + QByteArray::number(port.size());
    for (const QString& child : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        mark += '/' + child.toUtf8();
    return mark;
}

void BrowserDiscovery::watchFolders()
{
    ++m_folderPasses;
    QStringList folders;
    for (const LinuxBrowserIdentity& row : LinuxBrowsers::table())
        folders += profileFolders(row.browserId);
    folders.removeDuplicates();
    QStringList wanted;
    for (const QString& f : std::as_const(folders)) {
        if (QFileInfo(f).isDir())
            wanted.append(f);
        // A browser's first start creates its folder: heard of in the folder above it.
        else if (const QString above = QFileInfo(f).path(); QFileInfo(above).isDir() && !wanted.contains(above))
            wanted.append(above);
    }
    wanted.removeDuplicates();
    for (auto it = m_watched.begin(); it != m_watched.end();) {
        // A folder no longer wanted, or gone (its watch ended with it).
        if (!wanted.contains(it.key()) || !m_watches->watching(*it)) {
            m_watches->remove(*it);
            if (!wanted.contains(it.key()))
                m_marks.remove(it.key());
            it = m_watched.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString& f : std::as_const(m_unwatched))
        if (!wanted.contains(f))
            m_marks.remove(f);
    m_unwatched.clear();
    for (const QString& f : std::as_const(wanted)) {
        if (m_watched.contains(f))
            continue;
        const int id = m_watches->add(f, [this, f] { folderChanged(f); });
        if (id >= 0)
            m_watched.insert(f, id);
        else
            m_unwatched.append(f);
        if (!m_marks.contains(f))
            m_marks.insert(f, folderMark(f));
    }
    if (m_unwatched.isEmpty())
        m_unwatchedLook.stop();
    else if (!m_unwatchedLook.isActive())
        m_unwatchedLook.start();
}

void BrowserDiscovery::lookAtUnwatchedFolders()
{
    const QStringList folders = m_unwatched;
    for (const QString& f : folders)
        folderChanged(f);
    watchFolders();
}

void BrowserDiscovery::folderChanged(const QString& folder)
{
    QByteArray mark = folderMark(folder);
    if (const auto known = m_marks.find(folder); known != m_marks.end()) {
        if (*known == mark)
            return;
        *known = std::move(mark);
    }
    // A port file written or a lock taken or dropped: one reading for a burst of changes.
    emit changed();
    m_debounce.start();
}

void BrowserDiscovery::noticeProcess(qint64 pid)
{
    if (pid <= 0 || pid == m_lastNoticed)
        return;
    m_lastNoticed = pid;
    setFrontWindowsNamed(true);
    for (const QList<Process>& list : std::as_const(m_running))
        for (const Process& p : list)
            if (p.pid == pid)
                return;
    if (!identify(m_proc, QString::number(pid),
                  linkTarget(m_proc + u'/' + QString::number(pid) + QStringLiteral("/exe"))))
        return;
    const qint64 now = monotonicMs();
    if (m_lastNoticeScan && now - m_lastNoticeScan < 2000)
        return;
    m_lastNoticeScan = now;
    rescan();
}

void BrowserDiscovery::setFrontWindowsNamed(bool named)
{
    const int interval = named ? slowRescanWithFrontMs : slowRescanMs;
    if (m_slow.interval() != interval)
        m_slow.setInterval(interval);
}

bool BrowserDiscovery::isRunning(const QString& browserId) const
{
    for (const Process& p : m_running.value(browserId))
        if (alive(p.pid))
            return true;
    return false;
}

QList<BrowserDiscovery::Process> BrowserDiscovery::processes(const QString& browserId) const
{
    return m_running.value(browserId);
}

QStringList BrowserDiscovery::profileFolders(const QString& browserId) const
{
    QStringList folders;
    for (const Process& p : m_running.value(browserId))
        if (!p.profile.isEmpty() && alive(p.pid))
            folders.append(p.profile);
    if (const LinuxBrowserIdentity* identity = LinuxBrowsers::forId(browserId))
        folders += LinuxBrowsers::defaultProfilePaths(*identity, m_home);
    folders.removeDuplicates();
    return folders;
}
