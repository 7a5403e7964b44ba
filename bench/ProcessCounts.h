#pragma once

// What the benchmarks that run real processes share: stopping one, reading its first line, and
// counting its wake-ups and processor time.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QString>

inline void stop(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

// The first line the process prints within `ms`, or what it printed by then.
inline QString readLine(QProcess& p, int ms)
{
    p.waitForStarted(5000);
    QByteArray buffer;
    QElapsedTimer t;
    t.start();
    while (!buffer.contains('\n') && t.elapsed() < ms && p.state() == QProcess::Running) {
        p.waitForReadyRead(100);
        buffer += p.readAllStandardOutput();
    }
    return QString::fromUtf8(buffer).trimmed();
}

// Wake-ups (context switches) and processor time of each of the process's threads, by thread id:
// a thread that ends during a window (a worker of a pool) must not take its past away from the sum.
struct ThreadCounts {
    QHash<QString, qint64> wakeups;
    QHash<QString, double> cpu;
};

inline ThreadCounts threadCounts(qint64 pid)
{
    ThreadCounts counts;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!status.open(QIODevice::ReadOnly) || !schedstat.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                counts.wakeups[task] += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        // The scheduler's own account, in nanoseconds: clock ticks are too coarse for a process
        // that mostly sleeps.
        counts.cpu[task] = schedstat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return counts;
}

// Wake-ups per second and percent of one core over a window, from the threads alive at its end.
struct Idle {
    double wakeups = 0;
    double cpu = 0;
};

inline Idle idleBetween(const ThreadCounts& before, const ThreadCounts& after, double seconds)
{
    Idle idle;
    for (auto it = after.wakeups.cbegin(); it != after.wakeups.cend(); ++it)
        idle.wakeups += static_cast<double>(it.value() - before.wakeups.value(it.key())) / seconds;
    for (auto it = after.cpu.cbegin(); it != after.cpu.cend(); ++it)
        idle.cpu += (it.value() - before.cpu.value(it.key())) / seconds * 100.0;
    return idle;
}
