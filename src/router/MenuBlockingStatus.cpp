#include "router/MenuBlockingStatus.h"

#include "store/StorageService.h"

MenuBlockingStatus resolveMenuBlockingStatus(const StorageService& storage, bool needsBrowser, Date now)
{
    if (storage.rules().empty() && !storage.doomScrollConfig().isEnabled)
        return MenuBlockingStatus::noRules;
    if (needsBrowser)
        return MenuBlockingStatus::needsBrowser;
    const auto pausedUntil = storage.state().blockingPausedUntil;
    if (pausedUntil && now < *pausedUntil)
        return MenuBlockingStatus::paused;
    return MenuBlockingStatus::active;
}
