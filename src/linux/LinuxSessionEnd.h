#pragma once

#include <QDBusConnection>
#include <QObject>

// logind's notice that the machine powers off or restarts: quitting then is the system's doing.
class LinuxSessionEnd : public QObject {
    Q_OBJECT
public:
    explicit LinuxSessionEnd(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);

signals:
    void shuttingDown();

private slots:
    void onPrepareForShutdown(bool starting);
};
