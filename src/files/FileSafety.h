#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Writing user files so that nothing is ever half-written or silently lost.
namespace FileSafety {

// Where the bytes of a file go on their way to the disk. Tests hand in a device that fails, the
// way a full or read-only disk does, so write failures are tested also when running as root.
using SaveFileFactory = std::function<std::unique_ptr<QSaveFile>(const QString& path)>;

// Writes the whole file to a temporary file, checks that every byte is in it and on the disk, and
// only then renames it into place and syncs the folder, so the new file is what a crash leaves;
// on any failure the old file keeps its bytes. The file is readable by its owner only. Creates
// the parent folder (owner only) when it is missing.
bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                     const SaveFileFactory& saveFiles = {});

// Why a write failed, in words a person reads, from the system's error number.
QString describeError(int error);

// Makes the folder and its missing parents. Only a folder this call creates is made private to
// its owner: an existing one keeps the modes its owner chose.
bool makeFolder(const QString& path, QString* error = nullptr);

// Copies the file to "<name without extension>.unreadable-<whole seconds>.json" beside it, or to
// the first free "…-1", "…-2" name. Returns the backup's path, or an empty text when no copy
// could be made: the caller must then never write over the file.
QString backUpUnreadable(const QString& path, qint64 secondsSince1970);

// Removes the temporaries "<name>.XXXXXX" that a save killed half-way leaves beside the files of
// `names` in `folder`. Only those untouched for a minute go: a copy of the program on the same
// folder may be writing one right now. Returns how many were removed.
int removeStaleTemporaries(const QString& folder, const QStringList& names);

// Takes every permission of the group and of others from the folder and from the files of
// `names` in it (and their unreadable-file backups), where this user owns them: an older version
// left them readable by everyone. Whatever the owner allowed stays as it was.
void keepPrivate(const QString& folder, const QStringList& names);

} // namespace FileSafety
