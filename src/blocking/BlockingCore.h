#pragma once

#include "blocking/BrowserAutomationService.h"
#include "blocking/ExtensionBlockList.h"

#include <functional>
#include <memory>

class ExtensionRepair;

// The blocking engine as the program, the benchmarks and the tests build it: the engine on the
// store, its block page and its script executor, and, where the companion extensions reach the
// program, the blocked list they redirect by. Each part is a constructor argument, so a builder
// that leaves one out does not compile; the routes a program lacks are passed as null.
class BlockingCore {
public:
    struct Time {
        const Clock& clock;
        std::function<Calendar()> calendar;
        // Null: the system's.
        const MonotonicClock* monotonic;
    };
    // What the engine watches: the windows in front, the person's absence, the screens.
    struct Desktop {
        Workspace& workspace;
        IdleTime& idleTime;
        ScreenState& screen;
    };
    // The ways into the browsers beside the executor's scripts. Without the interceptor the
    // checks do all the work; without the extensions only the debugging protocol reaches a
    // browser; without the repair or the help page, fixing an extension opens nothing of its own.
    struct Routes {
        NavigationInterceptor* interceptor;
        ExtensionLink* extensions;
        ExtensionRepair* repair;
        std::function<QUrl()> helpPage;
    };

    BlockingCore(StorageService& storage, Defaults& defaults, const Time& time, const Desktop& desktop,
                 LocalBlockPageServer& pageServer, BrowserScriptExecutor& executor, Routes routes);

    BrowserAutomationService engine;
    const std::unique_ptr<ExtensionBlockList> extensionBlockList; // null without extensions

private:
    static BrowserAutomationService::Environment environment(Defaults& defaults, const Time& time,
                                                             const Desktop& desktop, Routes routes);
};
