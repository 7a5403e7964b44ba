#include "linux/NativeMessaging.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace NativeMessaging {

QByteArray frame(const QJsonObject& message)
{
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    const quint32 length = static_cast<quint32>(body.size());
    QByteArray out(sizeof length, Qt::Uninitialized);
    std::memcpy(out.data(), &length, sizeof length);
    return out + body;
}

FrameReader::Result FrameReader::next()
{
    if (m_skipping > 0) {
        const qsizetype drop = static_cast<qsizetype>(std::min<quint64>(m_skipping, quint64(m_buffer.size())));
        m_buffer.remove(0, drop);
        m_skipping -= quint64(drop);
        if (m_skipping > 0)
            return {};
    }
    quint32 length = 0;
    if (m_buffer.size() < qsizetype(sizeof length))
        return {};
    std::memcpy(&length, m_buffer.constData(), sizeof length);
    if (length > maximumFrameLength) {
        m_buffer.clear();
        return {
            Status::broken, {}, QStringLiteral("a frame announced %1 bytes, more than any browser sends").arg(length)};
    }
    if (length > maximumMessageBytes) {
        m_buffer.remove(0, sizeof length);
        m_skipping = length;
        const qsizetype drop = static_cast<qsizetype>(std::min<quint64>(m_skipping, quint64(m_buffer.size())));
        m_buffer.remove(0, drop);
        m_skipping -= quint64(drop);
        return {Status::skipped,
                {},
                QStringLiteral("a message of %1 bytes is over the %2-byte limit").arg(length).arg(maximumMessageBytes)};
    }
    if (m_buffer.size() < qsizetype(sizeof length + length))
        return {};
    const QByteArray body = m_buffer.mid(sizeof length, length);
    m_buffer.remove(0, qsizetype(sizeof length + length));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {
            Status::invalid,
            {},
            QStringLiteral("a message of %1 bytes is not a JSON object (%2)")
                .arg(length)
                .arg(error.error != QJsonParseError::NoError ? error.errorString() : QStringLiteral("not an object"))};
    return {Status::message, document.object(), {}};
}

std::optional<QString> socketPath(QString* error)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const auto fail = [error](const QString& why) -> std::optional<QString> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (runtime.isEmpty() || !runtime.startsWith('/'))
        return fail(QStringLiteral("XDG_RUNTIME_DIR is not set, so there is no private place for the browser link"));
    struct stat st {};
    if (::stat(runtime.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return fail(QStringLiteral("XDG_RUNTIME_DIR (%1) is not a folder").arg(QString::fromLocal8Bit(runtime)));
    if (st.st_uid != ::getuid() || (st.st_mode & 0077) != 0)
        return fail(
            QStringLiteral("XDG_RUNTIME_DIR (%1) is not private to this user").arg(QString::fromLocal8Bit(runtime)));
    return QString::fromLocal8Bit(runtime) + QStringLiteral("/quillharbour-browser-link");
}

} // namespace NativeMessaging
