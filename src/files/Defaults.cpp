#include "files/Defaults.h"

#include "files/BackgroundWriter.h"
#include "files/FileSafety.h"
#include "model/Json.h"
#include "model/LenientJson.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <cmath>

Defaults::Defaults(QString path, QObject* parent) : Defaults(std::move(path), std::nullopt, parent) {}

Defaults::Defaults(QString path, std::optional<QJsonObject> read, QObject* parent)
    : QObject(parent), m_path(std::move(path))
{
    FileSafety::removeStaleTemporaries(QFileInfo(m_path).absolutePath(), {QFileInfo(m_path).fileName()});
    if (read) {
        m_values = std::move(*read);
        return;
    }
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        m_lastError = file.errorString();
        m_needsBackup = true;
        return;
    }
    const QByteArray text = file.readAll();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error == QJsonParseError::NoError && doc.isObject()) {
        m_values = doc.object();
        return;
    }
    bool complete = false;
    m_values = LenientJson::readObject(text, complete);
    // Whatever could not be read stays in the copy kept aside before the next write.
    m_needsBackup = true;
    m_lastError = complete ? QStringLiteral("Some preferences could not be read; the file will be kept aside.")
                           : QStringLiteral("The preferences file could not be read; it will be kept aside.");
}

Defaults::~Defaults() = default;

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
    return uuidSetOf(value(key));
}

QSet<QUuid> Defaults::uuidSetOf(const QJsonValue& value)
{
    QSet<QUuid> ids;
    if (!value.isArray())
        return ids;
    const QJsonArray array = value.toArray();
    ids.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isString())
            return {};
        if (const auto id = parseUuid(element.toString()))
            ids.insert(*id);
    }
    return ids;
}

bool Defaults::set(const QString& key, const QJsonValue& value)
{
    if (value.isUndefined() || value.isNull())
        return remove(key);
    if (m_values.value(key) == value)
        return true;
    const QJsonObject before = m_values;
    m_values.insert(key, value);
    return commit(key, before);
}

bool Defaults::setStringArray(const QString& key, const QStringList& value)
{
    return set(key, QJsonArray::fromStringList(value));
}

bool Defaults::setUuidSet(const QString& key, const QSet<QUuid>& ids)
{
    return set(key, uuidSetValue(ids));
}

QJsonValue Defaults::uuidSetValue(const QSet<QUuid>& ids)
{
    QStringList texts;
    texts.reserve(ids.size());
    for (const QUuid& id : ids)
        texts.append(uuidText(id));
    texts.sort();
    return QJsonArray::fromStringList(texts);
}

bool Defaults::remove(const QString& key)
{
    if (!m_values.contains(key))
        return true;
    const QJsonObject before = m_values;
    m_values.remove(key);
    return commit(key, before);
}

bool Defaults::commit(const QString& key, const QJsonObject& before)
{
    if (!save()) {
        // What is read back is what is on disk: a retry of the same change then writes again
        // instead of finding it already made.
        m_values = before;
        return false;
    }
    emit valueChanged(key);
    return true;
}

void Defaults::endBatch()
{
    if (--m_batchDepth > 0)
        return;
    if (m_batchWriting == Writing::inBackground) {
        m_batchWriting = Writing::now;
        if (m_unsaved || m_unwritten)
            saveInBackground();
        return;
    }
    if (!m_unsaved || save())
        return;
    const QJsonObject written = m_values;
    m_values = m_beforeBatch;
    QStringList keys = written.keys() + m_values.keys();
    keys.removeDuplicates();
    for (const QString& key : keys)
        if (written.value(key) != m_values.value(key))
            emit valueChanged(key);
}

bool Defaults::backUpBeforeFirstWrite()
{
    if (!m_needsBackup)
        return true;
    // Never write over preferences a person may still want back.
    if (FileSafety::backUpUnreadable(m_path, QDateTime::currentSecsSinceEpoch()).isEmpty()) {
        m_lastError = QStringLiteral("The unreadable preferences file could not be kept aside; nothing was written.");
        return false;
    }
    m_needsBackup = false;
    return true;
}

bool Defaults::save()
{
    if (m_batchDepth > 0) {
        m_unsaved = true;
        return true;
    }
    m_unsaved = false;
    // A write still on its way would otherwise land after this one, with older values.
    waitForWrites();
    QString error;
    if (!backUpBeforeFirstWrite())
        return false;
    if (!FileSafety::writeAtomically(m_path, QJsonDocument(m_values).toJson(QJsonDocument::Indented), &error,
                                     m_saveFiles)) {
        m_lastError = error;
        return false;
    }
    m_lastError.clear();
    m_unwritten = false;
    if (m_writer)
        m_overtakenGeneration = m_writer->lastGeneration();
    return true;
}

void Defaults::saveInBackground()
{
    m_unsaved = false;
    m_unwritten = true; // until the writing thread says otherwise
    if (!backUpBeforeFirstWrite()) {
        emit writeFailed(m_lastError);
        return;
    }
    if (!m_writer) {
        m_writer = std::make_unique<BackgroundWriter>(
            [saveFiles = m_saveFiles](const QString& path, const QByteArray& bytes, QString* error) {
                return FileSafety::writeAtomically(path, bytes, error, saveFiles);
            });
        connect(m_writer.get(), &BackgroundWriter::written, this,
                [this](const QString&, quint64 generation, bool ok, const QString& error) {
                    backgroundWritten(generation, ok, error);
                });
    }
    // The copy shares the values' data: the changes made here meanwhile detach from it.
    m_writer->write(m_path, [values = m_values] { return QJsonDocument(values).toJson(QJsonDocument::Indented); });
}

void Defaults::backgroundWritten(quint64 generation, bool ok, const QString& error)
{
    // A write made here since holds these values and newer ones: its outcome is the one that counts.
    if (generation <= m_overtakenGeneration || generation < m_writer->lastGeneration())
        return;
    if (ok) {
        m_unwritten = false;
        m_lastError.clear();
        return;
    }
    m_unwritten = true;
    m_lastError = QStringLiteral("The preferences could not be saved: %1").arg(error);
    emit writeFailed(m_lastError);
}

void Defaults::waitForWrites()
{
    if (m_writer)
        m_writer->waitFor(m_path);
}
