#pragma once

#include <QString>
#include <vector>

// The browsers blocking can reach, and the routes that reach each.
struct SupportedBrowser {
    // The ways the engine can reach a browser's tabs: its remote debugging protocol, and the
    // companion extension. Firefox speaks no Chromium protocol, so only its extension reaches it.
    enum Route { devToolsRoute = 1, extensionRoute = 2 };

    QString id; // the key everywhere in code
    QString name;
    // The name the first builds gave the browser, kept only where it was written down: the list
    // of browsers whose extension was seen, and a relay's greeting.
    QString storedKey;
    int routes = devToolsRoute | extensionRoute;

    bool servedBy(Route route) const { return (routes & route) != 0; }

    bool operator==(const SupportedBrowser&) const = default;

    static const std::vector<SupportedBrowser>& all();
    static const SupportedBrowser* withId(const QString& id);
    static const SupportedBrowser* withStoredKey(const QString& storedKey);
};
