#pragma once

#include "model/SharedState.h"

#include <QString>
#include <QUrl>
#include <optional>

// The data directory. The store does all other reading and writing of the data files.
struct FileStore {
    QUrl rootURL; // a file URL; every file operation goes through folderPath()

    FileStore() = default;
    explicit FileStore(const QString& folder) : rootURL(QUrl::fromLocalFile(folder)) {}

    QString folderPath() const { return rootURL.toLocalFile(); }

    // QUILLHARBOUR_DATA_DIR when set and not empty, else $XDG_DATA_HOME/Quillharbour. The folder
    // need not exist yet. (There are no application-group containers on this system.)
    static QString defaultFolderPath();

    QString filePath(const QString& name) const;

    // Deletes "goals.json" left by an older version; why it could not, or nothing.
    std::optional<QString> removeLegacyGoalsFile() const;

    // "state.json" exactly as stored (its text in `bytes`, the wall-clock check stored beside it
    // in `check`), or the fresh state of today when there is none. A file that cannot be read or
    // decoded is an error for the caller, never silently replaced here.
    struct LoadedState {
        std::optional<SharedState> state; // none: `error` says why
        QString error;
        std::optional<WallClockCheck> check;
        QByteArray bytes;
    };
    LoadedState loadSharedState(Date now, const Calendar& calendar) const;
};
