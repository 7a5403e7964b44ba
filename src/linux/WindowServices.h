#pragma once

#include "platform/BrowserPrograms.h"
#include "platform/SelfInstall.h"
#include "platform/SystemTray.h"
#include "platform/WindowHints.h"

class TrayHostWatcher;

// What the windows ask of a Linux desktop, for the application to hand down.

// GNOME's shell extension and KDE Plasma's shell protocol; nothing elsewhere.
class LinuxWindowHints : public WindowHints {
public:
    void markModal(QWindow* window) override;
    bool place(QWindow* window, QPoint topLeft) override;
};

// A StatusNotifierItem watcher with a host on the session bus, or an owner of the X11 tray selection.
class LinuxSystemTray : public SystemTray {
    Q_OBJECT
public:
    void watch(int patienceMs) override;
    void listenForActivation() override;
    std::optional<QPoint> takeActivation() override;

private:
    TrayHostWatcher* m_watcher = nullptr;
};

// A copy for this user in ~/.local/bin (UserInstaller).
class LinuxSelfInstall : public SelfInstall {
public:
    bool shouldOfferMove() const override;
    bool isRelocating() const override;
    bool moveAndRelaunch(const std::function<void()>& terminate, QString* error) override;
    bool relaunchInstalledForEveryone(const QString& prefix, const std::function<void()>& terminate,
                                      QString* error) override;
    QString packagedExtension() const override;
};

// The browsers' executables named in their table row, as icon names and as programs to start.
class LinuxBrowserPrograms : public BrowserPrograms {
public:
    QStringList iconNames(const QString& browserId) const override;
    bool start(const QString& browserId, const QStringList& arguments) override;
};
