#include "sync/RecordFields.h"

#include "sync/RecordStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUtf8StringView>
#include <QVariant>
#include <algorithm>
#include <cctype>
#include <cmath>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

Q_LOGGING_CATEGORY(recordStoreLog, "RecordStore")

namespace RecordFields {

namespace {

QJsonValue encodeText(const QString& text, NulText nulText)
{
    if (nulText == NulText::plain || !text.contains(QChar(0)))
        return QJsonArray{QStringLiteral("s"), text};
    QJsonArray pieces;
    for (const QStringView piece : QStringView(text).split(QChar(0)))
        pieces.append(piece.toString());
    return QJsonArray{QStringLiteral("z"), pieces};
}

std::optional<QString> decodeText(const QJsonValue& pieces)
{
    if (!pieces.isArray() || pieces.toArray().isEmpty())
        return std::nullopt;
    QString text;
    bool first = true;
    for (const QJsonValue piece : pieces.toArray()) {
        if (!piece.isString())
            return std::nullopt;
        if (!first)
            text += QChar(0);
        text += piece.toString();
        first = false;
    }
    return text;
}

QJsonValue encodeValue(const CloudRecord::Value& value, NulText nulText)
{
    if (const auto* s = std::get_if<QString>(&value))
        return encodeText(*s, nulText);
    if (const auto* i = std::get_if<qint64>(&value))
        return QJsonArray{QStringLiteral("i"), *i};
    if (const auto* d = std::get_if<double>(&value))
        return QJsonArray{QStringLiteral("d"), *d};
    if (const auto* t = std::get_if<CloudRecord::DateValue>(&value))
        return QJsonArray{QStringLiteral("t"), static_cast<qint64>(std::llround(t->seconds * 1000.0))};
    return QJsonValue::Null;
}

std::optional<CloudRecord::Value> decodeValue(const QJsonValue& json)
{
    if (!json.isArray())
        return std::nullopt;
    const QJsonArray pair = json.toArray();
    if (pair.size() != 2 || !pair.at(0).isString())
        return std::nullopt;
    const QString kind = pair.at(0).toString();
    const QJsonValue v = pair.at(1);
    if (kind == QLatin1String("s") && v.isString())
        return CloudRecord::Value(v.toString());
    if (kind == QLatin1String("z")) {
        const std::optional<QString> text = decodeText(v);
        return text ? std::optional(CloudRecord::Value(*text)) : std::nullopt;
    }
    if (!v.isDouble())
        return std::nullopt;
    const double number = v.toDouble();
    if (kind == QLatin1String("d"))
        return std::isfinite(number) ? std::optional(CloudRecord::Value(number)) : std::nullopt;
    // Integers must be whole and within 64 bits; the JSON reader keeps those exactly as integers.
    const bool exact = v.toVariant().metaType().id() == QMetaType::LongLong;
    if (!exact && !(std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 9007199254740992.0))
        return std::nullopt;
    const qint64 integer = exact ? v.toVariant().toLongLong() : static_cast<qint64>(number);
    if (kind == QLatin1String("i"))
        return CloudRecord::Value(integer);
    if (kind == QLatin1String("t"))
        return CloudRecord::Value(CloudRecord::DateValue{static_cast<double>(integer) / 1000.0});
    return std::nullopt;
}

// Whether any of 16 bytes is one a JSON string or our plain texts treat apart: below 0x20, '"',
// '\\', or above 0x7e. Long id lists are nothing but plain bytes, and testing them one at a time
// was most of what reading or writing a manifest page cost. Without SSE2 every byte counts as
// special, so the callers' byte-by-byte loops do all the work.
#ifdef __SSE2__
bool hasSpecialByte(__m128i bytes)
{
    // Signed, bytes above 0x7f are below 0x20 too.
    const __m128i special = _mm_or_si128(
        _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7f))),
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))));
    return _mm_movemask_epi8(special) != 0;
}
#endif

// The first byte at or after `p` that may be special.
const char* skipPlainBytes(const char* p, const char* end)
{
#ifdef __SSE2__
    while (end - p >= 16 && !hasSpecialByte(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))))
        p += 16;
#else
    Q_UNUSED(end);
#endif
    return p;
}

// The same for UTF-16 text: the first character at or after `c` that may be special (any above
// 0xff saturates to 0xff, which is).
const QChar* skipPlainChars(const QChar* c, const QChar* end)
{
#ifdef __SSE2__
    while (end - c >= 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8));
        if (hasSpecialByte(_mm_packus_epi16(low, high)))
            break;
        c += 16;
    }
