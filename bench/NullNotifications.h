#pragma once

#include "platform/NotificationCenter.h"

// Notifications that go nowhere: the benchmarks measure the store, not the desktop.
class NullNotifications : public NotificationCenter {
public:
    void removePendingRequests(const QStringList&) override {}
    void requestAuthorization(std::function<void(bool)> done) override { done(true); }
    void add(const NotificationRequest&) override {}
    void authorizationStatus(std::function<void(NotificationAuthorization)> done) override
    {
        done(NotificationAuthorization::authorized);
    }
};
