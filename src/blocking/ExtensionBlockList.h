#pragma once

#include "blocking/BlockedAddresses.h"

#include <QObject>
#include <QPointer>

class ExtensionLink;
class LocalBlockPageServer;
class StorageService;

// Keeps the companion extensions' blocked list equal to the store's: every blocked site with its
// block page, sent whenever what is blocked changes (rules, boundaries, breaks, pauses) and once
// the page server has a port. An empty list lifts every redirect.
class ExtensionBlockList : public QObject {
    Q_OBJECT
public:
    ExtensionBlockList(StorageService* storage, LocalBlockPageServer* pageServer, ExtensionLink* link,
                       QObject* parent = nullptr);

    void update();

private:
    QPointer<StorageService> m_storage;
    QPointer<LocalBlockPageServer> m_pageServer;
    QPointer<ExtensionLink> m_link;
    BlockedAddresses m_blocked;
};
