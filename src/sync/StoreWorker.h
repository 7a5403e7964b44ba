#pragma once

#include "sync/RecordStore.h"

#include <QThread>
#include <functional>
#include <memory>

// One thread that owns a database connection and runs its requests one after another, so the
// main thread never waits on a disk or a network. Requests answer through an AnswerPromise.
template <typename Backend> class StoreWorker {
public:
    explicit StoreWorker(std::function<std::unique_ptr<Backend>()> make)
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(&m_context, [this, make = std::move(make)] { m_backend = make(); });
    }
    ~StoreWorker()
    {
        // Requests already queued still run (and answer); then the connection closes on its own thread.
        QMetaObject::invokeMethod(
            &m_context, [this] { m_backend.reset(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    template <typename T> QFuture<StoreAnswer<T>> call(std::function<StoreAnswer<T>(Backend&)> work)
    {
        auto promise = std::make_shared<AnswerPromise<T>>();
        QFuture<StoreAnswer<T>> future = promise->future();
        QMetaObject::invokeMethod(&m_context,
                                  [this, promise, work = std::move(work)] { promise->answer(work(*m_backend)); });
        return future;
    }

private:
    QThread m_thread;
    QObject m_context;
    std::unique_ptr<Backend> m_backend;
};
