#include "model/JsonWriter.h"

#include <QLocale>
#include <cmath>

void JsonTextWriter::newline(int depth)
{
    if (m_style != Style::pretty)
        return;
    m_out += '\n';
    m_out.append(static_cast<size_t>(depth) * 4, ' ');
}

void JsonTextWriter::beforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_levels.empty())
        return;
    Level& level = m_levels.back();
    if (!level.empty)
        m_out += ',';
    level.empty = false;
    newline(static_cast<int>(m_levels.size()));
}

void JsonTextWriter::beforeKey()
{
    Level& level = m_levels.back();
    if (!level.empty)
        m_out += ',';
    level.empty = false;
    newline(static_cast<int>(m_levels.size()));
}

void JsonTextWriter::afterKey([[maybe_unused]] const QString& name)
{
    m_out += m_style == Style::pretty ? ": " : ":";
    m_afterKey = true;
#ifndef NDEBUG
    Q_ASSERT_X(!checkSortedKeys || m_lastKeys.back().isEmpty() || m_lastKeys.back() < name, "JsonTextWriter",
               "keys must be written in sorted order");
    m_lastKeys.back() = name;
#endif
}

void JsonTextWriter::key(const char* name)
{
    for (const char* p = name; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == '"' || c == '\\' || (c == '/' && m_style != Style::pretty)) {
            key(QString::fromUtf8(name));
            return;
        }
    }
    // The common case: a field name of the code, copied as it is.
    beforeKey();
    m_out += '"';
    m_out += name;
    m_out += '"';
#ifndef NDEBUG
    afterKey(QString::fromUtf8(name));
#else
    afterKey(QString());
#endif
}

void JsonTextWriter::key(const QString& name)
{
    beforeKey();
    appendString(name);
    afterKey(name);
}

void JsonTextWriter::beginObject()
{
    beforeValue();
    m_out += '{';
    m_levels.push_back({true});
#ifndef NDEBUG
    m_lastKeys.emplace_back();
#endif
}

void JsonTextWriter::endObject()
{
    m_levels.pop_back();
#ifndef NDEBUG
    m_lastKeys.pop_back();
#endif
    newline(static_cast<int>(m_levels.size()));
    m_out += '}';
    if (m_levels.empty() && m_style == Style::pretty)
        m_out += '\n';
}

void JsonTextWriter::beginArray()
{
    beforeValue();
    m_out += '[';
    m_levels.push_back({false});
}

void JsonTextWriter::endArray()
{
    m_levels.pop_back();
    newline(static_cast<int>(m_levels.size()));
    m_out += ']';
    if (m_levels.empty() && m_style == Style::pretty)
        m_out += '\n';
}

void JsonTextWriter::value(const QString& text)
{
    beforeValue();
    appendString(text);
}

void JsonTextWriter::value(const AsciiField& text)
{
    beforeValue();
    m_out += '"';
    m_out.append(text.text, static_cast<size_t>(text.size));
    m_out += '"';
}

void JsonTextWriter::appendString(const QString& text)
{
    static constexpr char hex[] = "0123456789abcdef";
    // Escaped and encoded in one pass straight into the output. Room is made for plain ASCII
    // first, which nearly every text is, and for the worst case (six bytes a unit) only when a
    // unit that needs more turns up.
    const qsizetype n = text.size();
    const size_t start = m_out.size();
    m_out.resize(start + static_cast<size_t>(n) + 2);
    char* o = m_out.data() + start;
    bool roomForAll = false;
    *o++ = '"';
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    // Whether every unit is plain ASCII, looked at without stopping early so the loop stays
    // branch-free; such a text is then copied unit for unit.
    const char16_t slash = m_style == Style::pretty ? u'"' : u'/';
    bool special = false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        special |= (c < 0x20) | (c >= 0x80) | (c == u'"') | (c == u'\\') | (c == slash);
    }
    if (!special) {
        for (qsizetype i = 0; i < n; ++i)
            o[i] = static_cast<char>(p[i]);
        o[n] = '"';
        return;
    }
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = p[i];
        if (c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\' && (c != u'/' || m_style == Style::pretty)) {
            *o++ = static_cast<char>(c);
            continue;
        }
        if (!roomForAll) {
            const size_t written = static_cast<size_t>(o - m_out.data());
            m_out.resize(start + static_cast<size_t>(n) * 6 + 2);
            o = m_out.data() + written;
            roomForAll = true;
        }
        if (c < 0x80) {
            *o++ = '\\';
            switch (c) {
            case u'"':
                *o++ = '"';
                break;
            case u'\\':
                *o++ = '\\';
                break;
            case u'/':
                *o++ = '/';
                break;
            case u'\b':
                *o++ = 'b';
                break;
            case u'\f':
                *o++ = 'f';
                break;
            case u'\n':
                *o++ = 'n';
                break;
            case u'\r':
                *o++ = 'r';
                break;
            case u'\t':
                *o++ = 't';
                break;
            default:
                *o++ = 'u';
                *o++ = '0';
                *o++ = '0';
                *o++ = hex[c >> 4];
                *o++ = hex[c & 0xF];
            }
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1]))
            c = QChar::surrogateToUcs4(static_cast<char16_t>(c), p[++i]);
        else if (QChar::isSurrogate(c))
            c = 0xFFFD; // a lone half of a pair cannot be written as UTF-8
        if (c < 0x800) {
            *o++ = static_cast<char>(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *o++ = static_cast<char>(0xE0 | (c >> 12));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        } else {
            *o++ = static_cast<char>(0xF0 | (c >> 18));
            *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        *o++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    *o++ = '"';
    m_out.resize(static_cast<size_t>(o - m_out.data()));
}

void JsonTextWriter::value(bool flag)
{
    beforeValue();
    m_out += flag ? "true" : "false";
}

void JsonTextWriter::value(qint64 number)
{
    // Numbers go through doubles in the data files, as any JSON reader sees them.
    value(static_cast<double>(number));
}

void JsonTextWriter::value(double number)
{
    beforeValue();
    if (!std::isfinite(number)) {
        m_out += "null";
    } else if (number == std::floor(number) && std::abs(number) < 9007199254740992.0) {
        m_out += std::to_string(static_cast<qint64>(number));
    } else {
        m_out += QByteArray::number(number, 'g', QLocale::FloatingPointShortest).toStdString();
    }
}

void JsonValueBuilder::put(const QJsonValue& v)
{
    if (m_stack.empty()) {
        m_result = v;
        return;
    }
    Open& top = m_stack.back();
    if (top.isObject)
        top.object.insert(m_pendingKey, v);
    else
        top.array.append(v);
}

void JsonValueBuilder::close()
{
    Open done = std::move(m_stack.back());
    m_stack.pop_back();
    m_pendingKey = done.key;
    if (done.isObject)
        put(done.object);
    else
        put(done.array);
}
