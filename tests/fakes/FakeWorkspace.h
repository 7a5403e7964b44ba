#pragma once

#include "model/Clock.h"
#include "platform/IdleTime.h"
#include "platform/Workspace.h"

#include <QList>
#include <QSet>
#include <QUrl>
#include <functional>
#include <optional>

// The desktop as a test wants it: which application is in front, what is installed and running.
// Main thread only, like the engine that asks it.
class FakeWorkspace : public Workspace {
public:
    std::optional<QString> frontmost;
    QString ownId = QStringLiteral("com.morrowfield.quillharbour");
    QSet<QString> installed;
    QSet<QString> running;
    QList<QUrl> openedURLs;
    bool tells = false; // as a desktop that reports its changes of front
    std::function<void()> onChange;

    std::optional<QString> frontmostApplicationId() const override { return frontmost; }
    bool tellsFrontmostChanges() const override { return tells; }
    void onFrontmostChange(std::function<void()> handler) override { onChange = std::move(handler); }
    QString ownApplicationId() const override { return ownId; }
    bool isInstalled(const QString& browserId) const override { return installed.contains(browserId); }
    bool isRunning(const QString& browserId) const override { return running.contains(browserId); }
    bool openURL(const QUrl& url) override
    {
        openedURLs.append(url);
        return true;
    }

    // Installed, running and in front.
    void bringUp(const QString& browserId)
    {
        installed.insert(browserId);
        running.insert(browserId);
        frontmost = browserId;
        if (tells && onChange)
            onChange();
    }
};

class FakeIdleTime : public IdleTime {
public:
    std::optional<double> seconds = 0.0;
    std::optional<double> secondsSinceLastInput() const override { return seconds; }
};

// A monotonic clock that moves only when told to.
class ManualMonotonic final : public MonotonicClock {
public:
    double seconds() const override { return value; }
    double value = 5000;
};
