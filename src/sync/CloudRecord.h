#pragma once

#include "model/Clock.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// A record of the private cloud record store: a type, a name, the store's change tag, and typed
// fields. It remembers which keys were assigned since it was fetched or created (a field set to
// "no value" included), which is what an upload sends.
class CloudRecord {
public:
    struct DateValue {
        Date seconds = 0; // full precision; the store keeps at least milliseconds
        bool operator==(const DateValue&) const = default;
    };
    // std::monostate is "no value".
    using Value = std::variant<std::monostate, QString, qint64, double, DateValue>;

    CloudRecord() = default;
    CloudRecord(QString type, QString name) : m_type(std::move(type)), m_name(std::move(name)) {}

    const QString& recordType() const { return m_type; }
    const QString& recordName() const { return m_name; }
    const std::optional<QString>& changeTag() const { return m_changeTag; }
    void setChangeTag(std::optional<QString> tag) { m_changeTag = std::move(tag); }

    Value value(const QString& key) const { return m_fields.value(key); }
    bool has(const QString& key) const { return !std::holds_alternative<std::monostate>(m_fields.value(key)); }
    std::optional<QString> string(const QString& key) const;
    std::optional<qint64> int64(const QString& key) const;
    std::optional<double> number(const QString& key) const; // an Int64 or a Double
    std::optional<Date> date(const QString& key) const;

    void set(const QString& key, const Value& value);
    void setString(const QString& key, const std::optional<QString>& v);
    void setInt64(const QString& key, const std::optional<qint64>& v);
    void setDate(const QString& key, const std::optional<Date>& v);
    void setNoValue(const QString& key) { set(key, std::monostate{}); }

    QStringList keys() const;
    // Stored fields this program could not read (a kind a newer version writes, a malformed pair),
    // sorted. Such a record is not this program's to overwrite: saving it would lose them.
    const QStringList& unreadableKeys() const { return m_unreadable; }
    void markUnreadable(const QString& key);
    const QSet<QString>& changedKeys() const { return m_changed; }
    // After a fetch or a successful save: nothing is pending any more.
    void clearChangedKeys() { m_changed.clear(); }

private:
    QString m_type;
    QString m_name;
    std::optional<QString> m_changeTag;
    QHash<QString, Value> m_fields;
    QSet<QString> m_changed;
    QStringList m_unreadable;
};
