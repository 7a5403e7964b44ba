#pragma once

#include "FakeCloudSync.h"
#include "FakeNotificationCenter.h"
#include "TestEnvironment.h"
#include "platform/Defaults.h"
#include "platform/SystemEvents.h"
#include "store/StorageService.h"

#include <QTemporaryDir>
#include <memory>

// A store on a private data folder with a manual clock, a fixed calendar and fake services.
// Build it with make(); the folder stays while the fixture lives, so a second make() is a restart.
struct StoreFixture {
    QTemporaryDir folder;
    ManualClock clock{TestEnvironment::at(2026, 12, 7, 10, 0, 0)};
    Calendar calendar = TestEnvironment::calendar();
    Defaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    FakeNotificationCenter notifications;
    SystemEvents events;
    std::unique_ptr<StorageService> store;

    QString dataPath() const { return folder.filePath(QStringLiteral("data")); }
    QString file(const QString& name) const { return dataPath() + QLatin1Char('/') + name; }

    StorageService& make()
    {
        store.reset();
        QDir().mkpath(dataPath());
        StorageEnvironment env;
        env.clock = &clock;
        env.calendar = [this] { return calendar; };
        env.defaults = &defaults;
        env.notifications = &notifications;
        env.events = &events;
        store = std::make_unique<StorageService>(FileStore{dataPath()}, env);
        return *store;
    }
};
