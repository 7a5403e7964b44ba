#pragma once

#include "EngineRig.h"
#include "linux/LaunchAtLoginService.h"
#include "router/AppRouter.h"
#include "screens/settings/SettingsView.h"
#include "sync/MemoryRecordStore.h"
#include "sync/SyncService.h"

// The page on a store, the engine on a fake browser and desktop, and the sync on a record store in
// memory: the real services, fed by fakes. The page is built, not shown.
struct SettingsRig : EngineRig {
    MemoryRecordStore records;
    std::unique_ptr<SyncService> sync;
    AppRouter router;
    AppContext context;
    int quitRequests = 0;
    QList<QUrl> opened;
    std::unique_ptr<SettingsView> view;

    SettingsRig()
    {
        build();
        SyncEnvironment syncEnv;
        syncEnv.recordStore = &records;
        syncEnv.clock = &f.clock;
        syncEnv.calendar = [this] { return f.calendar; };
        sync = std::make_unique<SyncService>(&store, f.defaults, syncEnv);
        context = screenContext(router);
        context.sync = sync.get();
        context.requestQuit = [this] { ++quitRequests; };
        context.makeLoginItem = [](QObject* parent) { return new LaunchAtLoginService(parent); };
        view = std::make_unique<SettingsView>(context);
        view->setUrlOpener([this](const QUrl& url) {
            opened.append(url);
            return true;
        });
    }
    template <typename T = QWidget> T* find(const QString& name) const { return view->findChild<T*>(name); }
};
