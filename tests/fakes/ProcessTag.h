#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QThread>
#include <QUuid>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

// A program started with a tag in its environment, and every process it starts: they all inherit
// the tag. Chromium's helpers outlive the browser process by a moment and go on writing into its
// folders (its zygote makes the profile folder again); its crash handler even leaves the
// browser's process group and is handed to init. Neither parents nor groups find them all; the
// tag does.
namespace ProcessTag {

inline const QString variable = QStringLiteral("QH_TEST_PROCESS_TAG");

// Puts a tag no other process carries into `env` and returns it.
inline QByteArray apply(QProcessEnvironment& env)
{
    const QByteArray tag = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    env.insert(variable, QString::fromLatin1(tag));
    return tag;
}

// A process that has ended has no environment left, so one not yet reaped carries nothing.
inline bool carries(pid_t pid, const QByteArray& tag)
{
    QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
    return environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(variable.toLatin1() + '=' + tag);
}

// The running processes that carry `tag`.
inline QList<pid_t> carrying(const QByteArray& tag)
{
    QList<pid_t> found;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool number = false;
        const pid_t pid = pid_t(name.toInt(&number));
        if (!number || pid == ::getpid())
            continue;
        if (carries(pid, tag))
            found.append(pid);
    }
    return found;
}

// Waits up to `patienceMs` for every process carrying `tag` to end, then kills those left and
// waits as long again. True when none is left.
inline bool waitForEnd(const QByteArray& tag, int patienceMs = 15000)
{
    for (const bool killing : {false, true}) {
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            const QList<pid_t> left = carrying(tag);
            if (left.isEmpty())
                return true;
            if (waited.elapsed() > patienceMs) {
                if (killing)
                    return false;
                // Through a pidfd, the tag read again once it is held: a number that has passed
                // to another process meanwhile is not signalled. Debian 12's C library declares
                // the pidfd functions without C linkage, hence the system calls.
                for (const pid_t pid : left) {
                    const int fd = int(::syscall(SYS_pidfd_open, pid, 0));
                    if (fd >= 0 && carries(pid, tag))
                        ::syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
                    if (fd >= 0)
                        ::close(fd);
                }
                break;
            }
            QThread::msleep(50);
        }
    }
    return carrying(tag).isEmpty();
}

// Asks the program started with `tag` to end, and waits for it and for every process it started;
// what does not end in `patienceMs` is killed. True when nothing of it is left.
inline bool stop(QProcess& process, const QByteArray& tag, int patienceMs = 15000)
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(patienceMs)) {
            process.kill();
            process.waitForFinished(patienceMs);
        }
    }
    return waitForEnd(tag, patienceMs);
}

} // namespace ProcessTag
