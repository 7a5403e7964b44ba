#include "model/Note.h"

#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/Text.h"

QString Note::trimmedTitle() const
{
    const QString t = title.trimmed();
    return t.isEmpty() ? QStringLiteral("New Note") : t;
}

QString Note::previewText() const
{
    const QString trimmed = body.trimmed();
    if (trimmed.isEmpty())
        return QStringLiteral("No additional text");
    QString first;
    for (const QString& line : Text::splitLines(trimmed)) {
        if (!line.isEmpty()) {
            first = line;
            break;
        }
    }
    if (Text::characterCount(first) >= 121)
        return Text::leftCharacters(first, 117) + QChar(0x2026);
    return first;
}

QJsonObject encodeNote(const Note& n)
{
    JsonValueBuilder b;
    writeNote(b, n);
    return b.result().toObject();
}

QByteArray notesFileText(const std::vector<Note>& list)
{
    JsonTextWriter w;
    w.reserve(static_cast<qsizetype>(list.size()) * 640 + 16);
    w.beginArray();
    for (const Note& n : list)
        writeNote(w, n);
    w.endArray();
    return w.take();
}

std::optional<Note> decodeNote(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("Note"));
    Note n;
    n.id = r.uuid(QStringLiteral("id"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    const QJsonObject& o = r.object();
    auto text = [&o](const char* key) {
        const QJsonValue v = o.value(QLatin1String(key));
        return v.isString() ? v.toString() : QString();
    };
    auto date = [&o](const char* key) {
        const QJsonValue v = o.value(QLatin1String(key));
        return v.isString() ? Iso8601::parse(v.toString()) : std::nullopt;
    };
    n.title = text("title");
    n.body = text("body");
    n.createdAt = date("createdAt").value_or(0);
    n.updatedAt = date("updatedAt").value_or(n.createdAt);
    return n;
}
