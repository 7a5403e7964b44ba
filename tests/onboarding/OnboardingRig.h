#pragma once

#include "EngineRig.h"
#include "linux/LaunchAtLoginService.h"
#include "onboarding/OnboardingView.h"
#include "router/AppRouter.h"

// The sheet on a store, the engine on a fake browser and desktop: the real services, fed by fakes.
struct OnboardingRig : EngineRig {
    AppRouter router;
    AppContext context;
    int finished = 0;
    bool acceptOnFinish = false; // as the main window does
    std::unique_ptr<OnboardingView> view;

    OnboardingRig()
    {
        build();
        context = screenContext(router);
        context.makeLoginItem = [](QObject* parent) { return new LaunchAtLoginService(parent); };
    }

    OnboardingView& open(int startStep, bool offerMove = false)
    {
        view = std::make_unique<OnboardingView>(
            context, startStep,
            [this] {
                ++finished;
                if (acceptOnFinish)
                    view->accept();
            },
            [offerMove] { return offerMove; });
        view->setUrlOpener([](const QUrl&) { return true; }); // nothing leaves the test
        return *view;
    }

    template <typename T = QWidget> T* find(const QString& name) const { return view->findChild<T*>(name); }
};
