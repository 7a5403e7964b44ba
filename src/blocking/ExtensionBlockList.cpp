#include "blocking/ExtensionBlockList.h"

#include "blocking/LocalBlockPageServer.h"
#include "model/BlockRule.h"
#include "platform/ExtensionLink.h"
#include "store/StorageService.h"

#include <algorithm>

ExtensionBlockList::ExtensionBlockList(StorageService* storage, LocalBlockPageServer* pageServer, ExtensionLink* link,
                                       QObject* parent)
    : QObject(parent), m_storage(storage), m_pageServer(pageServer), m_link(link)
{
    if (m_storage) {
        connect(&m_storage->blocking(), &BlockingStore::stateChanged, this, &ExtensionBlockList::update);
        connect(&m_storage->blocking(), &BlockingStore::rulesChanged, this, &ExtensionBlockList::update);
    }
    if (m_pageServer)
        connect(m_pageServer, &LocalBlockPageServer::portChanged, this, &ExtensionBlockList::update);
    update();
}

void ExtensionBlockList::update()
{
    if (!m_link)
        return;
    QList<ExtensionLink::BlockedSite> sites;
    if (m_storage && m_pageServer) {
        for (const BlockedSiteSnapshot& s : m_storage->blocking().state().blockedNow) {
            const QString domain = BlockRule::normalizedDomain(s.domain);
            // The page's address ends in an empty `from`, which the extension fills in.
            const std::optional<QUrl> page = m_pageServer->blockedPageURL(s.ruleId, s.domain, QString());
            if (domain.isEmpty() || !page)
                continue;
            // The first entry for a domain decides, as in the engine's own matching.
            if (std::none_of(sites.cbegin(), sites.cend(), [&](const auto& b) { return b.domain == domain; }))
                sites.append({domain, page->toString(QUrl::FullyEncoded)});
        }
    }
    m_link->setBlockedSites(sites);
}
