#pragma once

#include "model/Json.h"
#include "model/Note.h"
#include "model/TaskItem.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <algorithm>
#include <cmath>
#include <concepts>
#include <optional>
#include <vector>

// What the sync needs of an item: its identity, its last update, and its canonical text.
template <typename T>
concept SyncMergeable = requires(const T& item)
{
    {
        item.id
        } -> std::convertible_to<QUuid>;
    {
        item.updatedAt
        } -> std::convertible_to<Date>;
};

template <SyncMergeable T> struct MergeResult {
    std::vector<T> items;
    bool changed = false;
};

// The pure part of the sync: how local and remote items are merged, and the text forms of an
// item and of a list of ids that the records carry.
namespace SyncMerge {

// The item's canonical JSON text: compact, keys sorted, "/" escaped, dates in whole seconds,
// absent optionals left out. Breaks ties in the merge and decides what is uploaded.
QString fingerprint(const TaskItem& item);
QString fingerprint(const Note& item);

// Unicode text order: canonically composed forms compared by scalar value.
bool textLess(const QString& a, const QString& b);

// A list of ids as the manifest holds it: upper-case texts, sorted, joined by commas. Reading
// skips anything that is not an id.
std::vector<QUuid> parseIdList(const std::optional<QString>& text);
QStringList sortedIdTexts(const QSet<QUuid>& ids);
QString idListText(const QSet<QUuid>& ids);
QSet<QUuid> mergedIdSet(const QSet<QUuid>& server, const QSet<QUuid>& adding, const QSet<QUuid>& removing);

template <SyncMergeable T> QHash<QUuid, T> latestById(const std::vector<T>& items)
{
    QHash<QUuid, T> byId;
    for (const T& item : items) {
        const auto it = byId.find(item.id);
        if (it == byId.end())
            byId.insert(item.id, item);
        else if (it->updatedAt < item.updatedAt)
            *it = item;
    }
    return byId;
}

template <SyncMergeable T> QHash<QUuid, T> firstById(const std::vector<T>& items)
{
    QHash<QUuid, T> byId;
    for (const T& item : items)
        if (!byId.contains(item.id))
            byId.insert(item.id, item);
    return byId;
}

template <SyncMergeable T>
std::vector<T> remoteOnly(const std::vector<T>& remote, const QSet<QUuid>& pendingDeletes,
                          const QHash<QUuid, T>& localById)
{
    std::vector<T> out;
    for (const T& item : remote)
        if (!pendingDeletes.contains(item.id) && !localById.contains(item.id))
            out.push_back(item);
    return out;
}

// One side wins per item: the later update in whole seconds, then the greater fingerprint. Items
// new elsewhere are added after the local ones in id order; local deletions still on their way
// win over any remote copy; with an authoritative manifest, items known remotely and now gone
// were deleted elsewhere and are dropped.
template <SyncMergeable T>
MergeResult<T> merge(const std::vector<T>& local, const std::vector<T>& remote, const QSet<QUuid>& fetchedIds,
                     const QSet<QUuid>& knownIds, const QSet<QUuid>& pendingDeletes, bool authoritative)
{
    MergeResult<T> result;
    QHash<QUuid, T> index = latestById(local);
    std::vector<QUuid> order;
    QSet<QUuid> seen;
    for (const T& item : local)
        if (!seen.contains(item.id)) {
            seen.insert(item.id);
            order.push_back(item.id);
        }
    result.changed = static_cast<size_t>(index.size()) < local.size();

    std::vector<T> added = remoteOnly(remote, pendingDeletes, index);
    std::stable_sort(added.begin(), added.end(),
                     [](const T& a, const T& b) { return uuidText(a.id) < uuidText(b.id); });

    for (const T& item : remote) {
        if (pendingDeletes.contains(item.id))
            continue;
        const auto it = index.find(item.id);
        if (it == index.end())
            continue;
        const double l = std::floor(it->updatedAt);
        const double r = std::floor(item.updatedAt);
        // Equal items have equal fingerprints: the common case needs no encoding.
        const bool remoteWins = r > l || (r == l && !(*it == item) && textLess(fingerprint(*it), fingerprint(item)));
        if (remoteWins) {
            *it = item;
            result.changed = true;
        }
    }
    for (const T& item : added) {
        if (index.contains(item.id))
            continue;
        index.insert(item.id, item);
        order.push_back(item.id);
        result.changed = true;
    }
    if (authoritative && !order.empty()) {
        for (const QUuid& id : order) {
            if (knownIds.contains(id) && !fetchedIds.contains(id) && !pendingDeletes.contains(id)) {
                index.remove(id);
                result.changed = true;
            }
        }
    }
    for (const QUuid& id : order)
        if (const auto it = index.constFind(id); it != index.cend())
            result.items.push_back(*it);
    return result;
}

} // namespace SyncMerge
