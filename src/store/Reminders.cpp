#include "store/Reminders.h"

#include "model/Json.h"
#include "platform/NotificationCenter.h"

#include <QPointer>

QString Reminders::requestIdentifier(const QUuid& todoId)
{
    return QStringLiteral("todo-reminder-") + uuidText(todoId);
}

void Reminders::rescheduleTodoReminder(const TaskItem& todo, Date now, const Calendar& calendar)
{
    if (!m_center)
        return;
    const QString identifier = requestIdentifier(todo.id);
    const quint64 generation = ++m_generations->next;
    m_generations->byIdentifier.insert(identifier, generation);
    m_center->removePendingRequests({identifier});
    if (todo.isCompleted || !todo.reminderDate || !(*todo.reminderDate > now))
        return;

    const LocalDateTime at = calendar.components(*todo.reminderDate);
    NotificationRequest request;
    request.identifier = identifier;
    request.title = QStringLiteral("Quillharbour reminder");
    request.body = todo.title;
    request.trigger = CalendarMinute{at.date.year(), at.date.month(), at.date.day(), at.hour, at.minute};

    QPointer<NotificationCenter> center = m_center;
    std::weak_ptr<Generations> generations = m_generations;
    m_center->requestAuthorization([generations, center, request, generation](bool granted) {
        // A later change of the same to-do has taken over; adding now would resurrect a reminder.
        const auto current = generations.lock();
        if (!current || !center || !granted || current->byIdentifier.value(request.identifier) != generation)
            return;
        center->add(request);
    });
}

void Reminders::removeTodoReminders(const QStringList& identifiers)
{
    if (!m_center || identifiers.isEmpty())
        return;
    for (const QString& identifier : identifiers)
        m_generations->byIdentifier.insert(identifier, ++m_generations->next);
    m_center->removePendingRequests(identifiers);
}

void Reminders::postUrgentBreakEndedNotice(const QString& site)
{
    if (!m_center)
        return;
    NotificationRequest request;
    request.identifier = QStringLiteral("urgent-break-ended-") + uuidText(QUuid::createUuid());
    request.title = QStringLiteral("Urgent break ended");
    request.body = site + QStringLiteral(" is blocked again after 10 minutes of active use.");
    m_center->add(request);
}

void Reminders::notificationAuthorizationStatus(std::function<void(bool denied)> done) const
{
    if (!m_center) {
        done(true);
        return;
    }
    m_center->authorizationStatus([done = std::move(done)](NotificationAuthorization status) {
        done(status == NotificationAuthorization::denied);
    });
}

void Reminders::requestAuthorizationIfUndetermined(std::function<void()> done) const
{
    if (!m_center) {
        done();
        return;
    }
    NotificationCenter* center = m_center;
    center->authorizationStatus([center, done = std::move(done)](NotificationAuthorization status) {
        if (status == NotificationAuthorization::notDetermined)
            center->requestAuthorization([done](bool) { done(); });
        else
            done();
    });
}
