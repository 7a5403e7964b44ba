#pragma once

#include "model/Clock.h"
#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/JsonWriter.h"

#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <optional>
#include <vector>

struct Note {
    QUuid id;
    QString title;
    QString body;
    Date createdAt = 0;
    Date updatedAt = 0;

    bool operator==(const Note&) const = default;

    // The title for display: "New Note" when it is blank.
    QString trimmedTitle() const;
    // One line under the title in the notes list.
    QString previewText() const;
};

template <typename Writer> void writeNote(Writer& w, const Note& n)
{
    w.beginObject();
    w.key("body");
    w.value(n.body);
    w.key("createdAt");
    w.value(Iso8601::field(n.createdAt));
    w.key("id");
    w.value(uuidField(n.id));
    w.key("title");
    w.value(n.title);
    w.key("updatedAt");
    w.value(Iso8601::field(n.updatedAt));
    w.endObject();
}

// The text of "notes.json".
QByteArray notesFileText(const std::vector<Note>& list);
// Every note of such a text read in one pass, or nothing when the quick reading is not sure of
// something in it (see decodeTodosFileText).
std::optional<std::vector<Note>> decodeNotesFileText(QByteArrayView text);

QJsonObject encodeNote(const Note& note);
// Lenient: only "id" is required; see the fallbacks in the implementation.
std::optional<Note> decodeNote(const QJsonValue& value, QString* error = nullptr);
