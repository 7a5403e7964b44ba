#include "blocking/BlockingCore.h"

BlockingCore::BlockingCore(StorageService& storage, Defaults& defaults, const Time& time, const Desktop& desktop,
                           LocalBlockPageServer& pageServer, BrowserScriptExecutor& executor, Routes routes)
    : engine(&storage, &pageServer, &executor, environment(defaults, time, desktop, routes)),
      extensionBlockList(
          routes.extensions ? std::make_unique<ExtensionBlockList>(&storage, &pageServer, routes.extensions) : nullptr)
{
}

BrowserAutomationService::Environment BlockingCore::environment(Defaults& defaults, const Time& time,
                                                                const Desktop& desktop, Routes routes)
{
    BrowserAutomationService::Environment env;
    env.clock = &time.clock;
    env.calendar = time.calendar;
    env.monotonic = time.monotonic;
    env.defaults = &defaults;
    env.workspace = &desktop.workspace;
    env.idleTime = &desktop.idleTime;
    env.screen = &desktop.screen;
    env.interceptor = routes.interceptor;
    env.extensions = routes.extensions;
    env.extensionRepair = routes.repair;
    env.automationHelpPage = std::move(routes.helpPage);
    return env;
}
