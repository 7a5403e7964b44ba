#pragma once

#include <QString>
#include <QStringList>

// Text helpers that count what a person sees as one character (grapheme clusters).
namespace Text {

qsizetype characterCount(const QString& text);
QString leftCharacters(const QString& text, qsizetype count);
// Splits at every line break (LF, VT, FF, CR, CRLF as one, NEL, LS, PS), keeping empty lines.
QStringList splitLines(const QString& text);

} // namespace Text
