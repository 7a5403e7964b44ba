#pragma once

#include "model/Calendar.h"
#include "model/TaskItem.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>

class NotificationCenter;

// To-do reminders and the urgent-break notice, through the notification centre.
class Reminders {
public:
    explicit Reminders(NotificationCenter* center) : m_center(center) {}

    static QString requestIdentifier(const QUuid& todoId);

    // Re-derives the to-do's reminder from scratch: remove, then add when it is open and ahead.
    void rescheduleTodoReminder(const TaskItem& todo, Date now, const Calendar& calendar);
    void removeTodoReminders(const QStringList& identifiers);
    void postUrgentBreakEndedNotice(const QString& site);
    // Calls back with true when the person has turned notifications off.
    void notificationAuthorizationStatus(std::function<void(bool denied)> done) const;
    // Asks the person for alerts and sounds only when they were never asked; `done` runs after the
    // answer (or at once), whatever it was.
    void requestAuthorizationIfUndetermined(std::function<void()> done) const;

private:
    NotificationCenter* m_center;
    // The authorisation answer may come later; only the latest change of a to-do may add its reminder.
    struct Generations {
        QHash<QString, quint64> byIdentifier;
        quint64 next = 0;
    };
    std::shared_ptr<Generations> m_generations = std::make_shared<Generations>();
};
