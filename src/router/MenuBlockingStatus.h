#pragma once

#include "model/Clock.h"

class StorageService;

// Whether blocking does its job right now, for the tray popover's banner.
enum class MenuBlockingStatus { noRules, needsBrowser, paused, active };

MenuBlockingStatus resolveMenuBlockingStatus(const StorageService& storage, bool needsBrowser, Date now);