#else
    Q_UNUSED(end);
#endif
    return c;
}

// Where a reader stands in JSON text, and the two steps every reader of it takes.
struct TextCursor {
    explicit TextCursor(QByteArrayView text) : p(text.data()), end(text.data() + text.size()) {}
    void skipSpace()
    {
        while (p < end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t'))
            ++p;
    }
    bool take(char c)
    {
        if (p < end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }

    const char* p;
    const char* end;
};

// The fields as the stores write them, read in one pass without building a JSON document: most
// of a large fetch is spent here. Anything outside the plain form (odd numbers, unknown kinds,
// invalid text) answers false and goes to the general reader, which also logs what it skips.
class FastReader : TextCursor {
public:
    explicit FastReader(QByteArrayView text) : TextCursor(text) {}

    bool read(CloudRecord& record)
    {
        skipSpace();
        if (!take('{'))
            return false;
        skipSpace();
        if (take('}'))
            return atEnd();
        for (;;) {
            QString key;
            QString kind;
            if (!string(key) || !colon() || !take('[') || !(skipSpace(), string(kind)) || !comma())
                return false;
            std::optional<CloudRecord::Value> value;
            if (kind == QLatin1String("s")) {
                QString text;
                if (!string(text))
                    return false;
                value = CloudRecord::Value(text);
            } else if (kind == QLatin1String("i") || kind == QLatin1String("t")) {
                const std::optional<qint64> n = integer();
                if (!n)
                    return false;
                value = kind == QLatin1String("i") ? CloudRecord::Value(*n)
                                                   : CloudRecord::Value(CloudRecord::DateValue{double(*n) / 1000.0});
            } else {
                return false;
            }
            skipSpace();
            if (!take(']'))
                return false;
            record.set(key, *value);
            skipSpace();
            if (take('}'))
                return atEnd();
            if (!take(','))
                return false;
            skipSpace();
        }
    }

private:
    bool atEnd()
    {
        skipSpace();
        return p == end;
    }
    bool colon()
    {
        skipSpace();
        const bool ok = take(':');
        skipSpace();
        return ok;
    }
    bool comma()
    {
        skipSpace();
        const bool ok = take(',');
        skipSpace();
        return ok;
    }
    // Escapes are decoded here; invalid text and lone surrogates are left to the general reader.
    bool string(QString& out)
    {
        if (!take('"'))
            return false;
        QByteArray utf8;
        const char* start = p;
        bool ascii = true;
        for (;;) {
            p = skipPlainBytes(p, end);
            if (p == end)
                return false;
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c == '"')
                break;
            if (c < 0x20)
                return false;
            ascii &= c < 0x80;
            if (c != '\\') {
                ++p;
                continue;
            }
            utf8.append(start, p - start);
            if (++p == end)
                return false;
            const char e = *p++;
            switch (e) {
            case '"':
            case '\\':
            case '/':
                utf8.append(e);
                break;
            case 'b':
                utf8.append('\b');
                break;
            case 'f':
                utf8.append('\f');
                break;
            case 'n':
                utf8.append('\n');
                break;
            case 'r':
                utf8.append('\r');
                break;
            case 't':
                utf8.append('\t');
                break;
            case 'u': {
                char32_t unit = 0;
                if (!hex4(unit))
                    return false;
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    char32_t low = 0;
                    if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    return false;
                }
                utf8.append(QString::fromUcs4(&unit, 1).toUtf8());
                ascii = false;
                break;
            }
            default:
                return false;
            }
            start = p;
        }
        // Without escapes the text is read where it lies, not copied first.
        const QByteArrayView text =
            utf8.isEmpty() ? QByteArrayView(start, p - start) : QByteArrayView(utf8.append(start, p - start));
        ++p;
        if (!ascii && !QUtf8StringView(text).isValidUtf8())
            return false;
        out = ascii ? QString::fromLatin1(text) : QString::fromUtf8(text);
        return true;
    }
    bool hex4(char32_t& out)
    {
        if (end - p < 4)
            return false;
        for (int i = 0; i < 4; ++i, ++p) {
            const char c = *p;
            const int v = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (v < 0)
                return false;
            out = out * 16 + char32_t(v);
        }
        return true;
    }
    std::optional<qint64> integer()
    {
        const bool negative = take('-');
        if (p == end || *p < '0' || *p > '9')
            return std::nullopt;
        quint64 n = 0;
        int digits = 0;
        while (p < end && *p >= '0' && *p <= '9') {
            if (++digits > 18)
                return std::nullopt; // long numbers go the careful way
            n = n * 10 + quint64(*p - '0');
            ++p;
        }
        if (p < end && (*p == '.' || *p == 'e' || *p == 'E'))
            return std::nullopt;
        return negative ? -qint64(n) : qint64(n);
    }
};

} // namespace

