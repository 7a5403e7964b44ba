#pragma once

#include <QObject>
#include <QTimer>

// Waits until a tray host exists (a StatusNotifierItem watcher with a host on the session bus, or
// an owner of the X11 tray selection) or until the patience runs out, then says so once. Qt
// decides once per process whether a tray host exists, so the tray icon is made only after this.
class TrayHostWatcher : public QObject {
    Q_OBJECT
public:
    explicit TrayHostWatcher(int patienceMs = 10000, QObject* parent = nullptr);
    void start();

    static bool hostPresent();

signals:
    void decided(bool hostSeen);

private:
    void poll();

    QTimer m_poll;
    int m_patienceMs;
    int m_waitedMs = 0;
    bool m_done = false;
};
