#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantMap>

// A notification service of our own on a test bus: records every Notify call.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint id;
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Shown> shown;
    QStringList capabilities{QStringLiteral("body"), QStringLiteral("actions")};

public slots:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int)
    {
        const uint id = static_cast<uint>(shown.size()) + 1;
        shown.append({id, appName, summary, body, actions, hints});
        return id;
    }
    QStringList GetCapabilities() { return capabilities; }
    void CloseNotification(uint) {}
    QString GetServerInformation(QString& vendor, QString& version, QString& spec)
    {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        spec = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }

signals:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);
};
