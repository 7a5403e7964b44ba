#pragma once

#include <QString>
#include <vector>

// The browsers blocking can reach, and the routes that reach each.
struct SupportedBrowser {
    // The ways the engine can reach a browser's tabs: its remote debugging protocol, and the
    // companion extension. Firefox speaks no Chromium protocol, so only its extension reaches it.
    enum Route { devToolsRoute = 1, extensionRoute = 2 };

    QString id;
    QString name;
    QString bundleIdentifier; // kept from the first builds: stored attempts name browsers by it
    int routes = devToolsRoute | extensionRoute;

    bool servedBy(Route route) const { return (routes & route) != 0; }

    bool operator==(const SupportedBrowser&) const = default;

    static const std::vector<SupportedBrowser>& all();
    static const SupportedBrowser* withBundleIdentifier(const QString& bundleIdentifier);
    static const SupportedBrowser* withId(const QString& id);
};
