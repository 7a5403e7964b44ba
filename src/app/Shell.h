#pragma once

#include "app/TrayIcon.h"
#include "router/AppContext.h"
#include "router/MainWindowOpener.h"
#include "router/QuitGate.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class MainWindow;
class NotificationCenter;
class Popover;
class QMenu;
struct NotificationRequest;
class QSystemTrayIcon;
class QWidget;
class ShellCommands;
class WindowScreens;

// What the application does around its windows: decides what a start shows, keeps the tray
// icon and its popover, routes links and notification taps, syncs when the user comes back, and
// sends every quit through the gate.
class Shell : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool loginItem = false;               // started at login: stay in the tray when there is one
        int trayPatienceMs = 10000;           // how long to wait for a tray host before deciding there is none
        bool offerMove = true;                // may offer to install the program after launch
        std::optional<bool> trayAvailable;    // tests: what Qt would say about the tray
        std::function<void()> activationSync; // tests: instead of the sync service's run
    };

    Shell(AppContext& context, const WindowScreens& screens, NotificationCenter* notifications, Options options,
          QObject* parent = nullptr);
    ~Shell() override;

    // Starts the launch: waits for a tray host, then shows the tray or the main window.
    void start();
    // The faces a window start loads one per turn before the page is built.
    QList<QFont> startFaces() const;
    // Those of a start on the Today page, known before the store has loaded: `todosLater`, the
    // to-dos are read while the window shows.
    static QList<QFont> todayStartFaces(bool todosLater);

    MainWindow& mainWindow() { return *m_mainWindow; }
    Popover& popover();
    ShellCommands& commands() { return *m_commands; }
    QuitGate& quitGate() { return *m_gate; }
    MainWindowOpener& opener() { return m_opener; }
    QSystemTrayIcon* tray() const { return m_tray; }
    // Set once the launch knows whether a tray exists.
    std::optional<bool> hasTray() const { return m_hasTray; }

    // Links from this start or a later one ("quillharbour://…"); none means the user started the
    // program again: show the main window.
    void handleLinks(const QStringList& links);
    void handleNotificationResponse(const QString& identifier);
    void syncAfterActivation();
    void showMainWindow();
    void activate();
    // The system ends the session (log-out, power-off, SIGTERM): approved, saved, gone.
    void systemQuit();
    // Work that need not hold up the window: it runs once the main window has drawn its first
    // frame, or in the next turn when the launch shows no window; at once after that.
    void afterFirstFrame(std::function<void()> work);
    bool firstFramePassed() const { return m_firstFramePassed; }

    // What the first close of the main window says on a desktop without a tray, where nothing
    // else would show that the program still runs; `protects`: there is something to block.
    static NotificationRequest stillRunningNotice(bool protects);
    // "Install Quillharbour?" over `owner`, run to its end: 0 for Install; Escape is "Not Now".
    static int askToInstall(QWidget* owner);

    static constexpr double activationSyncSpacing = 30;
    static constexpr int firstFramePatienceMs = 1000;

signals:
    void trayDecided(bool hasTray);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void passFirstFrame();
    void watchTray();
    void decideTray(bool hostSeen);
    void updateTrayIcon();
    void openPopover();
    void openMainWindowAfterLaunch();
    void presentQuitWindow(std::function<void()> onQuit);
    void offerInstall();
    void mainWindowClosed();
    void tellStillRunning();

    AppContext& m_context;
    NotificationCenter* m_notifications;
    Options m_options;
    MainWindowOpener m_opener;
    std::unique_ptr<MainWindow> m_mainWindow;
    std::unique_ptr<Popover> m_popover;
    ShellCommands* m_commands = nullptr;
    QuitGate* m_gate = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    std::unique_ptr<QMenu> m_trayMenu;
    std::optional<bool> m_hasTray;
    std::optional<TrayIcon::State> m_trayState; // what the tray shows now
    std::optional<double> m_lastActivationSync;
    bool m_firstFramePassed = false;
    bool m_closedBeforeTrayKnown = false;
    bool m_toldStillRunning = false;
    std::vector<std::function<void()>> m_afterFirstFrame;
};
