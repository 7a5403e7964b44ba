#pragma once

#include "model/Clock.h"
#include "platform/ExtensionLink.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

class LocalBlockPageServer;
class StorageService;
struct BlockedSiteSnapshot;

// Whether an address is blocked now, and where it goes instead. The one place that decides it,
// for the engine's own checks, the navigations a browser holds and the extensions' list: the
// first entry of the store's blocked list that covers the host decides, and the block page is
// the server's, so that nothing is blocked while no page can be shown.
class BlockedAddresses {
public:
    BlockedAddresses(StorageService* storage, LocalBlockPageServer* pageServer);

    // An http or https address with a host: only those are blocked or counted.
    static bool isWebAddress(const QUrl& url);
    // The program's own pages, on the block page server's loopback port.
    bool isOwnPage(const QUrl& url) const;
    // The block page to show instead of `address` when it is blocked at `now`. A blocked list
    // past its time is worked out again first: a block never outlives its rule because the
    // store's timer was late.
    std::optional<QString> blockPage(const QString& address, Date now);
    // The blocked domains, normalised, in the store's order: for what holds navigations by domain.
    QStringList domains() const;
    // Each blocked domain once, with its first entry's page, whose `from` is left empty for the
    // extension to fill in.
    QList<ExtensionLink::BlockedSite> sites() const;

private:
    const BlockedSiteSnapshot* entryFor(const QString& host, Date now);

    QPointer<StorageService> m_storage;
    QPointer<LocalBlockPageServer> m_pageServer;
};
