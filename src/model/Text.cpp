#include "model/Text.h"

#include <QTextBoundaryFinder>

namespace Text {

qsizetype characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

QString leftCharacters(const QString& text, qsizetype count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        end = next;
    }
    return text.left(end);
}

QStringList splitLines(const QString& text)
{
    QStringList lines;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool isBreak =
            c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85 || c == 0x2028 || c == 0x2029;
        if (!isBreak) {
            current += text.at(i);
            continue;
        }
        if (c == 0x0D && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        lines.append(current);
        current.clear();
    }
    lines.append(current);
    return lines;
}

} // namespace Text
