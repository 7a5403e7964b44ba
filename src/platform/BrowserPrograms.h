#pragma once

#include <QString>
#include <QStringList>

// The browsers as programs of this desktop, for the rows that show and start them.
class BrowserPrograms {
public:
    virtual ~BrowserPrograms() = default;
    // The icon theme's names that may show the browser, best first; empty when it is unknown.
    virtual QStringList iconNames(const QString& browserId) const = 0;
    // Starts the browser with `arguments`; false when no program of it is found.
    virtual bool start(const QString& browserId, const QStringList& arguments) = 0;
};
