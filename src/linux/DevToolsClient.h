#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <functional>

// One connection to a Chromium-family browser's remote debugging protocol (a browser or page
// WebSocket endpoint). Every command completes exactly once: with the browser's answer, an
// error, or a time-out, so a browser that hangs (an open alert, say) never hangs a caller.
class DevToolsClient : public QObject {
    Q_OBJECT
public:
    // Why a command brought no answer. Converts to its message for callers that only show it.
    struct Error {
        enum class Kind { none, timedOut, closed, refused };
        Kind kind = Kind::none;
        QString message;

        bool isEmpty() const { return kind == Kind::none; }
        operator QString() const { return message; } // NOLINT: the text is what most callers want
    };
    using Reply = std::function<void(const QJsonObject& result, const Error& error)>;

    explicit DevToolsClient(QObject* parent = nullptr);
    ~DevToolsClient() override;

    // Connects; `done` gets an empty text on success, else what went wrong.
    void open(const QUrl& endpoint, int timeoutMs, std::function<void(const QString& error)> done);
    bool isOpen() const;
    void close();

    void send(const QString& method, const QJsonObject& params, int timeoutMs, Reply reply,
              const QString& sessionId = QString());

    // Commands sent so far, for tests and measurements that count round trips.
    qint64 commandsSent() const { return m_nextId - 1; }
    // Commands still waiting for their answer; an answer may send the next command.
    qsizetype commandsAwaited() const { return m_pending.size(); }

    // "<port>\n<browser path>" as the browser writes it into its profile folder.
    static std::optional<QUrl> browserEndpoint(const QString& devToolsActivePortFile);

signals:
    // A message the browser sent on its own (no command's answer).
    void protocolEvent(const QString& method, const QJsonObject& params, const QString& sessionId);
    void closed();

private:
    void onMessage(const QString& text);
    void failAll(const Error& error);

    QWebSocket m_socket;
    qint64 m_nextId = 1;
    struct Pending {
        Reply reply;
        QTimer* timer;
    };
    QHash<qint64, Pending> m_pending;
    std::function<void(const QString&)> m_openDone;
    QTimer m_openTimer;
};
