#pragma once

#include "app/Backends.h"
#include "app/Shell.h"
#include "blocking/BlockingCore.h"
#include "blocking/LocalBlockPageServer.h"
#include "files/Defaults.h"
#include "linux/FreedesktopNotifications.h"
#include "linux/LinuxSessionEnd.h"
#include "linux/LinuxSystemEvents.h"
#include "linux/WindowServices.h"
#include "router/AppContext.h"
#include "router/AppRouter.h"
#include "store/StorageService.h"
#include "sync/SyncService.h"
#include "ui/LastInput.h"

#include <QCoreApplication>
#include <QStringList>
#include <future>
#include <memory>

class DataPreread;
class RecordStore;
class SingleInstance;

// The program as a person starts it: one running copy per data folder, the services made once
// each and in order, the shell that shows them, and what waits until the window is drawn.
// main() only tells this mode from the browsers' relay and hands over to run().
class Application {
public:
    // What the command line asks of the program: links to open, and whether the desktop started it
    // at sign-in.
    struct Arguments {
        QStringList links;
        bool loginItem = false;
    };
    static Arguments parse(const QStringList& arguments);

    // Starts the toolkit, settles which copy runs, then builds the application and runs it until
    // it quits; the process's exit code.
    static int run(int argc, char* argv[]);

    // What the start settled before any service exists.
    struct Launch {
        const Arguments& arguments;
        DataPreread& preread;
        SingleInstance& single;
        QString dataFolder;
        QString knownIdsPath;
        // Opened beside the rest of the start; waited for only when the desktop is made.
        std::future<std::shared_ptr<X11Display::Opened>>& display;
    };

    // What the services stand on, made while the to-dos are still being read: the preferences,
    // the system's events and notifications, the desktop and the browsers' routes; then the store.
    // Its parts are members in the order they are made.
    struct Foundation {
        const Clock& clock;
        const std::function<Calendar()> calendar;
        Defaults defaults;
        LinuxSystemEvents events;
        FreedesktopNotificationCenter notifications;
        Desktop desktop;
        BrowserRoutes browsers;
        StorageService storage;

        explicit Foundation(Launch& launch);

    private:
        static QString pendingNotificationsFile(const QString& dataFolder);
        LinuxSystemEvents& watchingDrift();
        StorageEnvironment storageEnvironment(const Launch& launch);
    };

    // The services on a store that can keep the data, and the shell over them: members in the
    // order they are made.
    Application(Foundation& foundation, Launch& launch);

    // Shows the shell, starts what waits for its first frame and runs until the program quits.
    int exec();

private:
    std::unique_ptr<RecordStore> recordStore();
    SyncEnvironment syncEnvironment();
    AppContext shellContext();
    static Shell::Options shellOptions(const Arguments& arguments);
    void returnTabsOnQuit();
    void startAfterFirstFrame();
    void startSync();

    Foundation& m_foundation;
    const Arguments& m_arguments;
    SingleInstance& m_single;
    // The sync's record store: a SQLite file on this machine unless the settings name PostgreSQL.
    const std::unique_ptr<RecordStore> m_recordStore;
    // The ids the sync knows in the record store: a file of their own beside the preferences.
    Defaults m_knownIds;
    SyncService m_cloudSync;
    LocalBlockPageServer m_blockPageServer;
    BlockingCore m_blocking;
    AppRouter m_router;
    SystemMonotonicClock m_monotonic;
    LastInput m_lastInput{QCoreApplication::instance(), m_monotonic};
    // What the pages reach of the desktop, through the platform's interfaces.
    LinuxWindowHints m_windowHints;
    LinuxSystemTray m_systemTray;
    LinuxSelfInstall m_selfInstall;
    LinuxBrowserPrograms m_browserPrograms;
    AppContext m_context;
    Shell m_shell;
    LinuxSessionEnd m_sessionEnd;
};
