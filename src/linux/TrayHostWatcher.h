#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

// Waits until a tray host exists (a StatusNotifierItem watcher with a host on the session bus, or
// an owner of the X11 tray selection) or until the patience runs out, then says so once. Qt
// decides once per process whether a tray host exists, so the tray icon is made only after this.
// Each look waits for the bus and the display to answer, so it is made on a worker: one at a time,
// each poll that finds the last still out skipped.
class TrayHostWatcher : public QObject {
    Q_OBJECT
public:
    // `look` stands for hostPresent() (tests hand in their own); it runs on a worker.
    explicit TrayHostWatcher(int patienceMs = 10000, QObject* parent = nullptr,
                             std::function<bool()> look = &TrayHostWatcher::hostPresent);
    void start();

    static bool hostPresent();

signals:
    void decided(bool hostSeen);

private:
    void poll();
    void looked(bool seen);

    std::function<bool()> m_look;
    QTimer m_poll;
    int m_patienceMs;
    int m_waitedMs = 0;
    bool m_done = false;
    bool m_looking = false;
};
