#pragma once

#include "FakeBrowser.h"
#include "FakeWorkspace.h"
#include "StoreFixture.h"
#include "blocking/BrowserAutomationService.h"
#include "blocking/BrowserScriptExecutor.h"
#include "blocking/LocalBlockPageServer.h"
#include "onboarding/MacOnboardingView.h"
#include "platform/ScreenState.h"
#include "router/AppContext.h"
#include "router/AppRouter.h"

// The sheet on a store, the engine on a fake browser and desktop: the real services, fed by fakes.
struct OnboardingRig {
    StoreFixture f;
    StorageService& store = f.make();
    LocalBlockPageServer server{&store};
    FakeWorkspace workspace;
    FakeIdleTime idle;
    ScreenState screen;
    FakeBrowser* browser = new FakeBrowser;
    std::unique_ptr<BrowserScriptExecutor> executor{
        std::make_unique<BrowserScriptExecutor>(std::unique_ptr<FakeBrowser>(browser), 3000)};
    std::unique_ptr<BrowserAutomationService> engine;
    AppRouter router;
    AppContext context;
    int finished = 0;
    bool acceptOnFinish = false; // as the main window does
    QList<QUrl> opened;
    std::unique_ptr<MacOnboardingView> view;

    OnboardingRig()
    {
        BrowserAutomationService::Environment env;
        env.clock = &f.clock;
        env.calendar = [this] { return f.calendar; };
        env.defaults = &f.defaults;
        env.workspace = &workspace;
        env.idleTime = &idle;
        env.screen = &screen;
        env.automationHelpPage = QUrl(QStringLiteral("https://help.example/automation"));
        engine = std::make_unique<BrowserAutomationService>(&store, &server, executor.get(), env);
        context.storage = &store;
        context.browsers = engine.get();
        context.router = &router;
        context.defaults = &f.defaults;
        context.clock = &f.clock;
        context.calendar = [this] { return f.calendar; };
    }

    MacOnboardingView& open(int startStep, bool offerMove = false)
    {
        view = std::make_unique<MacOnboardingView>(
            context, startStep,
            [this] {
                ++finished;
                if (acceptOnFinish)
                    view->accept();
            },
            [offerMove] { return offerMove; });
        view->setUrlOpener([this](const QUrl& url) {
            opened.append(url);
            return true;
        });
        return *view;
    }

    template <typename T = QWidget> T* find(const QString& name) const { return view->findChild<T*>(name); }
};
