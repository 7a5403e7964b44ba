#include "screens/notes/NoteEditorState.h"

#include "model/Text.h"

NoteEditorState::NoteEditorState(std::optional<Note> note, const Clock& clock, SaveCallback onSave, Callback onDelete,
                                 Callback onEmptied, QObject* parent)
    : QObject(parent), m_clock(clock), m_onSave(std::move(onSave)), m_onDelete(std::move(onDelete)),
      m_onEmptied(std::move(onEmptied)), m_savedNote(std::move(note))
{
    m_startedAsNew = !m_savedNote;
    if (m_savedNote) {
        m_title = m_savedNote->title;
        m_bodyText = m_savedNote->body;
    }
    m_autosave.setSingleShot(true);
    m_autosave.setInterval(autosaveDelayMs);
    connect(&m_autosave, &QTimer::timeout, this, &NoteEditorState::autosaveNow);
}

QString NoteEditorState::limited(const QString& text, qsizetype limit)
{
    // Counting graphemes is costly on a long body; a text with no more UTF-16 units than the
    // limit cannot have more characters.
    if (text.size() <= limit || Text::characterCount(text) <= limit)
        return text;
    return Text::leftCharacters(text, limit);
}

QString NoteEditorState::titleChanged(const QString& text)
{
    m_title = limited(text, titleLimit);
    scheduleAutosave();
    return m_title;
}

QString NoteEditorState::bodyChanged(const QString& text)
{
    m_bodyText = limited(text, bodyLimit);
    scheduleAutosave();
    return m_bodyText;
}

void NoteEditorState::scheduleAutosave()
{
    m_autosave.start();
}

void NoteEditorState::autosaveNow()
{
    save();
}

void NoteEditorState::save()
{
    m_autosave.stop();
    if (m_isDeleted)
        return;
    const QString t = m_title.trimmed();
    const QString b = m_bodyText.trimmed();
    if (t.isEmpty() && b.isEmpty()) {
        if (m_savedNote) {
            m_isDeleted = true;
            const Note emptied = *m_savedNote;
            m_savedNote.reset();
            emit savedNoteChanged();
            m_onEmptied(emptied);
        }
        return;
    }
    Note note;
    if (m_savedNote) {
        if (m_savedNote->title == t && m_savedNote->body == b)
            return;
        note = *m_savedNote;
    } else {
        note.id = QUuid::createUuid();
        note.createdAt = m_clock.now();
    }
    note.title = t;
    note.body = b;
    note.updatedAt = m_clock.now();
    const std::optional<Note> before = m_savedNote;
    m_savedNote = note;
    emit savedNoteChanged();
    if (m_onSave(note))
        return;
    // Not kept (the disk refused it): the text stays a draft, which the next save tries again.
    m_savedNote = before;
    emit savedNoteChanged();
}

void NoteEditorState::requestDelete()
{
    if (m_savedNote)
        m_onDelete(*m_savedNote);
}
