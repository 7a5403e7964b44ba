#include "screens/notes/NotesPageState.h"

#include "router/AppRouter.h"
#include "store/StorageService.h"

#include <algorithm>

NotesPageState::NotesPageState(StorageService& storage, AppRouter* router, QObject* parent)
    : QObject(parent), m_storage(storage), m_router(router)
{
}

std::vector<Note> NotesPageState::visibleNotes() const
{
    std::vector<Note> list = m_storage.notes().notes();
    std::stable_sort(list.begin(), list.end(), [](const Note& a, const Note& b) { return a.updatedAt > b.updatedAt; });
    return list;
}

std::optional<Note> NotesPageState::selectedNote() const
{
    if (!m_selectedID)
        return std::nullopt;
    for (const Note& note : m_storage.notes().notes())
        if (note.id == *m_selectedID)
            return note;
    return std::nullopt;
}

QString NotesPageState::placeholderText() const
{
    return m_storage.notes().notes().empty() ? QStringLiteral("Your first note starts here.")
                                             : QStringLiteral("Pick a note, or start a new one.");
}

void NotesPageState::appear()
{
    handleNewItemRequest();
    if (!m_selectedID && !m_isNewNote) {
        const std::vector<Note> notes = visibleNotes();
        if (!notes.empty())
            select(notes.front());
    }
}

void NotesPageState::startNewNote()
{
    m_isNewNote = true;
    m_selectedID.reset();
    m_editorSession = QUuid::createUuid();
    emit changed();
}

void NotesPageState::select(const Note& note)
{
    // A note deleted here may come back under its id from another device; once the user picks it,
    // its edits must be kept again.
    m_deletedIDs.remove(note.id);
    if (m_selectedID == note.id && !m_isNewNote)
        return;
    m_isNewNote = false;
    m_selectedID = note.id;
    m_editorSession = QUuid::createUuid();
    emit changed();
}

void NotesPageState::handleNewItemRequest()
{
    if (!m_router || m_router->newItemRequest() != AppRouter::NewItem::note)
        return;
    m_router->setNewItemRequest(std::nullopt);
    startNewNote();
}

bool NotesPageState::noteSaved(const Note& note, const QUuid& session)
{
    if (m_deletedIDs.contains(note.id))
        return true;
    if (!m_storage.notes().upsertNote(note))
        return false;
    if (m_isNewNote && session == m_editorSession) {
        m_isNewNote = false;
        m_selectedID = note.id;
        emit changed();
    }
    return true;
}

void NotesPageState::noteEmptied(const Note& note)
{
    m_deletedIDs.insert(note.id);
    m_storage.notes().deleteNote(note.id);
    if (m_selectedID == note.id) {
        m_selectedID.reset();
        emit changed();
    }
}

void NotesPageState::requestDelete(const Note& note)
{
    setPendingDelete(note);
}

void NotesPageState::dismissDelete()
{
    setPendingDelete(std::nullopt);
}

void NotesPageState::setPendingDelete(const std::optional<Note>& note)
{
    if (m_pendingDelete == note)
        return;
    m_pendingDelete = note;
    emit pendingDeleteChanged();
}

void NotesPageState::confirmDelete(const Note& note)
{
    m_deletedIDs.insert(note.id);
    m_storage.notes().deleteNote(note.id);
    if (m_selectedID != note.id)
        return;
    m_selectedID.reset();
    m_editorSession = QUuid::createUuid();
    for (const Note& next : visibleNotes()) {
        if (next.id != note.id) {
            select(next);
            return;
        }
    }
    emit changed();
}

QString NotesPageState::deleteTitle()
{
    return QStringLiteral("Delete this note?");
}

QString NotesPageState::deleteMessage(const Note& note)
{
    return QStringLiteral("\u201C") + note.trimmedTitle() +
           QStringLiteral("\u201D will be removed from all your devices.");
}
