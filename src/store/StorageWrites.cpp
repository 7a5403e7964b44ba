#include "store/StorageService.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <utility>

bool StorageService::writeInBackground(const QString& name, BackgroundWriter::Encoder encode, QString* error)
{
    if (m_unbackedFiles.contains(name)) {
        if (error)
            *error = unbackedMessage(name);
        return false;
    }
    if (!m_writer) {
        m_writer = std::make_unique<BackgroundWriter>(
            [saveFiles = m_env.saveFiles](const QString& path, const QByteArray& bytes, QString* reason) {
                return FileSafety::writeAtomically(path, bytes, reason, saveFiles);
            });
        connect(m_writer.get(), &BackgroundWriter::written, this, &StorageService::backgroundWritten);
    }
    m_backgroundAsked.insert(name, m_writer->write(m_fileStore.filePath(name), std::move(encode)));
    return true;
}

void StorageService::backgroundWritten(const QString& path, quint64 generation, bool ok, const QString& error)
{
    const QString name = QFileInfo(path).fileName();
    // A newer write of the file, here or there, decides.
    if (generation <= m_backgroundOvertaken.value(name) || generation < m_backgroundAsked.value(name))
        return;
    if (ok) {
        m_unwrittenFiles.remove(name);
        clearFailure(name);
        return;
    }
    m_unwrittenFiles.insert(name);
    const QString message = QStringLiteral("“%1” could not be saved: %2").arg(name, error);
    recordFailure(name, message);
    emit backgroundWriteFailed(message);
}

void StorageService::waitForWrites()
{
    if (!m_writer)
        return;
    m_writer->finish();
    // Their outcomes too, which wait in this thread's queue.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void StorageService::retryUnwrittenFiles()
{
    QString error;
    if (m_unwrittenFiles.contains(todosFile))
        writeTodosInBackground(std::make_shared<const std::vector<TaskItem>>(m_todos), &error);
    if (m_unwrittenFiles.contains(notesFile))
        writeInBackground(
            notesFile, [notes = m_notes] { return notesFileText(notes); }, &error);
}

QByteArray StorageService::todosText(const std::vector<TaskItem>& list)
{
    if (m_writer)
        m_writer->waitFor(m_fileStore.filePath(todosFile));
    std::lock_guard lock(m_todosEncoding->mutex);
    return m_todosEncoding->writer.text(list);
}

QByteArray StorageService::currentTodosText(std::optional<size_t> changedAt, quint64* uses)
{
    if (m_writer)
        m_writer->waitFor(m_fileStore.filePath(todosFile));
    std::lock_guard lock(m_todosEncoding->mutex);
    TodosFileWriter& writer = m_todosEncoding->writer;
    const std::optional<TodosWriterNote> note = std::exchange(m_todosWriterNote, std::nullopt);
    const bool current = changedAt && note && note->uses == writer.uses() && note->revision == m_todosRevision;
    QByteArray text = current ? writer.textChangedAt(m_todos, *changedAt) : writer.text(m_todos);
    *uses = writer.uses();
    return text;
}

size_t StorageService::todosCompared() const
{
    std::lock_guard lock(m_todosEncoding->mutex);
    return m_todosEncoding->writer.lastCompared();
}

void StorageService::noteTodosAnnounced()
{
    // Announced once, by the save alone: nothing else changed the to-dos in between.
    if (m_todosSaved && m_todosRevision == m_todosSaved->revision + 1)
        m_todosWriterNote = TodosWriterNote{m_todosSaved->uses, m_todosRevision};
    m_todosSaved.reset();
}

bool StorageService::writeTodosInBackground(std::shared_ptr<const std::vector<TaskItem>> list, QString* error)
{
    // Writes of the file run one at a time in the order asked, so the writer meets the lists in
    // that order; a write dropped for a newer one never encodes, and leaves the writer as it was.
    return writeInBackground(
        todosFile,
        [encoding = m_todosEncoding, list = std::move(list)] {
            std::lock_guard lock(encoding->mutex);
            return encoding->writer.text(*list);
        },
        error);
}
