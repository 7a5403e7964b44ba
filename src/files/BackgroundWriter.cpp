#include "files/BackgroundWriter.h"

#include <algorithm>

BackgroundWriter::BackgroundWriter(Writer writer, QObject* parent) : QObject(parent), m_writer(std::move(writer))
{
    // One thread keeps the order of the writes; it goes away when there is nothing to write.
    m_pool.setMaxThreadCount(1);
    m_pool.setObjectName(QStringLiteral("file writer"));
}

BackgroundWriter::~BackgroundWriter()
{
    m_pool.waitForDone();
}

quint64 BackgroundWriter::write(const QString& path, Encoder encode)
{
    std::lock_guard lock(m_mutex);
    const quint64 generation = ++m_generation;
    const auto waiting = std::find_if(m_queue.begin(), m_queue.end(), [&path](const Job& j) { return j.path == path; });
    if (waiting != m_queue.end()) {
        waiting->generation = generation;
        // What the dropped encoder holds (a whole list, perhaps) is freed on the writing thread.
        m_dropped.push_back(std::move(waiting->encode));
        waiting->encode = std::move(encode);
        return generation;
    }
    m_queue.push_back({path, generation, std::move(encode)});
    // Each job started takes the oldest waiting write, so there are as many starts as writes.
    m_pool.start([this] { runNext(); });
    return generation;
}

void BackgroundWriter::runNext()
{
    Job job;
    std::vector<Encoder> dropped;
    {
        std::lock_guard lock(m_mutex);
        dropped.swap(m_dropped);
        if (m_queue.empty())
            return;
        job = std::move(m_queue.front());
        m_queue.pop_front();
        m_running = job.path;
    }
    QString error;
    const QByteArray bytes = job.encode();
    const bool ok = !bytes.isNull() && m_writer(job.path, bytes, &error);
    if (bytes.isNull())
        error = QStringLiteral("its text could not be made.");
    // The snapshots go here, on this thread, and before anyone waiting hears the write is done.
    job.encode = nullptr;
    dropped.clear();
    // Answered before the waiters go on: what they do next comes after the answer.
    emit written(job.path, job.generation, ok, error);
    {
        std::lock_guard lock(m_mutex);
        m_running.clear();
    }
    m_settled.notify_all();
}

void BackgroundWriter::waitFor(const QString& path)
{
    std::unique_lock lock(m_mutex);
    m_settled.wait(lock, [&] {
        return m_running != path &&
               std::none_of(m_queue.begin(), m_queue.end(), [&path](const Job& j) { return j.path == path; });
    });
}

void BackgroundWriter::finish()
{
    // Not the pool's own wait: that also ends its thread, and a thread's end sorts its heap's
    // freed blocks, which costs milliseconds after a large file's text was made there.
    std::unique_lock lock(m_mutex);
    m_settled.wait(lock, [this] { return m_queue.empty() && m_running.isEmpty(); });
}

bool BackgroundWriter::isPending(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    return m_running == path ||
           std::any_of(m_queue.begin(), m_queue.end(), [&path](const Job& j) { return j.path == path; });
}

quint64 BackgroundWriter::lastGeneration() const
{
    std::lock_guard lock(m_mutex);
    return m_generation;
}
