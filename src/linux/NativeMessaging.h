#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

// The companion extension's wire: JSON objects, each behind a 4-byte length in the machine's byte
// order, the browsers' native-messaging framing. The relay speaks it on both sides, to the browser
// over stdin/stdout and to the running program over its local socket.
namespace NativeMessaging {

// The host name the extension asks its browser for, and the ids the host manifests allow.
inline const QString hostName = QStringLiteral("com.morrowfield.quillharbour");
inline const QString chromiumExtensionId = QStringLiteral("cigiccdpbbanpfpmjjbclipockngkfim");
inline const QString firefoxExtensionId = QStringLiteral("browser-extension@quillharbour.morrowfield.com");
constexpr int protocolVersion = 1;

// Chromium refuses a message over 1 MiB to the browser, so nothing larger is ever sent that way.
// The browsers send up to 64 MiB the other way, but no message of ours comes near 1 MiB (an
// address is cut off far below), so the same bound holds there: a larger frame is skipped whole.
// A length beyond 64 MiB cannot come from a browser at all and means the stream is garbage.
constexpr quint32 maximumMessageBytes = 1024 * 1024;
constexpr quint32 maximumFrameLength = 64 * 1024 * 1024;

QByteArray frame(const QJsonObject& message);

// Reads frames from a byte stream as it arrives.
class FrameReader {
public:
    enum class Status { message, needMore, skipped, invalid, broken };
    struct Result {
        Status status = Status::needMore;
        QJsonObject message; // Status::message only
        QString problem;     // skipped, invalid and broken: what was wrong, for a log line
    };

    void append(const QByteArray& bytes) { m_buffer += bytes; }
    // The next event of the stream: a message; a frame refused but stepped over (too large:
    // skipped; not a JSON object: invalid); or a stream that cannot be read any further (broken).
    Result next();
    qsizetype buffered() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
    quint64 m_skipping = 0; // bytes of an oversized frame still to drop
};

// The per-user socket of the running program: in $XDG_RUNTIME_DIR, which must be a private folder
// of this user. Nothing (with `error` set) when there is none: a shared temporary folder would let
// another user pose as the program.
std::optional<QString> socketPath(QString* error = nullptr);

} // namespace NativeMessaging
