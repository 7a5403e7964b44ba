#pragma once

#include "DesktopWindow.h"
#include "SessionBus.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>

// GNOME Shell for one test, headless on a virtual 1280×720 monitor, with its own session and system
// buses, home and runtime folder. Its Eval answers only in unsafe mode, which an extension of three
// lines in its home switches on; the same extension closes the overview the shell starts in, as
// starting a program from it does. Where logind's seats are on the machine the shell would ask
// logind, which only a real login answers: it runs in a mount namespace of its own that hides them,
// and then makes do without. Stopped with everything it started on destruction; display() is empty
// and failure() says why when it could not start.
class GnomeShellSession {
public:
    GnomeShellSession();
    ~GnomeShellSession();
    GnomeShellSession(const GnomeShellSession&) = delete;
    GnomeShellSession& operator=(const GnomeShellSession&) = delete;

    // The Wayland socket's whole path.
    const QString& display() const { return m_display; }
    const QString& failure() const { return m_failure; }
    // What a client of this desktop runs with: its display and session bus, no X display.
    QProcessEnvironment clientEnvironment() const;
    // The JSON of what `script` gives in the shell; nothing when the shell did not run it.
    std::optional<QByteArray> evaluate(const QString& script) const;
    // The windows from the bottom of the stack up.
    QList<DesktopWindow> windows() const;

private:
    bool start();

    QTemporaryDir m_folder;
    std::unique_ptr<SessionBus> m_bus;
    std::unique_ptr<SessionBus> m_systemBus;
    QProcess m_shell;
    QByteArray m_tag;
    QString m_connection; // to the session bus, for Eval
    QString m_display;
    QString m_failure;
};
