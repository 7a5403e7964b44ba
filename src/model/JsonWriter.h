#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <string>
#include <vector>

// A short text that needs no escaping in any style (a date, a UUID), built on the stack so that
// writing it costs no allocation.
struct AsciiField {
    char text[40];
    int size = 0;

    QString toString() const { return QString::fromLatin1(text, size); }
};

// Two writers with one interface, so a record is described once (a template over the writer)
// and comes out either as a QJsonObject or straight as the text of a data file.
//
// JsonTextWriter writes the data files' form without building QJsonObjects first, which is what
// keeps saving ten thousand to-dos on the main thread quick: four-space indentation, "key": value,
// "/" not escaped. Keys appear in the order the caller gives them, so callers give them sorted.
class JsonTextWriter {
public:
    // Pretty (the data files) or compact with "/" written as "\/" (the texts exchanged with the
    // cloud, which must match another encoder byte for byte).
    enum class Style { pretty, compactEscapedSlash };
    explicit JsonTextWriter(Style style = Style::pretty) : m_style(style) {}

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // Writes the next values as elements of an array whose '[' was written elsewhere, so that
    // an element's text can be kept and put together with others' later.
    void continueArray() { m_levels.push_back({false}); }
    // Keys are escaped like values: a key can come from a file (a usage entry) and hold anything.
    void key(const char* name);
    void key(const QString& name);

    void value(const QString& text);
    void value(bool flag);
    void value(qint64 number);
    void value(int number) { value(static_cast<qint64>(number)); }
    void value(double number);
    void value(const AsciiField& text);

    void reserve(qsizetype bytes) { m_out.reserve(static_cast<size_t>(bytes)); }
    QByteArray take() { return QByteArray(m_out.data(), static_cast<qsizetype>(m_out.size())); }

private:
    void beforeValue();
    void beforeKey();
    void afterKey(const QString& name);
    void newline(int depth);
    void appendString(const QString& text);

    Style m_style;
    std::string m_out; // appends inline, unlike QByteArray's out-of-line append
    struct Level {
        bool isObject;
        bool empty = true;
    };
    std::vector<Level> m_levels;
    bool m_afterKey = false;
#ifndef NDEBUG
    std::vector<QString> m_lastKeys;
#endif
public:
    // Callers that must write keys in an order of their own (field order) switch the check off.
    bool checkSortedKeys = true;
};

class JsonValueBuilder {
public:
    void beginObject() { m_stack.push_back({true, {}, {}, m_pendingKey}); }
    void endObject() { close(); }
    void beginArray() { m_stack.push_back({false, {}, {}, m_pendingKey}); }
    void endArray() { close(); }
    void key(const char* name) { m_pendingKey = QString::fromUtf8(name); }
    void key(const QString& name) { m_pendingKey = name; }

    void value(const QString& text) { put(text); }
    void value(bool flag) { put(flag); }
    void value(qint64 number) { put(static_cast<double>(number)); }
    void value(int number) { put(number); }
    void value(double number) { put(number); }
    void value(const AsciiField& text) { put(text.toString()); }

    QJsonValue result() const { return m_result; }

private:
    struct Open {
        bool isObject;
        QJsonObject object;
        QJsonArray array;
        QString key; // under which the finished container goes into its parent
    };
    void put(const QJsonValue& v);
    void close();

    std::vector<Open> m_stack;
    QString m_pendingKey;
    QJsonValue m_result;
};
