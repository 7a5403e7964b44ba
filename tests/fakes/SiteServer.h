#pragma once

#include <QTcpServer>
#include <QTcpSocket>

// Serves every request with a small page, standing in for the sites a test browser maps to it.
class SiteServer : public QTcpServer {
public:
    SiteServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [s] {
                    if (!s->readAll().contains("\r\n\r\n"))
                        return;
                    const QByteArray body = "<!DOCTYPE html><title>site</title><p>a site</p>";
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                             QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
};