namespace {

// Printable ASCII with nothing to escape: written as it is. A manifest page's id list is a quarter
// of a megabyte of such text, which the general writer would convert and escape a character at a
// time.
bool isPlainAscii(const QString& text)
{
    const QChar* const end = text.constData() + text.size();
    for (const QChar* c = skipPlainChars(text.constData(), end); c != end; ++c)
        if (c->unicode() < 0x20 || c->unicode() > 0x7e || *c == u'"' || *c == u'\\')
            return false;
    return true;
}

} // namespace

QByteArray patch(const CloudRecord& record, NulText nulText)
{
    QJsonObject general;
    // Plain members are written straight into one buffer: a page's id list is copied once more,
    // not once for every piece joined onto it.
    QByteArray plain(1, '{');
    for (const QString& key : record.changedKeys()) {
        const CloudRecord::Value value = record.value(key);
        const QString* text = std::get_if<QString>(&value);
        if (!text || !isPlainAscii(key) || !isPlainAscii(*text)) {
            general.insert(key, encodeValue(value, nulText));
            continue;
        }
        const QByteArray latin1 = text->toLatin1();
        plain.reserve(plain.size() + key.size() + latin1.size() + 16);
        if (plain.size() > 1)
            plain.append(',');
        plain.append('"').append(key.toLatin1()).append("\":[\"s\",\"").append(latin1).append("\"]");
    }
    if (general.isEmpty())
        return plain.append('}');
    QByteArray out = QJsonDocument(general).toJson(QJsonDocument::Compact);
    if (plain.size() > 1) {
        out.chop(1);
        out.append(',').append(QByteArrayView(plain).sliced(1)).append('}');
    }
    return out;
}

std::optional<QByteArray> plainTextsPatch(const QByteArray& fields)
{
    const QJsonObject object = QJsonDocument::fromJson(fields).object();
    QJsonObject out;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonArray pair = it->toArray();
        if (pair.size() != 2 || pair.at(0) != QLatin1String("z"))
            continue;
        if (const std::optional<QString> text = decodeText(pair.at(1)))
            out.insert(it.key(), encodeText(*text, NulText::plain));
    }
    if (out.isEmpty())
        return std::nullopt;
    return QJsonDocument(out).toJson(QJsonDocument::Compact);
}

namespace {

// One member of a JSON object as written: its key with the quotes, and its value, both as they
// stand in the text.
struct Member {
    QByteArrayView key, value;
};

// The members of a flat JSON object, read without decoding anything: just where each key and
// value begins and ends. None when the text is not such an object, or when its keys could be
// spelled two ways (an escape) or repeat, which only a full reader can judge.
class MemberReader : TextCursor {
public:
    explicit MemberReader(QByteArrayView text) : TextCursor(text) {}

