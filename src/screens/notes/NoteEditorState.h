#pragma once

#include "model/Clock.h"
#include "model/Note.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

// What one note editor holds and decides, without widgets: the two texts as typed, the version
// last handed on, and the debounced autosave. It never talks to the store; the page's callbacks
// decide what is kept. It saves nothing when destroyed: whoever replaces or removes an editor
// calls flush() first, while the page it reports to is still whole.
class NoteEditorState : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(const Note&)>;
    // True when the note was kept; false leaves the editor's text unsaved, so a later save retries.
    using SaveCallback = std::function<bool(const Note&)>;

    static constexpr qsizetype titleLimit = 120;
    static constexpr qsizetype bodyLimit = 5000;
    static constexpr int autosaveDelayMs = 800;

    NoteEditorState(std::optional<Note> note, const Clock& clock, SaveCallback onSave, Callback onDelete,
                    Callback onEmptied, QObject* parent = nullptr);

    const QString& title() const { return m_title; }
    const QString& bodyText() const { return m_bodyText; }
    const std::optional<Note>& savedNote() const { return m_savedNote; }
    bool isDeleted() const { return m_isDeleted; }
    bool startedAsNewNote() const { return m_startedAsNew; }

    // A field's text changed; returns the text the field must hold (cut at its limit).
    QString titleChanged(const QString& text);
    QString bodyChanged(const QString& text);

    bool isAutosavePending() const { return m_autosave.isActive(); }
    int autosaveInterval() const { return m_autosave.interval(); }
    // What the debounce timer does when it fires; tests call it instead of waiting.
    void autosaveNow();
    // Saves pending edits at once (the editor is about to go away).
    void flush() { save(); }
    void save();
    // The delete control: asks the page about the version last saved.
    void requestDelete();

    static QString limited(const QString& text, qsizetype limit);

signals:
    void savedNoteChanged();

private:
    void scheduleAutosave();

    const Clock& m_clock;
    SaveCallback m_onSave;
    Callback m_onDelete;
    Callback m_onEmptied;
    QString m_title;
    QString m_bodyText;
    std::optional<Note> m_savedNote;
    QTimer m_autosave;
    bool m_isDeleted = false;
    bool m_startedAsNew = false;
};
