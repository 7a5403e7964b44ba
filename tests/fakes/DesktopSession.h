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

private:
    QProcess m_xvfb;
    QProcess m_windowManager;
    QString m_display;
};
