#pragma once

#include "platform/Updater.h"

#include <QString>

// Programs on Linux are updated by the package manager, so there is nothing to check from here:
// the update command is shown disabled and says why.
class AppUpdater : public Updater {
public:
    static AppUpdater& shared();

    bool canCheckForUpdates() const override { return false; }
    void start() { m_started = true; }
    void checkForUpdates() override {}
    bool isStarted() const { return m_started; }
    QString unavailableText() const override { return QStringLiteral("Updates come from your package manager."); }

private:
    AppUpdater() = default;
    bool m_started = false;
};
