#include "sync/CloudRecord.h"

#include <QStringList>
#include <algorithm>

std::optional<QString> CloudRecord::string(const QString& key) const
{
    const Value v = value(key);
    if (const auto* s = std::get_if<QString>(&v))
        return *s;
    return std::nullopt;
}

std::optional<qint64> CloudRecord::int64(const QString& key) const
{
    const Value v = value(key);
    if (const auto* i = std::get_if<qint64>(&v))
        return *i;
    return std::nullopt;
}

std::optional<double> CloudRecord::number(const QString& key) const
{
    const Value v = value(key);
    if (const auto* i = std::get_if<qint64>(&v))
        return static_cast<double>(*i);
    if (const auto* d = std::get_if<double>(&v))
        return *d;
    return std::nullopt;
}

std::optional<Date> CloudRecord::date(const QString& key) const
{
    const Value v = value(key);
    if (const auto* d = std::get_if<DateValue>(&v))
        return d->seconds;
    return std::nullopt;
}

void CloudRecord::set(const QString& key, const Value& value)
{
    if (std::holds_alternative<std::monostate>(value))
        m_fields.remove(key);
    else
        m_fields.insert(key, value);
    m_changed.insert(key);
}

void CloudRecord::setString(const QString& key, const std::optional<QString>& v)
{
    set(key, v ? Value(*v) : Value());
}

void CloudRecord::setInt64(const QString& key, const std::optional<qint64>& v)
{
    set(key, v ? Value(*v) : Value());
}

void CloudRecord::setDate(const QString& key, const std::optional<Date>& v)
{
    set(key, v ? Value(DateValue{*v}) : Value());
}

QStringList CloudRecord::keys() const
{
    QStringList out = m_fields.keys();
    out.sort();
    return out;
}

void CloudRecord::markUnreadable(const QString& key)
{
    const auto at = std::lower_bound(m_unreadable.begin(), m_unreadable.end(), key);
    if (at == m_unreadable.end() || *at != key)
        m_unreadable.insert(at, key);
}
