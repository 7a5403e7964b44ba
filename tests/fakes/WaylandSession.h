#pragma once

#include "DesktopWindow.h"

#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// A headless sway compositor for one test, in a runtime folder of its own, with a virtual
// keyboard on its seat so that its windows can take keyboard focus. sway refuses to run as root:
// root runs it as "nobody". Stopped by their processes on destruction; display() is empty and
// failure() says why when the session could not be started.
class WaylandSession {
public:
    // The runtime folder is made in `within`, a folder of the caller's (a test's own, so that it
    // goes with that folder even when the test is aborted); as root, "nobody" is let pass through
    // it. Without one, in the temporary folder (as root, the shared one).
    explicit WaylandSession(const QString& within = QString());
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    const QString& display() const { return m_display; }
    const QString& failure() const { return m_failure; }
    // What a client of this session runs with: its runtime folder and display, no X display.
    QProcessEnvironment clientEnvironment() const;
    // Runs swaymsg with `arguments`; true when it reported success.
    bool command(const QStringList& arguments) const;
    // The windows of every workspace, tiled below floating. sway does not say which window another
    // belongs to.
    QList<DesktopWindow> windows() const;
    // Gives the keyboard to the window of process `pid`, named by its container: true once sway
    // says that window has it.
    bool focusWindowOf(qint64 pid) const;

private:
    bool start(const QString& within);
    QJsonObject tree() const;

    QTemporaryDir m_runtime;
    QProcess m_compositor; // runuser, or sway itself
    qint64 m_swayPid = 0;
    QProcess m_keyboard;
    QString m_display;
    QString m_socket;
    QString m_failure;
};
