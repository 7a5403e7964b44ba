#pragma once

#include "model/SupportedBrowser.h"

#include <QString>
#include <optional>

// One thing the blocking engine asks of a browser's current tab, whichever route carries it. A
// redirect or a close acts only while the tab still shows the address the engine read, so a
// navigation between the read and the act is never undone.
struct BrowserCommand {
    enum class Operation {
        read,        // the address of the current tab
        readFocused, // the same, and whether the tab's window has the keyboard focus
        redirect,    // load `target` in the tab
        close,       // close the tab
    };
    Operation operation = Operation::read;
    QString browserId;       // the browser
    QString expectedAddress; // redirect and close: what the tab must still show
    QString target;          // redirect: the address to load

    static BrowserCommand read(const SupportedBrowser& browser);
    static BrowserCommand readFocused(const SupportedBrowser& browser);
    static BrowserCommand redirect(const SupportedBrowser& browser, const QString& from, const QString& to);
    static BrowserCommand close(const SupportedBrowser& browser, const QString& ifAddress);

    bool reads() const { return operation == Operation::read || operation == Operation::readFocused; }
    // It names a browser, and a redirect names where to: anything else no route can carry out.
    bool isWellFormed() const;
    // The answer of a browser with no window, and of one that is not running (a command never
    // starts a browser): the empty text for a read, "no-window" for a redirect or a close.
    QString noWindowAnswer() const;

    bool operator==(const BrowserCommand&) const = default;
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

// The outcome of one command: its answer, or an error with its message. A read answers the
// tab's address; a redirect "redirected", a close "closed", either of them "changed" when the
// tab shows another address by then; see BrowserCommand::noWindowAnswer() for no window.
struct BrowserScriptResult {
    std::optional<QString> output;
    std::optional<BrowserCommandError> error;
    std::optional<QString> errorMessage;
    // A focused read that found a window: whether it has the keyboard focus.
    std::optional<bool> focused = std::nullopt;

    bool operator==(const BrowserScriptResult&) const = default;
    bool failed() const { return error.has_value(); }

    static BrowserScriptResult answer(const QString& output) { return {output, std::nullopt, std::nullopt}; }
    static BrowserScriptResult focusedRead(bool focused, const QString& address)
    {
        return {address, std::nullopt, std::nullopt, focused};
    }
    static BrowserScriptResult failure(BrowserCommandError error, const QString& message)
    {
        return {std::nullopt, error, message};
    }
};
