#pragma once

#include "FakeBrowser.h"
#include "FakeWorkspace.h"
#include "StoreFixture.h"
#include "blocking/BlockingCore.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "platform/ScreenState.h"
#include "router/AppContext.h"

#include <functional>
#include <memory>

// A real store on a temporary folder with its block-page server, a fake browser behind a real
// executor, a fake desktop, and the blocking core on top once build() runs: the real services,
// fed by fakes. The wall clock stands on Monday 2026-12-07 10:00.
struct EngineRig {
    StoreFixture f;
    StorageService& store;
    LocalBlockPageServer server{&store};
    FakeBrowser* browser = nullptr; // owned by the executor
    std::unique_ptr<BrowserScriptExecutor> executor;
    FakeWorkspace workspace;
    FakeIdleTime idle;
    ScreenState screen;
    ManualMonotonic monotonic;
    std::unique_ptr<BlockingCore> core;
    BrowserAutomationService* engine = nullptr; // the core's, once built

    // `seed` may write data files before the store loads them.
    explicit EngineRig(int executorTimeoutMs = 3000, const std::function<void(StoreFixture&)>& seed = {},
                       BrowserScriptExecutor::Placement placement = BrowserScriptExecutor::Placement::ownThread)
        : store(seeded(f, seed))
    {
        auto runner = std::make_unique<FakeBrowser>();
        browser = runner.get();
        executor = std::make_unique<BrowserScriptExecutor>(std::move(runner), executorTimeoutMs, nullptr, placement);
    }

    // The ways into the browsers a test may hand the engine; none but the help page by default.
    static BlockingCore::Routes routes()
    {
        return {nullptr, nullptr, nullptr, [] { return QUrl(QStringLiteral("https://help.example/automation")); }};
    }

    // The engine as the program builds it, on these services. It measures its waits on the
    // system's monotonic clock unless the caller hands it `monotonic`.
    BrowserAutomationService& build(BlockingCore::Routes ways = routes(), const MonotonicClock* waits = nullptr)
    {
        core = std::make_unique<BlockingCore>(
            store, f.defaults, BlockingCore::Time{f.clock, [this] { return f.calendar; }, waits},
            BlockingCore::Desktop{workspace, idle, screen}, server, *executor, std::move(ways));
        engine = &core->engine;
        return *engine;
    }

    // The context a screen receives, on these services and the built engine.
    AppContext screenContext(AppRouter& router)
    {
        AppContext context;
        context.storage = &store;
        context.browsers = engine;
        context.router = &router;
        context.defaults = &f.defaults;
        context.clock = &f.clock;
        context.calendar = [this] { return f.calendar; };
        return context;
    }

private:
    static StorageService& seeded(StoreFixture& fixture, const std::function<void(StoreFixture&)>& seed)
    {
        QDir().mkpath(fixture.dataPath());
        if (seed)
            seed(fixture);
        return fixture.make();
    }
};
