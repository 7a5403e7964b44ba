#pragma once

#include "model/Clock.h"

#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <optional>

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

QJsonObject encodeNote(const Note& note);
// Lenient: only "id" is required; see the fallbacks in the implementation.
std::optional<Note> decodeNote(const QJsonValue& value, QString* error = nullptr);
