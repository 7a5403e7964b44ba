#include "sync/RecordFields.h"

#include "sync/RecordStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>
#include <cmath>

Q_LOGGING_CATEGORY(recordStoreLog, "RecordStore")

namespace RecordFields {

namespace {

QJsonValue encodeValue(const CloudRecord::Value& value)
{
    if (const auto* s = std::get_if<QString>(&value))
        return QJsonArray{QStringLiteral("s"), *s};
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

} // namespace

QByteArray patch(const CloudRecord& record)
{
    QJsonObject out;
    for (const QString& key : record.changedKeys())
        out.insert(key, encodeValue(record.value(key)));
    return QJsonDocument(out).toJson(QJsonDocument::Compact);
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

CloudRecord decode(const QString& type, const QString& name, const QString& tag, const QByteArray& fields)
{
    CloudRecord record(type, name);
    record.setChangeTag(tag);
    if (fields.size() > 4 * RecordStore::maxRecordBytes) {
        qCWarning(recordStoreLog, "Record %s is too large; its fields are ignored", qUtf8Printable(name.left(64)));
        record.clearChangedKeys();
        return record;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(fields, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        qCWarning(recordStoreLog, "Record %s has unreadable fields; they are ignored", qUtf8Printable(name.left(64)));
        record.clearChangedKeys();
        return record;
    }
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (const auto value = decodeValue(*it))
            record.set(it.key(), *value);
        else
            qCWarning(recordStoreLog, "Record %s: field %s is malformed and left out", qUtf8Printable(name.left(64)),
                      qUtf8Printable(it.key().left(64)));
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
