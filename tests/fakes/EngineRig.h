#pragma once

#include "FakeBrowser.h"
#include "FakeWorkspace.h"
#include "StoreFixture.h"
#include "blocking/BrowserAutomationService.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "platform/ScreenState.h"
#include "router/AppContext.h"

#include <functional>
#include <memory>

// A real store on a temporary folder with its block-page server, a fake browser behind a real
// executor, a fake desktop, and the blocking engine on top once build() runs: the real services,
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
    std::unique_ptr<BrowserAutomationService> engine;

    // `seed` may write data files before the store loads them.
    explicit EngineRig(int executorTimeoutMs = 3000, const std::function<void(StoreFixture&)>& seed = {},
                       BrowserScriptExecutor::Placement placement = BrowserScriptExecutor::Placement::ownThread)
        : store(seeded(f, seed))
    {
        auto runner = std::make_unique<FakeBrowser>();
        browser = runner.get();
        executor = std::make_unique<BrowserScriptExecutor>(std::move(runner), executorTimeoutMs, nullptr, placement);
    }

    // The engine's services. It measures its waits on the system's monotonic clock unless the
    // caller hands it `monotonic`.
    BrowserAutomationService::Environment environment()
    {
        BrowserAutomationService::Environment env;
        env.clock = &f.clock;
        env.calendar = [this] { return f.calendar; };
        env.defaults = &f.defaults;
        env.workspace = &workspace;
        env.idleTime = &idle;
        env.screen = &screen;
        env.automationHelpPage = [] { return QUrl(QStringLiteral("https://help.example/automation")); };
        return env;
    }

    BrowserAutomationService& build(const BrowserAutomationService::Environment& env)
    {
        engine = std::make_unique<BrowserAutomationService>(&store, &server, executor.get(), env);
        return *engine;
    }

    // The context a screen receives, on these services and the built engine.
    AppContext screenContext(AppRouter& router)
    {
        AppContext context;
        context.storage = &store;
        context.browsers = engine.get();
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
