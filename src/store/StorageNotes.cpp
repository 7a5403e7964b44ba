#include "model/Json.h"
#include "store/CloudSync.h"
#include "store/StorageService.h"

#include <algorithm>

void StorageService::sortNotes(std::vector<Note>& list)
{
    std::stable_sort(list.begin(), list.end(), [](const Note& a, const Note& b) { return a.updatedAt > b.updatedAt; });
}

bool StorageService::commitNotes(std::vector<Note> before, bool sync)
{
    if (saveNotes(sync)) {
        emit notesChanged();
        return true;
    }
    m_notes = std::move(before); // see commitTodos()
    emit notesChanged();
    return false;
}

bool StorageService::upsertNote(const Note& note)
{
    Note stored = note;
    stored.updatedAt = stamp();
    std::vector<Note> before = m_notes;
    const auto it = std::find_if(m_notes.begin(), m_notes.end(), [&note](const Note& n) { return n.id == note.id; });
    if (it == m_notes.end())
        m_notes.insert(m_notes.begin(), stored);
    else
        *it = stored;
    sortNotes(m_notes);
    return commitNotes(std::move(before), true);
}

bool StorageService::deleteNote(const QUuid& id)
{
    std::vector<Note> before = m_notes;
    // An id this list does not hold may still be in the cloud: its deletion is recorded all the same.
    std::erase_if(m_notes, [&id](const Note& n) { return n.id == id; });
    if (!commitNotes(std::move(before), false))
        return false;
    if (CloudSync* sync = m_core.cloudSync()) {
        sync->noteDeleted(id);
        sync->schedulePush();
    }
    return true;
}

bool StorageService::replaceNotesFromSync(const std::vector<Note>& list, QString* error)
{
    std::vector<Note> sorted = list;
    sortNotes(sorted);
    // Encoded there too, from a copy that shares the notes' texts.
    if (const FileWrite written =
            m_core.writeInBackground(notesFile, [notes = sorted] { return notesFileText(notes); });
        !written) {
        if (error)
            *error = written.error;
        return false;
    }
    setNotes(std::move(sorted));
    return true;
}
