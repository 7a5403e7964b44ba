#pragma once

#include "BlockTestSupport.h"
#include "EngineRig.h"
#include "router/AppRouter.h"

#include <QFile>

// The engine rig with a router and the context the Block screens receive.
struct PageRig : EngineRig {
    AppRouter router;
    AppContext context;

    // `seed` may write data files before the store loads them.
    explicit PageRig(const std::function<void(StoreFixture&)>& seed = {}) : EngineRig(3000, seed)
    {
        build();
        context = screenContext(router);
        context.monotonic = &monotonic;
    }

    BlockRule add(const BlockRule& rule)
    {
        store.blocking().addRule(rule);
        return rule;
    }

    // From now on every write of "rules.json" fails, even as root: a folder stands in its place.
    void breakRulesFile()
    {
        QFile::remove(f.file(BlockingStore::rulesFile));
        QDir().mkpath(f.file(BlockingStore::rulesFile));
    }
};
