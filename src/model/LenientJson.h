#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <limits>
#include <optional>
#include <vector>

// JSON read one member at a time: a value the document parser refuses (a number beyond a double,
// a broken escape) costs only itself, and a text cut short keeps what came before the cut.
// `complete` says whether every member of the text was read. Byte-order marks before the text
// are passed, however many a tool left there.
namespace LenientJson {

// Far more than any record a person writes (the record store refuses one over 1 MiB): a record
// beyond it is kept out of memory rather than decoded.
constexpr qsizetype maximumRecordBytes = 8 * 1024 * 1024;

// The keys of a top-level object, each with its value where that value parses.
QJsonObject readObject(const QByteArray& text, bool& complete);

// The elements of a top-level array in order; an element that does not parse, or whose text is
// longer than `maximumElementBytes`, is an empty optional in its place.
std::vector<std::optional<QJsonValue>> readArray(const QByteArray& text, bool& complete,
                                                 qsizetype maximumElementBytes = std::numeric_limits<qsizetype>::max());

// Whether an element of the top-level array, as far as it can be told apart, is longer than
// `bytes`; nothing is parsed.
bool hasElementOver(QByteArrayView text, qsizetype bytes);

// A list text with a record over maximumRecordBytes; only a text longer than that is looked at.
inline bool holdsOversizedRecord(QByteArrayView text)
{
    return text.size() > maximumRecordBytes && hasElementOver(text, maximumRecordBytes);
}

} // namespace LenientJson
