#pragma once

#include <QString>
#include <QStringList>

// Desktop entry files as the freedesktop.org specification reads them.
namespace DesktopEntry {

// One argument of an Exec line: quoted when it holds a reserved character, with `"`, `` ` ``,
// `$` and `\` escaped inside the quotes, `%` doubled, then escaped once more as a string value.
QString execArgument(const QString& argument);
QString execLine(const QStringList& arguments);

} // namespace DesktopEntry
