#pragma once

#include "blocking/BrowserAutomationService.h"

#include <QString>
#include <optional>

// The browser rows' offer to write a launcher that starts a Chromium-family browser with its
// debugging port open, and what the row says after trying. Without widgets, so it is tested alone.
namespace BrowserLauncherOffer {

// The button's title where such a launcher would bring this browser within reach: it speaks the
// debugging protocol, is installed where a launcher can start it, and neither route reaches it.
std::optional<QString> title(const SupportedBrowser& browser, const BrowserAccessState& state, const QString& home);

struct Outcome {
    QString message;
    bool isError = false;
    QString path; // the launcher written; empty when none was
};

// Writes the launcher into `applicationsFolder` (the desktop's own:
// ~/.local/share/applications) and says what happened.
Outcome create(const SupportedBrowser& browser, const QString& home, const QString& applicationsFolder);

} // namespace BrowserLauncherOffer
