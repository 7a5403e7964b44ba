#pragma once

#include "blocking/BrowserAutomationService.h"

// What fixes a browser's extension route (installing the extension, rewriting its link) where a
// person is there to be shown how: the program's windows have one, a headless core none.
class ExtensionRepair {
public:
    virtual ~ExtensionRepair() = default;
    virtual void repair(const SupportedBrowser& browser, BrowserAccessState::Kind kind) = 0;
};
