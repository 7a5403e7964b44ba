#pragma once

#include "platform/CloudRecord.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(recordStoreLog)

// How the record stores keep a record's fields: one JSON object whose values are typed pairs,
// ["s", text], ["i", integer], ["d", number] or ["t", milliseconds since 1970], so that a text
// that looks like a number stays a text. A text holding U+0000 is ["z", [pieces]], the pieces
// between its U+0000s. A removed field is null in a patch, which deletes it.
namespace RecordFields {

// The record's changed keys as a merge patch.
QByteArray patch(const CloudRecord& record);

// Applies a patch the way the databases' merge functions do: null removes, anything else replaces.
QByteArray applyPatch(const QByteArray& stored, const QByteArray& patch);

// Reads stored fields into a record. The text comes from the database, so every field is checked;
// a field that is not a well-formed pair is left out with a log line, never trusted.
CloudRecord decode(const QString& type, const QString& name, const QString& tag, const QByteArray& fields);

// A record name or type a store accepts: 1 to 255 characters, no control characters.
bool isValidName(const QString& text);

} // namespace RecordFields
