#include "model/Note.h"

#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/JsonScanner.h"
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

namespace {

// A value that should be text; anything else reads as the empty text, as decodeNote has it.
bool scanLenientText(JsonScanner& s, QString& out)
{
    out.clear();
    if (!s.isString())
        return s.skipValue();
    return s.readText(out);
}

bool scanLenientDate(JsonScanner& s, std::optional<Date>& out)
{
    out.reset();
    if (!s.isString())
        return s.skipValue();
    std::string_view text;
    if (!s.readString(text))
        return false;
    out = Iso8601::parse(text);
    return true;
}

bool scanNote(JsonScanner& s, Note& n)
{
    if (!s.enterObject())
        return false;
    unsigned seen = 0;
    std::optional<Date> created;
    std::optional<Date> updated;
    bool first = true;
    std::string_view key;
    while (s.nextKey(first, key)) {
        const unsigned bit = key == "id"          ? 1
                             : key == "title"     ? 2
                             : key == "body"      ? 4
                             : key == "createdAt" ? 8
                             : key == "updatedAt" ? 16
                                                  : 0;
        // A key given twice counts with its last value, as in the document reading.
        seen |= bit;
        bool read = false;
        if (bit == 1) {
            std::string_view text;
            const std::optional<QUuid> id = s.isString() && s.readString(text) ? parseUuid(text) : std::nullopt;
            read = id.has_value();
            n.id = id.value_or(QUuid());
        } else if (bit == 2) {
            read = scanLenientText(s, n.title);
        } else if (bit == 4) {
            read = scanLenientText(s, n.body);
        } else if (bit == 8) {
            read = scanLenientDate(s, created);
        } else if (bit == 16) {
            read = scanLenientDate(s, updated);
        } else {
            read = s.skipValue();
        }
        if (!read) {
            s.fail();
            return false;
        }
    }
    if (!s.ok() || !(seen & 1))
        return false;
    n.createdAt = created.value_or(0);
    n.updatedAt = updated.value_or(n.createdAt);
    return true;
}

} // namespace

std::optional<std::vector<Note>> decodeNotesFileText(QByteArrayView text)
{
    JsonScanner s(text);
    s.skipByteOrderMark();
    std::vector<Note> out;
    bool first = true;
    if (!s.enterArray())
        return std::nullopt;
    while (s.nextElement(first)) {
        if (!scanNote(s, out.emplace_back()))
            return std::nullopt;
    }
    if (!s.atEnd())
        return std::nullopt;
    return out;
}
