#include "sync/RecordStore.h"

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
