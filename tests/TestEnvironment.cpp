#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A local socket's path holds at most 107 bytes, and the tests' programs make theirs up to about
// 67 bytes below this folder (a browser's singleton socket in its temporary folder, the
// accessibility bus in the runtime folder): under a longer temporary folder than that leaves room
// for, the test's folder goes to /tmp instead.
QString base()
{
    const QString temporary = QDir::tempPath();
    return QFile::encodeName(temporary).size() <= 40 ? temporary : QStringLiteral("/tmp");
}

QTemporaryDir& home()
{
    static QTemporaryDir dir(base() + QStringLiteral("/qh-test-XXXXXX"));
    return dir;
}

// A process a test starts from its own program may be given the folder to live in, which that
// test removes: killed, the process could never remove a folder of its own.
QString givenHome()
{
    static const QString given = [] {
        const QString folder = qEnvironmentVariable("QUILLHARBOUR_TEST_HOME");
        // Not handed on to what this process starts in turn.
        qunsetenv("QUILLHARBOUR_TEST_HOME");
        return folder;
    }();
    return given;
}

QString rootPath()
{
    return givenHome().isEmpty() ? home().path() : givenHome();
}

// A test that dies (an abort, a crash, QtTest's own watchdog) runs no destructor, and what it
// started (a display server, buses, browsers, the program) would live on, holding ctest's output.
// So the test runs as the child of a small keeper, which takes in every process its descendants
// leave behind and, once the test has ended however it ended, ends what is left and ends the same
// way itself. Under a debugger the test runs as it is.

pid_t s_test = 0;

void passOn(int signal)
{
    if (s_test > 0)
        ::kill(s_test, signal);
}

std::vector<pid_t> children()
{
    std::vector<pid_t> found;
    const pid_t self = ::getpid();
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = pid_t(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
        FILE* stat = std::fopen(path, "re");
        if (!stat)
            continue;
        char line[1024] = {};
        const size_t read = std::fread(line, 1, sizeof line - 1, stat);
        std::fclose(stat);
        line[read] = 0;
        // "pid (name) state ppid …": the name may hold anything, so read after its last ")".
        const char* end = std::strrchr(line, ')');
        char state = 0;
        int parent = 0;
        if (end && std::sscanf(end + 1, " %c %d", &state, &parent) == 2 && parent == self && state != 'Z')
            found.push_back(pid);
    }
    ::closedir(proc);
    return found;
}

// Asks what is left to end, then ends it: each one's own leftovers become the keeper's in turn.
void endLeftovers()
{
    using namespace std::chrono;
    for (const int signal : {SIGTERM, SIGKILL}) {
        const auto deadline = steady_clock::now() + seconds(5);
        std::vector<pid_t> told;
        while (steady_clock::now() < deadline) {
            while (::waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            const std::vector<pid_t> left = children();
            if (left.empty())
                return;
            for (const pid_t pid : left)
                if (std::find(told.begin(), told.end(), pid) == told.end()) {
                    ::kill(pid, signal);
                    told.push_back(pid);
                }
            std::this_thread::sleep_for(milliseconds(20));
        }
    }
}

bool traced()
{
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return false;
    char line[256];
    int tracer = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "TracerPid: %d", &tracer) == 1)
            break;
    std::fclose(status);
    return tracer != 0;
}

void keepDescendants()
{
    if (traced() || ::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        return;
    // The test's folder is made here, so that the keeper knows it: a process that outlived the
    // test may write into it after the test removed it, and the keeper removes it again.
    const QString own = givenHome().isEmpty() ? home().path() : QString();
    const pid_t keeper = ::getpid();
    const pid_t test = ::fork();
    if (test < 0) {
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
        return;
    }
    if (test == 0) {
        // The keeper killed outright takes the test with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != keeper)
            ::raise(SIGKILL);
        return;
    }
    s_test = test;
    // A terminal's Ctrl+C reaches the test itself; what is sent to the keeper alone is passed on.
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGQUIT, SIG_IGN);
    ::signal(SIGTERM, passOn);
    ::signal(SIGHUP, passOn);
    int status = 0;
    while (true) {
        const pid_t ended = ::waitpid(-1, &status, 0);
        if (ended == test)
            break;
        if (ended < 0 && errno != EINTR)
            std::_Exit(1);
    }
    endLeftovers();
    if (!own.isEmpty())
        QDir(own).removeRecursively();
    if (WIFEXITED(status))
        std::_Exit(WEXITSTATUS(status));
    const int signal = WTERMSIG(status);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    std::_Exit(128 + signal);
}

void setUp()
{
#ifdef QH_KEEP_DESCENDANTS
    constexpr bool keep = true;
#else
    constexpr bool keep = false;
#endif
    if (keep)
        keepDescendants();
    const QString root = rootPath();
    QDir().mkpath(root);
    const auto make = [&root](const char* sub) {
        const QString path = root + QLatin1Char('/') + QLatin1String(sub);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path.toLocal8Bit();
    };
    qputenv("HOME", root.toLocal8Bit());
    qputenv("XDG_DATA_HOME", make("data"));
    qputenv("XDG_CONFIG_HOME", make("config"));
    qputenv("XDG_CACHE_HOME", make("cache"));
    qputenv("XDG_STATE_HOME", make("state"));
    qputenv("XDG_RUNTIME_DIR", make("runtime"));
    // What the test and the programs it starts leave in the temporary folder goes with the test's
    // own folder: a browser that is stopped, say, leaves its singleton's folder there.
    qputenv("TMPDIR", make("tmp"));
    qunsetenv("QUILLHARBOUR_DATA_DIR");
    // The browsers of this user that the test did not start (a person's, another test's) are
    // not the test's to steer, nor to be steered by it, whatever their home or profile folder.
    // A program the test starts (which inherits this) counts those the test started.
    if (qEnvironmentVariableIsEmpty("QUILLHARBOUR_BROWSERS_STARTED_UNDER"))
        qputenv("QUILLHARBOUR_BROWSERS_STARTED_UNDER", QByteArray::number(::getpid()));
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", "America/New_York");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(setUp)

namespace TestEnvironment {

QString homePath()
{
    return rootPath();
}

Calendar calendar(const char* zone)
{
    return Calendar(QTimeZone(zone), 1, QLocale(QLocale::English, QLocale::UnitedStates));
}

Date at(int year, int month, int day, int hour, int minute, int second, const char* zone)
{
    return calendar(zone).date(QDate(year, month, day), hour, minute, second);
}

} // namespace TestEnvironment

QByteArray TestEnvironment::readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool TestEnvironment::writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
