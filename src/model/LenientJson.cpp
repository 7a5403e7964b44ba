#include "model/LenientJson.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

class Reader {
public:
    explicit Reader(const QByteArray& text) : m_p(text.constData()), m_end(m_p + text.size()) {}

    QJsonObject readObject(bool& complete)
    {
        QJsonObject values;
        complete = false;
        skipSpace();
        if (!take('{'))
            return values;
        bool clean = true;
        skipSpace();
        if (take('}')) {
            complete = atEnd();
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

    std::vector<std::optional<QJsonValue>> readArray(bool& complete)
    {
        std::vector<std::optional<QJsonValue>> values;
        complete = false;
        skipSpace();
        if (!take('['))
            return values;
        bool clean = true;
        skipSpace();
        if (take(']')) {
            complete = atEnd();
            return values;
        }
        for (;;) {
            skipSpace();
            const char* valueStart = m_p;
            if (!skipValue(0))
                return values;
            values.push_back(parse(valueStart, m_p));
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

private:
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

std::vector<std::optional<QJsonValue>> readArray(const QByteArray& text, bool& complete)
{
    return Reader(text).readArray(complete);
}

} // namespace LenientJson
