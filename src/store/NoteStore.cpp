#include "store/NoteStore.h"

#include "model/Json.h"
#include "store/CloudSync.h"
#include "store/StoreCore.h"

#include <algorithm>

NoteStore::NoteStore(StoreCore& core, QObject* parent) : QObject(parent), m_core(core)
{
    // First of all who hear of a change, so every one of them already sees the new revision.
    connect(this, &NoteStore::notesChanged, this, [this] { ++m_revision; });
}

void NoteStore::load(QStringList& unreadable, std::optional<PrereadFile<Note>> early)
{
    m_notes = m_core.loadList<Note>(
        QStringLiteral("notes"), fileName, decodeNote, unreadable,
        [&early](const QByteArray& text) { return early ? std::move(early->decoded) : decodeNotesFileText(text); },
        early ? &*early : nullptr);
}

bool NoteStore::saveNotes(bool sync)
{
    if (const FileWrite written = m_core.writeFile(fileName, notesFileText(m_notes)); !written) {
        m_core.recordFailure(fileName, written.error);
        return false;
    }
    m_core.clearFailure(fileName);
    if (sync && m_core.cloudSync())
        m_core.cloudSync()->schedulePush();
    return true;
}

void NoteStore::setNotes(std::vector<Note> notes)
{
    m_notes = std::move(notes);
    emit notesChanged();
}

void NoteStore::sortNotes(std::vector<Note>& list)
{
    std::stable_sort(list.begin(), list.end(), [](const Note& a, const Note& b) { return a.updatedAt > b.updatedAt; });
}

bool NoteStore::commitNotes(std::vector<Note> before, bool sync)
{
    if (saveNotes(sync)) {
        emit notesChanged();
        return true;
    }
    m_notes = std::move(before); // only what is in the file is kept, as with the to-dos
    emit notesChanged();
    return false;
}

bool NoteStore::upsertNote(const Note& note)
{
    Note stored = note;
    stored.updatedAt = m_core.stamp();
    std::vector<Note> before = m_notes;
    const auto it = std::find_if(m_notes.begin(), m_notes.end(), [&note](const Note& n) { return n.id == note.id; });
    if (it == m_notes.end())
        m_notes.insert(m_notes.begin(), stored);
    else
        *it = stored;
    sortNotes(m_notes);
    return commitNotes(std::move(before), true);
}

bool NoteStore::deleteNote(const QUuid& id)
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

FileWrite NoteStore::replaceNotesFromSync(const std::vector<Note>& list)
{
    std::vector<Note> sorted = list;
    sortNotes(sorted);
    // Encoded there too, from a copy that shares the notes' texts.
    const FileWrite written = m_core.writeInBackground(fileName, [notes = sorted] { return notesFileText(notes); });
    if (written)
        setNotes(std::move(sorted));
    return written;
}

void NoteStore::retryUnwrittenFile()
{
    if (m_core.isUnwritten(fileName))
        m_core.writeInBackground(fileName, [notes = m_notes] { return notesFileText(notes); });
}
