#pragma once

#include <QObject>

// Screens asleep or awake, the session locked or unlocked.
class ScreenState : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void screensDidSleep();
    void screensDidWake();
    void screenLocked();
    void screenUnlocked();
};
