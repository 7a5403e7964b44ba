#include "blocking/BlockedAddresses.h"

#include "blocking/LocalBlockPageServer.h"
#include "model/BlockRule.h"
#include "store/StorageService.h"

#include <algorithm>

BlockedAddresses::BlockedAddresses(StorageService* storage, LocalBlockPageServer* pageServer)
    : m_storage(storage), m_pageServer(pageServer)
{
}

bool BlockedAddresses::isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

bool BlockedAddresses::isOwnPage(const QUrl& url) const
{
    const QString host = url.host().toLower();
    const bool loopback =
        host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") || host == QLatin1String("::1");
    return loopback && m_pageServer && m_pageServer->port() && url.port(-1) == static_cast<int>(*m_pageServer->port());
}

const BlockedSiteSnapshot* BlockedAddresses::entryFor(const QString& host, Date now)
{
    if (!m_storage)
        return nullptr;
    if (m_storage->blocking().state().validUntil <= now)
        m_storage->blocking().refreshBlockingState();
    for (const BlockedSiteSnapshot& s : m_storage->blocking().state().blockedNow)
        if (BlockRule::hostMatches(host, s.domain))
            return &s;
    return nullptr;
}

std::optional<QString> BlockedAddresses::blockPage(const QString& address, Date now)
{
    const QUrl url(address);
    if (!m_pageServer || !isWebAddress(url) || isOwnPage(url))
        return std::nullopt;
    const BlockedSiteSnapshot* match = entryFor(url.host(), now);
    if (!match)
        return std::nullopt;
    const std::optional<QUrl> page = m_pageServer->blockedPageURL(match->ruleId, match->domain, address);
    if (!page)
        return std::nullopt;
    return page->toString(QUrl::FullyEncoded);
}

QStringList BlockedAddresses::domains() const
{
    QStringList domains;
    if (m_storage && m_pageServer && m_pageServer->port())
        for (const BlockedSiteSnapshot& s : m_storage->blocking().state().blockedNow)
            if (const QString d = BlockRule::normalizedDomain(s.domain); !d.isEmpty())
                domains.append(d);
    return domains;
}

QList<ExtensionLink::BlockedSite> BlockedAddresses::sites() const
{
    QList<ExtensionLink::BlockedSite> sites;
    if (!m_storage || !m_pageServer)
        return sites;
    for (const BlockedSiteSnapshot& s : m_storage->blocking().state().blockedNow) {
        const QString domain = BlockRule::normalizedDomain(s.domain);
        const std::optional<QUrl> page = m_pageServer->blockedPageURL(s.ruleId, s.domain, QString());
        if (domain.isEmpty() || !page)
            continue;
        if (std::none_of(sites.cbegin(), sites.cend(), [&](const auto& b) { return b.domain == domain; }))
            sites.append({domain, page->toString(QUrl::FullyEncoded)});
    }
    return sites;
}
