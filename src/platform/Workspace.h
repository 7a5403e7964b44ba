#pragma once

#include <QString>
#include <QUrl>
#include <optional>

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
