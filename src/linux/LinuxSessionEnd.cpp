#include "linux/LinuxSessionEnd.h"

LinuxSessionEnd::LinuxSessionEnd(QDBusConnection bus, QObject* parent) : QObject(parent)
{
    if (bus.isConnected())
        bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                    QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForShutdown"), this,
                    SLOT(onPrepareForShutdown(bool)));
}

void LinuxSessionEnd::onPrepareForShutdown(bool starting)
{
    if (starting)
        emit shuttingDown();
}
