#pragma once

#include <QByteArray>
#include <QString>

// Writing user files so that nothing is ever half-written or silently lost.
namespace FileSafety {

// Writes the whole file to a temporary file, flushes it and renames it into place; the file is
// readable by its owner only. Creates the parent folder (owner only) when it is missing.
bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Copies the file to "<name without extension>.unreadable-<whole seconds>.json" beside it.
// Returns the backup's path, or an empty text when the copy failed.
QString backUpUnreadable(const QString& path, qint64 secondsSince1970);

} // namespace FileSafety
