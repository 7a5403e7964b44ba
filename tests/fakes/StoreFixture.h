#pragma once

#include "FakeCloudSync.h"
#include "FakeNotificationCenter.h"
#include "RefusingSaveFile.h"
#include "TestEnvironment.h"
#include "files/Defaults.h"
#include "platform/SystemEvents.h"
#include "store/StorageService.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <functional>
#include <memory>

// Follows the manual wall clock, so advancing that is time passing; changeWallClock() below is
// a person setting the clock, which this clock does not see.
struct FollowingBootClock final : MonotonicClock {
    explicit FollowingBootClock(const ManualClock& clock) : wall(&clock) {}
    const ManualClock* wall;
    double changes = 0;
    QString boot = QStringLiteral("boot-one");
    double seconds() const override { return wall->peek() - changes; }
    QString bootId() const override { return boot; }
};

// Takes every write and keeps none of it, the way a buffered write does whose flush then fails on
// a full disk: QSaveFile::commit() does not notice that and renames the empty file into place.
class LosingSaveFile final : public QSaveFile {
public:
    using QSaveFile::QSaveFile;

protected:
    qint64 writeData(const char*, qint64 length) override { return length; }
};

// A store on a private data folder with a manual clock, a fixed calendar and fake services.
// Build it with make(); the folder stays while the fixture lives, so a second make() is a restart.
struct StoreFixture {
    QTemporaryDir folder;
    ManualClock clock{TestEnvironment::at(2026, 12, 7, 10, 0, 0)};
    FollowingBootClock bootClock{clock};
    QStringList failing; // names of files whose writes fail; "*" for all, backups included
    QStringList losing;  // the same for writes that seem to succeed but reach no disk
    QString dataFolder;  // the data folder when not the default one inside `folder`
    // Called as each data file is opened for writing, on the thread that writes it.
    std::function<void(const QString& name)> opening;

    void changeWallClock(double by)
    {
        clock.advance(by);
        bootClock.changes += by;
    }
    Calendar calendar = TestEnvironment::calendar();
    Defaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    FakeNotificationCenter notifications;
    SystemEvents events;
    std::unique_ptr<StorageService> store;

    QString dataPath() const { return dataFolder.isEmpty() ? folder.filePath(QStringLiteral("data")) : dataFolder; }
    // A data file as the store leaves it: once no write of it is on its way.
    QString file(const QString& name) const
    {
        if (store)
            store->waitForWrites();
        return dataPath() + QLatin1Char('/') + name;
    }

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
        env.monotonic = &bootClock;
        env.saveFiles = [this](const QString& path) -> std::unique_ptr<QSaveFile> {
            const QString name = QFileInfo(path).fileName();
            if (opening)
                opening(name);
            if (failing.contains(QStringLiteral("*")) || failing.contains(name))
                return std::make_unique<RefusingSaveFile>(path);
            if (losing.contains(QStringLiteral("*")) || losing.contains(name))
                return std::make_unique<LosingSaveFile>(path);
            return std::make_unique<QSaveFile>(path);
        };
        store = std::make_unique<StorageService>(FileStore{dataPath()}, env);
        return *store;
    }
};
