#pragma once

#include <QObject>
#include <functional>

class SelfInstall;
class StorageService;

// Every way to quit that the program owns comes here. A request is let through when quitting
// was approved, the program relaunches itself, nothing is protected, or the system is ending the
// session; otherwise the quit window opens and the request is refused.
class QuitGate : public QObject {
    Q_OBJECT
public:
    enum class Origin {
        user,  // menu, shortcut, tray, Settings
        system // log-out, power-off, SIGTERM
    };

    struct Situation {
        bool hasStore = true;
        bool approved = false;
        bool relocating = false;
        bool isProtected = true; // a rule exists or doom-scroll breaks are on
        bool systemQuit = false;
    };
    static bool letsThrough(const Situation& situation);
    static bool isProtected(const StorageService& storage);

    // `presentQuitWindow` gets the continuation that approves and asks again; `terminate` ends the run.
    QuitGate(StorageService* storage, std::function<void(std::function<void()> onQuit)> presentQuitWindow,
             std::function<void()> terminate, const SelfInstall* selfInstall = nullptr, QObject* parent = nullptr);

    // True when the request went through (terminate was called).
    bool request(Origin origin = Origin::user);
    void approve() { m_approved = true; }
    bool isApproved() const { return m_approved; }
    void setStorage(StorageService* storage) { m_storage = storage; }

private:
    StorageService* m_storage;
    std::function<void(std::function<void()>)> m_present;
    std::function<void()> m_terminate;
    const SelfInstall* m_selfInstall; // tells a quit that starts the installed copy; none: no quit does
    bool m_approved = false;
};
