#pragma once

#include <QByteArrayList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// Serves every request with a small page, standing in for the sites a test browser maps to it.
// Keeps the Host and path of every request it receives; `delayMs` makes it a slow site.
class SiteServer : public QTcpServer {
public:
    explicit SiteServer(int delayMs = 0)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, delayMs] {
            while (QTcpSocket* s = nextPendingConnection()) {
                auto* head = new QByteArray;
                connect(s, &QTcpSocket::readyRead, s, [this, s, head, delayMs] {
                    *head += s->readAll();
                    if (!head->contains("\r\n\r\n") || head->size() > 65536)
                        return;
                    requests.append(hostAndPath(*head));
                    head->clear();
                    QTimer::singleShot(delayMs, s, [s] {
                        const QByteArray body = "<!DOCTYPE html><title>site</title><p>a site</p>";
                        s->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
                                 "Content-Length: " +
                                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
                        s->disconnectFromHost();
                    });
                });
                connect(s, &QTcpSocket::disconnected, s, [s, head] {
                    delete head;
                    s->deleteLater();
                });
            }
        });
    }

    // "www.example.com/feed" for each request, in order of arrival.
    QByteArrayList requests;

    bool received(const QByteArray& hostPart) const
    {
        for (const QByteArray& r : requests)
            if (r.contains(hostPart))
                return true;
        return false;
    }

private:
    static QByteArray hostAndPath(const QByteArray& head)
    {
        const QByteArrayList lines = head.split('\n');
        const QByteArray path = lines.value(0).split(' ').value(1);
        for (const QByteArray& line : lines)
            if (line.toLower().startsWith("host:"))
                return line.mid(5).trimmed().split(':').value(0) + path;
        return path;
    }
};
