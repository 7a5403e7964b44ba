#pragma once

#include <QString>

// Programs on Linux are updated by the package manager, so there is nothing to check from here:
// the update command is shown disabled and says why.
class AppUpdater {
public:
    static AppUpdater& shared();

    bool canCheckForUpdates() const { return false; }
    void start() { m_started = true; }
    void checkForUpdates() {}
    bool isStarted() const { return m_started; }
    static QString unavailableText() { return QStringLiteral("Updates come from your package manager."); }

private:
    AppUpdater() = default;
    bool m_started = false;
};
