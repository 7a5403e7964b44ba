#pragma once

#include "RecordStoreHelpers.h"
#include "StoreFixture.h"
#include "sync/MemoryRecordStore.h"
#include "sync/SyncService.h"

#include <functional>
#include <memory>
#include <utility>

// One device: a store on its own data folder with a manual clock, and its sync service talking to
// the record store it is given. Two of them on one store are two machines of one account.
struct SyncDevice {
    StoreFixture fixture;
    std::unique_ptr<SyncService> sync;
    MemoryReleaser* releaser = nullptr; // none: the service's own
    int giveBackAfterMs = 0;            // the cases wait for what is given back, not for time
    qsizetype manifestPageBudget = ManifestPages::defaultPageBudget;
    qsizetype manifestOneRecordBudget = ManifestPages::defaultOneRecordBudget;
    Defaults* knownIds = nullptr; // none: kept among the preferences
    std::function<qint64()> sinceLastInputMs = {};
    int giveBackAfterInputMs = 5000;
    // Called once, the next time the sync reads the calendar (as it readies a merge).
    std::function<void()> onCalendar;

    explicit SyncDevice(RecordStore* records, const QString& environment = QStringLiteral("unknown"))
    {
        fixture.make();
        connectTo(records, environment);
    }

    // As a start with another record store setting: a new sync service on the same data.
    void connectTo(RecordStore* records, const QString& environment = QStringLiteral("unknown"))
    {
        sync.reset();
        SyncEnvironment env;
        env.recordStore = records;
        env.clock = &fixture.clock;
        env.calendar = [this] {
            if (onCalendar)
                std::exchange(onCalendar, nullptr)();
            return fixture.calendar;
        };
        env.events = &fixture.events;
        env.environment = environment;
        env.releaser = releaser;
        env.giveBackAfterMs = giveBackAfterMs;
        env.manifestPageBudget = manifestPageBudget;
        env.manifestOneRecordBudget = manifestOneRecordBudget;
        env.knownIds = knownIds;
        env.sinceLastInputMs = sinceLastInputMs;
        env.giveBackAfterInputMs = giveBackAfterInputMs;
        sync = std::make_unique<SyncService>(fixture.store.get(), fixture.defaults, env);
        fixture.store->core().setCloudSync(sync.get());
    }

    StorageService& store() { return *fixture.store; }
    Defaults& defaults() { return fixture.defaults; }

    // One run (and any coalesced after it), to its end.
    bool run()
    {
        sync->syncNow();
        return waitUntil([this] { return !sync->isSyncing(); });
    }

    TaskItem addTodo(const QString& title)
    {
        TaskItem t;
        t.id = QUuid::createUuid();
        t.title = title;
        t.time = TaskItem::anytime;
        t.createdAt = fixture.clock.now();
        store().todos().addTodo(t);
        return t;
    }

    Note addNote(const QString& title)
    {
        Note n{QUuid::createUuid(), title, QStringLiteral("body"), fixture.clock.now(), fixture.clock.now()};
        store().notes().upsertNote(n);
        return n;
    }

    std::optional<TaskItem> todo(const QUuid& id) const
    {
        for (const TaskItem& t : fixture.store->todos().todos())
            if (t.id == id)
                return t;
        return std::nullopt;
    }
};

// The ids the store's manifest lists in one of its fields, sorted.
inline QStringList listedIds(MemoryRecordStore& records, const char* field)
{
    const auto manifest = records.peek(SyncService::manifestRecordName);
    QStringList ids = manifest
                          ? manifest->string(QLatin1String(field)).value_or(QString()).split(u',', Qt::SkipEmptyParts)
                          : QStringList();
    ids.sort();
    return ids;
}

// The manifest's records as stored, page 0 first; a page not stored is left out.
inline std::vector<CloudRecord> manifestPages(MemoryRecordStore& records)
{
    std::vector<CloudRecord> pages;
    const auto first = records.peek(SyncService::manifestRecordName);
    if (!first)
        return pages;
    pages.push_back(*first);
    const int count = ManifestPages::storedPageCount(first->int64(ManifestPages::pageCountField));
    for (int page = 1; page < count; ++page)
        if (const auto more = records.peek(ManifestPages::pageName(SyncService::manifestRecordName, page)))
            pages.push_back(*more);
    return pages;
}

// The ids every page of the manifest lists in one of its fields, sorted, each once.
inline QStringList allListedIds(MemoryRecordStore& records, const char* field)
{
    QSet<QString> ids;
    for (const CloudRecord& page : manifestPages(records))
        for (const QString& id : page.string(QLatin1String(field)).value_or(QString()).split(u',', Qt::SkipEmptyParts))
            ids.insert(id);
    QStringList sorted(ids.begin(), ids.end());
    sorted.sort();
    return sorted;
}
