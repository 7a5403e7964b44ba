#pragma once

#include "model/Calendar.h"
#include "model/Clock.h"

#include <functional>

class AppRouter;
class BrowserPrograms;
class BrowserAutomationService;
class SyncService;
class Defaults;
class LoginItem;
class MainWindowOpener;
class QObject;
class QDialog;
class SelfInstall;
class StorageService;
class SystemEvents;
class SystemTray;
class Updater;
class WindowHints;

// Everything a screen reaches: the services, preferences and time. main() fills it with the real
// ones and tests with fakes; nothing above the services looks anything up globally.
struct AppContext {
    StorageService* storage = nullptr;
    BrowserAutomationService* browsers = nullptr;
    SyncService* sync = nullptr; // may be absent in tests of pages that do not sync
    AppRouter* router = nullptr;
    Defaults* defaults = nullptr;
    const Clock* clock = nullptr;
    const MonotonicClock* monotonic = nullptr;
    std::function<Calendar()> calendar;
    // Day changes, clock changes and wake-ups; may be absent.
    SystemEvents* events = nullptr;
    // Asks for the main window; remembered until a window can be shown.
    MainWindowOpener* mainWindow = nullptr;
    // Asks to quit through the application's quit gate (the Settings page's quit button).
    std::function<void()> requestQuit;
    // Shows a page's sheet over the main window once no other sheet is up, and owns it from then
    // on; absent (a page on its own in a test), the page opens the sheet itself.
    std::function<void(QDialog*)> presentSheet;
    // Whether the desktop shows the tray icon; absent, or not known yet: as if it did.
    std::function<bool()> hasTray;
    // Runs work that may wait until the main window's first frame is on screen; absent, a page
    // runs it at once.
    std::function<void(std::function<void()> work)> afterFirstFrame;

    // What the desktop offers the windows, picked with the other backends. Absent (a test), none
    // of it is offered: no tray host is seen, no install or update, no browser icon.
    WindowHints* windowHints = nullptr;
    SystemTray* systemTray = nullptr;
    SelfInstall* selfInstall = nullptr;
    Updater* updater = nullptr;
    BrowserPrograms* browserPrograms = nullptr;
    // Makes the login item of a page that shows its switch; absent, the page has none to offer.
    std::function<LoginItem*(QObject* parent)> makeLoginItem;
    // Opens the desktop's notification settings; absent where none is known.
    std::function<bool()> openNotificationSettings;
};
