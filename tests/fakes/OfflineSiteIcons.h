#pragma once

// For tests of screens that show site icons: the shared icon store finds no address for any name,
// so nothing reaches the network and every site keeps its letter tile. Needs qh_ui.

#include "ui/SiteIconStore.h"

#include <QMetaObject>

inline void useOfflineSiteIcons()
{
    SiteIconStore::shared().setResolver(
        [](const QString&, QObject* context, std::function<void(const QList<QHostAddress>&)> done) {
            QMetaObject::invokeMethod(
                context, [done = std::move(done)] { done({}); }, Qt::QueuedConnection);
        });
}