    std::optional<std::vector<Member>> read()
    {
        std::vector<Member> members;
        skipSpace();
        if (!take('{'))
            return std::nullopt;
        skipSpace();
        if (!take('}')) {
            for (;;) {
                const char* key = p;
                if (!string(false))
                    return std::nullopt;
                Member m{QByteArrayView(key, p), {}};
                skipSpace();
                if (!take(':'))
                    return std::nullopt;
                skipSpace();
                const char* value = p;
                if (!skipValue(0))
                    return std::nullopt;
                m.value = QByteArrayView(value, p);
                for (const Member& other : members)
                    if (other.key == m.key)
                        return std::nullopt;
                members.push_back(m);
                skipSpace();
                if (take('}'))
                    break;
                if (!take(','))
                    return std::nullopt;
                skipSpace();
            }
        }
        skipSpace();
        if (p != end)
            return std::nullopt;
        return members;
    }

private:
    bool string(bool escapes)
    {
        if (!take('"'))
            return false;
        for (;;) {
            p = skipPlainBytes(p, end);
            if (p == end || static_cast<unsigned char>(*p) < 0x20)
                return false;
            if (*p == '"') {
                ++p;
                return true;
            }
            if (*p == '\\') {
                if (!escapes || end - p < 2)
                    return false;
                ++p;
            }
            ++p;
        }
    }
    bool skipValue(int depth)
    {
        if (p == end || depth > 64)
            return false;
        if (*p == '"')
            return string(true);
        if (*p == '[' || *p == '{') {
            const char close = *p == '[' ? ']' : '}';
            ++p;
            skipSpace();
            if (take(close))
                return true;
            for (;;) {
                if (close == '}') {
                    if (!string(true))
                        return false;
                    skipSpace();
                    if (!take(':'))
                        return false;
                    skipSpace();
                }
                if (!skipValue(depth + 1))
                    return false;
                skipSpace();
                if (take(close))
                    return true;
                if (!take(','))
                    return false;
                skipSpace();
            }
        }
        // A number or a literal: its characters up to what ends it; the database's own reader
        // judged it when it was stored.
        const char* start = p;
        while (p < end && (std::isalnum(static_cast<unsigned char>(*p)) || *p == '-' || *p == '+' || *p == '.'))
            ++p;
        return p != start;
    }
};

} // namespace

std::optional<QByteArray> spliceFields(QByteArrayView stored, QByteArrayView patchText)
{
    const std::optional<std::vector<Member>> fields = MemberReader(stored).read();
    const std::optional<std::vector<Member>> change = fields ? MemberReader(patchText).read() : std::nullopt;
    if (!change)
        return std::nullopt;
    // An object in a patch merges into the stored one member by member: left to the database.
    for (const Member& m : *change)
        if (m.value.startsWith('{'))
            return std::nullopt;
    const auto changeOf = [&change](QByteArrayView key) -> const Member* {
        for (const Member& m : *change)
            if (m.key == key)
                return &m;
        return nullptr;
    };
    QByteArray out;
    out.reserve(stored.size() + patchText.size());
    out.append('{');
    const auto add = [&out](const Member& m) {
        if (out.size() > 1)
            out.append(',');
        out.append(m.key).append(':').append(m.value);
    };
    for (const Member& m : *fields) {
        const Member* replaced = changeOf(m.key);
        if (!replaced)
            add(m);
        else if (replaced->value != "null")
            add(*replaced);
    }
    for (const Member& m : *change) {
        const bool stays =
            std::none_of(fields->begin(), fields->end(), [&m](const Member& f) { return f.key == m.key; });
        if (stays && m.value != "null")
            add(m);
    }
    out.append('}');
    return out;
}

QByteArray applyPatch(const QByteArray& stored, const QByteArray& patchText)
{
    QJsonObject fields = QJsonDocument::fromJson(stored).object();
    const QJsonObject change = QJsonDocument::fromJson(patchText).object();
    for (auto it = change.begin(); it != change.end(); ++it) {
        if (it->isNull())
            fields.remove(it.key());
        else
            fields.insert(it.key(), *it);
    }
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

CloudRecord decode(const QString& type, const QString& name, const QString& tag, QByteArrayView fields)
{
    CloudRecord record(type, name);
    record.setChangeTag(tag);
    if (fields.size() > 4 * RecordStore::maxRecordBytes) {
        qCWarning(recordStoreLog, "Record %s is too large; its fields are ignored", qUtf8Printable(name.left(64)));
        record.clearChangedKeys();
        return record;
    }
    if (FastReader(fields).read(record)) {
        record.clearChangedKeys();
        return record;
    }
    record = CloudRecord(type, name);
    record.setChangeTag(tag);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(fields.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qCWarning(recordStoreLog, "Record %s has unreadable fields; they are ignored", qUtf8Printable(name.left(64)));
        record.clearChangedKeys();
        return record;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (const auto value = decodeValue(*it)) {
            record.set(it.key(), *value);
        } else {
            qCWarning(recordStoreLog, "Record %s: field %s is malformed and left out", qUtf8Printable(name.left(64)),
                      qUtf8Printable(it.key().left(64)));
            record.markUnreadable(it.key());
        }
    }
    record.clearChangedKeys();
    return record;
}

bool isValidName(const QString& text)
{
    if (text.isEmpty() || text.size() > 255)
        return false;
    for (QChar c : text)
        if (c.category() == QChar::Other_Control)
            return false;
    return true;
}

} // namespace RecordFields
