#pragma once

#include "blocking/BrowserAutomationService.h"

#include <QString>

// What a browser row says of the states that only the extension route and the consent route
// bring, and what its button does, the same on every screen that lists browsers.
struct BrowserStateText {
    QString detail;      // empty: no line
    QString actionTitle; // empty: no button; the button calls BrowserAutomationService::fix()
};

// Nothing for the states every screen words itself (connect, closed, try again).
std::optional<BrowserStateText> browserStateText(const SupportedBrowser& browser, const BrowserAccessState& state);
