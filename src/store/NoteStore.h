#pragma once

#include "model/Note.h"
#include "store/DataPreread.h"

#include <QObject>
#include <QStringList>
#include <optional>
#include <vector>

class StoreCore;
struct FileWrite;

// The notes, newest first; every change is written to their file at once.
class NoteStore : public QObject {
    Q_OBJECT
public:
    explicit NoteStore(StoreCore& core, QObject* parent = nullptr);

    const std::vector<Note>& notes() const { return m_notes; }
    // Changes with every change of the notes.
    quint64 revision() const { return m_revision; }
    void load(QStringList& unreadable, std::optional<PrereadFile<Note>> early);

    bool saveNotes(bool sync);
    bool upsertNote(const Note& note);
    bool deleteNote(const QUuid& id);
    FileWrite replaceNotesFromSync(const std::vector<Note>& list);
    // Writes the file again on the writing thread when its last write there failed.
    void retryUnwrittenFile();
    static void sortNotes(std::vector<Note>& list);

    static inline const QString fileName = QStringLiteral("notes.json");

signals:
    void notesChanged();

private:
    bool commitNotes(std::vector<Note> before, bool sync);
    void setNotes(std::vector<Note> notes);

    StoreCore& m_core;
    std::vector<Note> m_notes;
    quint64 m_revision = 0;
};
