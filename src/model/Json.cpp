#include "model/Json.h"

#include "model/Iso8601.h"

#include <cmath>
#include <limits>

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> parseUuid(const QString& text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < 36; ++i) {
        const QChar c = text.at(i);
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != QLatin1Char('-'))
                return std::nullopt;
        } else if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                     (c >= QLatin1Char('A') && c <= QLatin1Char('F')))) {
            return std::nullopt;
        }
    }
    return QUuid::fromString(text);
}

qint64 saturatingMul(qint64 a, qint64 b)
{
    qint64 r = 0;
    if (__builtin_mul_overflow(a, b, &r))
        return ((a < 0) != (b < 0)) ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return r;
}

qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 r = 0;
    if (__builtin_add_overflow(a, b, &r))
        return b < 0 ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return r;
}

JsonReader::JsonReader(const QJsonValue& value, const QString& what) : m_what(what)
{
    if (value.isObject())
        m_object = value.toObject();
    else
        m_error = QStringLiteral("%1: expected an object").arg(what);
}

void JsonReader::fail(const QString& key, const QString& problem)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1.%2: %3").arg(m_what, key, problem);
}

bool JsonReader::has(const QString& key) const
{
    const QJsonValue v = m_object.value(key);
    return !v.isUndefined() && !v.isNull();
}

QJsonValue JsonReader::required(const QString& key)
{
    if (!ok())
        return {};
    const QJsonValue v = m_object.value(key);
    if (v.isUndefined() || v.isNull()) {
        fail(key, QStringLiteral("is missing"));
        return {};
    }
    return v;
}

std::optional<qint64> integralValue(const QJsonValue& v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    // 2^63 is exactly representable; anything at or above it does not fit.
    if (!std::isfinite(d) || d != std::floor(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0)
        return std::nullopt;
    return static_cast<qint64>(d);
}

QString JsonReader::string(const QString& key)
{
    const QJsonValue v = required(key);
    if (!ok())
        return {};
    if (!v.isString())
        fail(key, QStringLiteral("expected text"));
    return v.toString();
}

bool JsonReader::boolean(const QString& key)
{
    const QJsonValue v = required(key);
    if (!ok())
        return false;
    if (!v.isBool())
        fail(key, QStringLiteral("expected true or false"));
    return v.toBool();
}

qint64 JsonReader::integer(const QString& key)
{
    const QJsonValue v = required(key);
    if (!ok())
        return 0;
    const std::optional<qint64> i = integralValue(v);
    if (!i)
        fail(key, QStringLiteral("expected a whole number"));
    return i.value_or(0);
}

double JsonReader::number(const QString& key)
{
    const QJsonValue v = required(key);
    if (!ok())
        return 0;
    if (!v.isDouble())
        fail(key, QStringLiteral("expected a number"));
    return v.toDouble();
}

QUuid JsonReader::uuid(const QString& key)
{
    const QJsonValue v = required(key);
    if (!ok())
        return {};
    const std::optional<QUuid> id = v.isString() ? parseUuid(v.toString()) : std::nullopt;
    if (!id)
        fail(key, QStringLiteral("expected a UUID"));
    return id.value_or(QUuid());
}

Date JsonReader::date(const QString& key)
{
    const QJsonValue v = required(key);
    if (!ok())
        return 0;
    const std::optional<Date> d = v.isString() ? Iso8601::parse(v.toString()) : std::nullopt;
    if (!d)
        fail(key, QStringLiteral("expected an ISO 8601 date"));
    return d.value_or(0);
}

std::optional<QString> JsonReader::optString(const QString& key)
{
    return has(key) ? std::optional(string(key)) : std::nullopt;
}

std::optional<bool> JsonReader::optBoolean(const QString& key)
{
    return has(key) ? std::optional(boolean(key)) : std::nullopt;
}

std::optional<qint64> JsonReader::optInteger(const QString& key)
{
    return has(key) ? std::optional(integer(key)) : std::nullopt;
}

std::optional<double> JsonReader::optNumber(const QString& key)
{
    return has(key) ? std::optional(number(key)) : std::nullopt;
}

std::optional<QUuid> JsonReader::optUuid(const QString& key)
{
    return has(key) ? std::optional(uuid(key)) : std::nullopt;
}

std::optional<Date> JsonReader::optDate(const QString& key)
{
    return has(key) ? std::optional(date(key)) : std::nullopt;
}

QJsonArray encodeUuidSet(const QSet<QUuid>& set)
{
    QJsonArray out;
    for (const QUuid& id : set)
        out.append(uuidText(id));
    return out;
}

std::optional<QSet<QUuid>> decodeUuidSet(const QJsonValue& value, QString* error)
{
    if (!value.isArray()) {
        if (error)
            *error = QStringLiteral("expected an array");
        return std::nullopt;
    }
    QSet<QUuid> out;
    for (const QJsonValue& element : value.toArray()) {
        const std::optional<QUuid> id = element.isString() ? parseUuid(element.toString()) : std::nullopt;
        if (!id) {
            if (error)
                *error = QStringLiteral("expected a UUID");
            return std::nullopt;
        }
        out.insert(*id);
    }
    return out;
}
