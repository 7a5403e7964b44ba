#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// What a browser's companion extension last said of itself: the active tab of its focused (or
// last focused) window, and whether one of its windows has focus. The extension pushes a report
// on every change, so reading one never crosses a process boundary.
struct ExtensionTabReport {
    QString browserId; // the SupportedBrowser row it belongs to
    bool windowFocused = false;
    qint64 tabId = -1; // -1: no tab
    QString url;
    bool privateWindowsAllowed = false;
    QString browserVersion;
    QString extensionVersion;

    bool operator==(const ExtensionTabReport&) const = default;
};

// The companion extensions of the browsers, as the blocking engine sees them. They report tabs
// and focus, redirect new navigations to blocked sites before they load, and move or close a tab
// only while it still shows the address the engine read.
class ExtensionLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // How the extension route stands for one browser.
    enum class Setup {
        connected,        // the extension is talking to this program now
        extensionMissing, // no sign of the extension in this browser
        hostMissing,      // the browser cannot start the program: its host manifest is missing or stale
        notPossible,      // the browser's sandbox lets no host run (some Flatpak and Snap builds)
        signedOnly,       // the browser loads only add-ons its maker signed (Firefox releases)
    };
    virtual Setup setup(const QString& browserId) const = 0;
    virtual QStringList connectedBrowsers() const = 0;
    virtual std::optional<ExtensionTabReport> report(const QString& browserId) const = 0;
    // The browser's profiles known to be without the extension, by the names the browser shows
    // them under: a connected extension speaks for its own profile only.
    virtual QStringList profilesLeftOut(const QString& browserId) const
    {
        Q_UNUSED(browserId);
        return {};
    }

    // A blocked site: navigations to `domain` and its subdomains go to `pageAddress` with the
    // blocked address appended to it as the block page's `from`.
    struct BlockedSite {
        QString domain;
        QString pageAddress;
        bool operator==(const BlockedSite&) const = default;
    };
    // The whole list, sent to every connected extension whenever it changes and on connecting.
    virtual void setBlockedSites(const QList<BlockedSite>& sites) = 0;

    // Moves or closes the tab only while it still shows `ifURL`; `done` answers, on the calling
    // thread, whether it did (false also when the browser is gone or does not answer in time).
    virtual void redirectTab(const QString& browserId, qint64 tabId, const QString& ifURL, const QString& to,
                             std::function<void(bool)> done) = 0;
    virtual void closeTab(const QString& browserId, qint64 tabId, const QString& ifURL,
                          std::function<void(bool)> done) = 0;
    // Opens the browser's own extensions page (`address`, e.g. "chrome://extensions/?id=…") in a
    // new tab of its window, which the browser lets only an extension do; `done` answers whether
    // it did. Without an extension that answers, it did not.
    virtual void openPage(const QString& browserId, const QString& address, std::function<void(bool)> done)
    {
        Q_UNUSED(browserId)
        Q_UNUSED(address)
        done(false);
    }

signals:
    void reportChanged(const QString& browserId);
    void setupChanged();
};
