#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QUuid>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

// A program started with a tag in its environment, which every process it starts inherits.
// Chromium's helpers outlive the browser by a moment and write into its folders meanwhile (its
// zygote makes the profile folder again); its crash handler even leaves the browser's process
// group for init. Neither parents nor groups find them all; the tag does.
namespace ProcessTag {

inline const QByteArray variable = "QH_TEST_PROCESS_TAG";

// Puts a tag no other process carries into `env` and returns it.
inline QByteArray apply(QProcessEnvironment& env)
{
    const QByteArray tag = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    env.insert(QString::fromLatin1(variable), QString::fromLatin1(tag));
    return tag;
}

namespace detail {

enum class Reading { Carries, Lacks, Unknown };

// A process in the middle of exec shows no environment for a moment, and so does one whose
// environment this user may not read, or one that cleared it: those are Unknown. A kernel thread,
// or a process that has ended and is not yet reaped, shows none for good.
inline Reading read(pid_t pid, const QByteArray& tag)
{
    QFile environment(QStringLiteral("/proc/%1/environ").arg(pid));
    if (!environment.open(QIODevice::ReadOnly))
        return Reading::Lacks;
    if (const QByteArray all = environment.readAll(); !all.isEmpty())
        return all.split('\0').contains(variable + '=' + tag) ? Reading::Carries : Reading::Lacks;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return Reading::Lacks;
    const QByteArray state = status.readAll();
    if (state.contains("\nState:\tZ") || state.contains("\nState:\tX") || state.contains("\nKthread:\t1") ||
        state.contains("\nPPid:\t2\n") || state.contains("\nPPid:\t0\n"))
        return Reading::Lacks;
    return Reading::Unknown;
}

// Of `pids`, those that carry `tag`; the ones that show no environment are asked again together
// for one short patience, so a machine where many processes never show theirs (other users',
// other namespaces') costs that patience once per look, not once per process.
inline QList<pid_t> carryingOf(const QList<pid_t>& pids, const QByteArray& tag)
{
    QList<pid_t> found, unsure;
    for (const pid_t pid : pids)
        switch (read(pid, tag)) {
        case Reading::Carries:
            found.append(pid);
            break;
        case Reading::Unknown:
            unsure.append(pid);
            break;
        case Reading::Lacks:
            break;
        }
    const QDeadlineTimer patience(200);
    while (!unsure.isEmpty() && !patience.hasExpired()) {
        QThread::msleep(1);
        unsure.removeIf([&](pid_t pid) {
            const Reading now = read(pid, tag);
            if (now == Reading::Carries)
                found.append(pid);
            return now != Reading::Unknown;
        });
    }
    return found;
}

} // namespace detail

inline bool carries(pid_t pid, const QByteArray& tag)
{
    return !detail::carryingOf({pid}, tag).isEmpty();
}

// The running processes that carry `tag`.
inline QList<pid_t> carrying(const QByteArray& tag)
{
    QList<pid_t> pids;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (const pid_t pid = pid_t(name.toInt()); pid > 0 && pid != ::getpid())
            pids.append(pid);
    return detail::carryingOf(pids, tag);
}

// Asks `process`, started with `tag`, to end, and waits for it and for every process carrying
// the tag; what has not ended after `patienceMs` is killed. True when nothing of it is left.
inline bool stop(QProcess& process, const QByteArray& tag, int patienceMs = 15000)
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(patienceMs)) {
            process.kill();
            process.waitForFinished(patienceMs);
        }
    }
    const auto waitForEnd = [&] {
        const QDeadlineTimer deadline(patienceMs);
        while (!carrying(tag).isEmpty() && !deadline.hasExpired())
            QThread::msleep(50);
    };
    waitForEnd();
    // Through a pidfd, the tag read again once it is held: a number passed on to another process
    // meanwhile is not signalled. (Debian 12's C library has no C-linkage pidfd functions.)
    for (const pid_t pid : carrying(tag))
        if (const int fd = int(::syscall(SYS_pidfd_open, pid, 0)); fd >= 0) {
            if (carries(pid, tag))
                ::syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
            ::close(fd);
        }
    waitForEnd();
    return carrying(tag).isEmpty();
}

} // namespace ProcessTag
