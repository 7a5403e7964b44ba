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
// Build it with make(), or one part of it with makeTodos(), makeNotes() or makeBlocking(); the
// folder stays while the fixture lives, so a second make is a restart.
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
    FakeCloudSync sync{defaults};
    std::unique_ptr<StorageService> store;
    // A part built alone, and what it stands on; the last of them made is the one in use.
    std::unique_ptr<StoreCore> core;
    std::unique_ptr<SeriesPass> series;
    std::unique_ptr<TodoStore> todos;
    std::unique_ptr<NoteStore> notes;
    std::unique_ptr<BlockingStore> blocking;

    QString dataPath() const { return dataFolder.isEmpty() ? folder.filePath(QStringLiteral("data")) : dataFolder; }
    // A data file as the store leaves it: once no write of it is on its way.
    QString file(const QString& name) const
    {
        if (store)
            store->core().waitForWrites();
        else if (core)
            core->waitForWrites();
        return dataPath() + QLatin1Char('/') + name;
    }

    StorageService& make()
    {
        dropParts();
        store = std::make_unique<StorageService>(FileStore{dataPath()}, environment());
        return *store;
    }
    // The store as a start makes it: its to-dos read by `preread`, taken in by loadTodos().
    StorageService& makeReadingLater(DataPreread& preread)
    {
        dropParts();
        StorageEnvironment env = environment();
        env.preread = &preread;
        env.todosLater = true;
        store = std::make_unique<StorageService>(FileStore{dataPath()}, env);
        return *store;
    }

    // One part of the store alone, loaded from the same folder as the whole store loads it, on the
    // core it writes through (and the to-dos on their series pass). A second call is a restart.
    NoteStore& makeNotes()
    {
        makeCore({NoteStore::fileName});
        notes = std::make_unique<NoteStore>(*core);
        QStringList unreadable;
        notes->load(unreadable, std::nullopt);
        core->setLoading(false);
        return *notes;
    }
    TodoStore& makeTodos()
    {
        makeCore({TodoStore::fileName});
        series = std::make_unique<SeriesPass>(*core);
        todos = std::make_unique<TodoStore>(*core, *series);
        QStringList unreadable;
        const quint64 loadedUses = todos->load(unreadable, std::nullopt);
        todos->rollOverRecurringTodos(core->now());
        todos->keepLoadedText(loadedUses);
        core->setLoading(false);
        return *todos;
    }
    SeriesPass& makeSeries()
    {
        makeCore({});
        series = std::make_unique<SeriesPass>(*core);
        core->setLoading(false);
        return *series;
    }
    // Its boundary timer refreshes it, as the whole store's clock event would.
    BlockingStore& makeBlocking()
    {
        makeCore({BlockingStore::rulesFile, BlockingStore::doomScrollFile, BlockingStore::stateFile});
        blocking = std::make_unique<BlockingStore>(*core);
        QObject::connect(blocking.get(), &BlockingStore::clockEventDue, blocking.get(),
                         &BlockingStore::refreshBlockingState);
        QStringList unreadable;
        blocking->loadRules(unreadable);
        blocking->loadState();
        blocking->loadDoomScrollConfig(unreadable);
        blocking->normalizeSharedState();
        blocking->refreshBlockingState();
        core->setLoading(false);
        return *blocking;
    }
    // The store, or the part made alone, goes as it does when the application quits.
    void close() { dropParts(); }
    // The fake sync, told of every change from now on.
    FakeCloudSync& attachSync()
    {
        (store ? store->core() : *core).setCloudSync(&sync);
        return sync;
    }

private:
    void dropParts()
    {
        store.reset();
        blocking.reset();
        notes.reset();
        todos.reset();
        series.reset();
        core.reset();
        QDir().mkpath(dataPath());
    }
    // The folder and the files of a part, as the whole store opens them; loading until the part
    // has read its files.
    void makeCore(const QStringList& files)
    {
        dropParts();
        core = std::make_unique<StoreCore>(environment());
        core->chooseDataDirectory(FileStore{dataPath()});
        core->setLoading(true);
        core->prepareFolder(files);
    }
    StorageEnvironment environment()
    {
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
        return env;
    }
};
