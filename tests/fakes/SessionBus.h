#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private D-Bus session bus for one test: started on construction, stopped (by its process)
// on destruction. address() is empty when dbus-daemon could not be started.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();

    const QString& address() const { return m_address; }
    // A new named connection to this bus.
    QDBusConnection connect(const QString& name) const;

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};
