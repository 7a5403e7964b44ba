#pragma once

#include "blocking/BrowserAutomationService.h"
#include "browsers/ExtensionPageOpener.h"
#include "browsers/ExtensionSetup.h"

#include <functional>

// The browser rows' extension action on this desktop (add, repair, private windows): the work
// done, then its sheet shown over the window the person pressed the button in. `afterwards`
// runs once the files are written, so every row reads them again; `installedForEveryone` once
// the program has installed itself for everyone. `ways` open the browser's
// own pages: its extension where it is connected, else the browser started on them.
void showExtensionAction(const SupportedBrowser& browser, BrowserAccessState::Kind kind,
                         const ExtensionSetup::Places& places, const std::function<void()>& afterwards,
                         const std::function<void()>& installedForEveryone = {},
                         const ExtensionPageOpener::Ways& ways = {});
