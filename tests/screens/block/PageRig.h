#pragma once

#include "BlockTestSupport.h"
#include "EngineRig.h"
#include "router/AppContext.h"
#include "router/AppRouter.h"

#include <QFile>

// The engine rig with a router and the context the Block screens receive.
struct PageRig : EngineRig {
    AppRouter router;
    AppContext context;

    // `seed` may write data files before the store loads them.
    explicit PageRig(const std::function<void(StoreFixture&)>& seed = {}) : EngineRig(3000, seed)
    {
        build(environment());
        context.storage = &store;
        context.browsers = engine.get();
        context.router = &router;
        context.defaults = &f.defaults;
        context.clock = &f.clock;
        context.monotonic = &monotonic;
        context.calendar = [this] { return f.calendar; };
    }

    BlockRule add(const BlockRule& rule)
    {
        store.addRule(rule);
        return rule;
    }

    // From now on every write of "rules.json" fails, even as root: a folder stands in its place.
    void breakRulesFile()
    {
        QFile::remove(f.file(StorageService::rulesFile));
        QDir().mkpath(f.file(StorageService::rulesFile));
    }
};
