#include "sync/SyncService.h"

#include "model/JsonWriter.h"

QString SyncService::fingerprint(const TaskItem& item)
{
    JsonTextWriter w(JsonTextWriter::Style::compactEscapedSlash);
    writeTaskItem(w, item);
    return QString::fromUtf8(w.take());
}

QString SyncService::fingerprint(const Note& item)
{
    JsonTextWriter w(JsonTextWriter::Style::compactEscapedSlash);
    writeNote(w, item);
    return QString::fromUtf8(w.take());
}

bool SyncService::textLess(const QString& a, const QString& b)
{
    if (a == b)
        return false;
    // UTF-16 order differs from scalar order above the basic plane; compare code points.
    const QList<uint> x = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> y = b.normalized(QString::NormalizationForm_C).toUcs4();
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
}
