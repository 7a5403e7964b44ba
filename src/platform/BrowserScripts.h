#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// The supported browsers and the script texts sent to them. The texts are the wire format
// between the blocking engine and whatever runs them: the engine builds them exactly, and a
// runner (a real browser bridge, or the fake browser of the tests) reads them back with parse().

enum class BrowserScriptStyle { safari, chromium };
QString rawValue(BrowserScriptStyle style);
std::optional<BrowserScriptStyle> browserScriptStyleFromRaw(const QString& text);

struct SupportedBrowser {
    // The ways the engine can reach a browser's tabs: its remote debugging protocol, and the
    // companion extension. Firefox speaks no Chromium protocol, so only its extension reaches it.
    enum Route { devToolsRoute = 1, extensionRoute = 2 };

    QString id;
    QString name;
    QString bundleIdentifier; // kept from the first builds: stored attempts name browsers by it
    BrowserScriptStyle scriptStyle = BrowserScriptStyle::chromium;
    int routes = devToolsRoute | extensionRoute;

    bool servedBy(Route route) const { return (routes & route) != 0; }

    bool operator==(const SupportedBrowser&) const = default;

    static const std::vector<SupportedBrowser>& all();
    static const SupportedBrowser* withBundleIdentifier(const QString& bundleIdentifier);
    static const SupportedBrowser* withId(const QString& id);
};

// Why a browser command failed, whichever route carried it. What the person is shown for each
// is chosen where the browser's state is worked out, not here.
enum class BrowserCommandError {
    unprepared,        // the command cannot be carried out as it was given
    notPermitted,      // the browser does not let itself be driven (no debugging port)
    awaitingConsent,   // the browser asks the person whether to allow the connection
    unsupported,       // no route can reach this browser on this system
    browserNotRunning, // the browser went away while the command ran
    timedOut,          // the browser did not answer in time
    targetMissing,     // the browser answered, without the tab or window the command names
    failed,            // anything else: the message says what
};

// The outcome of one command: text output, or an error with its message.
struct BrowserScriptResult {
    std::optional<QString> output;
    std::optional<BrowserCommandError> error;
    std::optional<QString> errorMessage;

    bool operator==(const BrowserScriptResult&) const = default;
    bool failed() const { return error.has_value(); }
};

namespace BrowserScripts {

QString quoted(const QString& text);
QString readActiveTabURL(const SupportedBrowser& browser);
// The address of the active tab and whether a window of the browser has the keyboard focus:
// "focused" or "background", a line feed, the address; the empty text with no window.
QString readFocusedTabURL(const SupportedBrowser& browser);
struct FocusedRead {
    bool focused = false;
    QString address;
};
// Nothing for text that is not such an answer (the empty text of a browser with no window).
std::optional<FocusedRead> parseFocusedRead(const QString& output);
QString redirectActiveTab(const SupportedBrowser& browser, const QString& from, const QString& to);
QString closeActiveTab(const SupportedBrowser& browser, const QString& ifURL);
QString guarded(const QString& inner, const SupportedBrowser& browser, const QString& fallback);

// What a guarded script asks for, recovered from its exact text.
struct Parsed {
    enum class Operation { read, redirect, close, readFocused };
    Operation operation = Operation::read;
    QString bundleIdentifier;
    BrowserScriptStyle style = BrowserScriptStyle::chromium;
    QString fallback;
    QString from; // redirect: the address read; close: the address to compare
    QString to;   // redirect only
};
// Nothing unless the text is exactly one the builders above produce.
std::optional<Parsed> parse(const QString& script);

} // namespace BrowserScripts
