#include "platform/Defaults.h"

#include "model/Json.h"
#include "platform/FileSafety.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <cmath>

Defaults::Defaults(QString path, QObject* parent) : QObject(parent), m_path(std::move(path))
{
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        m_lastError = file.errorString();
        m_needsBackup = true;
        return;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        m_lastError = QStringLiteral("The preferences file could not be read; it will be kept aside.");
        m_needsBackup = true;
        return;
    }
    m_values = doc.object();
}

QString Defaults::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quillharbour/defaults.json");
}

QJsonValue Defaults::value(const QString& key) const
{
    return m_values.value(key);
}

std::optional<QString> Defaults::string(const QString& key) const
{
    const QJsonValue v = value(key);
    return v.isString() ? std::optional(v.toString()) : std::nullopt;
}

std::optional<bool> Defaults::boolean(const QString& key) const
{
    const QJsonValue v = value(key);
    return v.isBool() ? std::optional(v.toBool()) : std::nullopt;
}

std::optional<double> Defaults::number(const QString& key) const
{
    const QJsonValue v = value(key);
    return v.isDouble() ? std::optional(v.toDouble()) : std::nullopt;
}

std::optional<qint64> Defaults::integer(const QString& key) const
{
    const QJsonValue v = value(key);
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (d != std::floor(d) || std::abs(d) >= 9.2e18)
        return std::nullopt;
    return static_cast<qint64>(d);
}

std::optional<QStringList> Defaults::stringArray(const QString& key) const
{
    const QJsonValue v = value(key);
    if (!v.isArray())
        return std::nullopt;
    QStringList out;
    for (const QJsonValue& element : v.toArray()) {
        if (!element.isString())
            return std::nullopt;
        out.append(element.toString());
    }
    return out;
}

QSet<QUuid> Defaults::uuidSet(const QString& key) const
{
    QSet<QUuid> ids;
    for (const QString& text : stringArray(key).value_or(QStringList()))
        if (const auto id = parseUuid(text))
            ids.insert(*id);
    return ids;
}

bool Defaults::set(const QString& key, const QJsonValue& value)
{
    if (value.isUndefined() || value.isNull())
        return remove(key);
    if (m_values.value(key) == value)
        return true;
    m_values.insert(key, value);
    const bool saved = save();
    emit valueChanged(key);
    return saved;
}

bool Defaults::setStringArray(const QString& key, const QStringList& value)
{
    return set(key, QJsonArray::fromStringList(value));
}

bool Defaults::setUuidSet(const QString& key, const QSet<QUuid>& ids)
{
    QStringList texts;
    for (const QUuid& id : ids)
        texts.append(uuidText(id));
    texts.sort();
    return setStringArray(key, texts);
}

bool Defaults::remove(const QString& key)
{
    if (!m_values.contains(key))
        return true;
    m_values.remove(key);
    const bool saved = save();
    emit valueChanged(key);
    return saved;
}

void Defaults::endBatch()
{
    if (--m_batchDepth == 0 && m_unsaved)
        save();
}

bool Defaults::save()
{
    if (m_batchDepth > 0) {
        m_unsaved = true;
        return true;
    }
    m_unsaved = false;
    QString error;
    if (m_needsBackup) {
        // Never write over preferences a person may still want back.
        if (FileSafety::backUpUnreadable(m_path, QDateTime::currentSecsSinceEpoch()).isEmpty()) {
            m_lastError =
                QStringLiteral("The unreadable preferences file could not be kept aside; nothing was written.");
            return false;
        }
        m_needsBackup = false;
    }
    if (!FileSafety::writeAtomically(m_path, QJsonDocument(m_values).toJson(QJsonDocument::Indented), &error)) {
        m_lastError = error;
        return false;
    }
    m_lastError.clear();
    return true;
}
