#include "linux/DesktopEntry.h"

namespace DesktopEntry {

QString execArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = argument.isEmpty();
    for (const QChar c : argument)
        quote = quote || reserved.contains(c);
    QString quoted;
    if (quote) {
        quoted += QLatin1Char('"');
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        quoted += QLatin1Char('"');
    } else {
        quoted = argument;
    }
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    // The Exec value is itself a string value, whose escapes are read first.
    return stringValue(quoted);
}

QString stringValue(const QString& text)
{
    QString value;
    value.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else if (c == QLatin1Char(' ') && value.isEmpty())
            value += QStringLiteral("\\s"); // a reader drops leading spaces
        else
            value += c;
    }
    return value;
}

QString execLine(const QStringList& arguments)
{
    QStringList parts;
    for (const QString& argument : arguments)
        parts.append(execArgument(argument));
    return parts.join(QLatin1Char(' '));
}

} // namespace DesktopEntry
