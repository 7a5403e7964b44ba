#include "sync/RecordStore.h"

#include "sync/RecordFields.h"

QString RecordError::description() const
{
    QString text = QStringLiteral("record store error %1").arg(int(code));
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
        return RecordError::of(RecordErrorCode::limitExceeded, QStringLiteral("too many items in one request"));
    return std::nullopt;
}

std::optional<RecordError> RecordStore::checkSave(const CloudRecord& record, const QByteArray& patch)
{
    if (!RecordFields::isValidName(record.recordName()) || !RecordFields::isValidName(record.recordType()))
        return RecordError::of(RecordErrorCode::invalidArguments, QStringLiteral("bad record name or type"));
    if (patch.size() > maxRecordBytes)
        return RecordError::of(RecordErrorCode::limitExceeded, QStringLiteral("record too large"));
    return std::nullopt;
}
