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

namespace StoreFailure {

RecordError make(RecordErrorCode code, const QString& message, std::optional<double> retryAfter)
{
    return RecordError{code, message, retryAfter, {}};
}

RecordError busy(const QString& message)
{
    return make(RecordErrorCode::requestRateLimited, message, 5);
}

std::optional<RecordError> checkRequestSize(qsizetype items)
{
    if (items > RecordStore::maxItemsPerRequest)
        return make(RecordErrorCode::limitExceeded, QStringLiteral("too many items in one request"));
    return std::nullopt;
}

std::optional<RecordError> checkSave(const CloudRecord& record, const QByteArray& patch)
{
    if (!RecordFields::isValidName(record.recordName()) || !RecordFields::isValidName(record.recordType()))
        return make(RecordErrorCode::invalidArguments, QStringLiteral("bad record name or type"));
    if (patch.size() > RecordStore::maxRecordBytes)
        return make(RecordErrorCode::limitExceeded, QStringLiteral("record too large"));
    return std::nullopt;
}

RecordError unknownItem()
{
    return make(RecordErrorCode::unknownItem, QStringLiteral("no such record"));
}

RecordError serverRecordChanged()
{
    return make(RecordErrorCode::serverRecordChanged, QStringLiteral("the record changed on the server"));
}

} // namespace StoreFailure
