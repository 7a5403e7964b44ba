#pragma once

#include "model/Clock.h"
#include "model/JsonWriter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QString>
#include <QUuid>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

// Canonical upper-case UUID text with dashes, the form every file and record stores.
QString uuidText(const QUuid& id);
AsciiField uuidField(const QUuid& id); // the same text, for writing without an allocation
// Accepts exactly 36 characters of hex digits (either case) with dashes at 8, 13, 18 and 23.
std::optional<QUuid> parseUuid(const QString& text);
std::optional<QUuid> parseUuid(std::string_view utf8);

// A JSON number that is a whole number within the 64-bit range, or nothing.
std::optional<qint64> integralValue(const QJsonValue& value);

// Saturating 64-bit arithmetic for values read from files.
qint64 saturatingMul(qint64 a, qint64 b);
qint64 saturatingAdd(qint64 a, qint64 b);

// Reads one JSON object the way the data files are decoded: a missing or mistyped required key
// fails the record; an optional key that is missing or null is absent, but a present value of the
// wrong type is still an error. Only the first error is kept.
class JsonReader {
public:
    JsonReader(const QJsonValue& value, const QString& what);

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    const QJsonObject& object() const { return m_object; }
    void fail(const QString& key, const QString& problem);

    bool has(const QString& key) const; // present and not null

    QString string(const QString& key);
    bool boolean(const QString& key);
    qint64 integer(const QString& key);
    double number(const QString& key);
    QUuid uuid(const QString& key);
    Date date(const QString& key);

    std::optional<QString> optString(const QString& key);
    std::optional<bool> optBoolean(const QString& key);
    std::optional<qint64> optInteger(const QString& key);
    std::optional<double> optNumber(const QString& key);
    std::optional<QUuid> optUuid(const QString& key);
    std::optional<Date> optDate(const QString& key);

    // A nested value decoded by `decode`; its error is reported under this record's key.
    template <typename T, typename Decode> T nested(const QString& key, Decode decode)
    {
        if (!has(key)) {
            fail(key, QStringLiteral("is missing"));
            return T{};
        }
        return decodeNested<T>(key, decode);
    }
    template <typename T, typename Decode> std::optional<T> optNested(const QString& key, Decode decode)
    {
        if (!has(key))
            return std::nullopt;
        return decodeNested<T>(key, decode);
    }

private:
    template <typename T, typename Decode> T decodeNested(const QString& key, Decode decode)
    {
        QString err;
        std::optional<T> v = decode(m_object.value(key), &err);
        if (!v) {
            fail(key, err);
            return T{};
        }
        return *v;
    }
    QJsonValue required(const QString& key);

    QJsonObject m_object;
    QString m_what;
    QString m_error;
};

template <typename T> using Decoder = std::function<std::optional<T>(const QJsonValue&, QString*)>;

// Decodes every element or fails on the first that does not decode.
template <typename T>
std::optional<std::vector<T>> decodeStrictList(const QJsonValue& value, const Decoder<T>& decode, QString* error)
{
    if (!value.isArray()) {
        if (error)
            *error = QStringLiteral("expected an array");
        return std::nullopt;
    }
    std::vector<T> out;
    const QJsonArray array = value.toArray();
    out.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        QString err;
        std::optional<T> element = decode(array.at(i), &err);
        if (!element) {
            if (error)
                *error = QStringLiteral("element %1: %2").arg(i).arg(err);
            return std::nullopt;
        }
        out.push_back(std::move(*element));
    }
    return out;
}

// Keeps every element of a JSON array that decodes and steps over the others. Fails only when
// the value is not an array.
template <typename T> struct LossyDecodableList {
    std::vector<T> elements;

    static std::optional<LossyDecodableList> decode(const QJsonValue& value, const Decoder<T>& decodeElement,
                                                    QString* error = nullptr)
    {
        if (!value.isArray()) {
            if (error)
                *error = QStringLiteral("expected an array");
            return std::nullopt;
        }
        LossyDecodableList list;
        for (const QJsonValue& element : value.toArray()) {
            if (std::optional<T> decoded = decodeElement(element, nullptr))
                list.elements.push_back(std::move(*decoded));
        }
        return list;
    }
};

template <typename T, typename Encode> QJsonArray encodeList(const std::vector<T>& list, Encode encode)
{
    QJsonArray out;
    for (const T& element : list)
        out.append(encode(element));
    return out;
}

QJsonArray encodeUuidSet(const QSet<QUuid>& set);
std::optional<QSet<QUuid>> decodeUuidSet(const QJsonValue& value, QString* error);
