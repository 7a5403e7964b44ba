#pragma once

#include <QString>

// Checking for a newer version of the program, where the program does it itself.
class Updater {
public:
    virtual ~Updater() = default;
    virtual bool canCheckForUpdates() const = 0;
    virtual void checkForUpdates() = 0;
    // Why the check is not offered, for the disabled command.
    virtual QString unavailableText() const = 0;
};
