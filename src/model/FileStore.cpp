#include "model/FileStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

QString FileStore::defaultFolderPath()
{
    const QString override = qEnvironmentVariable("QUILLHARBOUR_DATA_DIR");
    if (!override.isEmpty())
        return override;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Quillharbour");
}

QString FileStore::filePath(const QString& name) const
{
    return QDir(folderPath()).filePath(name);
}

std::optional<QString> FileStore::removeLegacyGoalsFile() const
{
    QFile goals(filePath(QStringLiteral("goals.json")));
    if (!QFileInfo::exists(goals.fileName()) || goals.remove())
        return std::nullopt;
    return goals.errorString();
}

FileStore::LoadedState FileStore::loadSharedState(Date now, const Calendar& calendar) const
{
    LoadedState loaded;
    QFile file(filePath(QStringLiteral("state.json")));
    if (!file.exists()) {
        loaded.state = SharedState::fresh(now, calendar);
        return loaded;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.error = file.errorString();
        return loaded;
    }
    loaded.bytes = file.readAll();
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(loaded.bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        loaded.error = parseError.errorString();
        return loaded;
    }
    const QJsonValue root = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    loaded.check = decodeWallClockCheck(root);
    loaded.state = decodeSharedState(root, &loaded.error);
    return loaded;
}
