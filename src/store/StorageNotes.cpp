#include "model/Json.h"
#include "store/CloudSync.h"
#include "store/StorageService.h"

#include <algorithm>

void StorageService::sortNotes(std::vector<Note>& list)
{
    std::stable_sort(list.begin(), list.end(), [](const Note& a, const Note& b) { return a.updatedAt > b.updatedAt; });
}

void StorageService::upsertNote(const Note& note)
{
    Note stored = note;
    stored.updatedAt = stamp();
    const auto it = std::find_if(m_notes.begin(), m_notes.end(), [&note](const Note& n) { return n.id == note.id; });
    if (it == m_notes.end())
        m_notes.insert(m_notes.begin(), stored);
    else
        *it = stored;
    sortNotes(m_notes);
    emit notesChanged();
    saveNotes(true);
}

void StorageService::deleteNote(const QUuid& id)
{
    std::erase_if(m_notes, [&id](const Note& n) { return n.id == id; });
    emit notesChanged();
    if (!saveNotes(false))
        return;
    if (m_cloudSync) {
        m_cloudSync->noteDeleted(id);
        m_cloudSync->schedulePush();
    }
}

bool StorageService::replaceNotesFromSync(const std::vector<Note>& list, QString* error)
{
    std::vector<Note> sorted = list;
    sortNotes(sorted);
    QString writeError;
    if (!writeFile(notesFile, notesFileText(sorted), &writeError)) {
        if (error)
            *error = writeError;
        return false;
    }
    setNotes(std::move(sorted));
    clearFailure(notesFile);
    return true;
}
