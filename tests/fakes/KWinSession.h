#pragma once

#include "DesktopWindow.h"
#include "SessionBus.h"

#include <QDBusConnection>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class TrayHost;
class WindowReport;

// KDE Plasma's compositor for one test, headless on a virtual 1280×720 screen, on a session bus,
// home and runtime folder of its own, with a StatusNotifierItem tray host standing in for the
// panel's tray. Its binary carries a file capability this machine cannot grant, so it is started
// through the dynamic loader, which leaves the capability out. Stopped by its process on
// destruction; display() is empty and failure() says why when it could not start.
class KWinSession {
public:
    KWinSession();
    ~KWinSession();
    KWinSession(const KWinSession&) = delete;
    KWinSession& operator=(const KWinSession&) = delete;

    const QString& display() const { return m_display; }
    const QString& failure() const { return m_failure; }
    // What a client runs with: this session's runtime folder, display and bus, no X display.
    QProcessEnvironment clientEnvironment() const;
    // The windows from the bottom of the stack up, as the compositor's own scripting lists them.
    QList<DesktopWindow> windows() const;
    // Clicks the tray's one item as the panel does, asking for its popup at `at`; false when no
    // item has joined the tray.
    bool activateTrayItem(QPoint at) const;

private:
    bool start();

    QTemporaryDir m_folder;
    std::unique_ptr<SessionBus> m_bus;
    QDBusConnection m_connection{QString()};
    std::unique_ptr<TrayHost> m_tray;
    std::unique_ptr<WindowReport> m_report;
    QProcess m_kwin;
    QString m_display;
    QString m_failure;
};
