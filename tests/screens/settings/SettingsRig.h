#pragma once

#include "FakeBrowser.h"
#include "FakeWorkspace.h"
#include "StoreFixture.h"
#include "blocking/BrowserAutomationService.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "linux/LaunchAtLoginService.h"
#include "platform/ScreenState.h"
#include "router/AppContext.h"
#include "router/AppRouter.h"
#include "screens/settings/SettingsView.h"
#include "sync/CloudKitSyncService.h"
#include "sync/MemoryRecordStore.h"

// The page on a store, the engine on a fake browser and desktop, and the sync on a record store in
// memory: the real services, fed by fakes. The page is built, not shown.
struct SettingsRig {
    StoreFixture f;
    StorageService& store = f.make();
    LocalBlockPageServer server{&store};
    FakeWorkspace workspace;
    FakeIdleTime idle;
    ScreenState screen;
    std::unique_ptr<BrowserScriptExecutor> executor;
    std::unique_ptr<BrowserAutomationService> engine;
    MemoryRecordStore records;
    std::unique_ptr<CloudKitSyncService> sync;
    AppRouter router;
    AppContext context;
    int quitRequests = 0;
    QList<QUrl> opened;
    std::unique_ptr<SettingsView> view;

    explicit SettingsRig(const QSet<QString>& installed = {})
    {
        executor = std::make_unique<BrowserScriptExecutor>(std::make_unique<FakeBrowser>(), 3000);
        workspace.installed = installed;
        BrowserAutomationService::Environment env;
        env.clock = &f.clock;
        env.calendar = [this] { return f.calendar; };
        env.defaults = &f.defaults;
        env.workspace = &workspace;
        env.idleTime = &idle;
        env.screen = &screen;
        env.automationHelpPage = QUrl(QStringLiteral("https://help.example/automation"));
        engine = std::make_unique<BrowserAutomationService>(&store, &server, executor.get(), env);
        SyncEnvironment syncEnv;
        syncEnv.recordStore = &records;
        syncEnv.clock = &f.clock;
        syncEnv.calendar = [this] { return f.calendar; };
        sync = std::make_unique<CloudKitSyncService>(&store, f.defaults, syncEnv);
        context.storage = &store;
        context.browsers = engine.get();
        context.sync = sync.get();
        context.router = &router;
        context.defaults = &f.defaults;
        context.clock = &f.clock;
        context.calendar = [this] { return f.calendar; };
        context.requestQuit = [this] { ++quitRequests; };
        view = std::make_unique<SettingsView>(context);
        view->setUrlOpener([this](const QUrl& url) {
            opened.append(url);
            return true;
        });
    }
    template <typename T = QWidget> T* find(const QString& name) const { return view->findChild<T*>(name); }
};
