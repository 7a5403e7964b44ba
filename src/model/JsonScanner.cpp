#include "model/JsonScanner.h"

#include <algorithm>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

constexpr int maximumDepth = 32;

} // namespace

JsonScanner::JsonScanner(QByteArrayView text) : m_begin(text.data()), m_p(text.data()), m_end(text.data() + text.size())
{
}

JsonScanner::JsonScanner(QByteArrayView text, qsizetype from) : JsonScanner(text)
{
    m_p += std::clamp<qsizetype>(from, 0, text.size());
}

void JsonScanner::skipByteOrderMark()
{
    if (m_p == m_begin && std::string_view(m_p, size_t(m_end - m_p)).starts_with(byteOrderMark))
        m_p += byteOrderMark.size();
}

char JsonScanner::peek()
{
    while (m_p < m_end && isSpace(*m_p))
        ++m_p;
    return m_ok && m_p < m_end ? *m_p : '\0';
}

bool JsonScanner::expect(char c)
{
    if (peek() != c) {
        m_ok = false;
        return false;
    }
    ++m_p;
    return true;
}

bool JsonScanner::enterArray()
{
    return expect('[');
}

bool JsonScanner::enterObject()
{
    return expect('{');
}

bool JsonScanner::nextElement(bool& first)
{
    const char c = peek();
    if (c == ']') {
        ++m_p;
        return false;
    }
    if (!first && !expect(','))
        return false;
    first = false;
    return m_ok;
}

bool JsonScanner::nextKey(bool& first, std::string_view& key)
{
    const char c = peek();
    if (c == '}') {
        ++m_p;
        return false;
    }
    if (!first && !expect(','))
        return false;
    first = false;
    return readString(key) && expect(':');
}

bool JsonScanner::isNull()
{
    if (peek() != 'n')
        return false;
    if (m_end - m_p < 4 || std::string_view(m_p, 4) != "null") {
        m_ok = false;
        return false;
    }
    m_p += 4;
    return true;
}

bool JsonScanner::readBool(bool& value)
{
    const char c = peek();
    const std::string_view word = c == 't' ? "true" : "false";
    if ((c != 't' && c != 'f') || m_end - m_p < static_cast<qsizetype>(word.size()) ||
        std::string_view(m_p, word.size()) != word) {
        m_ok = false;
        return false;
    }
    m_p += word.size();
    value = c == 't';
    return true;
}

bool JsonScanner::readString(std::string_view& text)
{
    if (!expect('"'))
        return false;
    const char* start = m_p;
    m_escaped = false;
    // Plain ASCII without escapes, nearly every text of the files, is used where it lies.
    while (m_p < m_end) {
        const auto c = static_cast<unsigned char>(*m_p);
        if (c == '"') {
            text = std::string_view(start, static_cast<size_t>(m_p - start));
            ++m_p;
            return true;
        }
        if (c == '\\' || c >= 0x80)
            return readEscapedString(start, text);
        ++m_p;
    }
    m_ok = false;
    return false;
}

bool JsonScanner::readText(QString& text)
{
    std::string_view utf8;
    if (!readString(utf8))
        return false;
    text = textOf(utf8);
    return true;
}

QString JsonScanner::textOf(std::string_view utf8) const
{
    // A conversion from UTF-8 drops the leading mark.
    QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    if (m_escaped && utf8.starts_with(byteOrderMark))
        text.prepend(QChar(0xFEFF));
    return text;
}

bool JsonScanner::appendScalar(char32_t c)
{
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return false;
    if (c < 0x80) {
        m_scratch += static_cast<char>(c);
    } else if (c < 0x800) {
        m_scratch += static_cast<char>(0xC0 | (c >> 6));
        m_scratch += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        m_scratch += static_cast<char>(0xE0 | (c >> 12));
        m_scratch += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        m_scratch += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        m_scratch += static_cast<char>(0xF0 | (c >> 18));
        m_scratch += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        m_scratch += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        m_scratch += static_cast<char>(0x80 | (c & 0x3F));
    }
    return true;
}

