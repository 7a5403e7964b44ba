#pragma once

#include "sync/RecordFields.h"
#include "sync/RecordStore.h"

#include <QPromise>
#include <algorithm>
#include <atomic>
#include <memory>

// Passes every request on and counts what the sync asks of the store: record reads and writes.
class CountingStore : public RecordStore {
public:
    explicit CountingStore(RecordStore& inner) : m_inner(inner) {}
    QFuture<StoreAnswer<int>> accountStatus() override { return m_inner.accountStatus(); }
    QFuture<StoreAnswer<QString>> userRecordName() override { return m_inner.userRecordName(); }
    QFuture<StoreAnswer<std::vector<ItemResult>>> fetch(const QStringList& names) override
    {
        fetched += int(names.size());
        return m_inner.fetch(names);
    }
    QFuture<StoreAnswer<ModifyResults>> modify(const std::vector<CloudRecord>& saves, const QStringList& deletes,
                                               Batch batch = Batch::eachItem) override
    {
        written += int(saves.size() + deletes.size());
        for (size_t i = 0; measureSaves && i < saves.size(); ++i)
            largestSave = std::max(largestSave, RecordFields::patch(saves[i]).size());
        return m_inner.modify(saves, deletes, batch);
    }
    QFuture<StoreAnswer<QString>> changeStamp() override
    {
        if (heldStamp) {
            heldStamp->start();
            return heldStamp->future();
        }
        if (!stampKnown) {
            QPromise<StoreAnswer<QString>> unknown;
            unknown.start();
            unknown.addResult(StoreAnswer<QString>{});
            unknown.finish();
            return unknown.future();
        }
        return m_inner.changeStamp();
    }
    QFuture<void> releaseMemory() override
    {
        ++released;
        if (heldRelease) {
            heldRelease->start();
            return heldRelease->future();
        }
        return m_inner.releaseMemory();
    }
    void resetCounts() { fetched = written = 0; }
    // Set: the cache is dropped only when the test finishes this.
    std::shared_ptr<QPromise<void>> heldRelease;
    // Set: a run waits for the change stamp until the test answers this.
    std::shared_ptr<QPromise<StoreAnswer<QString>>> heldStamp;
    int fetched = 0;
    int written = 0;
    qsizetype largestSave = 0;    // bytes of the largest record saved, as the store keeps its fields
    std::atomic<int> released{0}; // caches dropped
    bool stampKnown = true;       // false: as a store that cannot tell whether anything changed
    bool measureSaves = true;     // false: no time spent measuring records while CPU time is taken

private:
    RecordStore& m_inner;
};
