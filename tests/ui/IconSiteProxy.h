#pragma once

#include <QHash>
#include <QNetworkProxy>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>

// Stands in for the web: an HTTP proxy on the loopback that accepts CONNECT, ends TLS with a
// certificate made at test time for the given names, and answers each request from a table
// keyed by "host/path" (host from the Host header). It records what it was asked.
class IconSiteProxy : public QTcpServer {
public:
    struct Response {
        int status = 200;
        QByteArray headers; // extra header lines, each ending in "\r\n"
        QByteArray body;
        qint64 filler = 0;          // bytes streamed after `body`, in 64 KiB writes
        bool announceLength = true; // Content-Length, else the body ends when the connection closes
    };

    QHash<QString, Response> routes;
    QStringList connectTargets; // "address:port" of each CONNECT
    QStringList requests;       // "host/path" of each request
    qint64 fillerServed = 0;    // filler bytes written before the client went away

    // Makes the certificate (with openssl) and starts listening; false when either fails.
    bool start(const QStringList& names)
    {
        QStringList alt;
        for (const QString& name : names)
            alt << QStringLiteral("DNS:") + name;
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                       QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                       QStringLiteral("-nodes"), QStringLiteral("-keyout"), m_dir.filePath(QStringLiteral("key.pem")),
                       QStringLiteral("-out"), m_dir.filePath(QStringLiteral("cert.pem")), QStringLiteral("-days"),
                       QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=Icon test"),
                       QStringLiteral("-addext"), QStringLiteral("subjectAltName=") + alt.join(u',')});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            return false;
        QFile certFile(m_dir.filePath(QStringLiteral("cert.pem")));
        QFile keyFile(m_dir.filePath(QStringLiteral("key.pem")));
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
            return false;
        m_certificate = QSslCertificate(certFile.readAll());
        m_key = QSslKey(keyFile.readAll(), QSsl::Ec);
        return !m_certificate.isNull() && !m_key.isNull() && listen(QHostAddress::LocalHost, 0);
    }

    QSslCertificate certificate() const { return m_certificate; }
    QNetworkProxy proxy() const
    {
        return QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), serverPort());
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        auto buffer = std::make_shared<QByteArray>();
        auto tunnelled = std::make_shared<bool>(false);
        connect(socket, &QSslSocket::readyRead, socket, [this, socket, buffer, tunnelled] {
            buffer->append(socket->readAll());
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QByteArray head = buffer->left(end);
            buffer->remove(0, end + 4);
            if (!*tunnelled) {
                connectTargets << QString::fromLatin1(head.split(' ').value(1));
                *tunnelled = true;
                socket->write("HTTP/1.1 200 Connection established\r\n\r\n");
                socket->startServerEncryption();
                return;
            }
            answer(socket, head);
        });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QSslSocket::sslErrors, socket, [socket](const QList<QSslError>&) { socket->abort(); });
    }

private:
    void answer(QSslSocket* socket, const QByteArray& head)
    {
        const QList<QByteArray> lines = head.split('\n');
        const QByteArray path = lines.value(0).split(' ').value(1);
        QByteArray host;
        for (const QByteArray& line : lines)
            if (line.toLower().startsWith("host:"))
                host = line.mid(5).trimmed();
        const QString key = QString::fromLatin1(host + path);
        requests << key;
        const Response response = routes.value(key, Response{404, {}, "<html>not here</html>"});
        QByteArray out =
            "HTTP/1.1 " + QByteArray::number(response.status) + " X\r\nConnection: close\r\n" + response.headers;
        if (response.announceLength)
            out += "Content-Length: " + QByteArray::number(response.body.size() + response.filler) + "\r\n";
        out += "\r\n" + response.body;
        socket->write(out);
        if (response.filler <= 0) {
            socket->disconnectFromHost();
            return;
        }
        // Stream the filler as the client reads it, and note how much went out.
        auto left = std::make_shared<qint64>(response.filler);
        fillerServed = 0;
        const auto more = [this, socket, left] {
            while (*left > 0 && socket->encryptedBytesToWrite() + socket->bytesToWrite() < 256 * 1024) {
                const qint64 n = std::min<qint64>(*left, 64 * 1024);
                socket->write(QByteArray(n, 'x'));
                *left -= n;
                fillerServed += n;
            }
            if (*left == 0)
                socket->disconnectFromHost();
        };
        connect(socket, &QSslSocket::encryptedBytesWritten, socket, more);
        more();
    }

    QTemporaryDir m_dir;
    QSslCertificate m_certificate;
    QSslKey m_key;
};
