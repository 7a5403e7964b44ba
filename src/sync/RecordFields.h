#pragma once

#include "sync/CloudRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLoggingCategory>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(recordStoreLog)

// How the record stores keep a record's fields: one JSON object whose values are typed pairs,
// ["s", text], ["i", integer], ["d", number] or ["t", milliseconds since 1970], so that a text
// that looks like a number stays a text. A removed field is null in a patch, which deletes it.
namespace RecordFields {

// How a text holding U+0000 is written. Plain, it is an ordinary ["s", text] that every version
// of this program reads. A database that refuses U+0000 in its JSON (PostgreSQL's jsonb) gets
// ["z", [pieces]] instead, the pieces between the U+0000s, which versions before that form cannot
// read. Both are read everywhere.
enum class NulText { plain, pieces };

// The record's changed keys as a merge patch.
QByteArray patch(const CloudRecord& record, NulText nulText = NulText::plain);

// For stored fields that hold texts as pieces: the patch that writes them plain, none when there
// is nothing to rewrite. Fields it does not rewrite are left as they are.
std::optional<QByteArray> plainTextsPatch(const QByteArray& fields);

// Applies a patch the way the databases' merge functions do: null removes, anything else replaces.
QByteArray applyPatch(const QByteArray& stored, const QByteArray& patch);

// The same for stored fields and a patch whose keys are each spelled one way: the stored members
// in their order, the patch's value in place of each one it names (null: left out), then the
// patch's other members. Nothing is decoded or spelled anew, so a page of a quarter of a megabyte
// costs what copying it does. None when either text is beyond that (an object to merge, a key with
// an escape, a repeated key, anything malformed): then the database's merge function judges.
std::optional<QByteArray> spliceFields(QByteArrayView stored, QByteArrayView patch);

// Reads stored fields into a record. The text comes from the database, so every field is checked;
// a field that is not a well-formed pair is left out with a log line, never trusted, and marked
// unreadable on the record.
CloudRecord decode(const QString& type, const QString& name, const QString& tag, QByteArrayView fields);

// A record name or type a store accepts: 1 to 255 characters, no control characters.
bool isValidName(const QString& text);

} // namespace RecordFields
