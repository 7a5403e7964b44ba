#pragma once

#include "sync/RecordStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFuture>

// Waits for a record store's answer by running the event loop (generous limit, no fixed sleep).
template <typename T> T waitFor(QFuture<T> future, int timeoutMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!future.isFinished() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!future.isFinished())
        qFatal("a record store did not answer within %d ms", timeoutMs);
    return future.result();
}

// Runs the event loop until the condition holds or the limit passes; says which.
template <typename Condition> bool waitUntil(Condition condition, int timeoutMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
