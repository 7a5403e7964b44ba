#pragma once

#include "platform/NotificationCenter.h"

#include <QMap>
#include <vector>

// Keeps requests in memory. Authorisation answers synchronously unless `deferAnswers` is set,
// in which case they wait in `pendingAnswers` until the test calls answerAll().
class FakeNotificationCenter : public NotificationCenter {
    Q_OBJECT
public:
    using NotificationCenter::NotificationCenter;

    NotificationAuthorization status = NotificationAuthorization::authorized;
    bool deferAnswers = false;
    std::vector<std::function<void()>> pendingAnswers;
    QMap<QString, NotificationRequest> pending; // calendar-triggered, by identifier
    std::vector<NotificationRequest> delivered; // immediate ones, in order
    int authorizationRequests = 0;

    void removePendingRequests(const QStringList& identifiers) override
    {
        for (const QString& id : identifiers)
            pending.remove(id);
    }
    void requestAuthorization(std::function<void(bool)> done) override
    {
        ++authorizationRequests;
        if (status == NotificationAuthorization::notDetermined)
            status = NotificationAuthorization::authorized;
        const bool granted = status == NotificationAuthorization::authorized;
        if (deferAnswers)
            pendingAnswers.push_back([done, granted] { done(granted); });
        else
            done(granted);
    }
    void add(const NotificationRequest& request) override
    {
        if (request.trigger)
            pending.insert(request.identifier, request);
        else
            delivered.push_back(request);
    }
    void authorizationStatus(std::function<void(NotificationAuthorization)> done) override { done(status); }

    void answerAll()
    {
        auto answers = std::move(pendingAnswers);
        pendingAnswers.clear();
        for (auto& answer : answers)
            answer();
    }
};
