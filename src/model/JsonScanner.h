#pragma once

#include <QByteArrayView>
#include <QString>
#include <string>
#include <string_view>

// Reads the data files' JSON straight from their bytes, one value after another, so a list of
// ten thousand records is decoded in one pass without building a document first.
//
// It is deliberately narrower than a full parser: whatever it is not sure to read exactly as the
// document parser would (an exponent, a lone surrogate, deep nesting...) makes it give up, and the
// caller then reads the file the ordinary way. So it only ever speeds a load up; it never decides
// what a file means. What the document parser keeps in a text, it keeps too: NUL and other control
// characters, escaped or not, byte-order marks and noncharacters.
class JsonScanner {
public:
    explicit JsonScanner(QByteArrayView text);
    // Reads from `from` on; offsets still count from the start of `text`.
    JsonScanner(QByteArrayView text, qsizetype from);

    bool ok() const { return m_ok; }
    // At the very start of the text: passes one UTF-8 byte-order mark, as the document parser does.
    void skipByteOrderMark();
    // Gives up on the whole text; every later call answers false.
    void fail() { m_ok = false; }

    // '[' or '{' opens; `first` is the caller's flag for that container, true to begin with.
    bool enterArray();
    bool enterObject();
    // True when another element follows (its value is next); false at ']' or on a problem.
    bool nextElement(bool& first);
    // True with the next key read and its ':' passed; false at '}' or on a problem. The key is
    // valid until the next read.
    bool nextKey(bool& first, std::string_view& key);

    bool isNull(); // passes a null when one is next
    bool isString() { return peek() == '"'; }
    // The text as UTF-8, valid until the next read.
    bool readString(std::string_view& text);
    // The same as text, as the document parser gives it: it drops a leading U+FEFF written as it
    // is in a text without escapes, and keeps it in a text with any escape.
    bool readText(QString& text);
    // The text of a string readString just read, as readText gives it.
    QString textOf(std::string_view utf8) const;
    bool readBool(bool& value);
    bool skipValue() { return skipValue(0); }
    // Only white space is left.
    bool atEnd();
    // How far the reading has come, in bytes from the start; `nextValue` first passes white space,
    // so it is where the next value begins.
    qsizetype offset() const { return m_p - m_begin; }
    qsizetype nextValue()
    {
        peek();
        return offset();
    }

private:
    char peek();
    bool skipValue(int depth);
    bool expect(char c);
    bool readEscapedString(const char* start, std::string_view& text);
    bool appendScalar(char32_t c);

    const char* m_begin;
    const char* m_p;
    const char* m_end;
    bool m_ok = true;
    bool m_escaped = false; // the last string held an escape
    std::string m_scratch;
};
