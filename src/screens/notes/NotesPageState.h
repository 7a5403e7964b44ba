#pragma once

#include "model/Calendar.h"
#include "model/Note.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUuid>
#include <optional>
#include <vector>

class AppRouter;
class StorageService;

// The Notes page's own state and rules, without widgets: which note is selected, whether a new
// note is being written, which editor instance is current, the note waiting for confirmation of
// its deletion, and the notes this page deleted (whose late saves must not bring them back).
class NotesPageState : public QObject {
    Q_OBJECT
public:
    NotesPageState(StorageService& storage, AppRouter* router, QObject* parent = nullptr);

    const std::optional<QUuid>& selectedID() const { return m_selectedID; }
    const QUuid& editorSession() const { return m_editorSession; }
    bool isNewNote() const { return m_isNewNote; }
    const std::optional<Note>& pendingDelete() const { return m_pendingDelete; }
    const QSet<QUuid>& deletedIDs() const { return m_deletedIDs; }

    // The store's notes, newest first; equal times keep the store's order.
    std::vector<Note> visibleNotes() const;
    std::optional<Note> selectedNote() const;
    // The detail area shows an editor (else the placeholder).
    bool showsEditor() const { return m_isNewNote || selectedNote().has_value(); }
    QString placeholderText() const;

    void appear();
    void startNewNote();
    void select(const Note& note);
    void handleNewItemRequest();
    // False when the store did not keep the note.
    bool noteSaved(const Note& note, const QUuid& session);
    void noteEmptied(const Note& note);
    void requestDelete(const Note& note);
    void dismissDelete();
    void confirmDelete(const Note& note);

    static QString deleteTitle();
    static QString deleteMessage(const Note& note);

signals:
    void changed();
    void pendingDeleteChanged();

private:
    void setPendingDelete(const std::optional<Note>& note);

    StorageService& m_storage;
    QPointer<AppRouter> m_router;
    std::optional<QUuid> m_selectedID;
    QUuid m_editorSession = QUuid::createUuid();
    bool m_isNewNote = false;
    std::optional<Note> m_pendingDelete;
    QSet<QUuid> m_deletedIDs;
};
