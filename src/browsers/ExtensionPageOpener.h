#pragma once

#include "model/SupportedBrowser.h"

#include <QString>
#include <functional>

class ExtensionLink;

// How the extension sheet's page button brings the person to the browser's own page. Firefox opens
// about:addons from its command line; the Chromium family ignores chrome:// addresses there, so
// its page is opened by the extension when it is connected, and otherwise put on the clipboard
// with the words that say where to paste it.
namespace ExtensionPageOpener {

struct Outcome {
    bool opened = false; // the browser shows the page
    QString note;        // what the sheet says
    QString clipboard;   // what goes on the clipboard; empty: nothing
};

struct Ways {
    ExtensionLink* extensions = nullptr;
    // Starts the browser with these arguments; false when no program of it is found.
    std::function<bool(const QString& browserId, const QStringList& arguments)> start;
};

// `done` is called once, on the calling thread, possibly before this returns.
void open(const SupportedBrowser& browser, const QString& page, const Ways& ways,
          std::function<void(const Outcome&)> done);

} // namespace ExtensionPageOpener
