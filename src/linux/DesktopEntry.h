#pragma once

#include <QString>
#include <QStringList>

// Desktop entry files as the freedesktop.org specification reads them.
namespace DesktopEntry {

// One argument of an Exec line: quoted when it holds a reserved character, with `"`, `` ` ``,
// `$` and `\` escaped inside the quotes, `%` doubled, then escaped once more as a string value.
QString execArgument(const QString& argument);
QString execLine(const QStringList& arguments);

// Any text as the value of a key: `\`, line breaks, tabs and a leading space escaped, so the
// text stays one line and reads back as it was.
QString stringValue(const QString& text);

} // namespace DesktopEntry
