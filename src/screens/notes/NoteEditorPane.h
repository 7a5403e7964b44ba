#pragma once

#include "screens/notes/NoteEditorState.h"

#include <QUuid>
#include <QWidget>

class QAbstractButton;
class QLineEdit;
class QTextEdit;

// The editor on the right of the Notes page: a title field, the body, and the delete control once
// the note exists. It saves through its state's callbacks 0.8 s after the last edit; the page
// calls flush() before it replaces or removes it.
class NoteEditorPane : public QWidget {
    Q_OBJECT
public:
    NoteEditorPane(std::optional<Note> note, const Clock& clock, QUuid session, NoteEditorState::SaveCallback onSave,
                   NoteEditorState::Callback onDelete, NoteEditorState::Callback onEmptied, QWidget* parent = nullptr);

    const QUuid& session() const { return m_session; }
    NoteEditorState& state() { return m_state; }
    void flush() { m_state.flush(); }
    // A new note starts in its title field.
    void focusFirstField();

    QLineEdit* titleField() const { return m_title; }
    QTextEdit* bodyField() const { return m_body; }

private:
    void titleEdited(const QString& text);
    void bodyEdited();
    void applyBodyFormat();

    QUuid m_session;
    NoteEditorState m_state;
    QAbstractButton* m_delete;
    QLineEdit* m_title;
    QTextEdit* m_body;
};