bool JsonScanner::readEscapedString(const char* start, std::string_view& text)
{
    m_scratch.assign(start, static_cast<size_t>(m_p - start));
    const auto readHex4 = [this](char32_t& out) {
        if (m_end - m_p < 4)
            return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const int v = hexValue(m_p[i]);
            if (v < 0)
                return false;
            out = out * 16 + static_cast<char32_t>(v);
        }
        m_p += 4;
        return true;
    };
    while (m_p < m_end) {
        const auto c = static_cast<unsigned char>(*m_p++);
        if (c == '"') {
            text = m_scratch;
            return true;
        }
        if (c == '\\') {
            m_escaped = true;
            if (m_p >= m_end)
                break;
            const char e = *m_p++;
            char32_t scalar = 0;
            switch (e) {
            case '"':
            case '\\':
            case '/':
                m_scratch += e;
                continue;
            case 'b':
                m_scratch += '\b';
                continue;
            case 'f':
                m_scratch += '\f';
                continue;
            case 'n':
                m_scratch += '\n';
                continue;
            case 'r':
                m_scratch += '\r';
                continue;
            case 't':
                m_scratch += '\t';
                continue;
            case 'u':
                if (!readHex4(scalar))
                    break;
                if (scalar >= 0xD800 && scalar <= 0xDBFF) {
                    char32_t low = 0;
                    if (m_end - m_p < 2 || m_p[0] != '\\' || m_p[1] != 'u')
                        break;
                    m_p += 2;
                    if (!readHex4(low) || low < 0xDC00 || low > 0xDFFF)
                        break;
                    scalar = 0x10000 + ((scalar - 0xD800) << 10) + (low - 0xDC00);
                }
                if (!appendScalar(scalar))
                    break;
                continue;
            default:
                break;
            }
            break;
        }
        if (c < 0x80) {
            m_scratch += static_cast<char>(c);
            continue;
        }
        // UTF-8, strictly: no overlong forms, no surrogates, nothing past U+10FFFF.
        int extra = 0;
        char32_t scalar = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            scalar = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            scalar = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            scalar = c & 0x07;
        } else {
            break;
        }
        if (m_end - m_p < extra)
            break;
        bool valid = true;
        for (int i = 0; i < extra; ++i) {
            const auto b = static_cast<unsigned char>(m_p[i]);
            valid = valid && (b & 0xC0) == 0x80;
            scalar = (scalar << 6) | (b & 0x3F);
        }
        m_p += extra;
        const char32_t smallest = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
        if (!valid || scalar < smallest || !appendScalar(scalar))
            break;
    }
    m_ok = false;
    return false;
}

bool JsonScanner::skipValue(int depth)
{
    if (depth > maximumDepth) {
        m_ok = false;
        return false;
    }
    const char c = peek();
    if (c == '"') {
        std::string_view ignored;
        return readString(ignored);
    }
    if (c == 't' || c == 'f') {
        bool ignored = false;
        return readBool(ignored);
    }
    if (c == 'n')
        return isNull();
    if (c == '[') {
        ++m_p;
        bool first = true;
        while (nextElement(first))
            if (!skipValue(depth + 1))
                return false;
        return m_ok;
    }
    if (c == '{') {
        ++m_p;
        bool first = true;
        std::string_view key;
        while (nextKey(first, key))
            if (!skipValue(depth + 1))
                return false;
        return m_ok;
    }
    // A plain decimal number of at most fifteen digits; anything else is left to the full parser.
    const char* p = m_p;
    if (p < m_end && *p == '-')
        ++p;
    const char* digitsStart = p;
    int digits = 0;
    while (p < m_end && *p >= '0' && *p <= '9')
        ++p, ++digits;
    if (digits == 0 || (*digitsStart == '0' && digits > 1)) {
        m_ok = false;
        return false;
    }
    if (p < m_end && *p == '.') {
        ++p;
        const int before = digits;
        while (p < m_end && *p >= '0' && *p <= '9')
            ++p, ++digits;
        if (digits == before) {
            m_ok = false;
            return false;
        }
    }
    if (digits > 15 || (p < m_end && (*p == 'e' || *p == 'E'))) {
        m_ok = false;
        return false;
    }
    m_p = p;
    return true;
}

bool JsonScanner::atEnd()
{
    peek();
    return m_ok && m_p == m_end;
}
