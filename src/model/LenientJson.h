#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <optional>
#include <vector>

// JSON read one member at a time: a value the document parser refuses (a number beyond a double,
// a broken escape) costs only itself, and a text cut short keeps what came before the cut.
// `complete` says whether every member of the text was read.
namespace LenientJson {

// The keys of a top-level object, each with its value where that value parses.
QJsonObject readObject(const QByteArray& text, bool& complete);

// The elements of a top-level array in order; an element that does not parse is an empty
// optional in its place.
std::vector<std::optional<QJsonValue>> readArray(const QByteArray& text, bool& complete);

} // namespace LenientJson
