#pragma once

#include <QProcess>
#include <QSize>
#include <QString>
#include <memory>

// A private X display (Xvfb) with a window manager (openbox) for one test. Stopped by their
// processes on destruction; display() is empty when either could not be started or the window
// manager did not take over the display.
class DesktopSession {
public:
    explicit DesktopSession(QSize screen = QSize(1280, 800));
    // windowManager: the command that starts the window manager (program, then arguments).
    DesktopSession(QSize screen, const QStringList& windowManager);
    ~DesktopSession();

    const QString& display() const { return m_display; }

    // Waits until the window manager on the display answers requests from its event loop, at
    // most timeoutMs or until it exits. A window mapped before then may never be activated.
    static bool waitForWindowManager(const QString& display, QProcess& windowManager, int timeoutMs = 30000);

private:
    QProcess m_xvfb;
    QProcess m_windowManager;
    QString m_display;
};
