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

bool FileStore::removeLegacyGoalsFile(QString* error) const
{
    QFile goals(filePath(QStringLiteral("goals.json")));
    if (!QFileInfo::exists(goals.fileName()))
        return true;
    if (goals.remove())
        return true;
    if (error)
        *error = goals.errorString();
    return false;
}

std::optional<SharedState> FileStore::loadSharedState(Date now, const Calendar& calendar, QString* error,
                                                      std::optional<WallClockCheck>* check, QByteArray* bytes) const
{
    QFile file(filePath(QStringLiteral("state.json")));
    if (!file.exists())
        return SharedState::fresh(now, calendar);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray text = file.readAll();
    if (bytes)
        *bytes = text;
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (error)
            *error = parseError.errorString();
        return std::nullopt;
    }
    const QJsonValue root = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    if (check)
        *check = decodeWallClockCheck(root);
    return decodeSharedState(root, error);
}
