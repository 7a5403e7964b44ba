#include "linux/DevToolsClient.h"

#include <QFile>
#include <QJsonDocument>

namespace {
// Answers from a browser are small; anything this large is not one of ours.
constexpr qint64 maximumMessageBytes = 8 * 1024 * 1024;
} // namespace

DevToolsClient::DevToolsClient(QObject* parent) : QObject(parent)
{
    m_socket.setMaxAllowedIncomingMessageSize(maximumMessageBytes);
    m_openTimer.setSingleShot(true);
    connect(&m_socket, &QWebSocket::connected, this, [this] {
        m_openTimer.stop();
        if (auto done = std::exchange(m_openDone, nullptr))
            done(QString());
    });
    connect(&m_openTimer, &QTimer::timeout, this, [this] {
        m_socket.abort();
        if (auto done = std::exchange(m_openDone, nullptr))
            done(QStringLiteral("The browser did not answer in time."));
    });
    connect(&m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this](QAbstractSocket::SocketError) {
                const QString error = m_socket.errorString();
                m_openTimer.stop();
                if (auto done = std::exchange(m_openDone, nullptr))
                    done(error);
            });
    connect(&m_socket, &QWebSocket::disconnected, this, [this] {
        failAll({Error::Kind::closed, QStringLiteral("The browser closed the connection.")});
        emit closed();
    });
    connect(&m_socket, &QWebSocket::textMessageReceived, this, &DevToolsClient::onMessage);
}

DevToolsClient::~DevToolsClient()
{
    // Callers learn of every command's end, even when the client goes away first.
    failAll({Error::Kind::closed, QStringLiteral("The connection was closed.")});
}

void DevToolsClient::open(const QUrl& endpoint, int timeoutMs, std::function<void(const QString&)> done)
{
    m_openDone = std::move(done);
    m_openTimer.start(timeoutMs);
    m_socket.open(endpoint);
}

bool DevToolsClient::isOpen() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

void DevToolsClient::close()
{
    m_socket.close();
}

void DevToolsClient::send(const QString& method, const QJsonObject& params, int timeoutMs, Reply reply,
                          const QString& sessionId)
{
    if (!isOpen()) {
        QMetaObject::invokeMethod(
            this,
            [reply] {
                reply({}, {Error::Kind::closed, QStringLiteral("Not connected to the browser.")});
            },
            Qt::QueuedConnection);
        return;
    }
    const qint64 id = m_nextId++;
    QJsonObject message{
        {QStringLiteral("id"), id}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}};
    if (!sessionId.isEmpty())
        message.insert(QStringLiteral("sessionId"), sessionId);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, id] {
        const auto it = m_pending.find(id);
        if (it == m_pending.end())
            return;
        Pending p = *it;
        m_pending.erase(it);
        p.timer->deleteLater();
        p.reply({}, {Error::Kind::timedOut, QStringLiteral("The browser did not respond in time.")});
    });
    m_pending.insert(id, {std::move(reply), timer});
    timer->start(timeoutMs);
    m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void DevToolsClient::onMessage(const QString& text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (message.contains(QStringLiteral("id"))) {
        const qint64 id = message.value(QStringLiteral("id")).toInteger(-1);
        const auto it = m_pending.find(id);
        if (it == m_pending.end())
            return;
        Pending p = *it;
        m_pending.erase(it);
        p.timer->stop();
        p.timer->deleteLater();
        const QJsonObject error = message.value(QStringLiteral("error")).toObject();
        p.reply(message.value(QStringLiteral("result")).toObject(),
                error.isEmpty() ? Error{}
                                : Error{Error::Kind::refused,
                                        error.value(QStringLiteral("message")).toString(QStringLiteral("error"))});
        return;
    }
    if (message.contains(QStringLiteral("method")))
        emit protocolEvent(message.value(QStringLiteral("method")).toString(),
                           message.value(QStringLiteral("params")).toObject(),
                           message.value(QStringLiteral("sessionId")).toString());
}

void DevToolsClient::failAll(const Error& error)
{
    const auto pending = std::exchange(m_pending, {});
    for (const Pending& p : pending) {
        p.timer->stop();
        p.timer->deleteLater();
        p.reply({}, error);
    }
}

std::optional<QUrl> DevToolsClient::browserEndpoint(const QString& devToolsActivePortFile)
{
    QFile file(devToolsActivePortFile);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.read(4096).split('\n');
    if (lines.size() < 2)
        return std::nullopt;
    bool ok = false;
    const uint port = lines.at(0).trimmed().toUInt(&ok);
    const QByteArray path = lines.at(1).trimmed();
    if (!ok || port == 0 || port > 65535 || !path.startsWith("/devtools/browser/"))
        return std::nullopt;
    return QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(port).arg(QString::fromLatin1(path)));
}
