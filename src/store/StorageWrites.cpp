#include "store/StorageService.h"

#include <utility>

void StorageService::retryUnwrittenFiles()
{
    if (m_core.isUnwritten(todosFile))
        writeTodosInBackground(std::make_shared<const std::vector<TaskItem>>(m_todos));
    m_notes.retryUnwrittenFile();
}

QByteArray StorageService::todosText(const std::vector<TaskItem>& list)
{
    m_core.waitForFile(todosFile);
    std::lock_guard lock(m_todosEncoding->mutex);
    return m_todosEncoding->writer.text(list);
}

QByteArray StorageService::currentTodosText(std::optional<size_t> changedAt, quint64* uses)
{
    m_core.waitForFile(todosFile);
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

FileWrite StorageService::writeTodosInBackground(std::shared_ptr<const std::vector<TaskItem>> list)
{
    // Writes of the file run one at a time in the order asked, so the writer meets the lists in
    // that order; a write dropped for a newer one never encodes, and leaves the writer as it was.
    return m_core.writeInBackground(todosFile, [encoding = m_todosEncoding, list = std::move(list)] {
        std::lock_guard lock(encoding->mutex);
        return encoding->writer.text(*list);
    });
}
