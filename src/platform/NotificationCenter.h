#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A wall-clock minute in the user's calendar at which a notification is due.
struct CalendarMinute {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;

    bool operator==(const CalendarMinute&) const = default;
};

struct NotificationRequest {
    QString identifier;
    QString title;
    QString body;
    bool sound = true;
    std::optional<CalendarMinute> trigger; // none: deliver at once

    bool operator==(const NotificationRequest&) const = default;
};

enum class NotificationAuthorization { notDetermined, denied, authorized };

// Local notifications. Pending requests are keyed by identifier: adding one with an identifier
// that is already pending replaces it.
class NotificationCenter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void removePendingRequests(const QStringList& identifiers) = 0;
    // Asks for alerts and sounds; `done` may run later, on the main thread.
    virtual void requestAuthorization(std::function<void(bool granted)> done) = 0;
    virtual void add(const NotificationRequest& request) = 0;
    virtual void authorizationStatus(std::function<void(NotificationAuthorization)> done) = 0;

signals:
    // The person clicked a delivered notification.
    void activated(const QString& identifier);
};
