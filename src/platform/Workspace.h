#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// The rest of the desktop as the blocking engine sees it.
class Workspace {
public:
    virtual ~Workspace() = default;
    // The application in front: a browser by its id (the one of its table row), any other by a
    // name no browser has.
    virtual std::optional<QString> frontmostApplicationId() const = 0;
    // Whether every change of that answer is told to the handler given below, from the event
    // loop on the main thread (a desktop that can no longer tell calls it once more). A desktop
    // that can only be asked says false, and is asked on every check.
    virtual bool tellsFrontmostChanges() const { return false; }
    virtual void onFrontmostChange(std::function<void()> handler) { Q_UNUSED(handler); }
    virtual QString ownApplicationId() const = 0;
    virtual bool isInstalled(const QString& browserId) const = 0;
    virtual bool isRunning(const QString& browserId) const = 0;
    virtual bool openURL(const QUrl& url) = 0;
};
