#pragma once

#include "BlockTestSupport.h"
#include "FakeBrowser.h"
#include "FakeWorkspace.h"
#include "StoreFixture.h"
#include "blocking/BrowserAutomationService.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "platform/ScreenState.h"
#include "router/AppContext.h"
#include "router/AppRouter.h"

#include <QDir>
#include <QFile>
#include <functional>
#include <memory>

// A real store on a temporary folder, the engine on a fake browser and desktop, a router, and
// the context the Block screens receive; the wall clock stands on Monday 2026-12-07 10:00.
struct PageRig {
    StoreFixture f;
    StorageService& store;
    LocalBlockPageServer server{&store};
    BrowserScriptExecutor executor{std::make_unique<FakeBrowser>(), 3000};
    FakeWorkspace workspace;
    FakeIdleTime idle;
    ScreenState screen;
    AppRouter router;
    BlockTest::ManualMonotonic monotonic;
    std::unique_ptr<BrowserAutomationService> engine;
    AppContext context;

    // `seed` may write data files before the store loads them.
    explicit PageRig(const std::function<void(StoreFixture&)>& seed = {}) : store(seeded(f, seed))
    {
        BrowserAutomationService::Environment env;
        env.clock = &f.clock;
        env.calendar = [this] { return f.calendar; };
        env.defaults = &f.defaults;
        env.workspace = &workspace;
        env.idleTime = &idle;
        env.screen = &screen;
        engine = std::make_unique<BrowserAutomationService>(&store, &server, &executor, env);
        context.storage = &store;
        context.browsers = engine.get();
        context.router = &router;
        context.defaults = &f.defaults;
        context.clock = &f.clock;
        context.monotonic = &monotonic;
        context.calendar = [this] { return f.calendar; };
    }

    static StorageService& seeded(StoreFixture& fixture, const std::function<void(StoreFixture&)>& seed)
    {
        QDir().mkpath(fixture.dataPath());
        if (seed)
            seed(fixture);
        return fixture.make();
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
