#include "model/Json.h"

#include "model/Iso8601.h"

#include <array>
#include <cmath>
#include <limits>

// Hand-written: ids are formatted and parsed for every record on every save and load.
QString uuidText(const QUuid& id)
{
    return uuidField(id).toString();
}

AsciiField uuidField(const QUuid& id)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    const uchar bytes[16] = {static_cast<unsigned char>(id.data1 >> 24),
                             static_cast<unsigned char>(id.data1 >> 16),
                             static_cast<unsigned char>(id.data1 >> 8),
                             static_cast<unsigned char>(id.data1),
                             static_cast<unsigned char>(id.data2 >> 8),
                             static_cast<unsigned char>(id.data2),
                             static_cast<unsigned char>(id.data3 >> 8),
                             static_cast<unsigned char>(id.data3),
                             id.data4[0],
                             id.data4[1],
                             id.data4[2],
                             id.data4[3],
                             id.data4[4],
                             id.data4[5],
                             id.data4[6],
                             id.data4[7]};
    AsciiField out;
    char* p = out.text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            *p++ = '-';
        *p++ = hex[bytes[i] >> 4];
        *p++ = hex[bytes[i] & 0xF];
    }
    out.size = 36;
    return out;
}

namespace {

char16_t unitAt(const QString& text, qsizetype i)
{
    return text.at(i).unicode();
}

char16_t unitAt(std::string_view text, qsizetype i)
{
    return static_cast<unsigned char>(text[static_cast<size_t>(i)]);
}

constexpr std::array<signed char, 128> hexValues = [] {
    std::array<signed char, 128> values{};
    values.fill(-1);
    for (int c = 0; c < 10; ++c)
        values[size_t('0' + c)] = static_cast<signed char>(c);
    for (int c = 0; c < 6; ++c) {
        values[size_t('a' + c)] = static_cast<signed char>(10 + c);
        values[size_t('A' + c)] = static_cast<signed char>(10 + c);
    }
    return values;
}();

// Every to-do and step of a file holds one: a load reads tens of thousands.
template <typename Text> std::optional<QUuid> parseUuidText(const Text& text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (const qsizetype dash : {8, 13, 18, 23})
        if (unitAt(text, dash) != u'-')
            return std::nullopt;
    static constexpr std::array<qsizetype, 16> pairs = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};
    const auto value = [&](qsizetype i) {
        const char16_t c = unitAt(text, i);
        return c < hexValues.size() ? int(hexValues[c]) : -1;
    };
    char bytes[16];
    for (size_t k = 0; k < pairs.size(); ++k) {
        const int high = value(pairs[k]);
        const int low = value(pairs[k] + 1);
        if ((high | low) < 0)
            return std::nullopt;
        bytes[k] = static_cast<char>(high << 4 | low);
    }
    return QUuid::fromRfc4122(QByteArrayView(bytes, 16));
}

} // namespace

std::optional<QUuid> parseUuid(const QString& text)
{
    return parseUuidText(text);
}

std::optional<QUuid> parseUuid(std::string_view utf8)
{
    return parseUuidText(utf8);
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
