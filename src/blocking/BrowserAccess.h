#pragma once

#include "model/Clock.h"
#include "platform/BrowserCommand.h"
#include "platform/ExtensionLink.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <optional>

class Defaults;
class Workspace;

// How far the application can drive one browser, by whichever route reaches it.
struct BrowserAccessState {
    enum class Kind {
        problem,
        notInstalled,
        notConnected,
        browserClosed,
        connected,
        permissionNeeded, // running without a debugging port
        unsupported,
        extensionMissing,     // the companion extension has never spoken from this browser
        hostMissing,          // the extension is there, but the browser cannot start the program's link
        extensionOff,         // the extension spoke before, and now the running browser has it off or removed
        privateWindowsHidden, // connected, but the extension may not run in private windows
        awaitingConsent,      // the browser is asking the person to allow the connection
        notPossible,          // neither route can reach this browser here
        profilesLeftOut,      // connected, but other profiles of the browser have no extension
    };
    Kind kind = Kind::notConnected;
    QString message;           // only for problem
    QStringList profiles = {}; // only for profilesLeftOut: their names, as the browser shows them

    bool operator==(const BrowserAccessState&) const = default;
    static BrowserAccessState of(Kind kind, const QString& message = {}) { return {kind, message, {}}; }
    bool needsAttention() const
    {
        return kind == Kind::permissionNeeded || kind == Kind::unsupported || kind == Kind::problem ||
               kind == Kind::awaitingConsent || kind == Kind::hostMissing || kind == Kind::extensionOff ||
               kind == Kind::profilesLeftOut;
    }
    // Its tabs are seen and steered (with profiles left out, in the others).
    bool isProtected() const
    {
        return kind == Kind::connected || kind == Kind::privateWindowsHidden || kind == Kind::profilesLeftOut;
    }
    // What a row may call "Connected": every profile of it is protected.
    bool isConnectedEverywhere() const { return isProtected() && kind != Kind::profilesLeftOut; }
};

// Which browsers the person chose, how far each can be driven, and whether blocking needs the
// person's attention: what each route says of a browser, combined into what every browser
// screen shows, and the warning about a browser in front that nothing protects.
class BrowserAccess : public QObject {
    Q_OBJECT
public:
    struct Environment {
        Defaults* defaults = nullptr;
        Workspace* workspace = nullptr;
        const MonotonicClock* monotonic = nullptr;
        ExtensionLink* extensions = nullptr; // optional
    };
    explicit BrowserAccess(Environment environment, QObject* parent = nullptr);

    static constexpr double listingInterval = 30.0;
    static inline const QString attemptedKey = QStringLiteral("attemptedBrowserAutomationIDs");
    // The browsers whose extension has said hello at least once: only those can have an extension
    // that is installed but cannot reach the program, or one that was switched off.
    static inline const QString extensionSeenKey = QStringLiteral("extensions.seenBrowsers.v1");

    // Each browser's state, both routes combined.
    const QHash<QString, BrowserAccessState>& states() const { return m_access; }
    const QSet<QString>& attempted() const { return m_attempted; }
    bool isDevToolsConnected(const QString& browserId) const;
    // The last listing found this browser not installed.
    bool listedAsNotInstalled(const QString& browserId) const
    {
        return m_devTools.value(browserId).kind == BrowserAccessState::Kind::notInstalled;
    }
    std::optional<QString> unprotected() const { return m_unprotected; }
    bool needsAttention(bool enforcing) const;

    // The debugging protocol's state of the browser, as its last answer left it.
    void setDevToolsState(const BrowserAccessState& state, const SupportedBrowser& browser);
    // Works the combined states out again from what each route says now.
    void update();
    // Installing the extension is the person's consent: its browser counts as chosen.
    void takeExtensionConnections();
    void rememberAttempt(const SupportedBrowser& browser);
    bool isInstalled(const SupportedBrowser& browser) const;
    bool isRunning(const SupportedBrowser& browser) const;
    // Any browser runs that a check could read or warn about.
    bool anyRuns() const;
    void refreshInstalled(bool force);

    // The warning about the application in front, worked out again; `enforcing`: something is
    // to be enforced at all.
    void updateWarning(const std::optional<QString>& front, bool enforcing);
    // Whether the warning stands as worked out for this front. Its other inputs (what protects
    // each browser, the browsers chosen, whether anything is to be enforced) forget it when they
    // change.
    bool warnedFor(const std::optional<QString>& front) const { return m_warnedFront && *m_warnedFront == front; }
    void forgetWarning() { m_warnedFront.reset(); }

    // One browser's state from what each route says of it. `seen`: its extension has said hello
    // before; `running`: the browser runs now.
    struct ExtensionSide {
        std::optional<ExtensionLink::Setup> setup;
        std::optional<ExtensionTabReport> report;
        QStringList profilesLeftOut; // while connected
        bool seen = false;
        bool running = false;
    };
    static BrowserAccessState combinedAccess(const SupportedBrowser& browser, const BrowserAccessState& devTools,
                                             const ExtensionSide& extension);
    static BrowserAccessState accessState(BrowserCommandError error, const std::optional<QString>& message);
    static const QHash<QString, QString>& knownUnprotectedBrowsers();

signals:
    // A browser's state, or whether blocking needs attention, changed.
    void changed();
    void unprotectedChanged();
    // The debugging protocol said something new of a browser.
    void devToolsStateChanged();
    void attemptsChanged();

private:
    bool stateNeedsAttention(const SupportedBrowser& browser) const;
    void setUnprotected(const std::optional<QString>& name);

    Environment m_env;
    QHash<QString, BrowserAccessState> m_devTools; // what the debugging protocol last said
    QHash<QString, BrowserAccessState> m_access;   // both routes combined
    QSet<QString> m_attempted;
    QSet<QString> m_extensionSeen;                // browser ids
    QStringList m_extensionConnected;             // browser ids, as the link last said
    std::optional<double> m_lastInstalledRefresh; // monotonic seconds
    std::optional<QString> m_unprotected;
    std::optional<std::optional<QString>> m_warnedFront; // the front the warning was worked out for
};
