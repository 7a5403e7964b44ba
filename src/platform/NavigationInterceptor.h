#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Keeps a browser's tabs from loading a blocked site at all: their top-level navigations to the
// watched domains are held before any request leaves the browser, and answered with a redirect
// to the address the decision gives, or let through when it gives none. Where a browser cannot be
// held this way, isIntercepting() says so and the caller's own checks are all there is.
class NavigationInterceptor {
public:
    virtual ~NavigationInterceptor() = default;

    // Asked about each held navigation, with the browser and the full address it was going to.
    using Decision = std::function<std::optional<QString>(const QString& browserId, const QString& address)>;
    virtual void setDecision(Decision decision) = 0;
    // The domains (subdomains included) whose navigations this browser should hold from now on;
    // an empty list holds none and lets the browser go.
    virtual void watch(const QString& browserId, const QStringList& domains) = 0;
    virtual bool isIntercepting(const QString& browserId) const = 0;
};
