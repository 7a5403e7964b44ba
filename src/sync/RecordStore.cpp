#include "sync/RecordStore.h"

#include "sync/RecordFields.h"

#include <algorithm>

namespace {

const char* failureName(RecordFailure kind)
{
    switch (kind) {
    case RecordFailure::internal:
        return "internal";
    case RecordFailure::partial:
        return "partial";
    case RecordFailure::unreachable:
        return "unreachable";
    case RecordFailure::connectionLost:
        return "connection lost";
    case RecordFailure::startingUp:
        return "starting up";
    case RecordFailure::busy:
        return "busy";
    case RecordFailure::notAuthenticated:
        return "not authenticated";
    case RecordFailure::notPermitted:
        return "not permitted";
    case RecordFailure::unknownItem:
        return "unknown item";
    case RecordFailure::invalidRecord:
        return "invalid record";
    case RecordFailure::changedOnServer:
        return "changed on server";
    case RecordFailure::storageFull:
        return "storage full";
    case RecordFailure::tooLarge:
        return "too large";
    case RecordFailure::untrustedServer:
        return "untrusted server";
    case RecordFailure::localWrite:
        return "local write";
    case RecordFailure::batchFailed:
        return "batch failed";
    }
    return "unknown";
}

} // namespace

QString RecordError::description() const
{
    QString text = QStringLiteral("record store failure (%1)").arg(QLatin1String(failureName(kind)));
    if (!message.isEmpty())
        text += QStringLiteral(": ") + message;
    if (retryAfterSeconds)
        text += QStringLiteral(" (retry after %1 s)").arg(*retryAfterSeconds);
    for (const auto& [name, error] : partialErrors)
        text += QStringLiteral("; %1: %2").arg(name, error.description());
    return text;
}

std::optional<RecordError> RecordStore::checkRequestSize(qsizetype items)
{
    if (items > maxItemsPerRequest)
        return RecordError::of(RecordFailure::tooLarge, QStringLiteral("too many items in one request"));
    return std::nullopt;
}

std::optional<RecordError> RecordStore::checkSave(const CloudRecord& record, const QByteArray& patch)
{
    if (!RecordFields::isValidName(record.recordName()) || !RecordFields::isValidName(record.recordType()))
        return RecordError::of(RecordFailure::invalidRecord, QStringLiteral("bad record name or type"));
    if (patch.size() > maxRecordBytes)
        return RecordError::of(RecordFailure::tooLarge, QStringLiteral("record too large"));
    return std::nullopt;
}

bool RecordStore::undoneWhole(ModifyResults& results)
{
    const auto failed = [](const ItemResult& item) { return item.error.has_value(); };
    if (std::none_of(results.saves.begin(), results.saves.end(), failed) &&
        std::none_of(results.deletes.begin(), results.deletes.end(), failed))
        return false;
    for (std::vector<ItemResult>* items : {&results.saves, &results.deletes})
        for (ItemResult& item : *items) {
            item.record.reset();
            if (!item.error)
                item.error = batchFailed();
        }
    // Nothing written: the stamp is where it was.
    results.stampAfter = results.stampBefore;
    return true;
}
