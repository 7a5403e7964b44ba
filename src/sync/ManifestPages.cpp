#include "sync/ManifestPages.h"

#include <algorithm>
#include <vector>

namespace ManifestPages {

namespace {

// An id as written: 36 characters and the comma before the next.
constexpr qsizetype bytesPerId = 37;

} // namespace

const QString& fieldName(int field)
{
    static const std::array<QString, fieldCount> names{QStringLiteral("taskIds"), QStringLiteral("noteIds"),
                                                       QStringLiteral("stoppedSeriesIds"),
                                                       QStringLiteral("deletedSeriesIds")};
    return names.at(size_t(field));
}

QString pageName(const QString& manifestName, int page)
{
    return page == 0 ? manifestName : manifestName + QLatin1Char('.') + QString::number(page);
}

int pageOf(const QUuid& id, int pages)
{
    return int((quint64(id.data1) * quint64(std::max(pages, 1))) >> 32);
}

int storedPageCount(const std::optional<qint64>& field)
{
    if (!field || *field < 1 || *field > maxPages)
        return 1;
    return int(*field);
}

int pagesNeeded(const IdFields& ids, int atLeast, qsizetype budget, qsizetype oneRecordBudget)
{
    qsizetype total = 0;
    for (const QSet<QUuid>& field : ids)
        total += field.size() * bytesPerId;
    if (total <= oneRecordBudget)
        return 1;
    int pages = std::clamp(atLeast, 1, maxPages);
    for (;;) {
        std::vector<qsizetype> bytes(size_t(pages), 0);
        for (const QSet<QUuid>& field : ids)
            for (const QUuid& id : field)
                bytes[size_t(pageOf(id, pages))] += bytesPerId;
        if (pages * 2 > maxPages || *std::max_element(bytes.begin(), bytes.end()) <= budget)
            return pages;
        pages *= 2;
    }
}

std::vector<IdFields> split(const IdFields& all, int pages)
{
    if (pages <= 1)
        return {all};
    std::vector<IdFields> out(static_cast<size_t>(pages));
    for (int field = 0; field < fieldCount; ++field)
        for (const QUuid& id : all[size_t(field)])
            out[size_t(pageOf(id, pages))][size_t(field)].insert(id);
    return out;
}

} // namespace ManifestPages
