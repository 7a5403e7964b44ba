#pragma once

#include "model/Calendar.h"
#include "model/Clock.h"

#include <QString>

class StorageService;

// Whether blocking does its job right now, for the tray popover's banner.
enum class MenuBlockingStatus { noRules, needsBrowser, paused, active };

MenuBlockingStatus resolveMenuBlockingStatus(const StorageService& storage, bool needsBrowser, Date now);

// "Blocking is paused until 10:30 AM.": the end of the running pause as a time of day ("later"
// when none is set), kept on one line.
QString pausedBlockingText(const StorageService& storage, const Calendar& calendar);
