#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

// Writes files on a thread of its own, so that the thread asking is not held while a large file
// is encoded and reaches the disk. One file is written at a time, in the order asked: a later
// write of a file never lands before an earlier one. A write of a file that is still waiting its
// turn is replaced by a newer one of the same file, since only the newest text matters.
class BackgroundWriter : public QObject {
    Q_OBJECT
public:
    // Writes the bytes to the path, or answers false with the reason.
    using Writer = std::function<bool(const QString& path, const QByteArray& bytes, QString* error)>;
    // Makes the bytes on the writing thread, from values it holds by copy (implicitly shared
    // values are fine: the asking thread's later changes detach from them). A null array says
    // the bytes could not be made: nothing is written, and the write fails.
    using Encoder = std::function<QByteArray()>;

    explicit BackgroundWriter(Writer writer, QObject* parent = nullptr);
    // Finishes every write asked for: none is left half-done or dropped at quit.
    ~BackgroundWriter() override;

    // Numbers each write; `written` names the number of the newest one its bytes came from.
    quint64 write(const QString& path, Encoder encode);
    // Returns once no write of `path` waits or runs. Whoever writes the file itself calls it
    // first, so its own write cannot be overtaken by an earlier one.
    void waitFor(const QString& path);
    // Returns once every write asked for is done.
    void finish();
    bool isPending(const QString& path) const;
    // The number of the newest write asked for.
    quint64 lastGeneration() const;

signals:
    // From the writing thread; reaches a receiver on another thread in its own event loop.
    void written(const QString& path, quint64 generation, bool ok, const QString& error);

private:
    struct Job {
        QString path;
        quint64 generation = 0;
        Encoder encode;
    };
    void runNext();

    Writer m_writer;
    mutable std::mutex m_mutex;
    std::condition_variable m_settled;
    std::deque<Job> m_queue;
    std::vector<Encoder> m_dropped; // replaced before they ran
    QString m_running;              // the path being written now, empty when none
    quint64 m_generation = 0;
    QThreadPool m_pool;
};
