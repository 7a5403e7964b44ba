#include "blocking/ExtensionBlockList.h"

#include "blocking/LocalBlockPageServer.h"
#include "platform/ExtensionLink.h"
#include "store/StorageService.h"

ExtensionBlockList::ExtensionBlockList(StorageService* storage, LocalBlockPageServer* pageServer, ExtensionLink* link,
                                       QObject* parent)
    : QObject(parent), m_storage(storage), m_pageServer(pageServer), m_link(link), m_blocked(storage, pageServer)
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
    m_link->setBlockedSites(m_blocked.sites());
}
