#pragma once

#include "platform/BrowserScripts.h"

#include <QObject>
#include <QUrl>
#include <functional>
#include <optional>

// Runs one browser script. Lives on the script executor's thread; `done` must be called exactly
// once, on that thread (the executor still answers for a runner that never does).
class ScriptRunner : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void run(const QString& script, std::function<void(const BrowserScriptResult&)> done) = 0;
};

// The rest of the desktop as the blocking engine sees it.
class Workspace {
public:
    virtual ~Workspace() = default;
    // The application in front, by bundle identifier (a browser's is the one of its table row).
    virtual std::optional<QString> frontmostApplicationID() const = 0;
    virtual QString ownApplicationID() const = 0;
    virtual bool isInstalled(const QString& bundleIdentifier) const = 0;
    virtual bool isRunning(const QString& bundleIdentifier) const = 0;
    virtual bool openURL(const QUrl& url) = 0;
};

class IdleTime {
public:
    virtual ~IdleTime() = default;
    virtual double secondsSinceLastInput() const = 0;
};

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
