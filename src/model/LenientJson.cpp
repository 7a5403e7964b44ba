#include "model/LenientJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstring>

namespace {

class Reader {
public:
    explicit Reader(QByteArrayView text) : m_p(text.data()), m_end(m_p + text.size()) {}

    QJsonObject readObject(bool& complete)
    {
        QJsonObject values;
        complete = false;
        bool clean = skipMarks();
        if (!take('{'))
            return values;
        skipSpace();
        if (take('}')) {
            complete = clean && atEnd();
            return values;
        }
        for (;;) {
            skipSpace();
            const char* keyStart = m_p;
            if (!skipString())
                return values;
            const std::optional<QJsonValue> key = parse(keyStart, m_p);
            skipSpace();
            if (!take(':'))
                return values;
            skipSpace();
            const char* valueStart = m_p;
            if (!skipValue(0))
                return values;
            const std::optional<QJsonValue> value = parse(valueStart, m_p);
            if (key && key->isString() && value)
                values.insert(key->toString(), *value);
            else
                clean = false;
            skipSpace();
            if (take(','))
                continue;
            if (!take('}'))
                return values;
            complete = clean && atEnd();
            return values;
        }
    }

    std::vector<std::optional<QJsonValue>> readArray(bool& complete, qsizetype maximumElementBytes)
    {
        std::vector<std::optional<QJsonValue>> values;
        complete = false;
        bool clean = skipMarks();
        if (!take('['))
            return values;
        skipSpace();
        if (take(']')) {
            complete = clean && atEnd();
            return values;
        }
        for (;;) {
            skipSpace();
            const char* valueStart = m_p;
            if (!skipValue(0))
                return values;
            values.push_back(m_p - valueStart <= maximumElementBytes ? parse(valueStart, m_p) : std::nullopt);
            clean = clean && values.back().has_value();
            skipSpace();
            if (take(','))
                continue;
            if (!take(']'))
                return values;
            complete = clean && atEnd();
            return values;
        }
    }

    bool hasElementOver(qsizetype bytes)
    {
        skipMarks();
        if (!take('['))
            return false;
        for (;;) {
            skipSpace();
            const char* valueStart = m_p;
            // One cut short counts as far as it came.
            if (!skipValue(0) || m_p - valueStart > bytes)
                return m_p - valueStart > bytes;
            skipSpace();
            if (!take(','))
                return false;
        }
    }

private:
    // Passes white space and byte-order marks before the text. The document parser passes one
    // mark; a text with more than that it refuses, which makes the reading not complete.
    bool skipMarks()
    {
        int marks = 0;
        for (;;) {
            skipSpace();
            if (m_end - m_p < 3 || std::memcmp(m_p, "\xEF\xBB\xBF", 3) != 0)
                return marks <= 1;
            m_p += 3;
            ++marks;
        }
    }
    static std::optional<QJsonValue> parse(const char* begin, const char* end)
    {
        QByteArray wrapped;
        wrapped.reserve(end - begin + 2);
        wrapped.append('[').append(begin, end - begin).append(']');
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(wrapped, &error);
        if (error.error != QJsonParseError::NoError || doc.array().size() != 1)
            return std::nullopt;
        return doc.array().first();
    }
    void skipSpace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\n' || *m_p == '\r'))
            ++m_p;
    }
    bool atEnd()
    {
        skipSpace();
        return m_p == m_end;
    }
    bool take(char c)
    {
        if (m_p < m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }
    bool skipString()
    {
        if (!take('"'))
            return false;
        while (m_p < m_end) {
            const char c = *m_p++;
            if (c == '"')
                return true;
            if (c == '\\' && m_p < m_end)
                ++m_p;
        }
        return false;
    }
    // Finds where a value ends without judging it; the parser judges it afterwards.
    bool skipValue(int depth)
    {
        if (depth > 512 || m_p == m_end)
            return false;
        if (*m_p == '"')
            return skipString();
        if (*m_p == '[' || *m_p == '{') {
            const char close = *m_p == '[' ? ']' : '}';
            ++m_p;
            skipSpace();
            if (take(close))
                return true;
            for (;;) {
                skipSpace();
                if (close == '}') {
                    if (!skipString())
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
            }
        }
        const char* start = m_p;
        while (m_p < m_end && *m_p != ',' && *m_p != '}' && *m_p != ']' && *m_p != ' ' && *m_p != '\t' &&
               *m_p != '\n' && *m_p != '\r')
            ++m_p;
        return m_p != start;
    }

    const char* m_p;
    const char* m_end;
};

} // namespace

namespace LenientJson {

QJsonObject readObject(const QByteArray& text, bool& complete)
{
    return Reader(text).readObject(complete);
}

std::vector<std::optional<QJsonValue>> readArray(const QByteArray& text, bool& complete, qsizetype maximumElementBytes)
{
    return Reader(text).readArray(complete, maximumElementBytes);
}

bool hasElementOver(QByteArrayView text, qsizetype bytes)
{
    return Reader(text).hasElementOver(bytes);
}

} // namespace LenientJson
