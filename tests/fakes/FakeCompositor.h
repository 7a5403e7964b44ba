#pragma once

#include <QString>
#include <atomic>
#include <memory>
#include <thread>

// A Wayland compositor reduced to what an idle reader talks to: a seat and, when asked for, the
// ext-idle-notify-v1 notifier, whose idled and resumed events the test sends. It listens on a
// socket in this process's XDG_RUNTIME_DIR and serves its clients on a thread of its own, so a
// client on the test's thread can wait for it.
class FakeCompositor {
public:
    explicit FakeCompositor(bool offersIdleNotifier);
    ~FakeCompositor();

    // The WAYLAND_DISPLAY value that reaches it; empty when it could not start.
    const QString& socketName() const { return m_socketName; }
    // Idle notifications its clients hold now.
    int notifications() const { return m_notifications; }

    void sendIdled();
    void sendResumed();
    // Goes away as a compositor that exits does: every client's connection closes.
    void stop();

    struct Server;

private:
    void post(int command);

    std::unique_ptr<Server> d;
    std::thread m_thread;
    QString m_socketName;
    std::atomic<int> m_notifications = 0;
};
