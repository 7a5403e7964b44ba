#include "sync/SyncMerge.h"

#include "model/JsonWriter.h"

#include <QStringList>

namespace SyncMerge {

QString fingerprint(const TaskItem& item)
{
    JsonTextWriter w(JsonTextWriter::Style::compactEscapedSlash);
    writeTaskItem(w, item);
    return QString::fromUtf8(w.take());
}

QString fingerprint(const Note& item)
{
    JsonTextWriter w(JsonTextWriter::Style::compactEscapedSlash);
    writeNote(w, item);
    return QString::fromUtf8(w.take());
}

bool textLess(const QString& a, const QString& b)
{
    if (a == b)
        return false;
    // UTF-16 order differs from scalar order above the basic plane; compare code points.
    const QList<uint> x = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> y = b.normalized(QString::NormalizationForm_C).toUcs4();
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
}

std::vector<QUuid> parseIdList(const std::optional<QString>& text)
{
    std::vector<QUuid> ids;
    if (!text)
        return ids;
    for (const QStringView piece : QStringView(*text).split(u',', Qt::SkipEmptyParts))
        if (const auto id = parseUuid(piece.toString()))
            ids.push_back(*id);
    return ids;
}

QStringList sortedIdTexts(const QSet<QUuid>& ids)
{
    QStringList texts;
    texts.reserve(ids.size());
    for (const QUuid& id : ids)
        texts.append(uuidText(id));
    texts.sort();
    return texts;
}

QString idListText(const QSet<QUuid>& ids)
{
    return sortedIdTexts(ids).join(u',');
}

QSet<QUuid> mergedIdSet(const QSet<QUuid>& server, const QSet<QUuid>& adding, const QSet<QUuid>& removing)
{
    return (server + adding) - removing;
}

} // namespace SyncMerge
