#include "browsers/ExtensionPageOpener.h"

#include "platform/ExtensionLink.h"

namespace ExtensionPageOpener {

namespace {

Outcome pasteIt(const SupportedBrowser& browser, const QString& page, const Ways& ways)
{
    // A window of the browser with its address bar, where the address is pasted.
    const bool started = ways.start && ways.start(browser.id, {});
    Outcome outcome;
    outcome.clipboard = page;
    outcome.note = QStringLiteral("Copied %1. %2 opens it only from its address bar: %3paste it there (Ctrl+L, "
                                  "then Ctrl+V) and press Enter.")
                       .arg(page, browser.name,
                            started ? QStringLiteral("in the %1 window that opened, ").arg(browser.name) : QString());
    return outcome;
}

} // namespace

void open(const SupportedBrowser& browser, const QString& page, const Ways& ways,
          std::function<void(const Outcome&)> done)
{
    if (page.startsWith(QLatin1String("about:"))) {
        Outcome outcome;
        outcome.opened = ways.start && ways.start(browser.id, {page});
        if (!outcome.opened)
            outcome.note = QStringLiteral("Open %1 in %2's address bar.").arg(page, browser.name);
        done(outcome);
        return;
    }
    if (!ways.extensions || ways.extensions->setup(browser.id) != ExtensionLink::Setup::connected) {
        done(pasteIt(browser, page, ways));
        return;
    }
    ways.extensions->openPage(browser.id, page, [browser, page, ways, done = std::move(done)](bool opened) {
        if (!opened) {
            done(pasteIt(browser, page, ways));
            return;
        }
        Outcome outcome;
        outcome.opened = true;
        outcome.note = QStringLiteral("Opened in %1.").arg(browser.name);
        done(outcome);
    });
}

} // namespace ExtensionPageOpener
